// The server's executable: the desktop window by default, or without windows
// (--headless, --once) for a server machine.

#include "startup/Main.h"
#include "app/CommandLine.h"
#include "app/ProcessHardening.h"
#include "app/StopSignals.h"
#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "email/MailQueueState.h"
#include "email/MailRedirect.h"
#include "email/SendEmail.h"
#include "email/SendQueuedEmails.h"
#include "mainwindow/CycleMailSettings.h"
#include "mainwindow/CyclePreview.h"
#include "mainwindow/CycleWatchdog.h"
#include "mainwindow/DoTasks.h"
#include "mainwindow/Form1.h"
#include "mainwindow/HeadlessServer.h"
#include "mainwindow/LogLine.h"
#include "startup/CompanySettings.h"
#include "startup/ConfigFile.h"
#include "startup/DesktopFrontEnd.h"
#include "startup/ProgramEnd.h"
#include "startup/StartupSequence.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {
void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Whether a window can be shown at all; the toolkit itself would abort.
bool displayAvailable()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// A --once cycle whose only failures were mail refused for good: the server
// is well, some addresses are not.
constexpr int ExitMailStuck = 4;

// The commands that run no cycle: the configuration file, then the database,
// whose failure is reported on standard error.
bool openDatabaseForCommand(const CommandLine &options)
{
    SetConfigFilePath(options.configFile);
    SetOpenDatabaseFailureHandler(ReportConnectionFailureHeadless);
    ReadConfigFile();
    return OpenDatabase();
}

// --queue-status and --retry-now: one look at the mail queue, no cycle.
int runQueueCommand(int argc, char **argv, const CommandLine &options)
{
    QCoreApplication app(argc, argv);
    if (!openDatabaseForCommand(options))
        return ExitFailure;
    int status = ExitOk;
    try {
        writeTo(stdout, options.retryNow ? RetryMailNowText() : MailQueueStatusText());
    } catch (const std::exception &error) {
        writeTo(stderr,
                QStringLiteral("velmar-automation-server: the mail queue could not be read: %1\n")
                    .arg(QString::fromUtf8(error.what())));
        status = ExitFailure;
    }
    CloseDatabase();
    return status;
}

// --send-test-mail: one message with the settings a cycle would use; no
// cycle, no queue row. The connection stays open (without a transaction) for
// a refresh token the provider may issue.
int runSendTestMail(int argc, char **argv, const CommandLine &options)
{
    QCoreApplication app(argc, argv);
    if (!openDatabaseForCommand(options))
        return ExitFailure;
    int status = ExitOk;
    try {
        LoadCompanySettings();
        const QString reply = SendTestEmail(CompanyMailSettings(CycleMailOptions()), options.sendTestMail);
        writeTo(stdout, QStringLiteral("Test message to %1 accepted: %2\n").arg(options.sendTestMail, reply));
    } catch (const std::exception &error) {
        writeTo(stderr,
                QStringLiteral("velmar-automation-server: the test message to %1 was not sent: %2\n")
                    .arg(options.sendTestMail, QString::fromUtf8(error.what())));
        status = ExitFailure;
    }
    CloseDatabase();
    return status;
}

int runWithoutWindows(int argc, char **argv, const CommandLine &options)
{
    QCoreApplication app(argc, argv);
    SetConfigFilePath(options.configFile);
    // Messages keep the default presenter: standard error.
    SetOpenDatabaseFailureHandler(ReportConnectionFailureHeadless);
    if (options.operatorOptions.preview)
        DatabaseConnection().HoldChanges(); // from the first connection on
    // Every wait of a cycle has an end; this ends the cycle that waits on
    // something else.
    const CycleWatchdog watchdog(options.cycleLimitSeconds > 0 ? std::chrono::seconds(options.cycleLimitSeconds)
                                                               : DefaultCycleBound);

    const StartupResult started = RunStartupSequence();
    if (started.outcome == StartupOutcome::ConnectionFailed)
        return ExitFailure; // no settings window to wait on
    if (started.outcome == StartupOutcome::Ended)
        return started.exitCode;

    if (options.operatorOptions.preview)
        return RunCyclePreview(WriteLogToStandardOutput);
    if (options.once) {
        // A stop asked for during the cycle ends it between two messages, as
        // the long-running server does; the log line and exit status follow.
        WatchStopSignals([] {});
        const CycleResult cycle = DoTasks();
        WriteLogToStandardOutput(CycleLogText(cycle, CurrentDateTime()));
        if (cycle.outcome == CycleOutcome::Skipped)
            return ExitAlreadyRunning; // another server is running this database's cycle
        if (cycle.outcome == CycleOutcome::MailStuck)
            return ExitMailStuck;
        return cycle.outcome == CycleOutcome::Completed ? ExitOk : ExitFailure;
    }

    HeadlessServer server(WriteLogToStandardOutput);
    WatchStopSignals([&server] {
        server.Stop();
        EndProgram(ExitOk);
    });
    CycleWatchdog::ServiceReady();
    server.Start();
    return app.exec();
}

int runDesktop(int argc, char **argv, const CommandLine &options)
{
    QApplication app(argc, argv);
    // The program ends when neither of its windows is left (or at once by
    // Exit and Save), which start-up manages itself.
    QApplication::setQuitOnLastWindowClosed(false);
    SetConfigFilePath(options.configFile);
    InstallMessageBoxPresenter();
    InstallDesktopConnectionFailureHandler();

    const MainResult started = Main(LoadForm1, MailRedirectNote());
    if (!started.keepRunning)
        return started.exitCode;
    return app.exec();
}
} // namespace

int main(int argc, char **argv)
{
    // Before anything holds the SMTP or database password.
    DisableCoreDumps();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine options = ParseCommandLine(arguments);

    if (!options.error.isEmpty()) {
        writeTo(stderr, QStringLiteral("velmar-automation-server: %1\n\n").arg(options.error) + UsageText());
        return ExitUsage;
    }
    if (options.help) {
        writeTo(stdout, UsageText());
        return ExitOk;
    }
    if (options.version) {
        writeTo(stdout, VersionText());
        return ExitOk;
    }
    MailOptions mailOptions;
    mailOptions.plainTextLoginAllowed = options.allowPlainAuth;
    SetCycleMailOptions(mailOptions);
    if (!options.sendTestMail.isEmpty())
        return runSendTestMail(argc, argv, options);
    if (options.queueStatus || options.retryNow)
        return runQueueCommand(argc, argv, options);
    ApplyOperatorOptions(options.operatorOptions);
    if (options.headless || options.once || options.operatorOptions.preview)
        return runWithoutWindows(argc, argv, options);
    if (!displayAvailable()) {
        writeTo(stderr,
                QStringLiteral("velmar-automation-server: no display is available (neither DISPLAY nor "
                               "WAYLAND_DISPLAY is set), so the window cannot be shown.\n"
                               "Run it with --headless to work without windows (log lines on standard "
                               "output), or --once for a single cycle.\n"));
        return ExitFailure;
    }
    return runDesktop(argc, argv, options);
}
