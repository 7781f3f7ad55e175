#include "database/SchemaDateColumns.h"

void SchemaDateColumns::AddColumn(const QString &table, const QString &column, bool isDate)
{
    QSet<QString> &dates = m_dateColumns[table.toLower()];
    if (isDate)
        dates.insert(column.toLower());
}

bool SchemaDateColumns::HasTable(const QString &table) const
{
    return m_dateColumns.contains(table.toLower());
}

bool SchemaDateColumns::IsDateColumn(const QString &table, const QString &column) const
{
    const auto it = m_dateColumns.constFind(table.toLower());
    return it != m_dateColumns.cend() && it->contains(column.toLower());
}

bool SchemaDateColumns::IsDateColumnOfAnyTable(const QString &column) const
{
    const QString name = column.toLower();
    for (const QSet<QString> &dates : m_dateColumns) {
        if (dates.contains(name))
            return true;
    }
    return false;
}
