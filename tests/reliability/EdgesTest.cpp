// The edges of a cycle: a stop asked for in the middle of a single cycle,
// rows that can never be written, dates that cannot be read, one database
// reached by two paths, and the size of the write-ahead log.

#include "tests/reliability/ReliabilitySupport.h"

#include "database/SqliteConnection.h"
#include "mainwindow/CycleCounters.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <iostream>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

// SIGTERM and SIGINT (cron's and timeout's signals) while a single cycle is
// mailing to a slow server: the message in flight is finished, no further
// one starts, the log line is written, and the next cycle sends the rest once.
TEST(StopDuringOnce, signalWhileMailing_endsAfterTheMessageAndTheNextCycleSendsTheRestOnce)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        TempDatabase db;
        HostData host(db);
        SmtpServer::Options slow;
        slow.dataDelaySeconds = 0.7;
        SmtpServer smtp(slow);
        ASSERT_TRUE(smtp.available());
        QTemporaryDir lockDir;
        host.AddCompany(smtp.port());
        host.AddRule();
        const Workload work = AddWorkload(host, QDate::currentDate(), 2, 2, QStringLiteral("s"));
        const QString config = WriteServerConfig(db.directory(), db.connectionString());

        QProcess server;
        server.setProcessEnvironment(ServerEnvironment(lockDir.path()));
        server.start(QStringLiteral(VELMAR_SERVER_BINARY), OnceArguments(config));
        ASSERT_TRUE(server.waitForStarted(10000));
        const QDeadlineTimer firstMessage(30000);
        while (smtp.messages().isEmpty() && !firstMessage.hasExpired() && server.state() == QProcess::Running)
            QThread::msleep(20);
        ASSERT_EQ(smtp.messages().size(), 1);
        ::kill(pid_t(server.processId()), signal);
        ASSERT_TRUE(server.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(server.readAllStandardOutput());
        EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.exitCode(), 1) << out.toStdString();
        EXPECT_TRUE(out.contains(QLatin1String("Mail sending stopped for this cycle: the server is stopping")))
            << out.toStdString();
        EXPECT_TRUE(out.contains(QLatin1String("Issues Closed:"))) << out.toStdString();
        const qsizetype sentBeforeTheStop = smtp.messages().size();
        EXPECT_LT(sentBeforeTheStop, 4);

        const ServerExit next = RunServer(OnceArguments(config), lockDir.path());
        EXPECT_EQ(next.exitCode, 0) << next.out.toStdString() << next.err.toStdString();
        const QList<ReceivedMail> mails = smtp.messages();
        EXPECT_GT(mails.size(), sentBeforeTheStop);
        EXPECT_EQ(DuplicateMessages(mails), 0);
        EXPECT_NO_VIOLATIONS(MailViolations(db, mails, true));
        EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
    }
}

namespace {

class Edges : public CycleTest
{
protected:
    void SetUp() override
    {
        CycleTest::SetUp();
        host.AddCompany(1);
        host.AddRule(); // notify 30 days ahead, open issues 14 days ahead, close
        StartMail();
        item = host.AddItem(QStringLiteral("First Aid"), 12);
        contract = host.AddContract(QStringLiteral("Acme"), host.AddStaff(QStringLiteral("mgr@velmar.test")));
        for (int i = 0; i < 2; ++i)
            good.append(addDue(host.AddPerson(QStringLiteral("Good"), QVariant(), QStringLiteral("Person"), QVariant()),
                               contract, 20));
    }

    // A certification renewed `days` from today: notified, and with an
    // automatic issue when within 14 days.
    qint64 addDue(qint64 person, qint64 onContract, int days)
    {
        return host.AddTraining(item, person, onContract, HostData::CompletedFor(Today().addDays(days), 12));
    }

    // Host rows the schema's checks would refuse, as an older file or a
    // host's wider columns hold them.
    void unchecked(const QString &nativeSql)
    {
        db.exec(QStringLiteral("PRAGMA ignore_check_constraints = 1"));
        db.exec(nativeSql);
        db.exec(QStringLiteral("PRAGMA ignore_check_constraints = 0"));
    }

    void expectGoodOnesDone()
    {
        for (qint64 id : std::as_const(good))
            EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(id)), 1) << id;
        EXPECT_GE(CycleCounters.Emails, 1);
        for (const QString &error : std::as_const(last.errors))
            EXPECT_FALSE(error.startsWith(QLatin1String("Error in training expiry"))) << error.toStdString();
    }

    // The failure lines that name the training record.
    qsizetype linesNaming(qint64 id) const { return last.errors.filter(QStringLiteral("training %1 ").arg(id)).size(); }

    qint64 item = 0;
    qint64 contract = 0;
    QList<qint64> good;
};

} // namespace

// A certification whose rows can never be written holds back only itself in
// each stretch, even alone in its batch, and is named once per cycle with
// the database's words; a NUL in a name no longer cuts a statement short.
TEST_F(Edges, rowThatCannotBeWritten_holdsBackOnlyItselfAndIsNamedOnce)
{
    struct Case
    {
        const char *name;
        int notificationLines; // 0: its notification is written
        int issueLines;        // 0: its issue is written
        const char *words;
    };
    const QList<Case> cases = {
        {"nul in a name", 0, 0, ""},
        {"recipients past the queue column", 1, 0, "column 'EmailTo'"},
        {"a 10,000-character name", 1, 1, "String or binary data would be truncated"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        db.exec(QStringLiteral("DELETE FROM AutomationServer_Emails; DELETE FROM Issues;"
                               " UPDATE AutomationServer_EmailsSent SET EmailSent = 1"));
        qint64 onContract = contract;
        QString lastName = QStringLiteral("'Later'");
        if (QLatin1String(c.name) == QLatin1String("nul in a name"))
            lastName = QStringLiteral("'Nul' || char(0) || 'Name'");
        if (QLatin1String(c.name) == QLatin1String("a 10,000-character name"))
            lastName = HostData::Literal(QString(10000, QLatin1Char('x')));
        if (QLatin1String(c.name) == QLatin1String("recipients past the queue column")) {
            onContract = host.AddContract(QStringLiteral("Crowd"), host.AddStaff(QVariant()), QVariant());
            for (int i = 0; i < 30; ++i)
                host.AddSpecialist(onContract,
                                   host.AddStaff(QStringLiteral("specialist.with.a.long.name.%1@"
                                                                "specialists.velmar.test")
                                                     .arg(i)));
        }
        const qint64 person = host.AddPerson(QStringLiteral("Pat"), QVariant(), QStringLiteral("Later"), QVariant());
        unchecked(QStringLiteral("UPDATE CustomerEmployee SET LastName = %1 WHERE ID = %2").arg(lastName).arg(person));
        const qint64 poisoned = addDue(person, onContract, 5); // alone in the issue stretch's batch

        Cycle();
        expectGoodOnesDone();
        EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(poisoned)),
                  c.notificationLines == 0 ? 1 : 0);
        EXPECT_EQ(Count(QStringLiteral("Issues WHERE ItemID = %1").arg(poisoned)), c.issueLines == 0 ? 1 : 0);
        EXPECT_EQ(linesNaming(poisoned), c.notificationLines + c.issueLines) << last.errors.join(u'\n').toStdString();
        for (const QString &line : last.errors.filter(QStringLiteral("training %1 ").arg(poisoned)))
            EXPECT_TRUE(line.contains(QLatin1String(c.words))) << line.toStdString();
        if (c.issueLines == 0) {
            EXPECT_EQ(Count(QStringLiteral("Issues WHERE ItemID = %1 AND ItemDesc LIKE '%NulName%'").arg(poisoned)),
                      QLatin1String(c.name) == QLatin1String("nul in a name") ? 1 : 0);
        }
        db.exec(QStringLiteral("DELETE FROM CustomerEmployeeTraining WHERE ID = %1").arg(poisoned));
    }
}

// An automatic issue whose closing the database refuses stays open alone.
TEST_F(Edges, closingThatCannotBeWritten_holdsBackOnlyThatIssue)
{
    const qint64 renewed =
        addDue(host.AddPerson(QStringLiteral("A"), QVariant(), QStringLiteral("B"), QVariant()), contract, 200);
    QList<qint64> issues;
    for (int i = 0; i < 2; ++i)
        issues.append(
            host.Insert(QStringLiteral("INSERT INTO Issues (ItemID, Status, EnteredBy, AUTO_Item, Description)"
                                       " VALUES (%1, 'Open', 'AUTO SERVER', 'Training Expire', 'x')")
                            .arg(renewed)));
    db.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON Issues WHEN OLD.ID = %1"
                           " BEGIN SELECT RAISE(ABORT, 'refused by the host'); END")
                .arg(issues[0]));
    Cycle();
    expectGoodOnesDone();
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Open' AND ID = %1").arg(issues[0])), 1);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Closed' AND ID = %1").arg(issues[1])), 1);
    EXPECT_EQ(CycleCounters.IssuesClosed, 1);
    EXPECT_EQ(last.errors
                  .filter(QStringLiteral("automatic issue %1 (training %2) was not written and is tried again at the "
                                         "next poll: refused by the host")
                              .arg(issues[0])
                              .arg(renewed))
                  .size(),
              1)
        << last.errors.join(u'\n').toStdString();
}

// Completion dates that cannot be read leave out their rows alone, and the
// log names each of them (table, column, ID).
TEST_F(Edges, unreadableCompletedDates_holdBackOnlyTheirRowsAndAreEachNamed)
{
    QList<qint64> unreadable;
    for (const char *text : {"not a date", "", "2026-13-45"}) {
        const qint64 id =
            addDue(host.AddPerson(QStringLiteral("Bad"), QVariant(), QStringLiteral("Date"), QVariant()), contract, 5);
        unchecked(QStringLiteral("UPDATE CustomerEmployeeTraining SET CompletedDate = '%1' WHERE ID = %2")
                      .arg(QLatin1String(text))
                      .arg(id));
        unreadable.append(id);
    }
    Cycle();
    expectGoodOnesDone();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), good.size());
    for (qint64 id : std::as_const(unreadable))
        EXPECT_EQ(last.errors
                      .filter(
                          QStringLiteral("CustomerEmployeeTraining.CompletedDate of the row with ID %1 holds").arg(id))
                      .size(),
                  1)
            << last.errors.join(u'\n').toStdString();
}

// Two servers on one file, one through a hard link: the cycle lock is the
// file's, whatever its name, so each digest goes out once.
TEST(TwoPathsToOneFile, serversThroughAHardLink_sendEachDigestOnce)
{
    TempDatabase db;
    HostData host(db);
    SmtpServer::Options slow;
    slow.dataDelaySeconds = 0.2; // long cycles, so that the two meet
    SmtpServer smtp(slow);
    ASSERT_TRUE(smtp.available());
    host.AddCompany(smtp.port());
    host.AddRule();
    const Workload work = AddWorkload(host, QDate::currentDate(), 3, 4, QStringLiteral("l"));
    QTemporaryDir machineA;
    QTemporaryDir machineB;
    const QString link = machineB.filePath(QStringLiteral("linked.db"));
    ASSERT_EQ(::link(QFile::encodeName(db.path()).constData(), QFile::encodeName(link).constData()), 0);
    // The host's own connection leaves nothing in its log (the other path
    // would not see it).
    db.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    const QStringList configs = {WriteServerConfig(db.directory(), db.connectionString()),
                                 WriteServerConfig(machineB.path(),
                                                   QStringLiteral("Provider=SQLite;Data Source=") + link)};

    QProcess a;
    QProcess b;
    a.setProcessEnvironment(ServerEnvironment(machineA.path()));
    b.setProcessEnvironment(ServerEnvironment(machineB.path()));
    a.start(QStringLiteral(VELMAR_SERVER_BINARY), OnceArguments(configs[0]));
    b.start(QStringLiteral(VELMAR_SERVER_BINARY), OnceArguments(configs[1]));
    ASSERT_TRUE(a.waitForFinished(60000) && b.waitForFinished(60000));
    for (QProcess *server : {&a, &b}) // 3: skipped while the other's cycle ran
        EXPECT_TRUE(server->exitCode() == 0 || server->exitCode() == 3)
            << server->readAllStandardOutput().toStdString() << server->readAllStandardError().toStdString();
    for (const QString &config : configs)
        EXPECT_EQ(RunServer(OnceArguments(config), machineA.path()).exitCode, 0);

    db.reopen();
    const QList<ReceivedMail> mails = smtp.messages();
    EXPECT_EQ(DuplicateMessages(mails), 0);
    EXPECT_NO_VIOLATIONS(MailViolations(db, mails, true));
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
    EXPECT_EQ(db.queryValue(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
}

// The write-ahead log is copied into the database as a cycle goes, not only
// at its end: through a cycle of a few thousand records it stays near the
// size at which it is copied, and it is emptied when the cycle ends.
TEST_F(Edges, busyCycle_writeAheadLogStaysBounded)
{
    AddWorkload(host, Today(), 60, 40, QStringLiteral("w")); // 2,400 due, 7,200 queue rows
    const QString wal = db.path() + QStringLiteral("-wal");
    std::atomic<bool> running{true};
    std::atomic<qint64> largest{0};
    std::thread sampler([&] {
        while (running.load()) {
            largest.store(qMax(largest.load(), QFileInfo(wal).size()));
            QThread::msleep(2);
        }
    });
    Cycle();
    running.store(false);
    sampler.join();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(u'\n').toStdString();
    const qint64 database = QFileInfo(db.path()).size();
    std::cout << "[ write-ahead log ] largest " << largest.load() << " bytes during the cycle, database " << database
              << " bytes" << std::endl;
    EXPECT_LT(largest.load(), 2 * SqliteConnection::WalSizeLimitBytes);
    EXPECT_LE(QFileInfo(wal).size(), 0); // emptied at the close
}
