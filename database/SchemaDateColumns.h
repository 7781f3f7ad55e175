#pragma once

#include <QHash>
#include <QSet>
#include <QString>

// The columns of a database that are declared as dates (DATETIME, DATE...),
// by table. Names match in any letter case, as SQL names do.
class SchemaDateColumns
{
public:
    // Every column of every table is added, so that tables without a date
    // column are known too.
    void AddColumn(const QString &table, const QString &column, bool isDate);

    bool HasTable(const QString &table) const;
    bool IsDateColumn(const QString &table, const QString &column) const;
    // True when some table has a date column of that name.
    bool IsDateColumnOfAnyTable(const QString &column) const;

private:
    QHash<QString, QSet<QString>> m_dateColumns; // lower-case table -> its lower-case date columns
};
