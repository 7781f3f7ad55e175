#include "database/HostIndexes.h"

#include "database/DbConnection.h"

QString HostIndexesQuery()
{
    return QStringLiteral(
        "SELECT OBJECT_NAME(ic.object_id) AS TableName FROM sys.index_columns ic JOIN sys.columns c ON "
        "c.object_id=ic.object_id AND c.column_id=ic.column_id WHERE ic.key_ordinal=1 AND c.name=N'ItemID' AND "
        "ic.object_id IN (OBJECT_ID(N'AutomationServer_Emails'),OBJECT_ID(N'Issues'))");
}

QStringList MissingHostIndexes(DbConnection &connection)
{
    if (connection.backend() != DbConnection::Backend::Odbc)
        return {};
    QuerySnapshot indexed;
    try {
        indexed = connection.Query(HostIndexesQuery());
    } catch (const DbError &) {
        return {}; // not SQL Server: no such catalogue to read
    }
    QStringList tables;
    for (const QList<QVariant> &row : indexed.rows)
        tables.append(row.value(0).toString().toLower());
    QStringList missing;
    const auto check = [&](const QString &table, const QString &index) {
        if (!tables.contains(table.toLower()))
            missing.append(QStringLiteral("no index on %1 led by ItemID: each cycle scans the table; add "
                                          "CREATE INDEX %2 (see schema/sqlserver.sql)")
                               .arg(table, index));
    };
    check(QStringLiteral("AutomationServer_Emails"),
          QStringLiteral("IX_AutomationServer_Emails_ItemID ON dbo.AutomationServer_Emails (ItemID, ItemKey) "
                         "INCLUDE (Category, Item)"));
    check(QStringLiteral("Issues"),
          QStringLiteral("IX_Issues_ItemID ON dbo.Issues (ItemID, AUTO_Date) INCLUDE (EnteredBy, AUTO_Item)"));
    return missing;
}
