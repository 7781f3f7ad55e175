#include "bench/SetBasedReference.h"

#include "bench/BenchSqlite.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

using namespace Qt::StringLiterals;

namespace {

QString Quoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'\'', u"''"_s);
    return u"'"_s + quoted + u"'"_s;
}

QString Iso(const QDateTime &value)
{
    return Quoted(value.toString(u"yyyy-MM-dd HH:mm:ss"_s));
}

// CompletedDate plus Renews months with the server's month-end clamping
// (31 January + 1 month = the last day of February), as ISO text.
const char kRenewDate[] =
    "CASE WHEN t.CompletedDate IS NULL OR i.Renews IS NULL THEN NULL"
    " WHEN strftime('%d', t.CompletedDate, printf('%+d months', i.Renews)) = strftime('%d', t.CompletedDate)"
    " THEN datetime(t.CompletedDate, printf('%+d months', i.Renews))"
    " ELSE date(t.CompletedDate, 'start of month', printf('%+d months', i.Renews + 1), '-1 day')"
    " || ' ' || time(t.CompletedDate) END";

// The system's date text of an ISO date-time: "1/5/2027", or
// "12/7/2026 2:05:09 PM" when the time of day is not midnight.
QString DateTextSql(const QString &column)
{
    return uR"(printf('%d/%d/%s', CAST(strftime('%m', @D@) AS INTEGER), CAST(strftime('%d', @D@) AS INTEGER), strftime('%Y', @D@))
 || CASE WHEN time(@D@) = '00:00:00' THEN '' ELSE printf(' %d:%s %s',
    CASE WHEN CAST(strftime('%H', @D@) AS INTEGER) % 12 = 0 THEN 12 ELSE CAST(strftime('%H', @D@) AS INTEGER) % 12 END,
    strftime('%M:%S', @D@), CASE WHEN CAST(strftime('%H', @D@) AS INTEGER) < 12 THEN 'AM' ELSE 'PM' END) END)"_s
        .replace(u"@D@"_s, column);
}

bool IsOn(const QVariant &value)
{
    if (value.isNull())
        return false;
    bool number = false;
    const double n = value.toDouble(&number);
    if (number)
        return n != 0;
    return value.toString().compare(u"true"_s, Qt::CaseInsensitive) == 0;
}

} // namespace

QStringList SetBasedReferenceStatements(BenchSqlite &db, const ReferenceSettings &settings)
{
    QSqlQuery rule(db.db());
    if (!rule.exec(u"SELECT * FROM AutomationServer_Alert WHERE Item = 'Training Expire'"_s) || !rule.next())
        throw BenchDbError(u"the reference needs the \"Training Expire\" rule: %1"_s.arg(rule.lastError().text()));
    const auto value = [&](const char *column) { return rule.value(QString::fromLatin1(column)); };
    const QString category = value("Category").toString();
    const bool manager = IsOn(value("EmailContractManager"));
    const bool specialists = IsOn(value("EmailContractSpecialist"));
    const bool client = IsOn(value("EmailClient"));
    const bool createIssue = IsOn(value("CreateIssue"));
    const QString priority = value("IssuePriority").toString();
    const QDateTime notificationWindow(settings.today.addDays(value("DaysInAdvance").toInt()), QTime(0, 0));
    const QDateTime issueWindow(settings.today.addDays(value("CreateIssueDaysInAdvance").toInt()), QTime(0, 0));
    const QDateTime latest = std::max(notificationWindow, issueWindow);

    const QString now = Iso(settings.now);
    const QString from = Quoted(settings.emailFrom);
    const QString fromName = Quoted(settings.companyName);
    const QString crlf = u"char(13, 10)"_s;

    QStringList sql;
    // Every required training of a working employee on an active contract
    // that renews on or before the later window.
    sql << uR"(CREATE TEMP TABLE RefDue AS
SELECT x.ID, x.ContractID, c.CustomerName, m.Email AS ManagerEmail, x.RenewDate,
  ifnull(x.ItemName, '') || ': ' || ifnull(e.LastName, '') || ', ' || ifnull(e.FirstName, '') || ' ' ||
  ifnull(e.MiddleName, '') || ' ' || ifnull(e.Suffix, '') || ' - Expires ' || %1 AS ItemDesc
FROM (SELECT t.ID, t.ContractID, t.EmployeeID, i.Name AS ItemName, %2 AS RenewDate
      FROM CustomerEmployeeTraining t JOIN TrainingItem i ON t.TrainingItemID = i.ID
      WHERE i.Optional = 0) x
JOIN CustomerEmployee e ON x.EmployeeID = e.ID
JOIN ServiceContract c ON x.ContractID = c.ID
LEFT JOIN Employee m ON c.ContractManagerID = m.ID
WHERE c.Status = 'Active' AND e.Terminated = 0 AND e.Suspended = 0 AND x.RenewDate <= %3)"_s
               .arg(DateTextSql(u"x.RenewDate"_s), QString::fromLatin1(kRenewDate), Iso(latest));
    // Those not yet notified for this renewal date under the rule's category.
    sql << uR"(CREATE TEMP TABLE RefNotify AS
SELECT d.*, ifnull(d.CustomerName, '') || ' - ' || d.ItemDesc AS Subject,
  'Client: ' || ifnull(d.CustomerName, '') || %1 || 'Item ID: ' || d.ID || %1 || d.ItemDesc || %1 || %1 ||
  '******************************************************' || %1 AS Body
FROM RefDue d
WHERE d.RenewDate <= %2 AND NOT EXISTS (SELECT 1 FROM AutomationServer_Emails l
  WHERE l.Category = %3 AND l.Item = 'Training Expire' AND l.ItemID = d.ID AND l.ItemKey = d.RenewDate))"_s
               .arg(crlf, Iso(notificationWindow), Quoted(category));

    const QString queueInsert = u"INSERT INTO AutomationServer_EmailsSent "
                                "(EmailFrom,EmailFromName,EmailTo,EmailSubject,EmailBody,EmailSent) "_s;
    if (manager)
        sql << queueInsert +
                u"SELECT %1, %2, n.ManagerEmail, n.Subject, n.Body, 0 FROM RefNotify n "
                "WHERE n.ManagerEmail IS NOT NULL AND n.ManagerEmail <> '' ORDER BY n.ID"_s.arg(from, fromName);
    if (specialists)
        sql << queueInsert + uR"(SELECT %1, %2, s.List, n.Subject, n.Body, 0 FROM RefNotify n
JOIN (SELECT ServiceContractID, group_concat(Email || ';', '') AS List
      FROM (SELECT cs.ServiceContractID, p.Email FROM ServiceContractSpecialist cs
            JOIN Employee p ON cs.EmployeeID = p.ID
            WHERE p.Email IS NOT NULL AND p.Email <> '' ORDER BY cs.ServiceContractID, p.Email)
      GROUP BY ServiceContractID) s ON s.ServiceContractID = n.ContractID
ORDER BY n.ID)"_s.arg(from, fromName);
    const QString clientColumn = category == u"Contract"_s ? u"EmailContract"_s
        : category == u"Contract Employee"_s               ? u"EmailEmployee"_s
                                                           : QString();
    if (client && !clientColumn.isEmpty())
        sql << queueInsert +
                uR"(SELECT %1, %2, c.%3, n.Subject, n.Body, 0 FROM RefNotify n
JOIN ServiceContract c ON c.ID = n.ContractID WHERE c.%3 IS NOT NULL AND c.%3 <> '' ORDER BY n.ID)"_s.arg(from,
                                                                                                          fromName,
                                                                                                          clientColumn);
    if (manager || specialists || client)
        sql << uR"(INSERT INTO AutomationServer_Emails (EmailDate,Category,Item,ItemID,ItemKey,ContractManager,ContractSpecialist,Client)
SELECT %1, %2, 'Training Expire', n.ID, n.RenewDate, %3, %4, %5 FROM RefNotify n ORDER BY n.ID)"_s
                   .arg(now, Quoted(category))
                   .arg(manager ? 1 : 0)
                   .arg(specialists ? 1 : 0)
                   .arg(client ? 1 : 0);
    if (createIssue)
        sql << uR"(INSERT INTO Issues (ContractID,Category,ItemID,ItemDesc,IssueDate,DueDate,Description,Status,Priority,EnteredBy,EnteredDate,EditedBy,EditedDate,AUTO_Item,Auto_Date)
SELECT d.ContractID, '', d.ID, d.ItemDesc, %1, d.RenewDate, '(AUTO ISSUE) ' || d.ItemDesc, 'Open', %2,
  'AUTO SERVER', %3, 'AUTO SERVER', %3, 'Training Expire', d.RenewDate
FROM RefDue d
WHERE d.RenewDate <= %4 AND NOT EXISTS (SELECT 1 FROM Issues i
  WHERE i.EnteredBy = 'AUTO SERVER' AND i.AUTO_Item = 'Training Expire' AND i.ItemID = d.ID AND i.AUTO_Date = d.RenewDate)
ORDER BY d.ID)"_s.arg(Iso(QDateTime(settings.today, QTime(0, 0))), Quoted(priority), now, Iso(issueWindow));
    sql << u"DROP TABLE RefNotify"_s << u"DROP TABLE RefDue"_s;
    return sql;
}

ReferenceResult RunSetBasedReference(BenchSqlite &db, const ReferenceSettings &settings)
{
    ReferenceResult result;
    const qint64 queueBefore = db.count(u"AutomationServer_EmailsSent"_s);
    const qint64 logBefore = db.count(u"AutomationServer_Emails"_s);
    const qint64 issuesBefore = db.count(u"Issues"_s);
    const QStringList statements = SetBasedReferenceStatements(db, settings);

    QElapsedTimer timer;
    timer.start();
    db.exec(u"BEGIN IMMEDIATE"_s, u"BEGIN"_s);
    for (const QString &statement : statements)
        db.exec(statement, u"reference statement \"%1...\""_s.arg(statement.left(60).simplified()));
    db.exec(u"COMMIT"_s, u"COMMIT"_s);
    result.milliseconds = double(timer.nsecsElapsed()) / 1e6;
    result.statements = int(statements.size()) + 2;

    result.queueRows = db.count(u"AutomationServer_EmailsSent"_s) - queueBefore;
    result.logRows = db.count(u"AutomationServer_Emails"_s) - logBefore;
    result.issues = db.count(u"Issues"_s) - issuesBefore;
    return result;
}

WrittenRowsBaseline ReadBaseline(BenchSqlite &db)
{
    return WrittenRowsBaseline{
        db.scalar(u"SELECT ifnull(max(ID), 0) FROM AutomationServer_EmailsSent"_s).toLongLong(),
        db.scalar(u"SELECT ifnull(max(ID), 0) FROM AutomationServer_Emails"_s).toLongLong(),
        db.scalar(u"SELECT ifnull(max(ID), 0) FROM Issues"_s).toLongLong(),
    };
}

QStringList CompareWrittenRows(BenchSqlite &cycleDb, const QString &referenceFile, const WrittenRowsBaseline &baseline)
{
    struct Check
    {
        QString what;
        QString table;
        QString columns;
        qint64 after;
    };
    const QList<Check> checks = {
        {u"queue rows"_s, u"AutomationServer_EmailsSent"_s, u"EmailFrom,EmailFromName,EmailTo,EmailSubject,EmailBody"_s,
         baseline.queueId},
        {u"log rows"_s, u"AutomationServer_Emails"_s,
         u"Category,Item,ItemID,ItemKey,ContractManager,ContractSpecialist,Client"_s, baseline.logId},
        {u"automatic issues"_s, u"Issues"_s,
         u"ContractID,Category,ItemID,ItemDesc,IssueDate,DueDate,Priority,EnteredBy,AUTO_Item,AUTO_Date"_s,
         baseline.issueId},
    };
    QStringList differences;
    cycleDb.exec(u"ATTACH DATABASE %1 AS ref"_s.arg(Quoted(referenceFile)), u"ATTACH the reference"_s);
    try {
        for (const Check &check : checks) {
            // Compared as multisets: each distinct row with its number of copies.
            const QString grouped = u"SELECT %1, COUNT(*) AS Copies FROM %2.%3 WHERE ID > %4 GROUP BY %1"_s;
            const QString cycleRows = grouped.arg(check.columns, u"main"_s, check.table).arg(check.after);
            const QString referenceRows = grouped.arg(check.columns, u"ref"_s, check.table).arg(check.after);
            const qint64 onlyCycle =
                cycleDb.scalar(u"SELECT COUNT(*) FROM (%1 EXCEPT %2)"_s.arg(cycleRows, referenceRows)).toLongLong();
            const qint64 onlyReference =
                cycleDb.scalar(u"SELECT COUNT(*) FROM (%1 EXCEPT %2)"_s.arg(referenceRows, cycleRows)).toLongLong();
            if (onlyCycle || onlyReference) {
                QSqlQuery sample(cycleDb.db());
                QString example;
                if (sample.exec(u"SELECT * FROM (%1 EXCEPT %2) LIMIT 1"_s.arg(cycleRows, referenceRows)) &&
                    sample.next()) {
                    QStringList values;
                    for (int i = 0; i < sample.record().count(); ++i)
                        values << sample.value(i).toString().left(80);
                    example = u"; e.g. only in the cycle: "_s + values.join(u" | "_s);
                }
                differences << u"%1: %2 only in the cycle, %3 only in the reference%4"_s.arg(check.what)
                                   .arg(onlyCycle)
                                   .arg(onlyReference)
                                   .arg(example);
            }
        }
    } catch (...) {
        cycleDb.exec(u"DETACH DATABASE ref"_s, u"DETACH the reference"_s);
        throw;
    }
    cycleDb.exec(u"DETACH DATABASE ref"_s, u"DETACH the reference"_s);
    return differences;
}
