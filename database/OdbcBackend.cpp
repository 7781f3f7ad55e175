#include "database/OdbcBackend.h"

#include "database/AdoToOdbc.h"
#include "database/ConnectionString.h"
#include "database/DbError.h"
#include "database/DriverSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QTemporaryDir>

#if defined(VELMAR_HAVE_ODBC_API)
#if defined(_WIN32)
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#endif

#include <iterator>
#include <memory>

namespace {

constexpr int LoginTimeoutSeconds = 10;
const QString StatementTimeoutKey = QStringLiteral("Command Timeout");

// Statement time-out per open connection, by connection name.
QHash<QString, int> &statementTimeouts()
{
    static QHash<QString, int> timeouts;
    return timeouts;
}

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

#if defined(VELMAR_HAVE_ODBC_API)
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the ODBC wide character must be UTF-16");

const SQLWCHAR *wide(const QString &text)
{
    return reinterpret_cast<const SQLWCHAR *>(text.utf16());
}

QString fromWide(const SQLWCHAR *text, qsizetype length)
{
    return QString(reinterpret_cast<const QChar *>(text), length);
}

struct Diagnostics
{
    QString text;
    bool timedOut = false; // HYT00 / HYT01 (S1T00 in ODBC 2 terms)
    bool linkLost = false; // 08xxx: the session is gone
};

Diagnostics diagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    Diagnostics d;
    QStringList messages;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message,
                                            SQLSMALLINT(std::size(message)), &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        const QString sqlState = fromWide(state, 5);
        d.timedOut =
            d.timedOut || sqlState.startsWith(QLatin1String("HYT")) || sqlState.startsWith(QLatin1String("S1T"));
        d.linkLost = d.linkLost || sqlState.startsWith(QLatin1String("08"));
        const qsizetype shown = qMin<qsizetype>(length, qsizetype(std::size(message)) - 1);
        messages.append(QStringLiteral("%1 (SQLSTATE %2)").arg(fromWide(message, shown).trimmed(), sqlState));
    }
    d.text = messages.isEmpty() ? QStringLiteral("the ODBC driver gave no reason") : messages.join(QLatin1Char(' '));
    return d;
}

SQLHDBC connectionHandle(QSqlDatabase &db)
{
    if (!db.isOpen() || db.driver() == nullptr)
        throw DbError(QStringLiteral("Operation is not allowed when the connection is closed."));
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || handle.metaType().sizeOf() != int(sizeof(SQLHDBC)))
        throw DbError(QStringLiteral("The ODBC database driver gave no connection handle."));
    return *static_cast<const SQLHDBC *>(handle.constData());
}

QString loadedDriverLibrary(QSqlDatabase &db)
{
    SQLWCHAR name[512] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(connectionHandle(db), SQL_DRIVER_NAME, name, SQLSMALLINT(sizeof(name)), &length)))
        return QString();
    return fromWide(name, qMin<qsizetype>(length / qsizetype(sizeof(SQLWCHAR)), qsizetype(std::size(name)) - 1));
}

// One statement on QODBC's connection; freed however the call ends.
class Statement
{
public:
    explicit Statement(QSqlDatabase &db) : m_db(db)
    {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connectionHandle(db), &m_handle)))
            throw DbError(QStringLiteral("Cannot start a statement: %1")
                              .arg(diagnostics(SQL_HANDLE_DBC, connectionHandle(db)).text));
        const int timeout = statementTimeouts().value(db.connectionName(), OdbcBackend::DefaultStatementTimeoutSeconds);
        m_timeout = timeout;
        SQLSetStmtAttr(m_handle, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(timeout)), 0);
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, m_handle); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    SQLHSTMT handle() const { return m_handle; }

    // Throws for a failed call; SQL_NO_DATA and warnings pass.
    SQLRETURN check(SQLRETURN rc, const QString &what = QString())
    {
        if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
            return rc;
        const Diagnostics d = diagnostics(SQL_HANDLE_STMT, m_handle);
        QString message = what.isEmpty() ? d.text : QStringLiteral("%1: %2").arg(what, d.text);
        if (d.timedOut)
            message = QStringLiteral("The database did not answer within the statement time-out of %1 s: %2")
                          .arg(m_timeout)
                          .arg(message);
        if (d.timedOut || d.linkLost) {
            // The session may be stuck half-way through a reply; closing it
            // also ends the cycle lock and any open transaction on the server.
            SQLFreeHandle(SQL_HANDLE_STMT, m_handle);
            m_handle = SQL_NULL_HSTMT;
            // ODBC lets a driver refuse to disconnect while a transaction it
            // manages is open, which would leave the session (and its locks)
            // alive. A transaction of the session's own statements ends with
            // the session.
            SQLULEN autocommit = SQL_AUTOCOMMIT_ON;
            SQLGetConnectAttr(connectionHandle(m_db), SQL_ATTR_AUTOCOMMIT, &autocommit, 0, nullptr);
            if (autocommit == SQL_AUTOCOMMIT_OFF)
                SQLEndTran(SQL_HANDLE_DBC, connectionHandle(m_db), SQL_ROLLBACK);
            m_db.close();
        }
        throw DbError(MaskPasswords(message));
    }

    void execute(const QString &sql) { check(SQLExecDirectW(m_handle, const_cast<SQLWCHAR *>(wide(sql)), SQL_NTS)); }

    // Skips results without columns (row counts of SET, INSERT...); false
    // when the batch has no result set left.
    bool toResultWithColumns()
    {
        for (;;) {
            SQLSMALLINT columns = 0;
            check(SQLNumResultCols(m_handle, &columns));
            if (columns > 0)
                return true;
            if (check(SQLMoreResults(m_handle)) == SQL_NO_DATA)
                return false;
        }
    }

    // Runs the rest of the batch: an error in a later statement shows only here.
    void drain()
    {
        while (check(SQLMoreResults(m_handle)) != SQL_NO_DATA) {}
    }

private:
    QSqlDatabase &m_db;
    SQLHSTMT m_handle = SQL_NULL_HSTMT;
    int m_timeout = 0;
};

struct Column
{
    QString name;
    SQLSMALLINT type = 0;
    SQLSMALLINT scale = 0;
};

// Texts of any length: read in pieces until the driver says there is no more.
QVariant readText(Statement &st, SQLUSMALLINT index, const QString &name)
{
    constexpr SQLLEN Chars = 4096;
    std::unique_ptr<SQLWCHAR[]> buffer(new SQLWCHAR[Chars]);
    constexpr SQLLEN Bytes = Chars * SQLLEN(sizeof(SQLWCHAR));
    QString text;
    for (bool first = true;; first = false) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = st.check(SQLGetData(st.handle(), index, SQL_C_WCHAR, buffer.get(), Bytes, &indicator),
                                      QStringLiteral("Cannot read column %1").arg(name));
        if (rc == SQL_NO_DATA)
            break;
        if (indicator == SQL_NULL_DATA)
            return first ? QVariant() : QVariant(text);
        const bool more = indicator == SQL_NO_TOTAL || indicator >= Bytes;
        const SQLLEN bytes = more ? Bytes - SQLLEN(sizeof(SQLWCHAR)) : indicator;
        text += fromWide(buffer.get(), bytes / SQLLEN(sizeof(SQLWCHAR)));
        if (rc == SQL_SUCCESS)
            break;
    }
    return text;
}

QVariant readBinary(Statement &st, SQLUSMALLINT index, const QString &name)
{
    QByteArray bytes;
    char buffer[8192];
    for (bool first = true;; first = false) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = st.check(SQLGetData(st.handle(), index, SQL_C_BINARY, buffer, sizeof(buffer), &indicator),
                                      QStringLiteral("Cannot read column %1").arg(name));
        if (rc == SQL_NO_DATA)
            break;
        if (indicator == SQL_NULL_DATA)
            return first ? QVariant() : QVariant(bytes);
        const bool more = indicator == SQL_NO_TOTAL || indicator > SQLLEN(sizeof(buffer));
        bytes.append(buffer, more ? qsizetype(sizeof(buffer)) : qsizetype(indicator));
        if (rc == SQL_SUCCESS)
            break;
    }
    return bytes;
}

template<typename T> bool readFixed(Statement &st, SQLUSMALLINT index, SQLSMALLINT cType, T &value, const QString &name)
{
    SQLLEN indicator = 0;
    st.check(SQLGetData(st.handle(), index, cType, &value, sizeof(T), &indicator),
             QStringLiteral("Cannot read column %1").arg(name));
    return indicator != SQL_NULL_DATA;
}

// The same kinds of value the embedded backend gives: Null as an invalid
// QVariant, dates as QDateTime carrying the stored fields (DateValues.h).
QVariant readValue(Statement &st, SQLUSMALLINT index, const Column &column)
{
    switch (column.type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER: {
        SQLINTEGER v = 0;
        return readFixed(st, index, SQL_C_SLONG, v, column.name) ? QVariant(int(v)) : QVariant();
    }
    case SQL_BIGINT: {
        SQLBIGINT v = 0;
        return readFixed(st, index, SQL_C_SBIGINT, v, column.name) ? QVariant(qlonglong(v)) : QVariant();
    }
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        if (column.scale == 0) {
            SQLBIGINT v = 0;
            return readFixed(st, index, SQL_C_SBIGINT, v, column.name) ? QVariant(qlonglong(v)) : QVariant();
        }
        [[fallthrough]];
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: {
        double v = 0;
        return readFixed(st, index, SQL_C_DOUBLE, v, column.name) ? QVariant(v) : QVariant();
    }
    case SQL_TYPE_DATE:
    case SQL_DATE: {
        SQL_DATE_STRUCT v{};
        if (!readFixed(st, index, SQL_C_TYPE_DATE, v, column.name))
            return QVariant();
        return QDateTime(QDate(v.year, v.month, v.day), QTime(0, 0), Qt::UTC);
    }
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT v{};
        if (!readFixed(st, index, SQL_C_TYPE_TIMESTAMP, v, column.name))
            return QVariant();
        return QDateTime(QDate(v.year, v.month, v.day), QTime(v.hour, v.minute, v.second, int(v.fraction / 1000000)),
                         Qt::UTC);
    }
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return readBinary(st, index, column.name);
    default:
        return readText(st, index, column.name);
    }
}
#endif

#if !defined(VELMAR_HAVE_ODBC_API)
QString loadedDriverLibrary(QSqlDatabase &)
{
    return QString();
}
#endif

// FreeTDS reads its settings from freetds.conf and the environment whatever
// the connection string's spelling or the data source: this process's own
// configuration file gives every FreeTDS connection UTF-8, the login and
// query time-outs (commit and rollback included) and the section of a
// server to verify with its CA file, and
// TDSVER fixes TDS 7.4, whose login honours the time-out. Values a
// connection string or data source sets itself still win.
bool prepareFreeTds(const DriverConnectPlan &plan, int queryTimeoutSeconds, QString *error)
{
    static const QString operatorConfigPath = qEnvironmentVariable("FREETDSCONF");
    static QTemporaryDir dir(QDir(QDir::tempPath()).filePath(QStringLiteral("velmar-freetds-XXXXXX")));
    if (!qEnvironmentVariableIsSet("TDSVER"))
        qputenv("TDSVER", "7.4");
    QString operatorConfig;
    if (!operatorConfigPath.isEmpty()) {
        QFile file(operatorConfigPath);
        if (file.open(QIODevice::ReadOnly))
            operatorConfig = QString::fromLocal8Bit(file.readAll());
    }
    const QString text = FreeTdsConfigText(plan.freeTdsCaFile, plan.freeTdsServer, LoginTimeoutSeconds,
                                           queryTimeoutSeconds, operatorConfig, error);
    if (text.isNull())
        return false;
    QFile config(dir.filePath(QStringLiteral("freetds.conf")));
    if (!dir.isValid() || !config.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        config.write(text.toLocal8Bit()) < 0 || !config.flush()) {
        if (error != nullptr)
            *error = QStringLiteral("Cannot write the FreeTDS settings file in %1: %2")
                         .arg(QDir::tempPath(), config.errorString());
        return false;
    }
    qputenv("FREETDSCONF", QFile::encodeName(config.fileName()));
    return true;
}

} // namespace

namespace OdbcBackend {

QString SessionSettingsSql()
{
    return QStringLiteral("SET LANGUAGE us_english;\nSET DATEFORMAT mdy");
}

SqlServerTransactionSql TransactionSql()
{
    // An explicit transaction in the session's own statements: commit and
    // rollback then wait as long as any statement may, and autocommit never
    // changes (a driver may send a rollback of its own when it turns back on).
    // A rollback after an error that ended the transaction on the server
    // already finds nothing to undo.
    return {QStringLiteral("BEGIN TRANSACTION"), QStringLiteral("COMMIT TRANSACTION"),
            QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION")};
}

bool Open(QSqlDatabase &db, const QString &connectionName, const QString &odbcConnectionString, QString *error)
{
    auto fail = [&](const QString &message) {
        if (db.isOpen())
            db.close();
        if (error != nullptr)
            *error = MaskPasswords(message);
        return false;
    };

    const QList<ConnectionStringItem> items = ParseConnectionString(odbcConnectionString);
    int statementTimeout = DefaultStatementTimeoutSeconds;
    if (HasConnectionStringKey(items, StatementTimeoutKey)) {
        bool number = false;
        statementTimeout = ConnectionStringValue(items, StatementTimeoutKey).trimmed().toInt(&number);
        if (!number || statementTimeout < 0)
            return fail(
                QStringLiteral("Command Timeout must be a whole number of seconds (0: no time-out), not \"%1\".")
                    .arg(ConnectionStringValue(items, StatementTimeoutKey)));
    }
    statementTimeouts().insert(connectionName, statementTimeout);

    // Told before the login: a password must not cross a channel that is
    // less than the string asks for.
    const bool expectFreeTds = IsFreeTdsLibrary(OdbcDriverLibrary(odbcConnectionString));
    auto openAs = [&](bool freeTds) {
        DriverConnectPlan plan;
        QString reason;
        if (!PlanDriverConnection(items, {StatementTimeoutKey}, freeTds, &plan, &reason) ||
            !prepareFreeTds(plan, statementTimeout, &reason))
            return fail(reason);
        const QString name = QodbcDatabaseName(plan.connectionString, &reason);
        if (name.isNull())
            return fail(reason);
        db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName);
        if (!db.isValid())
            return fail(QStringLiteral("The ODBC database driver (QODBC) is not available."));
        db.setDatabaseName(name);
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(LoginTimeoutSeconds));
        if (!db.open()) {
            QString why = errorText(db.lastError());
            // FreeTDS reports a certificate it could not verify as a server
            // that is not there.
            if (!plan.freeTdsCaFile.isEmpty())
                why += QStringLiteral(" (FreeTDS was to verify the server's certificate against %1: a certificate "
                                      "signed by another authority, or issued for another name than the "
                                      "connection string's server, ends the login this way)")
                           .arg(plan.freeTdsCaFile == u"system" ? QStringLiteral("the system's certificate store")
                                                                : plan.freeTdsCaFile);
            return fail(QStringLiteral("Cannot connect to the database: %1").arg(why));
        }
        return true;
    };
    if (!openAs(expectFreeTds))
        return false;
    // The driver lists may not say what the driver manager loads (a data
    // source naming a library by path, a list changed meanwhile).
    if (IsFreeTdsLibrary(loadedDriverLibrary(db)) != expectFreeTds) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        if (!openAs(!expectFreeTds))
            return false;
    }

    if (db.driver()->dbmsType() == QSqlDriver::MSSqlServer) {
        // A login whose language reads day/month would take 1/5/2027 for
        // 1 May; the system writes month/day/year with English AM/PM.
        try {
            Execute(db, SessionSettingsSql());
        } catch (const DbError &e) {
            return fail(QStringLiteral("Cannot set the session's date format: %1").arg(e.message()));
        }
    }
    return true;
}

#if defined(VELMAR_HAVE_ODBC_API)
void Execute(QSqlDatabase &db, const QString &sql)
{
    Statement statement(db);
    statement.execute(sql);
    statement.drain();
}

QuerySnapshot Query(QSqlDatabase &db, const QString &sql)
{
    Statement statement(db);
    statement.execute(sql);
    QuerySnapshot snapshot;
    if (!statement.toResultWithColumns())
        return snapshot;

    SQLSMALLINT count = 0;
    statement.check(SQLNumResultCols(statement.handle(), &count));
    QList<Column> columns;
    for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(count); ++c) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLength = 0;
        Column column;
        SQLULEN size = 0;
        SQLSMALLINT nullable = 0;
        statement.check(SQLDescribeColW(statement.handle(), c, name, SQLSMALLINT(std::size(name)), &nameLength,
                                        &column.type, &size, &column.scale, &nullable));
        column.name = fromWide(name, qMin<qsizetype>(nameLength, qsizetype(std::size(name)) - 1));
        snapshot.columns.append(column.name);
        columns.append(column);
    }
    while (statement.check(SQLFetch(statement.handle())) != SQL_NO_DATA) {
        QList<QVariant> row;
        row.reserve(columns.size());
        for (qsizetype c = 0; c < columns.size(); ++c)
            row.append(readValue(statement, SQLUSMALLINT(c + 1), columns.at(c)));
        snapshot.rows.append(std::move(row));
    }
    statement.drain();
    return snapshot;
}
#else
void Execute(QSqlDatabase &, const QString &)
{
    throw DbError(QStringLiteral("This build has no ODBC driver manager to run statements with."));
}

QuerySnapshot Query(QSqlDatabase &, const QString &)
{
    throw DbError(QStringLiteral("This build has no ODBC driver manager to run statements with."));
}
#endif

} // namespace OdbcBackend
