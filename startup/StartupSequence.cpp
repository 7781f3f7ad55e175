#include "startup/StartupSequence.h"

#include "database/CompatibilityLevel.h"
#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/HostIndexes.h"
#include "database/OpenDatabase.h"
#include "startup/CompanySettings.h"
#include "startup/ConfigFile.h"
#include "startup/MessageBox.h"
#include "startup/SingleInstance.h"

QString AlreadyRunningText()
{
    return QStringLiteral("This application is already running.");
}

QString AlreadyRunningTitle()
{
    return QStringLiteral("Application Already Running");
}

QString ConnectionFailedText()
{
    return QStringLiteral("Unable to connect to the database, please check the database settings and try again.");
}

QString ConnectionFailedTitle()
{
    return QStringLiteral("Unable to Connect");
}

QString DatabaseLevelTitle()
{
    return QStringLiteral("Database Compatibility Level");
}

QString CompanySettingsFailedTitle()
{
    return QStringLiteral("Company Settings");
}

StartupResult RunStartupSequence()
{
    ReadConfigFile();

    if (!OpenDatabase())
        return {StartupOutcome::ConnectionFailed, ExitFailure};

    // After the connection on purpose: a second copy started while the
    // database is down shows the connection message, not this one. The open
    // connection is released by the program's end.
    if (AnotherInstanceRunning()) {
        ShowMessage(AlreadyRunningText(), AlreadyRunningTitle());
        return {StartupOutcome::Ended, ExitAlreadyRunning};
    }

    // Without its settings the server would poll with period 0 and mail
    // without a server; a bad Company row ends the program with the reason.
    QString failure;
    try {
        LoadCompanySettings();
    } catch (const CompanySettingsError &e) {
        failure = e.Reason;
    } catch (const DbError &e) {
        failure = QStringLiteral("The Company table could not be read: %1").arg(e.message());
    }
    // Refused here, once, rather than by every cycle's first query.
    const QString refusal = failure.isEmpty() ? CompatibilityLevelRefusal(DatabaseConnection()) : QString();
    if (failure.isEmpty() && refusal.isEmpty()) {
        for (const QString &missing : MissingHostIndexes(DatabaseConnection()))
            qWarning("velmar-automation-server: %s", qPrintable(missing));
    }
    CloseDatabase();
    if (!refusal.isEmpty()) {
        ShowMessage(refusal + QStringLiteral("\nThe application will exit now."), DatabaseLevelTitle());
        return {StartupOutcome::Ended, ExitFailure};
    }
    if (!failure.isEmpty()) {
        ShowMessage(QStringLiteral("The company settings could not be loaded. %1\nThe application will exit now.")
                        .arg(failure),
                    CompanySettingsFailedTitle());
        return {StartupOutcome::Ended, ExitFailure};
    }
    return {StartupOutcome::Ready, ExitOk};
}

void ReportConnectionFailureHeadless(const QString &reason)
{
    QString text = ConnectionFailedText();
    text += QStringLiteral("\nConfiguration file read: %1").arg(ConfigFilePath());
    if (!LastConfigFileProblem().isEmpty())
        text += QStringLiteral(" (%1)").arg(LastConfigFileProblem());
    if (!reason.isEmpty())
        text += QStringLiteral("\nReason: %1").arg(reason);
    ShowMessage(text, ConnectionFailedTitle());
}
