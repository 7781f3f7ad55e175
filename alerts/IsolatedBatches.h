#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class DbConnection;

// Writes the rows of many items (a certification's queue and log rows, an
// automatic issue), each item's statements standing or falling together, up
// to 1,000 items per transaction: a commit (its journal sync, or a round trip
// to the server) costs more than the rows themselves, and the index pages a
// batch touches (the queue's index by recipient list above all) are written
// once per commit, so fewer commits write far fewer pages. A batch's text is
// a few MB at most. The statements of a
// whole batch go to the database together, once it is full or finished
// (DbConnection::ExecuteAll): one round trip where the database runs a batch
// of statements.
//
// A failure rolls back the batch it happened in; its items are then written
// once more, each in a transaction of its own, so an item whose statement
// always fails holds back nothing but itself, whatever the size of its batch
// and even when every item of it fails: the task goes on. Such an item is
// left for the next poll and reported once (a line in `failures` naming it,
// with the database's own message); past MaxReportedItems lines, one closing
// line counts the rest. A transaction that cannot begin or commit is no
// item's fault (a locked, full or lost database): it is thrown, as any other
// failure of the task.
class IsolatedBatches
{
public:
    static constexpr int ItemsPerCommit = 1000;
    static constexpr int MaxReportedItems = 20;

    // committed: told of each item once its transaction has committed.
    IsolatedBatches(DbConnection &connection, QStringList &failures, std::function<void()> committed);
    // Leaving without Finish() (a failure on the way) discards the batch.
    ~IsolatedBatches();
    IsolatedBatches(const IsolatedBatches &) = delete;
    IsolatedBatches &operator=(const IsolatedBatches &) = delete;

    // what: how the failure line names the item.
    void Write(const QString &what, const QStringList &statements);
    // Commits the open batch, if any, and closes the report.
    void Finish();

private:
    struct Item
    {
        QString what;
        QStringList statements;
    };
    void commitBatch();
    void redoOneByOne();

    DbConnection &m_connection;
    QStringList &m_failures;
    std::function<void()> m_committed;
    QList<Item> m_batch;
    bool m_open = false;
    int m_notWritten = 0;      // items held back so far
    QString m_firstUnreported; // the database's words for the first item past the limit
};
