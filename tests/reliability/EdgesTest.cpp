// The edges of a cycle: a stop in the middle of a single cycle, rows that can
// never be written, dates that cannot be read, the size of the write-ahead log.

#include "tests/reliability/ReliabilitySupport.h"

#include "database/SqliteConnection.h"
#include "mainwindow/CycleCounters.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <sys/types.h>
#include <thread>

// SIGTERM and SIGINT (cron's and timeout's signals) while a single cycle is
// mailing to a slow server: the message in flight is finished, no further
// one starts, the log line is written, and the next cycle sends the rest once.
TEST(StopDuringOnce, signalWhileMailing_endsAfterTheMessageAndTheNextCycleSendsTheRestOnce)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        TempDatabase db;
        HostData host(db);
        SmtpServer smtp({.dataDelaySeconds = 0.7});
        QTemporaryDir lockDir;
        host.AddCompany(smtp.port());
        host.AddRule();
        const Workload work = AddWorkload(host, QDate::currentDate(), 2, 2, QStringLiteral("s"));
        const QStringList once = OnceArguments(WriteServerConfig(db.directory(), db.connectionString()));
        QProcess server;
        server.setProcessEnvironment(ServerEnvironment(lockDir.path()));
        server.start(QStringLiteral(VELMAR_SERVER_BINARY), once);
        const QDeadlineTimer firstMessage(30000);
        while (smtp.messages().isEmpty() && !firstMessage.hasExpired() && server.state() != QProcess::NotRunning)
            QThread::msleep(20);
        ASSERT_EQ(smtp.messages().size(), 1);
        ::kill(pid_t(server.processId()), signal);
        ASSERT_TRUE(server.waitForFinished(30000));
        const QString out = QString::fromLocal8Bit(server.readAllStandardOutput());
        EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.exitCode(), 1) << out.toStdString(); // messages left queued
        EXPECT_TRUE(out.contains(QLatin1String("stopped for this cycle: the server is stopping")) &&
                    out.contains(QLatin1String("Issues Closed:")))
            << out.toStdString();
        const qsizetype sentBeforeTheStop = smtp.messages().size();
        EXPECT_EQ(RunServer(once, lockDir.path()).exitCode, 0);
        EXPECT_GT(smtp.messages().size(), sentBeforeTheStop);
        EXPECT_NO_VIOLATIONS(MailViolations(db, smtp.messages(), true));
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
        good = {addDue(QStringLiteral("'Good'"), contract, 20), addDue(QStringLiteral("'Good'"), contract, 20)};
    }

    // Renewed `days` from today, for a person whose LastName is the SQL
    // expression `lastName`, stored past the schema's checks as older files
    // hold such values.
    qint64 addDue(const QString &lastName, qint64 onContract, int days)
    {
        const qint64 person = host.AddPerson(QStringLiteral("Pat"), QVariant(), QStringLiteral("x"), QVariant());
        unchecked(QStringLiteral("UPDATE CustomerEmployee SET LastName = %1 WHERE ID = %2").arg(lastName).arg(person));
        return host.AddTraining(item, person, onContract, HostData::CompletedFor(Today().addDays(days), 12));
    }

    void unchecked(const QString &nativeSql)
    {
        db.exec(QStringLiteral("PRAGMA ignore_check_constraints = 1; ") + nativeSql +
                QStringLiteral("; PRAGMA ignore_check_constraints = 0"));
    }

    qsizetype logged(const QString &text) const { return last.errors.filter(text).size(); }
    std::string errors() const { return last.errors.join(u'\n').toStdString(); }

    void expectGoodOnesDone()
    {
        for (qint64 id : std::as_const(good))
            EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(id)), 1) << id;
        EXPECT_GE(CycleCounters.Emails, 1);
        EXPECT_EQ(logged(QStringLiteral("Error in training expiry")), 0);
    }

    qint64 item = 0;
    qint64 contract = 0;
    QList<qint64> good;
};

} // namespace

// A certification whose rows can never be written holds back only itself in
// each stretch (its issue alone in its batch) and is named once per cycle
// with the database's words; a NUL no longer cuts a statement short.
TEST_F(Edges, rowThatCannotBeWritten_holdsBackOnlyItselfAndIsNamedOnce)
{
    const qint64 crowd = host.AddContract(QStringLiteral("Crowd"), host.AddStaff(QVariant()), QVariant());
    for (int i = 0; i < 30; ++i)
        host.AddSpecialist(crowd, host.AddStaff(QStringLiteral("specialist.number.%1@specialists.velmar.test").arg(i)));
    struct Case
    {
        QString lastName;
        qint64 contract;
        int notificationLines, issueLines; // 0: written
        const char *words;
    };
    for (const Case &c : QList<Case>{
             {QStringLiteral("'Nul' || char(0) || 'Name'"), contract, 0, 0, ""},
             {QStringLiteral("'Later'"), crowd, 1, 0, "column 'EmailTo'"}, // 30 specialists: over 1,000 characters
             {HostData::Literal(QString(10000, u'x')), contract, 1, 1, "String or binary data would be truncated"},
         }) {
        SCOPED_TRACE(c.issueLines);
        db.exec(QStringLiteral("DELETE FROM AutomationServer_Emails; DELETE FROM Issues"));
        const qint64 poisoned = addDue(c.lastName, c.contract, 5);
        Cycle();
        expectGoodOnesDone();
        EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(poisoned)),
                  1 - c.notificationLines);
        EXPECT_EQ(Count(QStringLiteral("Issues WHERE ItemID = %1").arg(poisoned)), 1 - c.issueLines);
        const QStringList lines = last.errors.filter(QStringLiteral("training %1 ").arg(poisoned));
        EXPECT_EQ(lines.size(), c.notificationLines + c.issueLines) << errors();
        for (const QString &line : lines)
            EXPECT_TRUE(line.contains(QLatin1String(c.words))) << line.toStdString();
        db.exec(QStringLiteral("DELETE FROM CustomerEmployeeTraining WHERE ID = %1").arg(poisoned));
    }
    EXPECT_GT(Count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailBody LIKE '%NulName%'")), 0);
}

// An automatic issue whose closing the database refuses stays open alone;
// completion dates that cannot be read leave out their rows alone. The log
// names each (issue and training; table, column and ID).
TEST_F(Edges, closingRefusedAndUnreadableDates_holdBackOnlyThemselvesAndAreEachNamed)
{
    const qint64 renewed = addDue(QStringLiteral("'B'"), contract, 200);
    const QString insert = QStringLiteral("INSERT INTO Issues (ItemID, Status, EnteredBy, AUTO_Item, Description)"
                                          " VALUES (%1, 'Open', 'AUTO SERVER', 'Training Expire', 'x')")
                               .arg(renewed);
    const qint64 refused = host.Insert(insert);
    const qint64 closed = host.Insert(insert);
    db.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON Issues WHEN OLD.ID = %1"
                           " BEGIN SELECT RAISE(ABORT, 'refused by the host'); END")
                .arg(refused));
    QStringList named = {QStringLiteral("automatic issue %1 (training %2) was not written and is tried again at the "
                                        "next poll: refused by the host")
                             .arg(refused)
                             .arg(renewed)};
    for (const char *text : {"not a date", "", "2026-13-45"}) {
        const qint64 unreadable = addDue(QStringLiteral("'Bad'"), contract, 5);
        unchecked(QStringLiteral("UPDATE CustomerEmployeeTraining SET CompletedDate = '%1' WHERE ID = %2")
                      .arg(QLatin1String(text))
                      .arg(unreadable));
        named.append(
            QStringLiteral("CustomerEmployeeTraining.CompletedDate of the row with ID %1 holds").arg(unreadable));
    }
    Cycle();
    expectGoodOnesDone();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), good.size());
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT group_concat(ID) FROM Issues WHERE Status = 'Closed'")).toLongLong(),
              closed);
    EXPECT_EQ(CycleCounters.IssuesClosed, 1);
    for (const QString &text : std::as_const(named))
        EXPECT_EQ(logged(text), 1) << errors();
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
        for (; running.load(); QThread::msleep(2))
            largest.store(qMax(largest.load(), QFileInfo(wal).size()));
    });
    Cycle();
    running.store(false);
    sampler.join();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << errors();
    EXPECT_LT(largest.load(), 2 * SqliteConnection::WalSizeLimitBytes);
    EXPECT_LE(QFileInfo(wal).size(), 0); // emptied at the close
}
