#include "OdbcBackend.h"

#include "ConnectionString.h"
#include "DbError.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

constexpr int LoginTimeoutSeconds = 10;

QString errorText(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    const QString driver = error.driverText().trimmed();
    if (text.isEmpty())
        text = driver;
    else if (!driver.isEmpty() && !text.contains(driver))
        text = driver + QStringLiteral(": ") + text;
    if (text.isEmpty())
        text = QStringLiteral("the ODBC driver gave no reason");
    return MaskPasswords(text);
}

// The same kinds of value the embedded backend gives: Null as an invalid
// QVariant, dates as QDateTime carrying the stored fields (DateValues.h).
QVariant normalized(const QVariant &value)
{
    if (value.isNull())
        return QVariant();
    if (value.typeId() == QMetaType::QDate) {
        const QDate date = value.toDate();
        return QVariant(QDateTime(date, QTime(0, 0), Qt::UTC));
    }
    if (value.typeId() == QMetaType::QDateTime) {
        const QDateTime dateTime = value.toDateTime();
        return QVariant(QDateTime(dateTime.date(), dateTime.time(), Qt::UTC));
    }
    return value;
}

} // namespace

namespace OdbcBackend {

bool Open(QSqlDatabase &db, const QString &connectionName, const QString &odbcConnectionString, QString *error)
{
    auto fail = [&](const QString &message) {
        if (db.isOpen())
            db.close();
        if (error != nullptr)
            *error = MaskPasswords(message);
        return false;
    };

    db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName);
    if (!db.isValid())
        return fail(QStringLiteral("The ODBC database driver (QODBC) is not available."));
    QString text = odbcConnectionString.trimmed();
    // FreeTDS reads the last keyword only when it is closed by ";".
    if (!text.endsWith(QLatin1Char(';')))
        text += QLatin1Char(';');
    db.setDatabaseName(text);
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(LoginTimeoutSeconds));
    if (!db.open())
        return fail(QStringLiteral("Cannot connect to the database: %1").arg(errorText(db.lastError())));

    if (db.driver()->dbmsType() == QSqlDriver::MSSqlServer) {
        // A login whose language reads day/month would take 1/5/2027 for
        // 1 May; the system writes month/day/year with English AM/PM.
        try {
            Execute(db, QStringLiteral("SET LANGUAGE us_english"));
            Execute(db, QStringLiteral("SET DATEFORMAT mdy"));
        } catch (const DbError &e) {
            return fail(QStringLiteral("Cannot set the session's date format: %1").arg(e.message()));
        }
    }
    return true;
}

void Execute(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw DbError(errorText(query.lastError()));
    query.finish();
}

QuerySnapshot Query(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw DbError(errorText(query.lastError()));

    QuerySnapshot snapshot;
    const QSqlRecord record = query.record();
    for (int c = 0; c < record.count(); ++c)
        snapshot.columns.append(record.fieldName(c));
    while (query.next()) {
        QList<QVariant> row;
        row.reserve(record.count());
        for (int c = 0; c < record.count(); ++c)
            row.append(normalized(query.value(c)));
        snapshot.rows.append(std::move(row));
    }
    // An error while fetching shows only here (QODBC's size() is -1, so the
    // count of rows cannot be checked against anything).
    if (query.lastError().isValid())
        throw DbError(errorText(query.lastError()));
    query.finish();
    return snapshot;
}

} // namespace OdbcBackend
