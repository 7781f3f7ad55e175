#include "Main.h"

#include "ConfigFile.h"
#include "DesktopFrontEnd.h"
#include "Form1.h"
#include "MailRedirect.h"
#include "StartupSequence.h"

#include <QObject>

MainResult Main()
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

    auto *form = new Form1;
    form->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(form, &Form1::closed, form, [form] { EndIfNoWindowLeft(form); });
    // The first cycle runs here, before the window is visible.
    form->Form_Load();
    form->show();
    form->setWindowTitle(form->windowTitle() + QStringLiteral(" - ") + CaptionSuffix + MailRedirectNote());
    return {true, 0, form};
}
