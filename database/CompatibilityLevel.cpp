#include "database/CompatibilityLevel.h"

#include "database/DbConnection.h"

namespace {
constexpr int kNeededLevel = 110;
}

QString CompatibilityLevelQuery()
{
    return QStringLiteral("SELECT name,compatibility_level FROM sys.databases WHERE name=DB_NAME()");
}

QString CompatibilityLevelRefusal(DbConnection &connection)
{
    if (connection.backend() != DbConnection::Backend::Odbc)
        return QString();
    QuerySnapshot level;
    try {
        level = connection.Query(CompatibilityLevelQuery());
    } catch (const DbError &) {
        return QString(); // not SQL Server: nothing of this kind to check
    }
    if (level.rows.isEmpty() || level.rows.first().size() < 2)
        return QString();
    const QString name = level.rows.first().at(0).toString();
    bool isNumber = false;
    const int found = level.rows.first().at(1).toInt(&isNumber);
    if (!isNumber || found >= kNeededLevel)
        return QString();
    QString quoted = name;
    quoted.replace(QLatin1Char(']'), QLatin1String("]]"));
    return QStringLiteral("The database %1 runs at compatibility level %2; the server's statements need %3 or "
                          "above (TRY_CONVERT). Raise it with: ALTER DATABASE [%4] SET COMPATIBILITY_LEVEL = %3")
        .arg(name)
        .arg(found)
        .arg(kNeededLevel)
        .arg(quoted);
}
