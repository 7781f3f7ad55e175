#include "database/Recordset.h"

#include "database/DbConnection.h"

namespace {

DbError closedError()
{
    return DbError(QStringLiteral("Operation is not allowed when the recordset is closed."));
}

} // namespace

Recordset::Recordset(Reading reading) : m_reading(reading) {}

Recordset::~Recordset() = default;

void Recordset::Open(const QString &sql, DbConnection &connection)
{
    // A recordset left open by a failed run is reopened, not refused.
    Close();
    if (m_reading == Reading::Streamed) {
        m_rows = connection.Stream(sql);
        m_count = -1;
    } else {
        QuerySnapshot snapshot = connection.Query(sql);
        m_count = int(snapshot.rows.size());
        m_rows = SnapshotStream(std::move(snapshot));
    }
    m_columns = m_rows->columns();
    for (int c = 0; c < m_columns.size(); ++c) {
        const QString key = m_columns.at(c).toLower();
        if (!m_index.contains(key)) {
            m_index.insert(key, c);
            m_exact.insert(m_columns.at(c), c);
        }
    }
    m_hasRow = m_anyRow = m_rows->next();
    m_open = true;
}

void Recordset::Close()
{
    m_open = false;
    m_columns.clear();
    m_index.clear();
    m_exact.clear();
    m_rows.reset();
    m_hasRow = m_anyRow = false;
    m_count = 0;
}

bool Recordset::Eof() const
{
    if (!m_open)
        throw closedError();
    return !m_hasRow;
}

bool Recordset::Bof() const
{
    if (!m_open)
        throw closedError();
    return !m_anyRow;
}

void Recordset::MoveNext()
{
    if (!m_open)
        throw closedError();
    if (!m_hasRow)
        throw DbError(QStringLiteral("Either BOF or EOF is True: there is no current row to move from."));
    m_hasRow = m_rows->next();
}

QVariant Recordset::Field(const QString &name) const
{
    if (!m_open)
        throw closedError();
    // The name as the query spelled it needs no lower-casing (a row is read
    // by name many times).
    auto it = m_exact.constFind(name);
    if (it == m_exact.cend()) {
        it = m_index.constFind(name.toLower());
        if (it == m_index.cend())
            throw DbError(QStringLiteral("Item cannot be found in the collection: no column named \"%1\".").arg(name));
    }
    if (!m_hasRow)
        throw DbError(
            QStringLiteral("Either BOF or EOF is True: there is no current row to read \"%1\" from.").arg(name));
    return m_rows->value(it.value());
}

bool Recordset::HasField(const QString &name) const
{
    return m_open && m_index.contains(name.toLower());
}

Recordset &SharedRecordset()
{
    static Recordset recordset(Recordset::Reading::Streamed);
    return recordset;
}
