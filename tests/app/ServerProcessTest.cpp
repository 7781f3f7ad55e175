// The executable as an operator or a service manager runs it.

#include "tests/support/HostData.h"
#include "tests/support/ServerRun.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {
class ServerProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lockDir.isValid());
        configPath = WriteServerConfig(db.directory(), QStringLiteral("Provider=SQLite;Data Source=velmar.db"));
        db.exec(QStringLiteral("INSERT INTO Company (Name, AutomationServerPoll, AutomationServerEmailServer,"
                               " AutomationServerEmailServerPort) VALUES ('Acme', 5, '127.0.0.1', '1')"));
    }

    QProcessEnvironment environment() const { return ServerEnvironment(lockDir.path()); }
    void start(QProcess &process, const QStringList &arguments, const QProcessEnvironment &env) const
    {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VELMAR_SERVER_BINARY), arguments);
        ASSERT_TRUE(process.waitForStarted(10000)) << process.errorString().toStdString();
    }
    ServerExit run(const QStringList &arguments) const { return RunServer(arguments, lockDir.path()); }
    // Starts the polling server and waits for its first cycle's line.
    void startHeadless(QProcess &process)
    {
        start(process, {QStringLiteral("--headless"), QStringLiteral("--config"), configPath}, environment());
        ASSERT_TRUE(WaitForOutput(process, QStringLiteral("Issues Closed:"), headlessOutput))
            << headlessOutput.toStdString() << process.readAllStandardError().toStdString();
    }
    QStringList once() const { return {QStringLiteral("--once"), QStringLiteral("--config"), configPath}; }

    TempDatabase db;
    QTemporaryDir lockDir;
    QString configPath;
    QString headlessOutput;
};
} // namespace

TEST_F(ServerProcessTest, help_andVersion_printAndSucceed)
{
    const ServerExit help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith(QLatin1String("Usage: velmar-automation-server")));
    EXPECT_TRUE(help.out.contains(QLatin1String("--headless")));
    const ServerExit version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("velmar-automation-server 1.1.0\n"));
}

TEST_F(ServerProcessTest, unknownOptionOrMissingValue_isAUsageError)
{
    const ServerExit unknown = run({QStringLiteral("--bogus")});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QLatin1String("unknown option --bogus")));
    EXPECT_TRUE(unknown.err.contains(QLatin1String("Usage:")));
    EXPECT_TRUE(unknown.out.isEmpty());
    EXPECT_EQ(run({QStringLiteral("--once"), QStringLiteral("--config")}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("stray")}).exitCode, 2);
}

TEST_F(ServerProcessTest, noDisplayWithoutHeadless_saysSoAndSuggestsHeadless)
{
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const ServerExit result = RunServer({QStringLiteral("--config"), configPath}, env);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QLatin1String("no display")));
    EXPECT_TRUE(result.err.contains(QLatin1String("--headless")));
}

TEST_F(ServerProcessTest, once_completedCycle_printsItsLineAndExitsZero)
{
    const ServerExit result = run(once());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << result.out.toStdString();
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 0")));
    EXPECT_FALSE(result.out.contains(QLatin1Char('\r')));
}

TEST_F(ServerProcessTest, once_unreachableDatabase_namesTheConfigFileAndExitsOne)
{
    QFile::remove(db.path());
    const ServerExit result = run(once());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(
        QLatin1String("Unable to connect to the database, please check the database settings and try again.")));
    EXPECT_TRUE(result.err.contains(configPath)) << result.err.toStdString();
    EXPECT_TRUE(result.out.isEmpty());
}

TEST_F(ServerProcessTest, once_failingTask_printsErrorAboveCountsAndExitsOne)
{
    db.exec(QStringLiteral("DROP TABLE AutomationServer_Alert"));
    const ServerExit result = run(once());
    EXPECT_EQ(result.exitCode, 1);
    const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << result.out.toStdString();
    EXPECT_TRUE(lines[0].contains(QLatin1String("  - Error in training expiry: ")));
    EXPECT_TRUE(lines[1].contains(QLatin1String("  - Emails: 0")));
}

TEST_F(ServerProcessTest, once_mailGroupNotSent_exitsOne)
{
    db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailSubject, EmailBody,"
                           " EmailSent) VALUES ('a@acme.example', 'b@client.example;', 's', 'b', 0)"));
    const ServerExit result = run(once());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.contains(QLatin1String("b@client.example;"))) << result.out.toStdString();
}

// Mail refused for good is not a sick server: --once says so by its status,
// and --queue-status (no display, no cycle) lists it with the reason.
TEST_F(ServerProcessTest, once_onlyMailRefusedForGood_exitsFour_queueStatusListsIt)
{
    db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailSubject, EmailBody,"
                           " EmailSent) VALUES ('', 'b@client.example;', 's', 'b', 0)"));
    const ServerExit result = run(once());
    EXPECT_EQ(result.exitCode, 4) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QLatin1String("sender address (EmailFrom)"))) << result.out.toStdString();
    QProcessEnvironment noDisplay = environment();
    noDisplay.remove(QStringLiteral("DISPLAY"));
    noDisplay.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const ServerExit status =
        RunServer({QStringLiteral("--queue-status"), QStringLiteral("--config"), configPath}, noDisplay);
    EXPECT_EQ(status.exitCode, 0) << status.err.toStdString();
    EXPECT_TRUE(status.out.contains(QLatin1String("\tb@client.example;\tattempts: 1\tnext try: ")))
        << status.out.toStdString();
    EXPECT_TRUE(status.out.contains(QLatin1String("last reply: the sender address (EmailFrom)")));
    const ServerExit retry =
        RunServer({QStringLiteral("--retry-now"), QStringLiteral("--config"), configPath}, noDisplay);
    EXPECT_EQ(retry.exitCode, 0) << retry.err.toStdString();
    EXPECT_TRUE(run({QStringLiteral("--queue-status"), QStringLiteral("--config"), configPath})
                    .out.contains(QLatin1String("\tattempts: 0\tnext try: next poll")));
}

TEST_F(ServerProcessTest, once_badCompanyRow_namesColumnAndValueAndExitsOne)
{
    db.exec(QStringLiteral("UPDATE Company SET AutomationServerPoll = 70000"));
    const ServerExit result = run(once());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QLatin1String("AutomationServerPoll")));
    EXPECT_TRUE(result.err.contains(QLatin1String("70000")));
    EXPECT_TRUE(result.out.isEmpty());
}

TEST_F(ServerProcessTest, headless_endedBySigterm_exitsZero)
{
    QProcess server;
    startHeadless(server);
    server.terminate(); // SIGTERM
    ASSERT_TRUE(server.waitForFinished(30000));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0) << server.readAllStandardError().toStdString();
}

TEST_F(ServerProcessTest, secondCopy_isRefusedWhileTheFirstRuns_andRunsAfterIt)
{
    QProcess first;
    startHeadless(first);

    const ServerExit second = run(once());
    EXPECT_EQ(second.exitCode, 3);
    EXPECT_TRUE(second.err.contains(QLatin1String("This application is already running.")));
    EXPECT_TRUE(second.out.isEmpty());

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(run(once()).exitCode, 0);
}

TEST_F(ServerProcessTest, secondCopyWhileDatabaseIsDown_reportsTheConnectionNotTheOtherCopy)
{
    QProcess first;
    startHeadless(first);
    QFile config(configPath);
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("\"h\"\r\n\"Database Location\",\"Provider=SQLite;Data Source=gone.db\"\r\n");
    config.close();

    const ServerExit second = run(once());
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains(QLatin1String("Unable to Connect")));
    EXPECT_FALSE(second.err.contains(QLatin1String("already running")));

    first.terminate();
    first.waitForFinished(30000);
}

TEST_F(ServerProcessTest, crashedCopy_doesNotBlockTheNextStart)
{
    QProcess crashed;
    startHeadless(crashed);
    crashed.kill(); // SIGKILL: no chance to release the lock
    ASSERT_TRUE(crashed.waitForFinished(30000));
    const ServerExit next = run(once());
    EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
}

// The desktop window on the demonstration database, offscreen: its first
// cycle runs as it loads, and its log line reaches standard output too.
TEST_F(ServerProcessTest, desktop_onTheDemoDatabase_showsItsFirstCycleLine)
{
    TempDatabase demo(TempDatabase::Content::SchemaAndDemo);
    SmtpServer mail;
    demo.exec(QStringLiteral("UPDATE Company SET AutomationServerEmailServerPort = '%1'").arg(mail.port()));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess desktop;
    start(desktop, {QStringLiteral("--config"), WriteServerConfig(demo.directory(), demo.connectionString())}, env);
    QString output;
    EXPECT_TRUE(WaitForOutput(desktop, QStringLiteral("Issues Closed:"), output))
        << output.toStdString() << desktop.readAllStandardError().toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("  - Emails: "))) << output.toStdString();
    EXPECT_GT(demo.queryValue(QStringLiteral("SELECT COUNT(*) FROM Issues")).toInt(), 0);
    EXPECT_FALSE(mail.messages().isEmpty());
    desktop.kill();
    desktop.waitForFinished(10000);
}

#if defined(__linux__)
// The service manager's end of the protocol is a datagram socket.
TEST_F(ServerProcessTest, underSystemd_saysReadyAndKeepsTheWatchdogFed)
{
    const QString path = lockDir.filePath(QStringLiteral("notify"));
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof(address.sun_path));
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)), 0);
    const timeval wait{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("NOTIFY_SOCKET"), path);
    env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("600000"));
    QProcess server;
    start(server, {QStringLiteral("--headless"), QStringLiteral("--config"), configPath}, env);
    QStringList received;
    for (int i = 0; i < 30 && received.count(QStringLiteral("WATCHDOG=1")) < 3; ++i) {
        char buffer[512];
        if (const ssize_t got = recv(fd, buffer, sizeof(buffer), 0); got > 0)
            received += QString::fromUtf8(buffer, got).split(QLatin1Char('\n'));
    }
    server.terminate();
    server.waitForFinished(30000);
    close(fd);
    EXPECT_TRUE(received.contains(QStringLiteral("READY=1"))) << received.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(received.contains(QStringLiteral("STATUS=Task cycle: training expiry")));
    EXPECT_GE(received.count(QStringLiteral("WATCHDOG=1")), 3);
}
#endif
