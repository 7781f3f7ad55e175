// The server killed (SIGKILL) at random moments of busy cycles, fifty times,
// restarted each time, then left to finish: nothing is lost, nothing is done
// twice, and a message is mailed twice only when a kill fell between the mail
// server's acceptance and the statement marking it sent.

#include "tests/reliability/ReliabilitySupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <iostream>
#include <random>

namespace {
constexpr unsigned kSeed = 20261207;
constexpr int kKills = 50;
} // namespace

TEST(CrashSafety, fiftyKillsInBusyCycles_nothingLostNothingTwiceDuplicatesOnlyInTheWindow)
{
    TempDatabase db;
    HostData host(db);
    SmtpServer smtp;
    ASSERT_TRUE(smtp.available());
    QTemporaryDir lockDir;
    host.AddCompany(smtp.port());
    host.AddRule();
    const QDate today = QDate::currentDate();
    Workload work = AddWorkload(host, today, 30, 10, QStringLiteral("w"));
    const QString config = WriteServerConfig(db.directory(), db.connectionString());

    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> delayMs(0, 400);
    int kills = 0;
    int endedOnTheirOwn = 0;
    for (int round = 0; round < kKills + endedOnTheirOwn && round < 3 * kKills; ++round) {
        // New work keeps every cycle busy: the host adds certifications.
        if (round > 0) {
            const Workload more = AddWorkload(host, today, 2, 4, QStringLiteral("k%1").arg(round));
            work.due += more.due;
            work.issueDue += more.issueDue;
        }
        QProcess server;
        server.setProcessEnvironment(ServerEnvironment(lockDir.path()));
        const QStringList arguments = round % 3 == 2
            ? QStringList{QStringLiteral("--headless"), QStringLiteral("--config"), config}
            : OnceArguments(config);
        server.start(QStringLiteral(VELMAR_SERVER_BINARY), arguments);
        ASSERT_TRUE(server.waitForStarted(10000));
        if (server.waitForFinished(delayMs(random))) {
            ++endedOnTheirOwn;
            EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(server.exitCode(), 0) << server.readAllStandardOutput().toStdString();
            continue;
        }
        server.kill(); // SIGKILL
        ASSERT_TRUE(server.waitForFinished(10000));
        ++kills;
    }
    EXPECT_EQ(kills, kKills);

    // Left to finish: cycles until one finds nothing to do.
    ServerExit finished;
    for (int attempt = 0; attempt < 5; ++attempt) {
        finished = RunServer(OnceArguments(config), lockDir.path());
        ASSERT_EQ(finished.exitCode, 0) << finished.out.toStdString() << finished.err.toStdString();
        if (finished.out.contains(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 0")))
            break;
    }
    EXPECT_TRUE(finished.out.contains(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 0")))
        << finished.out.toStdString();

    EXPECT_EQ(db.queryValue(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
    for (qint64 id : std::as_const(work.issueDue))
        EXPECT_EQ(host.Count(QStringLiteral("Issues WHERE ItemID = %1").arg(id)), 1) << "record " << id;
    EXPECT_EQ(host.Count(QStringLiteral("Issues")), work.issueDue.size());

    const QList<ReceivedMail> mails = smtp.messages();
    EXPECT_NO_VIOLATIONS(MailViolations(db, mails, false));
    // A kill leaves at most one message accepted but not yet marked.
    const int duplicates = DuplicateMessages(mails);
    EXPECT_LE(duplicates, kills);
    std::cout << "[ crash safety ] seed " << kSeed << ": " << kills << " kills, " << endedOnTheirOwn
              << " runs ended before their kill, " << mails.size() << " messages received, " << duplicates
              << " duplicate messages (each from a kill between acceptance and marking)" << std::endl;
    ::testing::Test::RecordProperty("duplicate_messages", duplicates);
}
