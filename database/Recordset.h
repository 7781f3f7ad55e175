#pragma once

#include "DbError.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class DbConnection;

// A static snapshot of a query's rows: every row is read and the statement
// finished when it opens, so statements executed while the rows are walked
// never change what is walked, and the connection is free for other work
// (SQL Server allows one active result set per connection).
// Columns are read by name (case-insensitive, as SQL Server does) as QVariant:
// Null, bool, number, text, or QDateTime for date columns and date results.
class Recordset
{
public:
    // Throws DbError (the database's own message) when the query fails.
    void Open(const QString &sql, DbConnection &connection);
    void Close();
    bool IsOpen() const { return m_open; }

    bool Eof() const;   // past the last row (or no rows)
    bool Bof() const;   // before the first row (only when there are no rows)
    void MoveNext();

    // The current row's value of the named column. Throws DbError when the
    // column does not exist or there is no current row.
    QVariant Field(const QString &name) const;
    bool HasField(const QString &name) const;
    int RecordCount() const { return int(m_rows.size()); }
    QStringList ColumnNames() const { return m_columns; }

private:
    bool m_open = false;
    QStringList m_columns;
    QHash<QString, int> m_index;   // lower-cased name -> first column of that name
    QList<QList<QVariant>> m_rows;
    qsizetype m_pos = 0;
};

// Closes a recordset when the walk over it ends, normally or by an error, so
// the next query finds the shared recordset closed. The one way a routine
// closes what it opened.
class ClosesRecordset
{
public:
    explicit ClosesRecordset(Recordset &recordset) : m_recordset(recordset) {}
    ~ClosesRecordset() { m_recordset.Close(); }
    ClosesRecordset(const ClosesRecordset &) = delete;
    ClosesRecordset &operator=(const ClosesRecordset &) = delete;

private:
    Recordset &m_recordset;
};

// The one module-wide result set that the queue and the alert task open and
// close in turn.
Recordset &SharedRecordset();
