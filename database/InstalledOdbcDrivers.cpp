#include "database/AdoToOdbc.h"

#include "database/ConnectionString.h"

// The driver manager's list of drivers (unixODBC, or odbc32 on Windows).
#if defined(VELMAR_HAVE_ODBC_API)
#if defined(_WIN32)
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

QStringList InstalledOdbcDrivers()
{
    QStringList drivers;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return drivers;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLCHAR description[512];
    SQLCHAR attributes[2048];
    SQLSMALLINT descriptionLength = 0;
    SQLSMALLINT attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDrivers(env, direction, description, sizeof(description), &descriptionLength, attributes,
                                    sizeof(attributes), &attributesLength))) {
        drivers.append(QString::fromLocal8Bit(reinterpret_cast<const char *>(description)));
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return drivers;
}

namespace {

// Walks the driver manager's list of drivers (byDriver) or of user and
// system data sources, calling visit(name, text) until it returns true;
// text is the driver's attributes ("Driver=/path/lib.so", NUL-separated)
// or the data source's driver.
template<typename Visit> void walkOdbcList(bool byDriver, Visit visit)
{
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLCHAR name[512];
    SQLCHAR text[4096];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT textLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        const SQLRETURN rc = byDriver
            ? SQLDrivers(env, direction, name, sizeof(name), &nameLength, text, sizeof(text), &textLength)
            : SQLDataSources(env, direction, name, sizeof(name), &nameLength, text, sizeof(text), &textLength);
        if (!SQL_SUCCEEDED(rc))
            break;
        const qsizetype length = qBound(qsizetype(0), qsizetype(textLength), qsizetype(sizeof(text)) - 1);
        if (visit(QString::fromLocal8Bit(reinterpret_cast<const char *>(name)),
                  QString::fromLocal8Bit(reinterpret_cast<const char *>(text), length)))
            break;
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
}

QString libraryOfDriver(const QString &driver)
{
    QString library;
    walkOdbcList(true, [&](const QString &name, const QString &attributes) {
        if (name.compare(driver, Qt::CaseInsensitive) != 0)
            return false;
        for (const QString &attribute : attributes.split(QChar(0), Qt::SkipEmptyParts)) {
            if (attribute.section(QLatin1Char('='), 0, 0)
                    .trimmed()
                    .compare(QLatin1String("Driver"), Qt::CaseInsensitive) == 0)
                library = attribute.section(QLatin1Char('='), 1).trimmed();
        }
        return true;
    });
    // Not registered by that name: odbc.ini and connection strings may
    // name the library itself.
    return library.isEmpty() ? driver : library;
}

} // namespace

QString OdbcDriverLibrary(const QString &odbcConnectionString)
{
    const QList<ConnectionStringItem> items = ParseConnectionString(odbcConnectionString);
    const QString driver = ConnectionStringValue(items, QStringLiteral("Driver")).trimmed();
    if (!driver.isEmpty())
        return libraryOfDriver(driver);
    QString dsn = ConnectionStringValue(items, QStringLiteral("DSN")).trimmed();
    if (dsn.isNull() && !items.isEmpty() && !items.first().raw.contains(QLatin1Char('=')))
        dsn = items.first().key; // a bare data source name
    if (dsn.isEmpty())
        dsn = QStringLiteral("DEFAULT");
    QString sourceDriver;
    walkOdbcList(false, [&](const QString &name, const QString &driverName) {
        if (name.compare(dsn, Qt::CaseInsensitive) != 0)
            return false;
        sourceDriver = driverName.trimmed();
        return true;
    });
    return sourceDriver.isEmpty() ? QString() : libraryOfDriver(sourceDriver);
}
#else
QStringList InstalledOdbcDrivers()
{
    return QStringList();
}

QString OdbcDriverLibrary(const QString &)
{
    return QString();
}
#endif
