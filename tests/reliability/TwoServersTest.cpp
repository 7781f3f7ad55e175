// Two servers (two processes, each as if on its own machine: its own
// single-instance lock) against one database: the database's cycle lock lets
// one cycle run at a time, so nothing is notified or mailed twice.

#include "tests/reliability/ReliabilitySupport.h"

#include "database/CycleLock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

int emailsCounted(const QString &out)
{
    static const QRegularExpression count(QStringLiteral("  - Emails: ([0-9]+)  Issues Created: "));
    int total = 0;
    auto matches = count.globalMatch(out);
    while (matches.hasNext())
        total += matches.next().captured(1).toInt();
    return total;
}

class TwoServers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(smtp.available());
        ASSERT_TRUE(machineA.isValid() && machineB.isValid());
        host.AddCompany(smtp.port());
        host.AddRule();
        config = WriteServerConfig(db.directory(), db.connectionString());
    }

    void addWork(int contracts, int dueEach, const QString &tag)
    {
        const Workload work = AddWorkload(host, QDate::currentDate(), contracts, dueEach, tag);
        due += work.due;
    }

    // Starts both at once, each with its own machine's instance lock.
    void startBoth(QProcess &a, QProcess &b, const QStringList &arguments, const QStringList &argumentsB = {})
    {
        a.setProcessEnvironment(ServerEnvironment(machineA.path()));
        b.setProcessEnvironment(ServerEnvironment(machineB.path()));
        a.start(QStringLiteral(VELMAR_SERVER_BINARY), arguments);
        b.start(QStringLiteral(VELMAR_SERVER_BINARY), argumentsB.isEmpty() ? arguments : argumentsB);
        ASSERT_TRUE(a.waitForStarted(10000));
        ASSERT_TRUE(b.waitForStarted(10000));
    }

    TempDatabase db;
    HostData host{db};
    SmtpServer smtp;
    QTemporaryDir machineA;
    QTemporaryDir machineB;
    QString config;
    QList<qint64> due;
};

// Reads the server's output until its first cycle's count line.
QString firstCycle(QProcess &server)
{
    QString out;
    QDeadlineTimer deadline(60000);
    while (!out.contains(QLatin1String("Issues Closed:")) && !deadline.hasExpired() &&
           server.state() != QProcess::NotRunning) {
        server.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        out += QString::fromLocal8Bit(server.readAllStandardOutput());
    }
    return out;
}

} // namespace

TEST_F(TwoServers, headlessServersStartingTogether_notifyAndMailEverythingOnce)
{
    addWork(10, 12, QStringLiteral("h"));
    QProcess a;
    QProcess b;
    startBoth(a, b, {QStringLiteral("--headless"), QStringLiteral("--config"), config});
    const QString outA = firstCycle(a);
    const QString outB = firstCycle(b);
    a.terminate();
    b.terminate();
    ASSERT_TRUE(a.waitForFinished(30000));
    ASSERT_TRUE(b.waitForFinished(30000));
    EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
    EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();

    // Each either ran its cycle or waited for the other's to end and found
    // nothing left; neither failed.
    for (const QString &out : {outA, outB}) {
        EXPECT_TRUE(out.contains(QLatin1String("Issues Closed:"))) << out.toStdString();
        EXPECT_FALSE(out.contains(QLatin1String("Error"))) << out.toStdString();
    }
    const QList<ReceivedMail> mails = smtp.messages();
    EXPECT_EQ(emailsCounted(outA) + emailsCounted(outB), mails.size()) << outA.toStdString() << outB.toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, mails, true));
}

TEST_F(TwoServers, oneShotRunsInPairsWithNewWorkEachRound_nothingTwice)
{
    for (int round = 0; round < 4; ++round) {
        addWork(4, 10, QStringLiteral("r%1").arg(round));
        QProcess a;
        QProcess b;
        startBoth(a, b, OnceArguments(config));
        ASSERT_TRUE(a.waitForFinished(60000));
        ASSERT_TRUE(b.waitForFinished(60000));
        for (QProcess *server : {&a, &b}) {
            const QString out = QString::fromLocal8Bit(server->readAllStandardOutput());
            // 0: its cycle ran; 3: the other server's cycle outlasted the wait.
            EXPECT_TRUE(server->exitCode() == 0 || server->exitCode() == 3)
                << server->exitCode() << out.toStdString() << server->readAllStandardError().toStdString();
            if (server->exitCode() == 3) {
                EXPECT_TRUE(out.contains(QLatin1String("Cycle skipped: another server"))) << out.toStdString();
            }
        }
    }
    // A last cycle for whatever a skipped round left.
    EXPECT_EQ(RunServer(OnceArguments(config), machineA.path()).exitCode, 0);
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, smtp.messages(), true));
}

TEST_F(TwoServers, otherServerHoldsTheLockThroughout_oneShotExitsThreeAndDoesNothing)
{
    addWork(1, 2, QStringLiteral("held"));
    SqliteLockHolder otherServer(EmbeddedCycleLockPath(db.path()));
    const ShortLockWaits shortWaits;
    const ServerExit skipped = RunServer(OnceArguments(config), machineA.path());
    EXPECT_EQ(skipped.exitCode, 3) << skipped.err.toStdString();
    const QStringList lines = skipped.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << skipped.out.toStdString();
    EXPECT_TRUE(
        lines[0].contains(QLatin1String("  - Cycle skipped: another server is running a cycle on this database")));
    EXPECT_EQ(host.Count(QStringLiteral("AutomationServer_Emails")), 0);
    EXPECT_TRUE(smtp.messages().isEmpty());

    otherServer.release();
    EXPECT_EQ(RunServer(OnceArguments(config), machineA.path()).exitCode, 0);
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
}

// One server reaches the file through a hard link, a name the lock file
// cannot tell apart: the cycle lock is the file's, so nothing goes out twice.
TEST_F(TwoServers, oneShotThroughAHardLink_nothingTwice)
{
    addWork(10, 12, QStringLiteral("link"));
    const QString link = machineB.filePath(QStringLiteral("linked.db"));
    ASSERT_EQ(::link(QFile::encodeName(db.path()).constData(), QFile::encodeName(link).constData()), 0);
    // SQLite keeps a write-ahead log per name: two names are safe in its
    // rollback journal mode only, which the server keeps as it finds it.
    db.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
    const QStringList linked =
        OnceArguments(WriteServerConfig(machineB.path(), QStringLiteral("Provider=SQLite;Data Source=") + link));
    QProcess a;
    QProcess b;
    startBoth(a, b, OnceArguments(config), linked);
    ASSERT_TRUE(a.waitForFinished(60000) && b.waitForFinished(60000));
    EXPECT_EQ(RunServer(linked, machineA.path()).exitCode, 0);
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, smtp.messages(), true));
}
