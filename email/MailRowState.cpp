#include "email/MailRowState.h"

#include "database/DbError.h"
#include "database/SqlText.h"
#include "email/MailQueueState.h"

#include <QMap>

namespace {
const QString StoredTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
} // namespace

QStringList IdLists(const QList<qint64> &ids, int most)
{
    QStringList lists;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i % most == 0)
            lists.append(QString());
        else
            lists.last() += QLatin1Char(',');
        lists.last() += QString::number(ids.at(i));
    }
    return lists;
}

QString CreateMailRowStateSql(DbConnection::Backend backend)
{
    if (backend == DbConnection::Backend::Sqlite)
        return QStringLiteral("CREATE TABLE AutomationServer_EmailRowState (EmailID INTEGER NOT NULL, "
                              "EmailTo TEXT COLLATE NOCASE NULL, Since NVARCHAR(19) COLLATE NOCASE NOT NULL, "
                              "Refusal TEXT COLLATE NOCASE NULL)");
    return QStringLiteral("CREATE TABLE AutomationServer_EmailRowState (EmailID INT NOT NULL, "
                          "EmailTo NVARCHAR(MAX) NULL, Since NVARCHAR(19) NOT NULL, Refusal NVARCHAR(MAX) NULL)");
}

QString ClaimEmailsSql(const QString &ids, const QDateTime &since)
{
    return QStringLiteral("INSERT INTO AutomationServer_EmailRowState (EmailID,EmailTo,Since,Refusal) SELECT ID,"
                          "EmailTo,'%1',NULL FROM AutomationServer_EmailsSent WHERE ID IN (%2)")
        .arg(since.toString(StoredTimeFormat), ids);
}

QString ReleaseClaimsSql(const QString &ids)
{
    return QStringLiteral("DELETE FROM AutomationServer_EmailRowState WHERE Refusal IS NULL AND EmailID IN (%1)")
        .arg(ids);
}

QString StaleClaimsSql()
{
    return QStringLiteral("SELECT EmailID,EmailTo,Since FROM AutomationServer_EmailRowState WHERE Refusal IS NULL "
                          "ORDER BY EmailID");
}

QString ForgetStaleClaimsSql()
{
    return QStringLiteral("DELETE FROM AutomationServer_EmailRowState WHERE Refusal IS NULL");
}

QString RefuseNotificationSql(qint64 id, const QString &reply, const QDateTime &since)
{
    return QStringLiteral("INSERT INTO AutomationServer_EmailRowState (EmailID,EmailTo,Since,Refusal) SELECT ID,"
                          "EmailTo,'%1',N'%2' FROM AutomationServer_EmailsSent WHERE ID=%3")
        .arg(since.toString(StoredTimeFormat), SqlText(reply))
        .arg(id);
}

QString RefusedNotificationsSql()
{
    return QStringLiteral("SELECT EmailID FROM AutomationServer_EmailRowState WHERE Refusal IS NOT NULL");
}

QString ForgetRefusedNotificationsSql()
{
    return QStringLiteral("DELETE FROM AutomationServer_EmailRowState WHERE Refusal IS NOT NULL");
}

void EnsureMailRowStateTable()
{
    DbConnection &connection = DatabaseConnection();
    EnsureOwnTable(connection, QStringLiteral("AutomationServer_EmailRowState"),
                   CreateMailRowStateSql(connection.backend()));
}

QStringList RecoverInterruptedSending()
{
    DbConnection &connection = DatabaseConnection();
    const QuerySnapshot claims = connection.Query(StaleClaimsSql());
    if (claims.rows.isEmpty())
        return {};
    // One line per message: its recipient list and when it was claimed.
    QMap<QPair<QString, QString>, int> messages;
    for (const QList<QVariant> &claim : claims.rows)
        ++messages[{claim.value(1).toString(), claim.value(2).toString()}];
    QStringList lines;
    for (auto it = messages.cbegin(); it != messages.cend(); ++it)
        lines.append(QStringLiteral("Email to %1 (%2 notification(s)) was being handed to the mail server at %3 "
                                    "when the server stopped; whether it arrived is unknown, so it goes out "
                                    "again and may arrive twice")
                         .arg(it.key().first.simplified())
                         .arg(it.value())
                         .arg(it.key().second));
    connection.Execute(ForgetStaleClaimsSql());
    return lines;
}

QSet<qint64> RefusedNotifications()
{
    QSet<qint64> ids;
    for (const QList<QVariant> &row : DatabaseConnection().Query(RefusedNotificationsSql()).rows)
        ids.insert(row.value(0).toLongLong());
    return ids;
}

int ForgetRefusedNotifications()
{
    EnsureMailRowStateTable();
    DbConnection &connection = DatabaseConnection();
    const int count = connection
                          .Query(QStringLiteral("SELECT COUNT(*) FROM AutomationServer_EmailRowState WHERE "
                                                "Refusal IS NOT NULL"))
                          .rows.value(0)
                          .value(0)
                          .toInt();
    connection.Execute(ForgetRefusedNotificationsSql());
    return count;
}
