// Another writer on the embedded database (the host application entering
// training records) while cycles run: every cycle waits its turn for the
// write lock and none fails on a busy database.

#include "tests/reliability/ReliabilitySupport.h"

#include "database/DbConnection.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

// Takes the write lock up front, holds it a few milliseconds while it
// inserts a due training record and renames a person, commits, and again,
// until the stop file appears. Prints the ID of every record it committed.
const char *const kWriter = R"py(
import os, random, sqlite3, sys, time
database, stop, contract, item, dates = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5:]
random.seed(7)
c = sqlite3.connect(database, timeout=30, isolation_level=None)
n = 0
while not os.path.exists(stop):
    c.execute("BEGIN IMMEDIATE")
    person = c.execute("INSERT INTO CustomerEmployee (FirstName, LastName, Suspended, Terminated) "
                       "VALUES ('Writer', ?, 0, 0)", ("Entry%d" % n,)).lastrowid
    training = c.execute("INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID, "
                         "EmployeeID, ContractID) VALUES (1, ?, ?, ?, ?)",
                         (dates[n % len(dates)], item, person, contract)).lastrowid
    c.execute("UPDATE CustomerEmployee SET MiddleName = ? WHERE ID = ?", ("M%d" % n, 1 + n % 5))
    time.sleep(random.uniform(0.002, 0.03))
    c.execute("COMMIT")
    print("ID", training, flush=True)
    n += 1
    time.sleep(random.uniform(0.0, 0.01))
)py";

} // namespace

TEST(BusyDatabase, anotherWriterHoldingTheWriteLockAgainAndAgain_noCycleFails)
{
    TempDatabase db;
    HostData host(db);
    SmtpServer smtp;
    ASSERT_TRUE(smtp.available());
    QTemporaryDir lockDir;
    host.AddCompany(smtp.port());
    host.AddRule();
    const QDate today = QDate::currentDate();
    Workload work = AddWorkload(host, today, 4, 5, QStringLiteral("busy"));
    const QString config = WriteServerConfig(db.directory(), db.connectionString());
    const QString contract = db.queryValue(QStringLiteral("SELECT MIN(ID) FROM ServiceContract")).toString();
    const QString item = db.queryValue(QStringLiteral("SELECT MIN(ID) FROM TrainingItem")).toString();
    QStringList dates;
    for (int days : {2, 9, 17, 26})
        dates.append(HostData::Iso(HostData::CompletedFor(today.addDays(days), 12)));

    const QString stopFile = lockDir.filePath(QStringLiteral("stop-writer"));
    QProcess writer;
    writer.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral("-c"), QString::fromLatin1(kWriter), db.path(), stopFile, contract, item} +
                     dates);
    ASSERT_TRUE(writer.waitForStarted(10000));
    ASSERT_TRUE(writer.waitForReadyRead(20000)) << writer.readAllStandardError().toStdString();

    for (int cycle = 0; cycle < 8; ++cycle) {
        const ServerExit run = RunServer(OnceArguments(config), lockDir.path());
        EXPECT_EQ(run.exitCode, 0) << "cycle " << cycle << ": " << run.out.toStdString() << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QLatin1String("Error"))) << run.out.toStdString();
    }

    QFile stop(stopFile);
    ASSERT_TRUE(stop.open(QIODevice::WriteOnly));
    stop.close();
    ASSERT_TRUE(writer.waitForFinished(30000));
    EXPECT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().toStdString();
    int written = 0;
    for (const QByteArray &line : writer.readAllStandardOutput().split('\n')) {
        if (line.startsWith("ID ")) {
            work.due.append(line.mid(3).toLongLong());
            ++written;
        }
    }
    EXPECT_GT(written, 20) << "the writer hardly ran; the cycles met no contention";

    const ServerExit last = RunServer(OnceArguments(config), lockDir.path());
    EXPECT_EQ(last.exitCode, 0) << last.out.toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, work.due, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, smtp.messages(), true));
}

// While the mail server takes 8 s to answer a message, the host application
// queues a row and edits an issue at once: the server holds no transaction
// across the exchange.
TEST(BusyDatabase, slowMailServer_hostApplicationWritesWithinASecond)
{
    TempDatabase db;
    HostData host(db);
    SmtpServer smtp({.dataDelaySeconds = 8});
    QTemporaryDir lockDir;
    host.AddCompany(smtp.port());
    host.AddRule();
    const qint64 issue = host.Insert(QStringLiteral("INSERT INTO Issues (Category, ItemDesc) VALUES ('Service', 'x')"));
    const QString row = QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailFromName, EmailTo, "
                                       "EmailSubject, EmailBody, EmailSent) VALUES ('alerts@velmar.test', 'V', "
                                       "'a@client.test', 'S', 'B', 0)");
    host.Insert(row);
    QProcess server;
    server.setProcessEnvironment(ServerEnvironment(lockDir.path()));
    server.start(QStringLiteral(VELMAR_SERVER_BINARY),
                 OnceArguments(WriteServerConfig(db.directory(), db.connectionString())));
    const QDeadlineTimer deadline(30000);
    while (smtp.sessionEvents(QStringLiteral("data")).isEmpty() && !deadline.hasExpired())
        QThread::msleep(50);
    ASSERT_FALSE(deadline.hasExpired()) << "the message never reached the mail server";
    DbConnection hostApplication;
    ASSERT_TRUE(hostApplication.Open(db.connectionString()));
    QElapsedTimer writing;
    writing.start();
    EXPECT_NO_THROW(hostApplication.Execute(row));
    EXPECT_NO_THROW(
        hostApplication.Execute(QStringLiteral("UPDATE Issues SET ItemDesc = 'edited' WHERE ID = %1").arg(issue)));
    EXPECT_LT(writing.elapsed(), 1000);
    ASSERT_TRUE(server.waitForFinished(30000));
    EXPECT_EQ(server.exitCode(), 0) << server.readAllStandardOutput().toStdString();
    EXPECT_EQ(smtp.messages().size(), 1);
}
