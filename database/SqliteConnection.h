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
    static constexpr int WalCheckpointPages = 1000;              // SQLite's own default
    static constexpr qint64 WalSizeLimitBytes = 4 * 1024 * 1024; // kept when the log starts again

    SqliteConnection() = default;
    ~SqliteConnection() { Close(); }
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    // Opens an existing database file for reading and writing (never
    // creates one) in the journal mode the file has (it is the host's to
    // choose), with synchronous=NORMAL, a busy timeout and the dialect's
    // functions registered. In WAL mode the log is copied into the database
    // once it reaches WalCheckpointPages and cut back to WalSizeLimitBytes
    // when it starts again. On failure returns false with *error saying what
    // failed; the connection is then closed.
    bool Open(const QString &file, QString *error);
    void Close() noexcept;
    // Copies the whole write-ahead log into the database and empties the
    // file, waiting (up to the busy timeout) for other connections' readers
    // and writers: the space a large log took is given back.
    void CheckpointOnClose() noexcept;
    // The same as far as no reader needs it, without waiting.
    void CheckpointPassive() noexcept;
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
