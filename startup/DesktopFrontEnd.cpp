#include "startup/DesktopFrontEnd.h"

#include "database/OpenDatabase.h"
#include "startup/MessageBox.h"
#include "startup/ProgramEnd.h"
#include "startup/StartupSequence.h"
#include "startup/frmDBSettings.h"

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QVariant>

namespace {
const char *const keepsProgram = "keepsProgramWhileOpen";

int &statusWhenNoWindowLeft()
{
    static int status = ExitOk;
    return status;
}
} // namespace

void SetStatusWhenNoWindowLeft(int exitStatus)
{
    statusWhenNoWindowLeft() = exitStatus;
}

void InstallMessageBoxPresenter()
{
    SetMessagePresenter([](const QString &text, const QString &title) {
        QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
        box.exec();
    });
}

void ReportConnectionFailureOnDesktop(const QString &)
{
    ShowMessage(ConnectionFailedText(), ConnectionFailedTitle());
    frmDBSettings *window = ShowDbSettingsWindow();
    if (!window->property("endsProgramWhenLast").toBool()) {
        window->setProperty("endsProgramWhenLast", true);
        QObject::connect(window, &frmDBSettings::closed, window, [window] { EndIfNoWindowLeft(window); });
    }
}

void InstallDesktopConnectionFailureHandler()
{
    SetOpenDatabaseFailureHandler(ReportConnectionFailureOnDesktop);
}

void KeepProgramWhileOpen(QWidget *window)
{
    window->setProperty(keepsProgram, true);
}

void EndIfNoWindowLeft(const QWidget *closing)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window == closing || !window->isVisible())
            continue;
        if (window->property(keepsProgram).toBool() || qobject_cast<const frmDBSettings *>(window))
            return;
    }
    EndProgram(statusWhenNoWindowLeft());
}
