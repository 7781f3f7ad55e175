#include "alerts/IsolatedBatches.h"

#include "database/DbConnection.h"
#include "database/DbError.h"

#include <utility>

IsolatedBatches::IsolatedBatches(DbConnection &connection, QStringList &failures, std::function<void()> committed)
    : m_connection(connection), m_failures(failures), m_committed(std::move(committed))
{
    m_batch.reserve(ItemsPerCommit);
}

IsolatedBatches::~IsolatedBatches()
{
    if (m_open)
        m_connection.Rollback();
}

void IsolatedBatches::Write(const QString &what, const QStringList &statements)
{
    m_batch.append(Item{what, statements});
    if (m_batch.size() == ItemsPerCommit)
        commitBatch();
}

void IsolatedBatches::Finish()
{
    commitBatch();
    const int unreported = m_notWritten - MaxReportedItems;
    if (unreported > 0)
        m_failures.append(QStringLiteral("%1 more item(s) were not written and are tried again at the next poll "
                                         "(the first of them: %2)")
                              .arg(unreported)
                              .arg(m_firstUnreported));
    m_notWritten = 0;
}

void IsolatedBatches::commitBatch()
{
    if (m_batch.isEmpty())
        return;
    QStringList statements;
    for (const Item &item : std::as_const(m_batch))
        statements += item.statements;
    try {
        m_connection.BeginTransaction();
        m_open = true;
        m_connection.ExecuteAll(statements);
        m_connection.Commit();
        m_open = false;
    } catch (const DbError &) {
        redoOneByOne();
        return;
    }
    for (qsizetype i = 0; i < m_batch.size(); ++i)
        m_committed();
    m_batch.clear();
}

void IsolatedBatches::redoOneByOne()
{
    if (m_open) {
        m_connection.Rollback();
        m_open = false;
    }
    const QList<Item> items = std::exchange(m_batch, {});
    for (const Item &item : items) {
        // Beginning and committing are no item's own doing: a database that
        // refuses them (locked, full, gone) fails the task as before.
        m_connection.BeginTransaction();
        m_open = true;
        try {
            m_connection.ExecuteAll(item.statements);
        } catch (const DbError &error) {
            m_connection.Rollback();
            m_open = false;
            const QString line = QStringLiteral("%1 was not written and is tried again at the next poll: %2")
                                     .arg(item.what, error.message());
            if (++m_notWritten <= MaxReportedItems)
                m_failures.append(line);
            else if (m_firstUnreported.isEmpty())
                m_firstUnreported = line;
            continue;
        }
        m_connection.Commit();
        m_open = false;
        m_committed();
    }
}
