#include "alerts/RenewalKeyTypes.h"

#include "database/DbConnection.h"

#include <QSet>

namespace {
RenewalKeyType typeOf(const QSet<QString> &declared)
{
    if (declared.isEmpty())
        return RenewalKeyType::Text;
    for (const QString &type : declared) {
        if (type != u"datetime" && type != u"datetime2")
            return RenewalKeyType::Text;
    }
    return RenewalKeyType::DateTime;
}
} // namespace

RenewalKeyTypes ReadRenewalKeyTypes(DbConnection &connection)
{
    const QuerySnapshot columns = connection.Query(RenewalKeyTypesQuery());
    QSet<QString> emailKey;
    QSet<QString> issueKey;
    for (const QList<QVariant> &row : columns.rows) {
        if (row.size() < 3)
            continue;
        const QString type = row[2].toString().trimmed().toLower();
        if (row[0].toString().compare(QLatin1String("Issues"), Qt::CaseInsensitive) == 0)
            issueKey.insert(type);
        else
            emailKey.insert(type);
    }
    return {typeOf(emailKey), typeOf(issueKey)};
}
