// Every statement the system can send to SQL Server, built with realistic
// values, and schema/sqlserver.sql, checked against a Transact-SQL grammar
// (tools/tsql-check, installed by scripts/install-deps).

#include "CompanySettings.h"
#include "CycleLock.h"
#include "HeldChanges.h"
#include "NotifyExpiredWithin.h"
#include "RecipientLookups.h"
#include "SendQueuedEmails.h"
#include "TrainingExpireRule.h"
#include "TrainingStatements.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace {

using Statements = QList<QPair<QString, QString>>;

Statements systemStatements()
{
    const QDate day(2027, 1, 5);
    const QDateTime moment(QDate(2026, 12, 7), QTime(14, 5, 9));
    const NotificationLogValues log{moment, QStringLiteral("Contract"), 42, QDateTime(day, QTime(9, 30, 41)), true, false, true};
    const AutomaticIssueValues issue{7, 42, QStringLiteral("First Aid: Doe, Jane A Jr - Expires 1/5/2027"), day.addDays(-20),
                                     QDateTime(day, QTime()), QStringLiteral("(AUTO ISSUE) First Aid"), QStringLiteral("High"),
                                     moment, moment, QDateTime(day, QTime())};
    SetNotifyExpiredWithinDays(30);
    const QString boundedCandidates = NotificationCandidateQuery(QStringLiteral("Contract"), day);
    const QString boundedIssues = AutomaticIssueSelectQuery(day);
    SetNotifyExpiredWithinDays(std::nullopt);
    const HeldChangesSql held = HeldChangesStatements(false, 1);
    return {
        {QStringLiteral("NotificationCandidateQuery, lower bound"), boundedCandidates},
        {QStringLiteral("AutomaticIssueSelectQuery, lower bound"), boundedIssues},
        {QStringLiteral("preview begin"), held.begin.join(QStringLiteral("; "))},
        // SAVE TRANSACTION and ROLLBACK TRANSACTION <name> are beyond this grammar.
        {QStringLiteral("preview discard"), held.discard},
        {QStringLiteral("AutoCloseSelectQuery"), AutoCloseSelectQuery(day)},
        {QStringLiteral("CloseIssueStatement"), CloseIssueStatement(AutoCloseNote(moment), moment, 9)},
        {QStringLiteral("NotificationCandidateQuery"), NotificationCandidateQuery(QStringLiteral("Contract"), day)},
        {QStringLiteral("QueueRowStatement"),
         QueueRowStatement(QStringLiteral("alerts@velmar.test"), QStringLiteral("Velmar"), QStringLiteral("a@x.test;b@x.test;"),
                           QStringLiteral("Acme - First Aid"), QStringLiteral("Client: Acme\r\nItem ID: 42\r\n"))},
        {QStringLiteral("LogRowStatement"), LogRowStatement(log)},
        {QStringLiteral("AutomaticIssueSelectQuery"), AutomaticIssueSelectQuery(day)},
        {QStringLiteral("AutomaticIssueInsertStatement"), AutomaticIssueInsertStatement(issue)},
        {QStringLiteral("TrainingExpireRuleQuery"), TrainingExpireRuleQuery()},
        {QStringLiteral("QueuedEmailsSql"), QueuedEmailsSql()},
        {QStringLiteral("MarkEmailsSentSql"), MarkEmailsSentSql(QStringLiteral("3,4"), moment)},
        {QStringLiteral("QueueEmailsAgainSql"), QueueEmailsAgainSql(QStringLiteral("3,4"), QStringLiteral("b@x.test;"))},
        {QStringLiteral("CompanySettingsSql"), CompanySettingsSql()},
        {QStringLiteral("SqlServerCycleLockSql"), SqlServerCycleLockSql(CycleLockWaitMs)},
        {QStringLiteral("SqlServerCycleUnlockSql"), SqlServerCycleUnlockSql()},
        {QStringLiteral("ContractSpecialistEmailsSql"), ContractSpecialistEmailsSql(QStringLiteral("7"))},
        {QStringLiteral("ContractEmailSql"), ContractEmailSql(QStringLiteral("7"))},
        {QStringLiteral("IssueCategorySql"), IssueCategorySql(QStringLiteral("9"))},
        // The session settings of every SQL Server connection.
        {QStringLiteral("session settings"), QStringLiteral("SET LANGUAGE us_english; SET DATEFORMAT mdy")},
    };
}

// The grammar's exit status (0: all valid) with what it printed.
int check(const Statements &statements, const QStringList &scripts, std::string *output)
{
    QJsonArray list;
    for (const auto &[name, sql] : statements)
        list.append(QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("sql"), sql}});
    QTemporaryFile file;
    if (!file.open() || file.write(QJsonDocument(list).toJson()) < 0 || !file.flush())
        return -1;
    QProcess node;
    node.setProcessChannelMode(QProcess::MergedChannels);
    node.start(QStringLiteral("node"), QStringList{QStringLiteral(VELMAR_SOURCE_DIR "/tools/tsql-check/check.js"),
                                                   file.fileName()} + scripts);
    const bool ran = node.waitForFinished(60000);
    *output = ran ? node.readAll().toStdString() : "node did not run: " + node.errorString().toStdString();
    return ran ? node.exitCode() : -1;
}

} // namespace

TEST(TsqlGrammar, everyStatementAndTheSqlServerSchemaParse)
{
    std::string output;
    const Statements statements = systemStatements();
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
    EXPECT_EQ(check({{QStringLiteral("CAST without AS"), QStringLiteral("SELECT CAST(x VarChar) FROM t")}}, {}, &output), 1)
        << output;
}
