// Every statement the system sends, built from hostile values: it keeps the
// shape it has with plain values (the values stay values), the value arrives
// whole, and on a real database it changes what it is meant to and nothing
// else.

#include "tests/security/HostileValues.h"
#include "tests/security/SqlShape.h"

#include "alerts/NotifyExpiredWithin.h"
#include "alerts/TrainingExpireRule.h"
#include "alerts/TrainingStatements.h"
#include "database/CompatibilityLevel.h"
#include "database/CycleLock.h"
#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/HeldChanges.h"
#include "database/HostIndexes.h"
#include "database/SqlServerDialect.h"
#include "database/ValueText.h"
#include "email/MailOAuth2Table.h"
#include "email/RecipientLookups.h"
#include "email/SendQueuedEmails.h"
#include "startup/CompanySettings.h"
#include "tests/support/TempDatabase.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <functional>

namespace {

// What a builder is given: text from the host's rows, an identity, dates.
struct Inputs
{
    QString text = QStringLiteral("plain");
    QVariant id = 7;
    QDateTime moment{QDate(2026, 12, 7), QTime(14, 5, 9)};
    QDate day{2027, 1, 5};
};

struct Builder
{
    QString name;
    std::function<QString(const Inputs &)> build;
    bool carriesText; // the text must arrive as one whole literal
};

NotificationLogValues logValues(const Inputs &in)
{
    NotificationLogValues log;
    log.EmailDate = in.moment;
    log.Category = in.text;
    log.ItemID = in.id;
    log.RenewDate = in.text; // a tampered date column arrives as text
    log.ContractManager = true;
    log.Client = true;
    return log;
}

AutomaticIssueValues issueValues(const Inputs &in)
{
    AutomaticIssueValues issue;
    issue.ContractID = in.id;
    issue.ItemID = in.id;
    issue.ItemDesc = in.text;
    issue.IssueDate = in.day;
    issue.DueDate = in.text;
    issue.Description = in.text;
    issue.Priority = in.text;
    issue.EnteredDate = in.moment;
    issue.EditedDate = in.moment;
    issue.AutoDate = in.text;
    return issue;
}

// The certification's own texts, as the notification builds them from the
// host's name columns.
QString certificationQueueRow(const Inputs &in)
{
    const QVariant text(in.text);
    const QString description = ItemDescription(text, text, text, text, text, QVariant(in.moment));
    return QueueRowStatement(in.text, in.text, in.text, NotificationSubject(text, description),
                             NotificationBody(text, in.id, description));
}

const QList<Builder> &builders()
{
    static const QList<Builder> list = {
        {QStringLiteral("AutoCloseSelectQuery"), [](const Inputs &in) { return AutoCloseSelectQuery(in.day); }, false},
        {QStringLiteral("CloseIssueStatement"),
         [](const Inputs &in) { return CloseIssueStatement(in.text, in.moment, in.id); }, true},
        {QStringLiteral("NotificationCandidateQuery"),
         [](const Inputs &in) { return NotificationCandidateQuery(in.text, in.day); }, true},
        {QStringLiteral("QueueRowStatement"),
         [](const Inputs &in) { return QueueRowStatement(in.text, in.text, in.text, in.text, in.text); }, true},
        {QStringLiteral("QueueRowStatement of a certification"), certificationQueueRow, false},
        {QStringLiteral("LogRowStatement"), [](const Inputs &in) { return LogRowStatement(logValues(in)); }, true},
        {QStringLiteral("AutomaticIssueSelectQuery"),
         [](const Inputs &in) { return AutomaticIssueSelectQuery(in.day); }, false},
        {QStringLiteral("AutomaticIssueInsertStatement"),
         [](const Inputs &in) { return AutomaticIssueInsertStatement(issueValues(in)); }, true},
        {QStringLiteral("TrainingExpireRuleQuery"), [](const Inputs &) { return TrainingExpireRuleQuery(); }, false},
        {QStringLiteral("QueuedEmailsSql"), [](const Inputs &) { return QueuedEmailsSql(); }, false},
        {QStringLiteral("MarkEmailsSentSql"),
         [](const Inputs &in) {
             const QString id = IdentityText(in.id, QStringLiteral("ID"));
             return MarkEmailsSentSql(id + QLatin1Char(',') + id, in.moment);
         },
         false},
        {QStringLiteral("QueueEmailsAgainSql"),
         [](const Inputs &in) {
             const QString id = IdentityText(in.id, QStringLiteral("ID"));
             return QueueEmailsAgainSql(id + QLatin1Char(',') + id, in.text);
         },
         true},
        {QStringLiteral("CompanySettingsSql"), [](const Inputs &) { return CompanySettingsSql(); }, false},
        {QStringLiteral("MailOAuth2Sql"), [](const Inputs &) { return MailOAuth2Sql(); }, false},
        {QStringLiteral("SaveMailRefreshTokenSql"),
         [](const Inputs &in) { return SaveMailRefreshTokenSql(in.text, in.text); }, true},
        {QStringLiteral("SqlServerCycleLockSql"), [](const Inputs &) { return SqlServerCycleLockSql(CycleLockWaitMs); },
         false},
        {QStringLiteral("SqlServerCycleUnlockSql"), [](const Inputs &) { return SqlServerCycleUnlockSql(); }, false},
        {QStringLiteral("ContractSpecialistEmailsSql"),
         [](const Inputs &in) {
             return ContractSpecialistEmailsSql(IdentityText(in.id, QStringLiteral("ContractID")));
         },
         false},
        {QStringLiteral("ContractEmailSql"),
         [](const Inputs &in) { return ContractEmailSql(IdentityText(in.id, QStringLiteral("ContractID"))); }, false},
        {QStringLiteral("IssueCategorySql"),
         [](const Inputs &in) { return IssueCategorySql(IdentityText(in.id, QStringLiteral("IssueID"))); }, false},
    };
    return list;
}

// The grammar's exit status (0: all valid) with what it printed.
int check(const QList<QPair<QString, QString>> &statements, const QStringList &scripts, std::string *output)
{
    QJsonArray list;
    for (const auto &[name, sql] : statements)
        list.append(QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("sql"), sql}});
    QTemporaryFile file;
    if (!file.open() || file.write(QJsonDocument(list).toJson()) < 0 || !file.flush())
        return -1;
    QProcess node;
    node.setProcessChannelMode(QProcess::MergedChannels);
    node.start(QStringLiteral("node"),
               QStringList{QStringLiteral(VELMAR_SOURCE_DIR "/tools/tsql-check/check.js"), file.fileName()} + scripts);
    const bool ran = node.waitForFinished(60000);
    *output = ran ? node.readAll().toStdString() : "node did not run: " + node.errorString().toStdString();
    return ran ? node.exitCode() : -1;
}

std::string shown(const QStringList &shape)
{
    return shape.join(QLatin1Char(' ')).left(600).toStdString();
}

} // namespace

TEST(StatementShape, hostileTexts_keepEveryStatementsShapeAndArriveWhole)
{
    const Inputs plain;
    for (const auto &[label, text] : HostileTexts()) {
        Inputs hostile;
        hostile.text = text;
        for (const Builder &builder : builders()) {
            SCOPED_TRACE((builder.name + QStringLiteral(" with ") + label).toStdString());
            const QString expected = builder.build(plain);
            const QString built = builder.build(hostile);
            const QStringList shape = SqlShape(built);
            EXPECT_EQ(shape, SqlShape(expected)) << shown(shape);
            // What the embedded backend runs keeps the shape too.
            EXPECT_EQ(SqlShape(RewriteSqlServerDialect(built)), SqlShape(RewriteSqlServerDialect(expected)));
            if (builder.carriesText) {
                EXPECT_TRUE(SqlStringLiterals(built).contains(text)) << "the value did not arrive whole";
            }
        }
    }
}

TEST(StatementShape, oddDates_keepEveryStatementsShape)
{
    const Inputs plain;
    const QList<QPair<QDate, QDateTime>> dates = {
        {QDate(), QDateTime()},                                                   // Null
        {QDate(2028, 2, 29), QDateTime(QDate(2028, 2, 29), QTime(0, 0))},         // leap day at midnight
        {QDate(2026, 12, 31), QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59))}, // year end
        {QDate(9999, 12, 31), QDateTime(QDate(1, 1, 1), QTime(12, 0))},
    };
    for (const auto &[day, moment] : dates) {
        Inputs odd;
        odd.day = day;
        odd.moment = moment;
        for (const Builder &builder : builders()) {
            SCOPED_TRACE((builder.name + QLatin1Char(' ') + day.toString(Qt::ISODate)).toStdString());
            EXPECT_EQ(SqlShape(builder.build(odd)), SqlShape(builder.build(plain)));
        }
    }
}

TEST(StatementShape, identitiesThatAreNoWholeNumbers_areRefusedNotPlacedIntoStatements)
{
    for (const QString &id : HostileIdentities()) {
        Inputs hostile;
        hostile.id = id;
        SCOPED_TRACE(id.toStdString());
        EXPECT_THROW(IdentityText(hostile.id, QStringLiteral("ID")), DbError);
        for (const Builder &builder : builders()) {
            // Builders without an identity are unaffected; the others refuse.
            try {
                const QString built = builder.build(hostile);
                EXPECT_EQ(SqlShape(built), SqlShape(builder.build(Inputs())))
                    << builder.name.toStdString() << ": " << built.left(300).toStdString();
            } catch (const DbError &error) {
                EXPECT_TRUE(error.message().contains(id)) << error.message().toStdString();
            }
        }
    }
    // The largest identities still are identities.
    for (const QVariant &id : {QVariant(qint64(9223372036854775807LL)), QVariant(QStringLiteral("0012"))}) {
        Inputs big;
        big.id = id;
        for (const Builder &builder : builders())
            EXPECT_EQ(SqlShape(builder.build(big)), SqlShape(builder.build(Inputs()))) << builder.name.toStdString();
    }
}

// --- On a real database ------------------------------------------------------

namespace {

using Tables = QMap<QString, QList<QVariantList>>;

class HostileStatementsTest : public ::testing::Test
{
protected:
    void SetUp() override { fresh(); }
    void TearDown() override { connection.Close(); }

    // A new database file and the system's connection to it.
    void fresh()
    {
        connection.Close();
        db = std::make_unique<TempDatabase>();
        db->useWideColumns(); // hostile values as a host with wider columns holds them
        // One certification due on 2027-01-05, an open automatic issue for
        // it and one queued message.
        db->exec(QStringLiteral(
            "INSERT INTO ServiceContract (ID, CustomerName, Status) VALUES (3, 'Acme', 'Active');"
            "INSERT INTO CustomerEmployee (ID, FirstName, LastName) VALUES (4, 'Ann', 'Lee');"
            "INSERT INTO TrainingItem (ID, Name, Renews, Optional) VALUES (5, 'Forklift', 12, 0);"
            "INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, TrainingItemID, EmployeeID, ContractID)"
            " VALUES (7, 1, '2026-01-05 00:00:00', 5, 4, 3);"
            "INSERT INTO Issues (ID, ContractID, ItemID, Description, Status, EnteredBy, AUTO_Item)"
            " VALUES (11, 3, 7, 'Original', 'Open', 'AUTO SERVER', 'Training Expire');"
            "INSERT INTO AutomationServer_EmailsSent (ID, EmailFrom, EmailTo, EmailBody, EmailSent)"
            " VALUES (21, 'a@velmar.test', 'b@client.test;', 'queued', 0);"
            "INSERT INTO Company (Name, AutomationServerEmailPassword) VALUES ('Velmar', 'S3cret');"));
        QString error;
        ASSERT_TRUE(connection.Open(db->connectionString(), &error)) << error.toStdString();
    }

    Tables snapshot()
    {
        Tables tables;
        const QList<QVariantList> names = db->queryRows(QStringLiteral(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name"));
        for (const QVariantList &name : names)
            tables[name.at(0).toString()] = db->queryRows(QStringLiteral("SELECT * FROM ") + name.at(0).toString() +
                                                          QStringLiteral(" ORDER BY rowid"));
        return tables;
    }

    // Every table but `changed` is as it was.
    static void expectOnlyChanged(const Tables &before, const Tables &after, const QString &changed)
    {
        ASSERT_EQ(before.keys(), after.keys());
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it.key() != changed) {
                EXPECT_TRUE(it.value() == after.value(it.key())) << it.key().toStdString() << " changed";
            }
        }
    }

    QVariantMap newest(const QString &table)
    {
        return db->queryRow(QStringLiteral("SELECT * FROM ") + table + QStringLiteral(" ORDER BY ID DESC LIMIT 1"));
    }

    std::unique_ptr<TempDatabase> db;
    DbConnection connection;
};

::testing::AssertionResult sameText(const QVariant &stored, const QString &expected)
{
    if (stored.toString() == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "stored \"" << stored.toString().left(120).toStdString() << "\" ("
                                         << stored.toString().size() << " characters), expected \""
                                         << expected.left(120).toStdString() << "\" (" << expected.size()
                                         << " characters)";
}

} // namespace

TEST_F(HostileStatementsTest, everyStatementWithHostileText_changesOnlyItsOwnRows)
{
    for (const auto &[label, text] : HostileTexts()) {
        SCOPED_TRACE(label.toStdString());
        fresh();
        Inputs in;
        in.text = text;

        Tables before = snapshot();
        connection.Execute(QueueRowStatement(text, text, text, text, text));
        Tables after = snapshot();
        expectOnlyChanged(before, after, QStringLiteral("AutomationServer_EmailsSent"));
        EXPECT_EQ(after[QStringLiteral("AutomationServer_EmailsSent")].size(), 2);
        QVariantMap row = newest(QStringLiteral("AutomationServer_EmailsSent"));
        for (const char *column : {"EmailFrom", "EmailFromName", "EmailTo", "EmailSubject", "EmailBody"})
            EXPECT_TRUE(sameText(row.value(QLatin1String(column)), text)) << column;
        EXPECT_EQ(row.value(QStringLiteral("EmailSent")).toInt(), 0);

        before = after;
        connection.Execute(LogRowStatement(logValues(in)));
        after = snapshot();
        expectOnlyChanged(before, after, QStringLiteral("AutomationServer_Emails"));
        row = newest(QStringLiteral("AutomationServer_Emails"));
        EXPECT_TRUE(sameText(row.value(QStringLiteral("Category")), text));
        EXPECT_TRUE(sameText(row.value(QStringLiteral("ItemKey")), text));
        EXPECT_EQ(row.value(QStringLiteral("ItemID")).toInt(), 7);

        before = after;
        connection.Execute(AutomaticIssueInsertStatement(issueValues(in)));
        after = snapshot();
        expectOnlyChanged(before, after, QStringLiteral("Issues"));
        EXPECT_EQ(after[QStringLiteral("Issues")].size(), 2);
        row = newest(QStringLiteral("Issues"));
        for (const char *column : {"ItemDesc", "DueDate", "Description", "Priority", "AUTO_Date"})
            EXPECT_TRUE(sameText(row.value(QLatin1String(column)), text)) << column;
        EXPECT_EQ(row.value(QStringLiteral("Status")).toString(), QStringLiteral("Open"));

        before = after;
        connection.Execute(CloseIssueStatement(text, in.moment, 11));
        after = snapshot();
        expectOnlyChanged(before, after, QStringLiteral("Issues"));
        const QVariantMap closed = db->queryRow(QStringLiteral("SELECT * FROM Issues WHERE ID = 11"));
        EXPECT_TRUE(sameText(closed.value(QStringLiteral("Description")), QStringLiteral("Original") + text));
        EXPECT_EQ(closed.value(QStringLiteral("Status")).toString(), QStringLiteral("Closed"));
        // The issue inserted above is untouched.
        EXPECT_EQ(before[QStringLiteral("Issues")].last(), after[QStringLiteral("Issues")].last());

        before = after;
        connection.Execute(MarkEmailsSentSql(QStringLiteral("21"), in.moment));
        after = snapshot();
        expectOnlyChanged(before, after, QStringLiteral("AutomationServer_EmailsSent"));
        EXPECT_EQ(db->queryValue(QStringLiteral("SELECT COUNT(*) FROM AutomationServer_EmailsSent WHERE EmailSent = 1"))
                      .toInt(),
                  1);

        before = after;
        connection.Execute(QueueEmailsAgainSql(QStringLiteral("21"), text));
        after = snapshot();
        expectOnlyChanged(before, after, QStringLiteral("AutomationServer_EmailsSent"));
        row = newest(QStringLiteral("AutomationServer_EmailsSent"));
        EXPECT_TRUE(sameText(row.value(QStringLiteral("EmailTo")), text));
        EXPECT_EQ(row.value(QStringLiteral("EmailBody")).toString(), QStringLiteral("queued"));
        EXPECT_EQ(row.value(QStringLiteral("EmailSent")).toInt(), 0);

        // Queries change nothing, and all of them still run.
        before = after;
        for (const Builder &builder : builders()) {
            if (!builder.build(in).startsWith(QLatin1String("SELECT")))
                continue;
            EXPECT_NO_THROW(connection.Query(builder.build(in))) << builder.name.toStdString();
        }
        EXPECT_TRUE(before == snapshot());
    }
}

TEST_F(HostileStatementsTest, hostileCategory_isComparedAsAValue)
{
    // A log row for the certification under a hostile category marks it as
    // notified for exactly that category, and for no other.
    const QDate window(2027, 2, 1);
    for (const auto &[label, text] : HostileTexts()) {
        SCOPED_TRACE(label.toStdString());
        fresh();
        db->exec(QStringLiteral("INSERT INTO AutomationServer_Emails (ID, Category, Item, ItemID, ItemKey)"
                                " VALUES (31, '") +
                 QString(text).replace(QLatin1Char('\''), QLatin1String("''")) +
                 QStringLiteral("', 'Training Expire', 7, '2027-01-05 00:00:00')"));
        const QuerySnapshot same = connection.Query(NotificationCandidateQuery(text, window));
        ASSERT_EQ(same.rows.size(), 1);
        EXPECT_EQ(same.rows[0].at(same.columns.indexOf(QStringLiteral("EmailID"))).toInt(), 31);
        const QuerySnapshot other = connection.Query(NotificationCandidateQuery(text + QLatin1Char('x'), window));
        ASSERT_EQ(other.rows.size(), 1);
        EXPECT_EQ(other.rows[0].at(other.columns.indexOf(QStringLiteral("EmailID"))).toInt(), 0);
    }
}

// A NUL would end the statement's text early: it is dropped, and the rest is
// stored whole.
TEST_F(HostileStatementsTest, textWithNulCharacter_isStoredWithoutItAndChangesNothingElse)
{
    const QString text = QStringLiteral("a") + QChar(u'\0') + QStringLiteral("'); DELETE FROM Issues; --");
    const Tables before = snapshot();
    connection.Execute(QueueRowStatement(text, text, text, text, text));
    expectOnlyChanged(before, snapshot(), QStringLiteral("AutomationServer_EmailsSent"));
    EXPECT_TRUE(sameText(newest(QStringLiteral("AutomationServer_EmailsSent")).value(QStringLiteral("EmailBody")),
                         QString(text).remove(QChar(u'\0'))));
}

TEST_F(HostileStatementsTest, textShapedLikeADate_isStoredAsWritten)
{
    // A name or priority that happens to read like a date is still text in a
    // text column.
    for (const QString &text : {QStringLiteral("1/5/2027"), QStringLiteral("12/7/2026 2:05:09 PM")}) {
        SCOPED_TRACE(text.toStdString());
        connection.Execute(QueueRowStatement(text, text, text, text, text));
        EXPECT_TRUE(
            sameText(newest(QStringLiteral("AutomationServer_EmailsSent")).value(QStringLiteral("EmailSubject")),
                     text));
    }
}

// Checked against a Transact-SQL grammar (tools/tsql-check, installed by
// scripts/install-deps), with the SQL Server schema.
TEST(TsqlGrammar, everyStatementAndTheSqlServerSchemaParse)
{
    std::string output;
    // Every builder, and the session settings of every SQL Server connection.
    QList<QPair<QString, QString>> statements = {
        {QStringLiteral("session settings"), QStringLiteral("SET LANGUAGE us_english; SET DATEFORMAT mdy")}};
    for (const Builder &builder : builders())
        statements.append({builder.name, builder.build(Inputs())});
    // The operator's lower bound on renewal dates, and the preview's held transaction.
    const QDate day(2027, 1, 5);
    SetNotifyExpiredWithinDays(30);
    statements.append({QStringLiteral("NotificationCandidateQuery, lower bound"),
                       NotificationCandidateQuery(QStringLiteral("Contract"), day)});
    statements.append({QStringLiteral("AutomaticIssueSelectQuery, lower bound"), AutomaticIssueSelectQuery(day)});
    SetNotifyExpiredWithinDays(std::nullopt);
    // The renewal-date match for date-time key columns, and what picks it.
    statements.append({QStringLiteral("NotificationCandidateQuery, date-time keys"),
                       NotificationCandidateQuery(QStringLiteral("Contract"), day,
                                                  {RenewalKeyType::DateTime, RenewalKeyType::DateTime})});
    for (const QString &query : {RenewalKeyTypesQuery(), CompatibilityLevelQuery(), HostIndexesQuery()})
        statements.append({QStringLiteral("catalogue query"), query});
    const HeldChangesSql held = HeldChangesStatements(false, 1);
    statements.append({QStringLiteral("preview begin"), held.begin.join(QStringLiteral("; "))});
    // SAVE TRANSACTION and ROLLBACK TRANSACTION <name> are beyond this grammar.
    statements.append({QStringLiteral("preview discard"), held.discard});
    EXPECT_EQ(check(statements, {QStringLiteral(VELMAR_SOURCE_DIR "/schema/sqlserver.sql")}, &output), 0) << output;
    // The schema's tables and indexes were read as well.
    const QRegularExpressionMatch checked =
        QRegularExpression(QStringLiteral("of (\\d+) statements")).match(QString::fromStdString(output));
    EXPECT_GT(checked.captured(1).toInt(), statements.size() + 20) << output;
}

// The check can fail: what is no Transact-SQL is rejected.
TEST(TsqlGrammar, rejectsWhatIsNoTransactSql)
{
    std::string output;
    EXPECT_EQ(check({{QStringLiteral("CAST without AS"), QStringLiteral("SELECT CAST(x VarChar) FROM t")}}, {},
                    &output),
              1)
        << output;
}
