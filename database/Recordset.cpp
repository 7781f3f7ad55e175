#include "Recordset.h"

#include "DbConnection.h"

namespace {

DbError closedError()
{
    return DbError(QStringLiteral("Operation is not allowed when the recordset is closed."));
}

} // namespace

void Recordset::Open(const QString &sql, DbConnection &connection)
{
    // A recordset left open by a failed run is reopened, not refused.
    Close();
    QuerySnapshot snapshot = connection.Query(sql);
    m_columns = std::move(snapshot.columns);
    m_rows = std::move(snapshot.rows);
    for (int c = 0; c < m_columns.size(); ++c) {
        const QString key = m_columns.at(c).toLower();
        if (!m_index.contains(key))
            m_index.insert(key, c);
    }
    m_pos = 0;
    m_open = true;
}

void Recordset::Close()
{
    m_open = false;
    m_columns.clear();
    m_index.clear();
    m_rows.clear();
    m_pos = 0;
}

bool Recordset::Eof() const
{
    if (!m_open)
        throw closedError();
    return m_pos >= m_rows.size();
}

bool Recordset::Bof() const
{
    if (!m_open)
        throw closedError();
    return m_rows.isEmpty();
}

void Recordset::MoveNext()
{
    if (!m_open)
        throw closedError();
    if (m_pos >= m_rows.size())
        throw DbError(QStringLiteral("Either BOF or EOF is True: there is no current row to move from."));
    ++m_pos;
}

QVariant Recordset::Field(const QString &name) const
{
    if (!m_open)
        throw closedError();
    const auto it = m_index.constFind(name.toLower());
    if (it == m_index.cend())
        throw DbError(QStringLiteral("Item cannot be found in the collection: no column named \"%1\".").arg(name));
    if (m_pos >= m_rows.size())
        throw DbError(QStringLiteral("Either BOF or EOF is True: there is no current row to read \"%1\" from.").arg(name));
    return m_rows.at(m_pos).at(it.value());
}

bool Recordset::HasField(const QString &name) const
{
    return m_open && m_index.contains(name.toLower());
}

Recordset &SharedRecordset()
{
    static Recordset recordset;
    return recordset;
}
