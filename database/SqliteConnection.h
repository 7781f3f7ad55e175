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
