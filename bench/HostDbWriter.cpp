#include "bench/HostDbWriter.h"

#include "bench/BenchSqlite.h"

#include <QDateTime>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

using namespace Qt::StringLiterals;

namespace {

QVariant SqliteValue(const QVariant &value)
{
    if (value.isNull())
        return QVariant();
    switch (value.typeId()) {
    case QMetaType::QDate:
    case QMetaType::QDateTime:
        return StoredDateText(value);
    default:
        return value;
    }
}

} // namespace

QString StoredDateText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().toString(u"yyyy-MM-dd"_s) + u" 00:00:00"_s;
    return value.toDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

QString TsqlLiteral(const QVariant &value)
{
    if (value.isNull())
        return u"NULL"_s;
    switch (value.typeId()) {
    case QMetaType::QDate:
        return u"'"_s + value.toDate().toString(u"yyyy-MM-dd"_s) + u"T00:00:00'"_s;
    case QMetaType::QDateTime:
        return u"'"_s + value.toDateTime().toString(u"yyyy-MM-ddTHH:mm:ss"_s) + u"'"_s;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? u"1"_s : u"0"_s;
    default: {
        QString text = value.toString();
        text.replace(u'\'', u"''"_s);
        return u"N'"_s + text + u"'"_s;
    }
    }
}

void WriteSqliteDatabase(const GeneratedHostData &data, const QString &schemaFile, const QString &outFile)
{
    QFile schema(schemaFile);
    if (!schema.open(QIODevice::ReadOnly))
        throw HostDbWriteError(u"cannot read the schema %1: %2"_s.arg(schemaFile, schema.errorString()));
    const QByteArray schemaSql = schema.readAll();

    for (const QString &suffix : {QString(), u"-wal"_s, u"-shm"_s, u"-journal"_s}) {
        if (QFile::exists(outFile + suffix) && !QFile::remove(outFile + suffix))
            throw HostDbWriteError(u"cannot replace %1"_s.arg(outFile + suffix));
    }

    try {
        BenchSqlite connection(outFile, false);
        QSqlDatabase db = connection.db();
        connection.exec(QString::fromUtf8(schemaSql), u"the schema script %1"_s.arg(schemaFile));
        // A file being filled from scratch: no flushes while it is built.
        connection.exec(u"PRAGMA synchronous=OFF"_s, u"PRAGMA synchronous"_s);
        connection.exec(u"BEGIN IMMEDIATE"_s, u"BEGIN"_s);
        for (const HostTable &table : data.tables) {
            QStringList marks;
            for (qsizetype i = 0; i < table.columns.size(); ++i)
                marks.append(u"?"_s);
            QSqlQuery insert(db);
            const QString sql =
                u"INSERT INTO %1 (%2) VALUES (%3)"_s.arg(table.name, table.columns.join(u','), marks.join(u','));
            if (!insert.prepare(sql))
                throw HostDbWriteError(u"preparing \"%1\" failed: %2"_s.arg(sql, insert.lastError().text()));
            for (const QVariantList &row : table.rows) {
                for (qsizetype i = 0; i < row.size(); ++i)
                    insert.bindValue(int(i), SqliteValue(row.at(i)));
                if (!insert.exec())
                    throw HostDbWriteError(
                        u"inserting into %1 failed: %2"_s.arg(table.name, insert.lastError().text()));
            }
        }
        connection.exec(u"COMMIT"_s, u"COMMIT"_s);
        // A busy host database as the README advises it: the server keeps
        // the journal mode it finds.
        connection.exec(u"PRAGMA journal_mode=WAL"_s, u"PRAGMA journal_mode"_s);
    } catch (const BenchDbError &error) {
        // The half-built file is left for inspection; the next run replaces it.
        throw HostDbWriteError(QString::fromUtf8(error.what()));
    }
}

void WriteTsqlScript(const GeneratedHostData &data, const QString &outFile)
{
    QFile file(outFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw HostDbWriteError(u"cannot write %1: %2"_s.arg(outFile, file.errorString()));
    QByteArray out;
    out += "-- Generated host data for the Velmar Automation Server benchmark.\r\n"
           "-- Run on a database created from schema/sqlserver.sql.\r\n"
           "SET NOCOUNT ON;\r\nGO\r\n";
    const auto flush = [&]() {
        if (file.write(out) != out.size())
            throw HostDbWriteError(u"writing %1 failed: %2"_s.arg(outFile, file.errorString()));
        out.clear();
    };
    for (const HostTable &table : data.tables) {
        if (table.rows.isEmpty())
            continue;
        if (table.identity)
            out += "SET IDENTITY_INSERT " + table.name.toUtf8() + " ON;\r\n";
        const QByteArray head =
            "INSERT INTO " + table.name.toUtf8() + " (" + table.columns.join(u',').toUtf8() + ") VALUES\r\n";
        for (qsizetype first = 0; first < table.rows.size(); first += 1000) {
            out += head;
            const qsizetype last = std::min(first + 1000, table.rows.size());
            for (qsizetype r = first; r < last; ++r) {
                QStringList values;
                for (const QVariant &value : table.rows.at(r))
                    values.append(TsqlLiteral(value));
                out += "(" + values.join(u',').toUtf8() + (r + 1 < last ? "),\r\n" : ");\r\n");
            }
            flush();
        }
        if (table.identity)
            out += "SET IDENTITY_INSERT " + table.name.toUtf8() + " OFF;\r\n";
        out += "GO\r\n";
    }
    flush();
    if (!file.flush())
        throw HostDbWriteError(u"writing %1 failed: %2"_s.arg(outFile, file.errorString()));
}

QList<QPair<QString, qint64>> CountSqliteRows(const QString &file, const QStringList &tables)
{
    QList<QPair<QString, qint64>> counts;
    try {
        BenchSqlite connection(file);
        for (const QString &table : tables)
            counts.append({table, connection.count(table)});
    } catch (const BenchDbError &error) {
        throw HostDbWriteError(QString::fromUtf8(error.what()));
    }
    return counts;
}
