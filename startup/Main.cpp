#include "startup/Main.h"

#include "startup/ConfigFile.h"
#include "startup/DesktopFrontEnd.h"
#include "startup/StartupSequence.h"

#include <QWidget>

MainResult Main(const MainWindowLoader &loadMainWindow, const QString &captionNote)
{
    const StartupResult started = RunStartupSequence();
    switch (started.outcome) {
    case StartupOutcome::ConnectionFailed:
        // The settings window is open; the program lives as long as it does,
        // and its end still reports the failed start.
        SetStatusWhenNoWindowLeft(ExitFailure);
        return {true, 0, nullptr};
    case StartupOutcome::Ended:
        return {false, started.exitCode, nullptr};
    case StartupOutcome::Ready:
        break;
    }
    SetStatusWhenNoWindowLeft(ExitOk);

    // The first cycle runs here, before the window is visible.
    QWidget *window = loadMainWindow();
    KeepProgramWhileOpen(window);
    window->show();
    window->setWindowTitle(window->windowTitle() + QStringLiteral(" - ") + CaptionSuffix + captionNote);
    return {true, 0, window};
}
