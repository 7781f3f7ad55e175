#include "alerts/IsolatedBatches.h"

#include "database/DbConnection.h"
#include "database/DbError.h"

#include <optional>
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
        Finish();
}

void IsolatedBatches::Finish()
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
    std::optional<DbError> firstError;
    QStringList failures;
    for (const Item &item : items) {
        try {
            m_connection.BeginTransaction();
            m_open = true;
            m_connection.ExecuteAll(item.statements);
            m_connection.Commit();
            m_open = false;
        } catch (const DbError &error) {
            if (m_open) {
                m_connection.Rollback();
                m_open = false;
            }
            if (!firstError)
                firstError = error;
            failures.append(QStringLiteral("%1 was not written and is tried again at the next poll: %2")
                                .arg(item.what, error.message()));
            continue;
        }
        m_committed();
    }
    if (failures.size() == items.size())
        throw *firstError;
    m_failures.append(failures);
}
