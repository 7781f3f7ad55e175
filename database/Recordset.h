#pragma once

#include "database/DbError.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class DbConnection;
class QueryStream;

// A static snapshot of a query's rows: every row is read and the statement
// finished when it opens, so statements executed while the rows are walked
// never change what is walked, and the connection is free for other work
// (SQL Server allows one active result set per connection).
// A streamed recordset (the shared one) keeps the same snapshot, but the
// database keeps it and the rows are read as they are walked, so memory
// holds one row, however long the result (see DbConnection::Stream); its
// RecordCount is -1, as for a forward-only cursor.
// Columns are read by name (case-insensitive, as SQL Server does) as QVariant:
// Null, bool, number, text, or QDateTime for date columns and date results.
class Recordset
{
public:
    enum class Reading { AllAtOnce, Streamed };
    explicit Recordset(Reading reading = Reading::AllAtOnce);
    ~Recordset();
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    // Throws DbError (the database's own message) when the query fails.
    void Open(const QString &sql, DbConnection &connection);
    void Close();
    bool IsOpen() const { return m_open; }

    bool Eof() const; // past the last row (or no rows)
    bool Bof() const; // before the first row (only when there are no rows)
    void MoveNext();

    // The current row's value of the named column. Throws DbError when the
    // column does not exist or there is no current row.
    QVariant Field(const QString &name) const;
    bool HasField(const QString &name) const;
    int RecordCount() const { return m_count; }
    QStringList ColumnNames() const { return m_columns; }

private:
    Reading m_reading;
    bool m_open = false;
    QStringList m_columns;
    QHash<QString, int> m_index; // lower-cased name -> first column of that name
    QHash<QString, int> m_exact; // that column's name as spelled -> the same column
    std::unique_ptr<QueryStream> m_rows;
    bool m_hasRow = false;
    bool m_anyRow = false;
    int m_count = 0;
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
// close in turn; streamed.
Recordset &SharedRecordset();
