#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// Owns one SQLite connection; closed on destruction.
class SqliteConnection
{
public:
    SqliteConnection() = default;
    ~SqliteConnection() { Close(); }
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    // Opens an existing database file for reading and writing (never
    // creates one), in WAL mode with synchronous=NORMAL and a busy timeout,
    // with the dialect's functions registered, and the log copied into the
    // database only by CheckpointOnClose. On failure returns false with
    // *error saying what failed; the connection is then closed.
    // keepJournalMode: a preview leaves the file exactly as it is (no switch to WAL).
    bool Open(const QString &file, QString *error, bool keepJournalMode = false);
    void Close() noexcept;
    // Copies the write-ahead log into the database as far as no reader
    // needs it (the connection does not do so while it writes).
    void CheckpointOnClose() noexcept;
    bool IsOpen() const { return m_handle != nullptr; }
    sqlite3 *handle() const { return m_handle; }

    // Prepared INSERTs by their text with the values taken out (see
    // SqliteBackend::Execute); finalized when the connection closes.
    QHash<QByteArray, sqlite3_stmt *> &preparedInserts() const { return m_preparedInserts; }

private:
    sqlite3 *m_handle = nullptr;
    mutable QHash<QByteArray, sqlite3_stmt *> m_preparedInserts;
};

// One prepared statement, finalized on every path out of the code that
// prepared it.
class SqliteStatement
{
public:
    SqliteStatement() = default;
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    // Prepares the first statement of `sql` (`bytes` long, or up to its end
    // when -1), finalizing the one held before; *tail, when asked for, is
    // where the text after it starts. False when SQLite refuses it (its
    // message is then on the handle). A text of only blanks or comments
    // prepares to no statement: true, and get() is null.
    bool Prepare(sqlite3 *handle, const char *sql, int bytes = -1, const char **tail = nullptr);
    sqlite3_stmt *get() const { return m_stmt; }

private:
    sqlite3_stmt *m_stmt = nullptr;
};
