// The whole road from expiring certifications to mail that arrived, through
// the program's own entry: an embedded database laid out from the schema with
// this test's own data, `--once --config FILE` cycles of the real executable,
// a real SMTP server on 127.0.0.1. Everything is judged from outside: the
// rows in the database, the messages the server received, the log lines.

#include "tests/support/HostData.h"
#include "tests/support/ServerRun.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDatabase.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kFooter = QStringLiteral("Velmar Training Services - Compliance Desk\r\nCall us on 555-0142");

// The date as the server writes it: month/day/year, no leading zeros.
QString shortDate(const QDate &date)
{
    return QStringLiteral("%1/%2/%3").arg(date.month()).arg(date.day()).arg(date.year());
}

QString notificationBody(const QString &client, qint64 id, const QString &description)
{
    return QStringLiteral("Client: ") + client + kCrLf + QStringLiteral("Item ID: ") + QString::number(id) + kCrLf +
        description + kCrLf + kCrLf + QString(54, QLatin1Char('*')) + kCrLf;
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(smtp.available());
        ASSERT_TRUE(lockDir.isValid());
        db.exec(
            QStringLiteral("INSERT INTO Company (Name, AutomationServerPoll, AutomationServerEmailFrom,"
                           " AutomationServerEmailServer, AutomationServerEmailServerPort,"
                           " AutomationServerEmailUseSSLTLS, AutomationServerEmailFooter)"
                           " VALUES ('Velmar Training Services', 5, 'alerts@velmar.test', '127.0.0.1', '%1', 0, %2)")
                .arg(smtp.port())
                .arg(HostData::Literal(kFooter)));
        host.AddRule(); // 'Contract', every switch, 30 days, issues 14 days ahead 'High', auto-close

        const qint64 maria = host.AddStaff(QStringLiteral("maria@velmar.test"));
        const qint64 tom = host.AddStaff(QStringLiteral("tom@velmar.test"));
        harbor = host.AddContract(QStringLiteral("Harbor Freight Lines"), maria, QStringLiteral("safety@harbor.test"),
                                  QStringLiteral("Active"), QStringLiteral("hr@harbor.test"));
        host.AddSpecialist(harbor, host.AddStaff(QStringLiteral("priya@velmar.test")));
        host.AddSpecialist(harbor, host.AddStaff(QStringLiteral("lee@velmar.test")));
        oconnell = host.AddContract(QStringLiteral("O'Connell & Sons"), tom, QStringLiteral("contracts@oconnell.test"),
                                    QStringLiteral("Active"), QStringLiteral("crew@oconnell.test"));
        host.AddSpecialist(oconnell, host.AddStaff(QVariant()));
        host.AddSpecialist(oconnell, host.AddStaff(QStringLiteral("ops@velmar.test")));
        const qint64 riverside = host.AddContract(QStringLiteral("Riverside Foods"), maria,
                                                  QStringLiteral("legal@riverside.test"), QStringLiteral("Inactive"));

        const qint64 firstAid = host.AddItem(QStringLiteral("First Aid"), 12);
        const qint64 forklift = host.AddItem(QStringLiteral("Forklift Operation"), 36);
        const qint64 ergonomics = host.AddItem(QStringLiteral("Ergonomics Refresher"), 12, 1);
        const qint64 jane =
            host.AddPerson(QStringLiteral("Jane"), QStringLiteral("Q"), QStringLiteral("Doe"), QStringLiteral("III"));
        const qint64 sean = host.AddPerson(QStringLiteral("Sean"), QVariant(), QStringLiteral("O'Brien"), QVariant());
        const qint64 amy =
            host.AddPerson(QStringLiteral("Amy"), QStringLiteral("L"), QStringLiteral("Park"), QVariant());
        const qint64 ken =
            host.AddPerson(QStringLiteral("Ken"), QStringLiteral("T"), QStringLiteral("Sato"), QVariant(), 1, 0);
        const qint64 lisa =
            host.AddPerson(QStringLiteral("Lisa"), QStringLiteral("M"), QStringLiteral("Hart"), QVariant(), 0, 1);

        janeFirstAid = host.AddTraining(firstAid, jane, harbor, completedFor(5, 12));   // notice and issue
        seanForklift = host.AddTraining(forklift, sean, harbor, completedFor(20, 36));  // notice only
        amyFirstAid = host.AddTraining(firstAid, amy, oconnell, completedFor(-10, 12)); // overdue: notice and issue
        never = {
            host.AddTraining(firstAid, ken, harbor, completedFor(5, 12)),    // suspended
            host.AddTraining(firstAid, lisa, harbor, completedFor(5, 12)),   // terminated
            host.AddTraining(ergonomics, jane, harbor, completedFor(5, 12)), // optional course
            host.AddTraining(firstAid, amy, riverside, completedFor(5, 12)), // inactive contract
            host.AddTraining(firstAid, sean, harbor, completedFor(200, 12)), // not yet due
        };
        config = WriteServerConfig(db.directory(), db.connectionString());
    }

    QDate renewal(int days) const
    {
        QDate date = today.addDays(days);
        // 29 February cannot be reached from every month: keep to a reachable day.
        while (date.addMonths(-36).addMonths(36) != date || date.addMonths(-12).addMonths(12) != date)
            date = date.addDays(-1);
        return date;
    }
    QDate completedFor(int days, int renewsMonths) const { return HostData::CompletedFor(renewal(days), renewsMonths); }

    // One --once cycle; returns its single log line.
    QString cycle()
    {
        const ServerExit run = RunServer(OnceArguments(config), lockDir.path());
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        EXPECT_EQ(lines.size(), 1) << run.out.toStdString();
        return lines.value(0);
    }

    QList<ReceivedMail> newMail()
    {
        const QList<ReceivedMail> all = smtp.messages();
        const QList<ReceivedMail> fresh = all.mid(seen);
        seen = int(all.size());
        return fresh;
    }

    // The digest that reached exactly this recipient list among mails.
    static ReceivedMail digestTo(const QList<ReceivedMail> &mails, QStringList recipients)
    {
        recipients.sort();
        for (const ReceivedMail &mail : mails) {
            QStringList got = mail.recipients;
            got.sort();
            if (got == recipients)
                return mail;
        }
        ADD_FAILURE() << "no digest to " << recipients.join(QLatin1Char(',')).toStdString();
        return ReceivedMail();
    }

    static QStringList sorted(QStringList list)
    {
        list.sort();
        return list;
    }

    qint64 count(const QString &tableAndCondition) { return host.Count(tableAndCondition); }

    void expectNeverNotified()
    {
        for (qint64 id : std::as_const(never)) {
            EXPECT_EQ(count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(id)), 0) << id;
            EXPECT_EQ(count(QStringLiteral("Issues WHERE ItemID = %1").arg(id)), 0) << id;
            EXPECT_EQ(count(QStringLiteral(
                                "AutomationServer_EmailsSent WHERE instr(EmailBody, 'Item ID: %1' || char(13)) > 0")
                                .arg(id)),
                      0)
                << id;
        }
    }

    TempDatabase db;
    HostData host{db};
    SmtpServer smtp;
    QTemporaryDir lockDir;
    QString config;
    const QDate today = QDate::currentDate();
    qint64 harbor = 0;
    qint64 oconnell = 0;
    qint64 janeFirstAid = 0;
    qint64 seanForklift = 0;
    qint64 amyFirstAid = 0;
    QList<qint64> never;
    int seen = 0;
};

} // namespace

TEST_F(EndToEnd, expiringCertifications_digestsIssuesRenewalCategoryChange)
{
    const QString jane = QStringLiteral("First Aid: Doe, Jane Q III - Expires ") + shortDate(renewal(5));
    const QString sean = QStringLiteral("Forklift Operation: O'Brien, Sean   - Expires ") + shortDate(renewal(20));
    const QString amy = QStringLiteral("First Aid: Park, Amy L  - Expires ") + shortDate(renewal(-10));
    const QString janeBody = notificationBody(QStringLiteral("Harbor Freight Lines"), janeFirstAid, jane);
    const QString seanBody = notificationBody(QStringLiteral("Harbor Freight Lines"), seanForklift, sean);
    const QString amyBody = notificationBody(QStringLiteral("O'Connell & Sons"), amyFirstAid, amy);

    // First cycle: one digest per recipient list, two automatic issues.
    EXPECT_TRUE(cycle().endsWith(QLatin1String("  - Emails: 6  Issues Created: 2  Issues Closed: 0")));
    QList<ReceivedMail> mails = newMail();
    ASSERT_EQ(mails.size(), 6);
    for (const ReceivedMail &mail : std::as_const(mails)) {
        EXPECT_EQ(mail.mailFrom, QStringLiteral("alerts@velmar.test"));
        EXPECT_EQ(mail.header(QStringLiteral("Subject")), QStringLiteral("Notification from Velmar Training Services"));
        EXPECT_EQ(mail.header(QStringLiteral("From")), QStringLiteral("Velmar Training Services <alerts@velmar.test>"));
        EXPECT_TRUE(QString::fromUtf8(mail.body).endsWith(kCrLf + kCrLf + kCrLf + kFooter));
        EXPECT_TRUE(mail.defects.isEmpty());
    }
    const ReceivedMail toMaria = digestTo(mails, {QStringLiteral("maria@velmar.test")});
    EXPECT_EQ(sorted(DigestEntries(toMaria.body)), sorted({janeBody, seanBody}));
    const ReceivedMail toSpecialists =
        digestTo(mails, {QStringLiteral("lee@velmar.test"), QStringLiteral("priya@velmar.test")});
    EXPECT_EQ(sorted(DigestEntries(toSpecialists.body)), sorted({janeBody, seanBody}));
    EXPECT_EQ(toSpecialists.header(QStringLiteral("To")), QStringLiteral("lee@velmar.test, priya@velmar.test"));
    EXPECT_EQ(sorted(DigestEntries(digestTo(mails, {QStringLiteral("safety@harbor.test")}).body)),
              sorted({janeBody, seanBody}));
    // A digest of one notification, byte for byte.
    EXPECT_EQ(QString::fromUtf8(digestTo(mails, {QStringLiteral("tom@velmar.test")}).body),
              amyBody + kCrLf + kCrLf + kCrLf + kCrLf + kFooter);
    EXPECT_EQ(DigestEntries(digestTo(mails, {QStringLiteral("ops@velmar.test")}).body), QStringList{amyBody});
    EXPECT_EQ(DigestEntries(digestTo(mails, {QStringLiteral("contracts@oconnell.test")}).body), QStringList{amyBody});

    EXPECT_EQ(count(QStringLiteral("AutomationServer_Emails WHERE Category = 'Contract' AND Item = 'Training Expire'"
                                   " AND ContractManager = 1 AND ContractSpecialist = 1 AND Client = 1")),
              3);
    EXPECT_EQ(count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailSent = 1 AND DateSent IS NOT NULL")), 9);
    EXPECT_EQ(count(QStringLiteral("AutomationServer_EmailsSent")), 9);
    ASSERT_EQ(count(QStringLiteral("Issues")), 2);
    const QVariantMap janeIssue =
        db.queryRow(QStringLiteral("SELECT * FROM Issues WHERE ItemID = %1").arg(janeFirstAid));
    EXPECT_EQ(janeIssue.value(QStringLiteral("ContractID")).toLongLong(), harbor);
    EXPECT_EQ(janeIssue.value(QStringLiteral("Category")).toString(), QString());
    EXPECT_EQ(janeIssue.value(QStringLiteral("ItemDesc")).toString(), jane);
    EXPECT_EQ(janeIssue.value(QStringLiteral("Description")).toString(), QStringLiteral("(AUTO ISSUE) ") + jane);
    EXPECT_EQ(janeIssue.value(QStringLiteral("Status")).toString(), QStringLiteral("Open"));
    EXPECT_EQ(janeIssue.value(QStringLiteral("Priority")).toString(), QStringLiteral("High"));
    EXPECT_EQ(janeIssue.value(QStringLiteral("EnteredBy")).toString(), QStringLiteral("AUTO SERVER"));
    EXPECT_EQ(janeIssue.value(QStringLiteral("EditedBy")).toString(), QStringLiteral("AUTO SERVER"));
    EXPECT_EQ(janeIssue.value(QStringLiteral("AUTO_Item")).toString(), QStringLiteral("Training Expire"));
    EXPECT_EQ(janeIssue.value(QStringLiteral("AUTO_Date")).toString(), HostData::Iso(renewal(5)));
    EXPECT_EQ(janeIssue.value(QStringLiteral("DueDate")).toString(), HostData::Iso(renewal(5)));
    EXPECT_EQ(janeIssue.value(QStringLiteral("IssueDate")).toString(), HostData::Iso(today));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT Description FROM Issues WHERE ItemID = %1").arg(amyFirstAid))
                  .toString(),
              QStringLiteral("(AUTO ISSUE) ") + amy);
    expectNeverNotified();

    // Second cycle: nothing new.
    EXPECT_TRUE(cycle().endsWith(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 0")));
    EXPECT_TRUE(newMail().isEmpty());

    // Jane renews: her automatic issue closes at the next cycle, and no notice
    // goes out for a renewal date a year away.
    db.exec(QStringLiteral("UPDATE CustomerEmployeeTraining SET CompletedDate = '%1' WHERE ID = %2")
                .arg(HostData::Iso(today))
                .arg(janeFirstAid));
    EXPECT_TRUE(cycle().endsWith(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 1")));
    EXPECT_TRUE(newMail().isEmpty());
    const QVariantMap closed = db.queryRow(QStringLiteral("SELECT * FROM Issues WHERE ItemID = %1").arg(janeFirstAid));
    EXPECT_EQ(closed.value(QStringLiteral("Status")).toString(), QStringLiteral("Closed"));
    EXPECT_TRUE(closed.value(QStringLiteral("Description"))
                    .toString()
                    .startsWith(QStringLiteral("(AUTO ISSUE) ") + jane + QStringLiteral("\r\n\r\n(AUTO CLOSED ") +
                                shortDate(today) + QLatin1Char(' ')))
        << closed.value(QStringLiteral("Description")).toString().toStdString();
    EXPECT_EQ(closed.value(QStringLiteral("EditedBy")).toString(), QStringLiteral("AUTO SERVER"));

    // A year on (her completion date moved back, as time would), the new
    // renewal date comes within the windows: notified again, a new issue.
    db.exec(QStringLiteral("UPDATE CustomerEmployeeTraining SET CompletedDate = '%1' WHERE ID = %2")
                .arg(HostData::Iso(completedFor(10, 12)))
                .arg(janeFirstAid));
    EXPECT_TRUE(cycle().endsWith(QLatin1String("  - Emails: 3  Issues Created: 1  Issues Closed: 0")));
    const QString janeAgain = QStringLiteral("First Aid: Doe, Jane Q III - Expires ") + shortDate(renewal(10));
    const QString janeAgainBody = notificationBody(QStringLiteral("Harbor Freight Lines"), janeFirstAid, janeAgain);
    mails = newMail();
    ASSERT_EQ(mails.size(), 3);
    for (const ReceivedMail &mail : std::as_const(mails))
        EXPECT_EQ(DigestEntries(mail.body), QStringList{janeAgainBody});
    EXPECT_EQ(count(QStringLiteral("Issues WHERE ItemID = %1 AND Status = 'Open' AND AUTO_Date = '%2'")
                        .arg(janeFirstAid)
                        .arg(HostData::Iso(renewal(10)))),
              1);
    EXPECT_EQ(count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(janeFirstAid)), 2);

    // Up to here no recipient got any notification twice.
    EXPECT_EQ(DuplicateMessages(smtp.messages()), 0);

    // The rule's category changes: everything due is notified once more,
    // the client now at the contract's employee address.
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET Category = 'Contract Employee'"));
    EXPECT_TRUE(cycle().endsWith(QLatin1String("  - Emails: 6  Issues Created: 0  Issues Closed: 0")));
    mails = newMail();
    ASSERT_EQ(mails.size(), 6);
    EXPECT_EQ(sorted(DigestEntries(digestTo(mails, {QStringLiteral("hr@harbor.test")}).body)),
              sorted({janeAgainBody, seanBody}));
    EXPECT_EQ(DigestEntries(digestTo(mails, {QStringLiteral("crew@oconnell.test")}).body), QStringList{amyBody});
    EXPECT_EQ(sorted(DigestEntries(digestTo(mails, {QStringLiteral("maria@velmar.test")}).body)),
              sorted({janeAgainBody, seanBody}));
    EXPECT_EQ(count(QStringLiteral("AutomationServer_Emails WHERE Category = 'Contract Employee'")), 3);

    EXPECT_TRUE(cycle().endsWith(QLatin1String("  - Emails: 0  Issues Created: 0  Issues Closed: 0")));
    EXPECT_TRUE(newMail().isEmpty());
    expectNeverNotified();
    EXPECT_EQ(count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailSent = 0")), 0);
    EXPECT_EQ(count(QStringLiteral("Issues")), 3);
}

namespace {

// The host's column types: the completion date's, and the renewal-date
// keys' (AutomationServer_Emails.ItemKey, Issues.AUTO_Date), date-time or text.
struct HostTypes
{
    const char *completedDate, *keys, *name;
    friend void PrintTo(const HostTypes &types, std::ostream *out) { *out << types.name; }
};

class RenewalKeys : public ::testing::TestWithParam<HostTypes>
{};

} // namespace

// Completion dates at midnight, with seconds, with milliseconds, and a row an
// earlier version logged: three cycles notify each certification once and
// open at most one issue for it, whatever the host's column types.
TEST_P(RenewalKeys, threeCycles_notifyEachRenewalDateOnce)
{
    const QString keyType = QString::fromLatin1(GetParam().keys);
    const bool text = keyType.contains(QLatin1String("CHAR"));
    QFile file(TempDatabase::sourcePath(QStringLiteral("schema/sqlite.sql")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString schema = QString::fromUtf8(file.readAll());
    schema.replace(QStringLiteral("CompletedDate  DATETIME"),
                   QStringLiteral("CompletedDate  ") + QLatin1String(GetParam().completedDate));
    if (keyType != QLatin1String("DATETIME")) // without the check of the embedded datetime
        schema.replace(QRegularExpression(
                           QStringLiteral("\\b(ItemKey|AUTO_Date)\\s+DATETIME\\s*\\n\\s*CONSTRAINT [^\\n]*?(,?)\\n")),
                       QStringLiteral("\\1 ") + keyType + QStringLiteral("\\2\n"));
    TempDatabase db(TempDatabase::Content::Empty);
    db.exec(schema);
    ASSERT_EQ(db.queryValue(QStringLiteral("SELECT type FROM pragma_table_info('Issues') WHERE name = 'AUTO_Date'"))
                  .toString(),
              keyType);
    HostData host(db);
    SmtpServer smtp;
    QTemporaryDir lockDir;
    ASSERT_TRUE(smtp.available());
    host.AddCompany(smtp.port());
    host.AddRule();
    const qint64 contract =
        host.AddContract(QStringLiteral("Harbor"), host.AddStaff(QStringLiteral("maria@velmar.test")),
                         QStringLiteral("safety@harbor.test"));
    const qint64 item = host.AddItem(QStringLiteral("First Aid"), 12);
    const QString completed = HostData::CompletedFor(QDate::currentDate().addDays(5), 12).toString(Qt::ISODate);
    QList<qint64> trainings;
    for (const char *time : {"00:00:00", "09:30:41", "09:30:41.250", "23:59:59.997", "09:30:42"}) {
        const qint64 person = host.AddPerson(QStringLiteral("Pat"), QVariant(), QString::fromLatin1(time), QVariant());
        trainings.append(host.AddTraining(item, person, contract, completed + QLatin1Char(' ') + QLatin1String(time)));
    }
    // The last one was notified and issued by an earlier version, its renewal
    // date stored as that version stored it.
    const QDate renewal = QDate::fromString(completed, Qt::ISODate).addMonths(12);
    // A date column's renewal date has no time of day.
    const bool dateOnly = QLatin1String(GetParam().completedDate) == QLatin1String("DATE");
    const QString earlierKey = text
        ? QStringLiteral("%1/%2/%3").arg(renewal.month()).arg(renewal.day()).arg(renewal.year()) +
            (dateOnly ? QString() : QStringLiteral(" 9:30:42 AM"))
        : renewal.toString(Qt::ISODate) + (dateOnly ? QStringLiteral(" 00:00:00") : QStringLiteral(" 09:30:42"));
    db.exec(QStringLiteral(
                "INSERT INTO AutomationServer_Emails (Category, Item, ItemID, ItemKey) VALUES ('Contract',"
                " 'Training Expire', %1, '%2'); INSERT INTO Issues (ItemID, Status, EnteredBy, AUTO_Item, AUTO_Date)"
                " VALUES (%1, 'Open', 'AUTO SERVER', 'Training Expire', '%2')")
                .arg(trainings.last())
                .arg(earlierKey));

    const QString config = WriteServerConfig(db.directory(), db.connectionString());
    for (const char *expected :
         {"  - Emails: 2  Issues Created: 4  Issues Closed: 0", // manager, client
          "  - Emails: 0  Issues Created: 0  Issues Closed: 0", "  - Emails: 0  Issues Created: 0  Issues Closed: 0"}) {
        const ServerExit run = RunServer(OnceArguments(config), lockDir.path());
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.trimmed().endsWith(QLatin1String(expected))) << run.out.toStdString();
    }
    for (qint64 id : std::as_const(trainings)) {
        EXPECT_EQ(host.Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(id)), 1) << id;
        EXPECT_EQ(host.Count(QStringLiteral("Issues WHERE ItemID = %1").arg(id)), 1) << id;
    }
    EXPECT_EQ(DuplicateMessages(smtp.messages()), 0);
}

INSTANTIATE_TEST_SUITE_P(HostColumnTypes, RenewalKeys,
                         ::testing::Values(HostTypes{"DATETIME", "DATETIME", "DateTimeKeys"},
                                           HostTypes{"DATETIME", "NVARCHAR(50)", "TextKeys"},
                                           HostTypes{"DATE", "VARCHAR(50)", "DateCompletedVarcharKeys"},
                                           HostTypes{"SMALLDATETIME", "DATETIME2", "SmallDateTimeCompleted"},
                                           HostTypes{"DATETIME2", "NVARCHAR(50)", "DateTime2Completed"}),
                         [](const auto &info) { return std::string(info.param.name); });
