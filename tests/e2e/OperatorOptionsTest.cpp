// The operator's safety options through the real executable: a preview that
// shows the cycle it precedes and writes nothing, mail redirected to one
// address, and the backlog of long-lapsed certifications held back.

#include "tests/support/HostData.h"
#include "tests/support/ServerRun.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDatabase.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class OperatorOptions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(smtp.available());
        host.AddCompany(smtp.port());
        host.AddRule(); // every switch, notify 30 days ahead, issues 14 days ahead, auto-close
        const qint64 contract =
            host.AddContract(QStringLiteral("Harbor"), host.AddStaff(QStringLiteral("maria@velmar.test")),
                             QStringLiteral("safety@harbor.test"));
        host.AddSpecialist(contract, host.AddStaff(QStringLiteral("priya@velmar.test")));
        const qint64 item = host.AddItem(QStringLiteral("First Aid"), 12);
        const auto training = [&](const char *last, int days) {
            QDate renewal = QDate::currentDate().addDays(days);
            while (renewal.addMonths(-12).addMonths(12) != renewal)
                renewal = renewal.addDays(-1);
            const qint64 person =
                host.AddPerson(QStringLiteral("Pat"), QVariant(), QString::fromLatin1(last), QVariant());
            return host.AddTraining(item, person, contract, HostData::CompletedFor(renewal, 12));
        };
        lapsed = training("Lapsed", -400);
        soon = {training("Soon", 5), training("Later", 20), training("Overdue", -10)};
        // An open automatic issue of a training renewed since: auto-close takes it.
        const qint64 renewed = training("Renewed", 200);
        host.Insert(QStringLiteral("INSERT INTO Issues (ContractID, ItemID, ItemDesc, Status, EnteredBy, AUTO_Item, "
                                   "AUTO_Date) VALUES (%1, %2, 'old', 'Open', 'AUTO SERVER', 'Training Expire', "
                                   "'2020-01-01 00:00:00')")
                        .arg(contract)
                        .arg(renewed));
        config = WriteServerConfig(db.directory(), db.connectionString());
    }

    ServerExit run(const QStringList &options)
    {
        const ServerExit exit = RunServer(OnceArguments(config) + options, lockDir.path());
        EXPECT_EQ(exit.exitCode, 0) << exit.out.toStdString() << exit.err.toStdString();
        return exit;
    }

    // The file's bytes, read through a copy: closing a descriptor of the
    // open database in this process would drop the fixture's SQLite locks.
    QByteArray fileBytes()
    {
        // Whatever was committed is in the file then; 0: nothing blocked it.
        EXPECT_EQ(db.queryRows(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")).value(0).value(0), 0);
        const QString copy = lockDir.filePath(QStringLiteral("copy.db"));
        QFile::remove(copy);
        EXPECT_EQ(QProcess::execute(QStringLiteral("cp"), {db.path(), copy}), 0);
        QFile file(copy);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    qint64 rowsOf(qint64 training)
    {
        return host.Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(training)) +
            host.Count(QStringLiteral("Issues WHERE ItemID = %1").arg(training)) +
            host.Count(
                QStringLiteral("AutomationServer_EmailsSent WHERE instr(EmailBody, 'Item ID: %1' || char(13)) > 0")
                    .arg(training));
    }

    static QString addresses(const QString &list)
    {
        QStringList pieces = list.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        pieces.sort();
        return pieces.join(QLatin1Char(';'));
    }

    TempDatabase db;
    HostData host{db};
    SmtpServer smtp;
    QTemporaryDir lockDir;
    QString config;
    qint64 lapsed = 0;
    QList<qint64> soon;
};

} // namespace

TEST_F(OperatorOptions, preview_showsWhatTheNextCycleDoes_andWritesAndSendsNothing)
{
    const QByteArray before = fileBytes();
    const ServerExit preview = run({QStringLiteral("--preview")});
    EXPECT_TRUE(fileBytes() == before) << "the preview changed the database file";
    EXPECT_EQ(smtp.connectionCount(), 0);

    // Recipient list -> notifications, as the preview announces them.
    QMap<QString, int> announced;
    static const QRegularExpression digest(
        QStringLiteral("Digest \\d+ to: (.*)\\n  Subject: (.*)\\n  Notifications: (\\d+)"));
    for (auto match = digest.globalMatch(preview.out); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        EXPECT_EQ(m.captured(2), QStringLiteral("Notification from Velmar Services"));
        announced[addresses(m.captured(1))] = m.captured(3).toInt();
    }
    EXPECT_TRUE(preview.out.contains(QLatin1String("Automatic issues it would open: 3\n"))); // lapsed, overdue, soon
    EXPECT_TRUE(preview.out.contains(QLatin1String("Automatic issues it would close: 1\n")));
    EXPECT_TRUE(preview.out.contains(QLatin1String("Totals: 3 digest(s), 12 notification(s), 3 issue(s) opened, "
                                                   "1 issue(s) closed")));

    run({});
    QMap<QString, int> delivered;
    for (const ReceivedMail &mail : smtp.messages())
        delivered[addresses(mail.recipients.join(QLatin1Char(';')))] = int(DigestEntries(mail.body).size());
    EXPECT_EQ(announced, delivered);
    EXPECT_EQ(host.Count(QStringLiteral("Issues WHERE Status = 'Open'")), 3);
    EXPECT_EQ(host.Count(QStringLiteral("Issues WHERE Status = 'Closed'")), 1);
}

TEST_F(OperatorOptions, notifyExpiredWithin_holdsBackOnlyTheLongLapsed)
{
    const QStringList option{QStringLiteral("--notify-expired-within"), QStringLiteral("30")};
    const ServerExit preview = run(QStringList{QStringLiteral("--preview")} + option);
    EXPECT_TRUE(preview.out.contains(QLatin1String("): 1 certification(s)\n"))) << preview.out.toStdString();
    EXPECT_TRUE(preview.out.contains(QLatin1String("Totals: 3 digest(s), 9 notification(s), 2 issue(s) opened")));

    run(option);
    EXPECT_EQ(rowsOf(lapsed), 0);
    for (qint64 training : std::as_const(soon))
        EXPECT_EQ(host.Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(training)), 1) << training;
    EXPECT_EQ(smtp.messages().size(), 3);
}

TEST_F(OperatorOptions, redirectMail_deliversEveryDigestToTheOneAddress)
{
    const ServerExit cycle = run({QStringLiteral("--redirect-mail"), QStringLiteral("tester@redirect.test")});
    EXPECT_TRUE(
        cycle.out.trimmed().endsWith(QLatin1String("Issues Closed: 1 - MAIL REDIRECTED TO tester@redirect.test")))
        << cycle.out.toStdString();
    QStringList originals;
    for (const ReceivedMail &mail : smtp.messages()) {
        EXPECT_EQ(mail.recipients, QStringList{QStringLiteral("tester@redirect.test")});
        const QString original = mail.header(QStringLiteral("X-Original-To"));
        EXPECT_TRUE(mail.body.startsWith("Original recipients: " + original.toUtf8() + "\r\n")) << mail.body.data();
        originals.append(original);
    }
    originals.sort();
    EXPECT_EQ(originals,
              QStringList({QStringLiteral("maria@velmar.test"), QStringLiteral("priya@velmar.test"),
                           QStringLiteral("safety@harbor.test")}));
    EXPECT_EQ(host.Count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailSent = 0")), 0);
}

TEST_F(OperatorOptions, unusableValues_areUsageErrors)
{
    for (const QString &arguments : {QStringLiteral("--redirect-mail a@x.test;b@y.test"),
                                     QStringLiteral("--redirect-mail"), QStringLiteral("--notify-expired-within -1")})
        EXPECT_EQ(RunServer(OnceArguments(config) + arguments.split(QLatin1Char(' ')), lockDir.path()).exitCode, 2)
            << arguments.toStdString();
}
