#include "bench/BenchSqlite.h"

#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

BenchSqlite::BenchSqlite(const QString &file, bool mustExist)
    : m_name(u"bench-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    if (mustExist && !QFile::exists(file))
        throw BenchDbError(u"the database file %1 does not exist"_s.arg(file));
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
    db.setDatabaseName(file);
    if (!db.open()) {
        const QString reason = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw BenchDbError(u"cannot open %1: %2"_s.arg(file, reason));
    }
}

BenchSqlite::~BenchSqlite()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase BenchSqlite::db() const
{
    return QSqlDatabase::database(m_name, false);
}

sqlite3 *BenchSqlite::handle() const
{
    const QVariant handle = db().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw BenchDbError(u"the QSQLITE driver gave no sqlite3 handle"_s);
    sqlite3 *raw = *static_cast<sqlite3 *const *>(handle.data());
    if (!raw)
        throw BenchDbError(u"the QSQLITE connection is not open"_s);
    return raw;
}

void BenchSqlite::exec(const QString &sql, const QString &what) const
{
    sqlite3 *raw = handle();
    char *message = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_exec(raw, utf8.constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString reason = QString::fromUtf8(message ? message : sqlite3_errmsg(raw));
        sqlite3_free(message);
        throw BenchDbError(u"%1 failed: %2"_s.arg(what, reason));
    }
}

QVariant BenchSqlite::scalar(const QString &sql) const
{
    QSqlQuery query(db());
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw BenchDbError(u"\"%1\" failed: %2"_s.arg(sql, query.lastError().text()));
    if (!query.next())
        throw BenchDbError(u"\"%1\" returned no row"_s.arg(sql));
    return query.value(0);
}

qint64 BenchSqlite::count(const QString &table) const
{
    return scalar(u"SELECT COUNT(*) FROM "_s + table).toLongLong();
}
