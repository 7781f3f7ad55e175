// The edges of a cycle: a stop asked for in the middle of a single cycle,
// rows that can never be written, dates that cannot be read, one database
// reached by two paths, and the size of the write-ahead log.

#include "tests/reliability/ReliabilitySupport.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <sys/types.h>

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
