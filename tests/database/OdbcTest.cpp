// The ODBC path through the real driver manager (unixODBC) with Debian's
// SQLite ODBC driver behind it: statements go as written, with no dialect.
#include "database/AdoToOdbc.h"
#include "database/CycleLock.h"
#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "database/ValueText.h"
#include "tests/support/HostData.h"
#include "tests/support/ServerRun.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <iostream>

namespace {

bool sqliteOdbcDriverInstalled()
{
    return InstalledOdbcDrivers().contains(QStringLiteral("SQLite3"));
}

class OdbcSqlite : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!sqliteOdbcDriverInstalled())
            GTEST_SKIP() << "the SQLite3 ODBC driver is not installed";
        db.exec(QStringLiteral(
            "INSERT INTO CustomerEmployee (ID, FirstName, MiddleName, LastName, Suspended, Terminated) VALUES (1, 'Sean', NULL, 'O''Brien', 1, 0);"
            "INSERT INTO CustomerEmployeeTraining (ID, Completed, CompletedDate, EmployeeID) VALUES (1, 1, '2027-01-05 14:30:00', 1);"));
        QString error;
        ASSERT_TRUE(connection.Open(QStringLiteral("Driver=SQLite3;Database=") + db.path(), &error))
            << error.toStdString();
    }

    TempDatabase db;
    DbConnection connection;
};

// The message of the DbError that run throws; empty when it throws none.
template<typename Run> QString dbErrorOf(Run run)
{
    try {
        run();
    } catch (const DbError &e) {
        return e.message();
    }
    return QString();
}

} // namespace

TEST_F(OdbcSqlite, query_readsTextNullBitAndDateValues)
{
    EXPECT_EQ(connection.backend(), DbConnection::Backend::Odbc);
    Recordset rs;
    rs.Open(QStringLiteral(
                "SELECT CustomerEmployee.*, CompletedDate FROM CustomerEmployee "
                "JOIN CustomerEmployeeTraining ON CustomerEmployeeTraining.EmployeeID = CustomerEmployee.ID"),
            connection);
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.Field(QStringLiteral("lastname")).toString(), QStringLiteral("O'Brien"));
    EXPECT_TRUE(rs.Field(QStringLiteral("MiddleName")).isNull());
    EXPECT_FALSE(rs.Field(QStringLiteral("MiddleName")).isValid());
    EXPECT_EQ(rs.Field(QStringLiteral("Suspended")).toInt(), 1);
    EXPECT_TRUE(rs.Field(QStringLiteral("Suspended")).toBool());
    EXPECT_FALSE(rs.Field(QStringLiteral("Terminated")).toBool());
    const QVariant completed = rs.Field(QStringLiteral("CompletedDate"));
    EXPECT_EQ(completed.typeId(), QMetaType::QDateTime) << completed.typeName();
    EXPECT_EQ(completed.toDateTime(), QDateTime(QDate(2027, 1, 5), QTime(14, 30), Qt::UTC));
    EXPECT_THROW(rs.Field(QStringLiteral("Nickname")), DbError);
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
}

TEST_F(OdbcSqlite, statementsRunUnchangedSnapshotStaysFixedAndRollbackDiscards)
{
    // No rewrite: the SQL Server dialect is the server's business here.
    EXPECT_EQ(connection.backendSql(QStringLiteral("SELECT TOP 1 * FROM Company")),
              QStringLiteral("SELECT TOP 1 * FROM Company"));
    connection.resetStatementCount();
    // This driver refuses a second statement in a text: sent one at a time.
    connection.ExecuteAll({QStringLiteral("INSERT INTO Company (Name) VALUES ('A')"),
                           QStringLiteral("INSERT INTO Company (Name) VALUES ('B')")});
    Recordset rs;
    rs.Open(QStringLiteral("SELECT Name FROM Company ORDER BY Name"), connection);
    int walked = 0;
    while (!rs.Eof()) {
        connection.Execute(QStringLiteral("DELETE FROM Company"));
        ++walked;
        rs.MoveNext();
    }
    EXPECT_EQ(walked, 2);
    EXPECT_EQ(connection.statementCount(), 5);
    connection.BeginTransaction();
    connection.Execute(QStringLiteral("INSERT INTO Company (Name) VALUES ('Gone')"));
    connection.Rollback();
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM Company")).toInt(), 0);
}

TEST_F(OdbcSqlite, failingStatement_throwsWithTheDriversMessage)
{
    const QString error = dbErrorOf([&] { connection.Execute(QStringLiteral("UPDATE NoSuchTable SET X = 1")); });
    EXPECT_TRUE(error.contains(QStringLiteral("NoSuchTable"))) << error.toStdString();
}

TEST(OdbcOpen, failure_givesTheDriverManagersOrTheDriversReasonAndNoPassword)
{
    QStringList given{QStringLiteral("Driver={No Such Driver};Server=x;UID=sa;PWD=Sup3rSecret")};
    // Nothing listens on port 1: the driver is reached and reports a refused connection.
    if (!BestSqlServerOdbcDriver(InstalledOdbcDrivers()).isEmpty())
        given << QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=Sup3rSecret;"
                                "Initial Catalog=Velmar;Data Source=127.0.0.1,1");
    for (const QString &text : given) {
        DbConnection connection;
        QString error;
        EXPECT_FALSE(connection.Open(text, &error));
        EXPECT_FALSE(connection.IsOpen());
        EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot connect to the database: "))) << error.toStdString();
        EXPECT_EQ(error.contains(QStringLiteral("Can't open lib")), text.contains(QStringLiteral("No Such Driver")))
            << error.toStdString();
        EXPECT_FALSE(error.contains(QStringLiteral("Data source name not found"))) << error.toStdString();
        EXPECT_FALSE(error.contains(QStringLiteral("Sup3rSecret")));
    }
}

TEST_F(OdbcSqlite, oleDbProviderForOdbc_usesTheRestAsAnOdbcString)
{
    DbConnection other;
    QString error;
    ASSERT_TRUE(other.Open(QStringLiteral("Provider=MSDASQL.1;Driver=SQLite3;Database=") + db.path(), &error))
        << error.toStdString();
    EXPECT_EQ(other.backend(), DbConnection::Backend::Odbc);
    EXPECT_EQ(other.Query(QStringLiteral("SELECT LastName FROM CustomerEmployee")).rows.value(0).value(0).toString(),
              QStringLiteral("O'Brien"));
}

// Through the real driver manager, FreeTDS and QODBC to the scripted TDS peer
// (tests/support/tds_server.py). FreeTDS is registered in a temporary
// odbcinst.ini, so the machine's own registration does not matter.
namespace {

QString odbcLibrary(const QString &name)
{
    for (const char *dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"}) {
        const QString path = QDir(QString::fromLatin1(dir)).filePath(name);
        if (QFile::exists(path))
            return path;
    }
    return QString();
}

// Set before the first ODBC call of the process: the driver manager reads
// where odbcinst.ini lives only once.
const bool FreeTdsRegistered = [] {
    static QTemporaryDir dir;
    const QString tds = odbcLibrary(QStringLiteral("libtdsodbc.so"));
    QFile ini(dir.filePath(QStringLiteral("odbcinst.ini")));
    if (tds.isEmpty() || !ini.open(QIODevice::WriteOnly))
        return false;
    ini.write("[FreeTDS]\nDriver=" + tds.toUtf8() +
              "\n[SQLite3]\nDriver=" + odbcLibrary(QStringLiteral("libsqlite3odbc.so")).toUtf8() + "\n");
    ini.close();
    qputenv("ODBCSYSINI", dir.path().toUtf8());
    return true;
}();

class TdsServer
{
public:
    explicit TdsServer(const QJsonArray &script, bool silent = false, const QString &tlsCertificate = QString())
    {
        QFile file(dir.filePath(QStringLiteral("script.json")));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(script).toJson());
        file.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{QStringLiteral("-u"),
                                  QStringLiteral(VELMAR_SOURCE_DIR "/tests/support/tds_server.py"),
                                  QStringLiteral("--script"), file.fileName(), QStringLiteral("--log"), logPath()} +
                          (silent ? QStringList{QStringLiteral("--silent")} : QStringList()) +
                          (tlsCertificate.isEmpty() ? QStringList()
                                                    : QStringList{QStringLiteral("--tls"), tlsCertificate}));
        while (!process.canReadLine() && process.waitForReadyRead(10000)) {}
        port = QString::fromLatin1(process.readLine()).section(QLatin1Char(' '), 1).trimmed().toInt();
    }
    ~TdsServer() { process.kill(), process.waitForFinished(); }
    QString logPath() const { return dir.filePath(QStringLiteral("log.jsonl")); }
    QList<QJsonObject> log(const QString &kind) const
    {
        QFile file(logPath());
        QList<QJsonObject> found;
        for (const QByteArray &line : (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).split('\n'))
            if (const QJsonObject item = QJsonDocument::fromJson(line).object(); item.contains(kind))
                found.append(item);
        return found;
    }
    QString odbc(const QString &extra = QString(), const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return QStringLiteral("Driver=FreeTDS;Server=%1;Port=%2;UID=sa;PWD=x;%3").arg(host).arg(port).arg(extra);
    }
    // The batches the server received, each on a line of its own.
    QString batches() const
    {
        QString text = QStringLiteral("\n");
        for (const QJsonObject &item : log(QStringLiteral("batch")))
            text += item.value(QStringLiteral("batch")).toString() + QLatin1Char('\n');
        return text;
    }

    QTemporaryDir dir;
    QProcess process;
    int port = 0;
};

// Columns as "Name type".
QJsonObject resultSet(const QString &match, const QStringList &columns, const QList<QJsonArray> &rows)
{
    QJsonArray described;
    for (const QString &column : columns)
        described.append(QJsonArray{column.section(QLatin1Char(' '), 0, 0), column.section(QLatin1Char(' '), 1)});
    QJsonArray table;
    for (const QJsonArray &row : rows)
        table.append(row);
    return {{"match", match}, {"columns", described}, {"rows", table}};
}

const QJsonObject CycleLockGranted =
    resultSet(QStringLiteral("sp_getapplock"), {QStringLiteral("LockResult int")}, {QJsonArray{0}});

// The Company row of a cycle whose mail goes to smtpPort; names and footer
// as given.
QJsonObject companyRow(int smtpPort, const QString &name = QStringLiteral("Velmar"), const QString &footer = QString())
{
    QStringList company;
    QJsonArray values;
    for (const char *column :
         {"Name", "Address1", "Address2", "City", "State", "Zip", "Phone", "Fax", "Email", "Website"}) {
        company.append(QString::fromLatin1(column) + QStringLiteral(" nvarchar(100)"));
        values.append(name);
    }
    company << QStringLiteral("AutomationServerPoll int,AutomationServerEmailFrom nvarchar(100),"
                              "AutomationServerEmailServer nvarchar(100),AutomationServerEmailUser nvarchar(100),"
                              "AutomationServerEmailPassword nvarchar(100),AutomationServerEmailUseSSLTLS bit,"
                              "AutomationServerEmailServerPort nvarchar(10),AutomationServerEmailFooter nvarchar(max)")
                   .split(QLatin1Char(','));
    for (const QJsonValue &v :
         QJsonArray{5, "alerts@example.com", "127.0.0.1", "", "", false, QString::number(smtpPort), footer})
        values.append(v);
    return resultSet(QStringLiteral("FROM Company"), company, {values});
}

const QStringList AlertColumns =
    QStringLiteral("Category nvarchar(50),EmailContractManager bit,EmailContractSpecialist bit,EmailClient bit,"
                   "DaysInAdvance int,CreateIssue bit,CreateIssueDaysInAdvance int,IssuePriority nvarchar(50),"
                   "AutoCloseIssue bit")
        .split(QLatin1Char(','));

QJsonObject queueRows(const QList<QJsonArray> &rows)
{
    return resultSet(QStringLiteral("SELECT * FROM AutomationServer_EmailsSent"),
                     {"ID int", "EmailFrom nvarchar(100)", "EmailFromName nvarchar(100)", "EmailTo nvarchar(max)",
                      "EmailSubject nvarchar(200)", "EmailBody nvarchar(max)", "EmailSent bit"},
                     rows);
}

class TdsOdbc : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!FreeTdsRegistered)
            GTEST_SKIP() << "the FreeTDS ODBC driver (tdsodbc) is not installed";
        ASSERT_TRUE(smtp.available());
    }
    ServerExit runOnce(const QString &connection)
    {
        return RunServer(OnceArguments(WriteServerConfig(dir.path(), connection)), dir.path());
    }

    SmtpServer smtp;
    QTemporaryDir dir;
};

} // namespace

// Renewal dates of each type a host may give CompletedDate (DATEADD returns
// that type) or a key read as their text: whole seconds, and the date alone
// at midnight.
TEST_F(TdsOdbc, textsOfEveryLengthAndScriptArriveWhole)
{
    const int dates = 6;
    QStringList columns{"Wide nvarchar(100)", "Number int", "Flag bit",    "At datetime",    "A date",
                        "B smalldatetime",    "C datetime", "D datetime2", "E datetime2(0)", "F varchar(50)"};
    QJsonArray row{QString(60, QChar(0x0142)), 42, true, "2027-01-05 14:30:00"};
    for (const char *sent : {"2026-12-21", "2026-12-21 14:05:00", "2026-12-21 00:00:00.003",
                             "2026-12-21 00:00:00.0030000", "2026-12-21 09:30:41", "12/21/2026 9:30:41 AM"})
        row.append(QLatin1String(sent));
    const QStringList dateTexts{"12/21/2026", "12/21/2026 2:05:00 PM", "12/21/2026",
                                "12/21/2026", "12/21/2026 9:30:41 AM", "12/21/2026 9:30:41 AM"};
    for (int length : {1, 255, 256, 4000, 8000, 100000}) {
        for (const QString &letters : {QStringLiteral("ab"), QStringLiteral("Łó")}) {
            columns.append(QStringLiteral("T%1 nvarchar(max)").arg(columns.size()));
            QString text;
            while (text.size() < length)
                text += letters;
            text.truncate(length);
            row.append(text);
        }
    }
    TdsServer server({resultSet(QStringLiteral("SELECT texts"), columns, {row})});
    DbConnection connection;
    QString error;
    ASSERT_TRUE(connection.Open(server.odbc(), &error)) << server.port << ": " << error.toStdString();
    const QuerySnapshot got = connection.Query(QStringLiteral("SELECT texts"));
    ASSERT_EQ(got.rows.size(), 1);
    const QList<QVariant> values = got.rows.first();
    EXPECT_EQ(values.at(0).toString(), row.at(0).toString());
    EXPECT_EQ(values.at(1).toInt(), 42);
    EXPECT_TRUE(values.at(2).toBool());
    EXPECT_EQ(values.at(3).toDateTime(), QDateTime(QDate(2027, 1, 5), QTime(14, 30), Qt::UTC));
    for (int d = 0; d < dates; ++d)
        EXPECT_EQ(ValueText(values.at(4 + d)), dateTexts[d]) << columns[4 + d].toStdString();
    for (qsizetype c = 4 + dates; c < values.size(); ++c)
        EXPECT_EQ(values.at(c).toString(), row.at(c).toString())
            << got.columns.at(c).toStdString() << " length " << values.at(c).toString().size();

    // Statement texts reach the server whole too, whatever the locale.
    const QString name =
        QStringLiteral("INSERT INTO T VALUES (N'Vélmar Łódź %1')").arg(QString(100000, QLatin1Char('x')));
    connection.Execute(name);
    EXPECT_EQ(server.log(QStringLiteral("batch")).last().value(QStringLiteral("batch")).toString(), name);
}

// A database below level 110 is refused before any cycle, naming the level
// and the fix; at 110 a missing index is named, and the cycle compares a
// date-time key as it is stored and converts only a text key.
TEST_F(TdsOdbc, compatibilityLevelAndKeyTypes_decideStartAndTheRenewalMatch)
{
    for (int level : {100, 110}) {
        TdsServer server(
            {CycleLockGranted,
             resultSet(QStringLiteral("AutomationServer_Alert"), AlertColumns,
                       {QJsonArray{"Contract", true, false, false, 30, true, 14, "High", false}}),
             resultSet(QStringLiteral("sys.databases"), {"name nvarchar(50)", "level int"},
                       {QJsonArray{"Host", level}}),
             resultSet(QStringLiteral("INFORMATION_SCHEMA"), {"T nvarchar(50)", "C nvarchar(50)", "D nvarchar(50)"},
                       {QJsonArray{"AutomationServer_Emails", "ItemKey", "datetime2"},
                        QJsonArray{"Issues", "AUTO_Date", "varchar"}}),
             resultSet(QStringLiteral("sys.index_columns"), {"T nvarchar(50)"},
                       {QJsonArray{"AutomationServer_Emails"}}),
             resultSet(QStringLiteral("SELECT"), {"ID int"}, {})});
        const ServerExit run = runOnce(server.odbc());
        const QString batches = server.batches();
        EXPECT_EQ(run.exitCode, level < 110 ? 1 : 0) << run.err.toStdString();
        if (level < 110) {
            EXPECT_TRUE(run.err.contains(u"compatibility level 100") &&
                        run.err.contains(u"ALTER DATABASE [Host] SET COMPATIBILITY_LEVEL = 110"))
                << run.err.toStdString();
            EXPECT_FALSE(batches.contains(u"tmpIssue"));
            continue;
        }
        EXPECT_TRUE(run.err.contains(u"no index on Issues led by ItemID") &&
                    !run.err.contains(u"no index on AutomationServer_Emails"))
            << run.err.toStdString();
        // The candidates, then the trainings due for an issue.
        EXPECT_EQ(batches.count(u"PrevEmails.ItemKey=CONVERT(datetime,"), 1);
        EXPECT_EQ(batches.count(u"TRY_CONVERT(datetime,tmpIssue.AUTO_Date)="), 2);
    }
}

TEST_F(TdsOdbc, unansweredStatement_failsWithinItsTimeoutAndDropsTheSession)
{
    TdsServer server({CycleLockGranted, QJsonObject{{"match", "WAITFOR"}, {"hang", true}}});
    DbConnection connection;
    QString error;
    ASSERT_TRUE(connection.Open(server.odbc(QStringLiteral("Command Timeout=2")), &error)) << error.toStdString();
    ASSERT_EQ(connection.TakeCycleLock(0, &error), CycleLockResult::Taken) << error.toStdString();
    connection.BeginTransaction();
    QElapsedTimer timer;
    timer.start();
    error = dbErrorOf([&] { connection.Execute(QStringLiteral("WAITFOR DELAY '01:00:00'")); });
    EXPECT_TRUE(error.contains(QStringLiteral("time-out of 2 s"))) << error.toStdString();
    // Closing the session is what frees the cycle lock on the server.
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_THROW(connection.Query(QStringLiteral("SELECT 1")), DbError);
    connection.Close();
    EXPECT_LT(timer.elapsed(), 5000);
    QThread::msleep(200);
    EXPECT_EQ(server.log(QStringLiteral("closed")).size(), 1);
}

TEST_F(TdsOdbc, silentServer_endsOnceWithinTheLoginTimeoutAndTheDriversMessage)
{
    TdsServer server({}, true);
    QElapsedTimer timer;
    timer.start();
    const ServerExit run =
        runOnce(QStringLiteral("Provider=SQLOLEDB;Data Source=127.0.0.1,%1;User ID=sa;Password=x").arg(server.port));
    EXPECT_LT(timer.elapsed(), 15000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("[FreeTDS]"))) << run.err.toStdString();
}

TEST_F(TdsOdbc, adoExamples_openTheIntendedDatabaseOrNameTheKeyword)
{
    TdsServer server({});
    const QString p = QString::number(server.port);
    const struct
    {
        QString ado, database, password, refusedKeyword;
    } cases[] = {
        {"Provider=SQLNCLI11;Data Source=(local)," + p + ";Initial Catalog=Velmar;User ID=sa;Password=\"p}w;d\"",
         "Velmar", "p}w;d", ""},
        {"Provider=MSOLEDBSQL;Data Source=.," + p +
             ";Initial Catalog=Ops;User ID=sa;Password=p}w;Encrypt=False;"
             "TrustServerCertificate=True",
         "Ops", "p}w", ""},
        {"Provider=SQLOLEDB.1;Data Source=127.0.0.1\\SQLEXPRESS," + p + ";Initial Catalog=V;User ID=sa;Password=x", "V",
         "x", ""},
        {"Provider=MSDASQL;Driver={FreeTDS};Server=127.0.0.1;Port=" + p + ";Database={Velmar;Ops};UID=sa;PWD=x",
         "Velmar;Ops", "x", ""},
        {"Provider=SQLNCLI11;Data Source=(local)," + p + ";Integrated Security=SSPI", "", "", "Integrated Security"},
        {"Provider=SQLNCLI11;Data Source=(local)," + p + ";User ID=sa;Password=x;Failover Partner=b", "", "",
         "Failover Partner"},
    };
    for (const auto &c : cases) {
        DbConnection connection;
        QString error;
        const bool opened = connection.Open(c.ado, &error);
        if (!c.refusedKeyword.isEmpty()) {
            EXPECT_FALSE(opened) << c.ado.toStdString();
            EXPECT_TRUE(error.contains(c.refusedKeyword)) << error.toStdString();
            continue;
        }
        ASSERT_TRUE(opened) << c.ado.toStdString() << ": " << error.toStdString();
        const QJsonObject login = server.log(QStringLiteral("login")).last();
        EXPECT_EQ(login.value(QStringLiteral("database")).toString(), c.database) << c.ado.toStdString();
        EXPECT_EQ(login.value(QStringLiteral("password")).toString(), c.password) << c.ado.toStdString();
    }
}

TEST_F(TdsOdbc, once_mailsA100000CharacterBodyAndFooterAndAPolishNameWhole)
{
    const QString footer = QString(100000, QChar(0x017C));
    const QString body = QString(100000, QChar(0x0119));
    const QString name = QStringLiteral("Zażółć Gęślą Jaźń");
    TdsServer server({CycleLockGranted, companyRow(smtp.port(), name, footer),
                      queueRows({QJsonArray{1, "alerts@example.com", name, "anna@example.com;", name, body, false}})});
    const ServerExit run = runOnce(server.odbc());
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    const QList<ReceivedMail> mails = smtp.messages();
    ASSERT_EQ(mails.size(), 1);
    const QString received = QString::fromUtf8(mails.first().body);
    EXPECT_TRUE(received.contains(body)) << received.size();
    EXPECT_TRUE(received.contains(footer)) << received.size();
    EXPECT_TRUE(mails.first().header(QStringLiteral("From")).contains(name))
        << mails.first().header(QStringLiteral("From")).toStdString();
    EXPECT_TRUE(mails.first().header(QStringLiteral("Subject")).contains(name));
}

namespace {

// Writes an odbc.ini holding a data source for FreeTDS without a TDS version.
void writeDataSource(const QString &path, const QString &name, int port)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[%1]\nDriver=FreeTDS\nServer=127.0.0.1\nPort=%2\nDatabase=Velmar\n")
                   .arg(name)
                   .arg(port)
                   .toUtf8());
}

// unixODBC reads the user's data sources from the account's home, or from
// ODBCINI.
QProcessEnvironment homeEnvironment(const QString &home)
{
    QProcessEnvironment env = ServerEnvironment(home);
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("ODBCINI"), home + QStringLiteral("/.odbc.ini"));
    return env;
}

} // namespace

TEST_F(TdsOdbc, userAndSystemDataSources_runAWholeCycleWithTransactionsOfTwoRoundTrips)
{
    TdsServer server(
        {CycleLockGranted, companyRow(smtp.port()),
         queueRows({QJsonArray{1, "alerts@example.com", "Velmar", "anna@example.com;", "S", "B", false}})});
    for (const bool system : {false, true}) {
        QTemporaryDir home;
        QTemporaryDir sysini;
        QFile::copy(qEnvironmentVariable("ODBCSYSINI") + QStringLiteral("/odbcinst.ini"),
                    sysini.filePath(QStringLiteral("odbcinst.ini")));
        writeDataSource(system ? sysini.filePath(QStringLiteral("odbc.ini"))
                               : home.filePath(QStringLiteral(".odbc.ini")),
                        QStringLiteral("Velmar Payroll"), server.port);
        QProcessEnvironment env = homeEnvironment(home.path());
        env.insert(QStringLiteral("ODBCSYSINI"), sysini.path());
        QFile::remove(server.logPath());
        const QString config = WriteServerConfig(home.path(), QStringLiteral("DSN=Velmar Payroll;UID=sa;PWD=x"));
        const ServerExit run = RunServer(OnceArguments(config), env);
        EXPECT_EQ(run.exitCode, 0) << (system ? "system: " : "user: ") << run.out.toStdString()
                                   << run.err.toStdString();
        EXPECT_EQ(server.log(QStringLiteral("login")).value(0).value(QStringLiteral("database")).toString(),
                  QStringLiteral("Velmar"));
        // The trial of the mark (begin, rolled back) and the mark (begin,
        // commit), nothing in between that carries nothing.
        const QList<QJsonObject> requests = server.log(QStringLiteral("request"));
        EXPECT_EQ(std::count_if(requests.cbegin(), requests.cend(),
                                [](const QJsonObject &r) { return r.value(QStringLiteral("request")) == "0x0E"; }),
                  0);
        EXPECT_EQ(server.batches().count(u"TRANSACTION"), 4);
    }
    EXPECT_EQ(smtp.messages().size(), 2);
}

TEST_F(TdsOdbc, unansweredCommitOrMuteDataSource_endTheCycleWithinTheirBounds)
{
    TdsServer answering({CycleLockGranted, companyRow(smtp.port()),
                         queueRows({QJsonArray{1, "alerts@example.com", "V", "anna@example.com;", "S", "B", false}}),
                         QJsonObject{{"match", "COMMIT TRANSACTION"}, {"hang", true}}});
    TdsServer stuck({QJsonObject{{"match", "sp_getapplock"}, {"hang", true}}});
    TdsServer mute({}, true);
    QTemporaryDir home;
    writeDataSource(home.filePath(QStringLiteral(".odbc.ini")), QStringLiteral("Mute"), mute.port);
    QProcessEnvironment env = homeEnvironment(home.path());
    env.remove(QStringLiteral("TDSVER"));
    const struct
    {
        QString connection, said;
        qint64 boundMs;
        QStringList options;
    } cases[] = {
        {answering.odbc(QStringLiteral("Command Timeout=5")), "time-out of 5 s", 75000, {}},
        {QStringLiteral("DSN=Mute;UID=sa;PWD=x"), "[FreeTDS]", 30000, {}},
        // No statement time-out: the cycle's own bound ends it.
        {stuck.odbc(QStringLiteral("Command Timeout=0")),
         "bound of 3 s (it was at: taking the cycle lock)",
         15000,
         {QStringLiteral("--cycle-limit"), QStringLiteral("3")}},
    };
    for (const auto &c : cases) {
        QElapsedTimer timer;
        timer.start();
        const ServerExit run =
            RunServer(OnceArguments(WriteServerConfig(home.path(), c.connection)) + c.options, env, 120000);
        EXPECT_LT(timer.elapsed(), c.boundMs) << c.connection.toStdString();
        EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
        EXPECT_TRUE((run.out + run.err).contains(c.said)) << run.out.toStdString() << run.err.toStdString();
    }
}

TEST_F(TdsOdbc, firstCycle_roundTripsPerNotifiedCertification)
{
    constexpr int Certifications = 60;
    QList<QJsonArray> candidates;
    QList<QJsonArray> queued;
    for (int id = 1; id <= Certifications; ++id) {
        const QString manager = QStringLiteral("manager%1@example.com").arg(id % 3);
        candidates.append(QJsonArray{id, true, "2025-01-05 00:00:00", 24, false, "Forklift", "Ann", QJsonValue(),
                                     QStringLiteral("Lee%1").arg(id), QJsonValue(), "c@example.com", "Acme", manager, 0,
                                     "2027-01-05 00:00:00", 0, 7});
        queued.append(QJsonArray{id, "alerts@example.com", "Velmar", manager + QLatin1Char(';'), "S", "B", false});
    }
    // As the queue query orders them: by recipient list.
    std::stable_sort(queued.begin(), queued.end(),
                     [](const QJsonArray &a, const QJsonArray &b) { return a.at(3).toString() < b.at(3).toString(); });
    TdsServer server(
        {CycleLockGranted, companyRow(smtp.port()),
         resultSet(QStringLiteral("FROM AutomationServer_Alert WHERE"), QStringList{"Item nvarchar(50)"} + AlertColumns,
                   {QJsonArray{"Training Expire", "Training", true, false, false, 60, false, 30, "High", false}}),
         resultSet(QStringLiteral("FROM AutomationServer_Emails WHERE Category"),
                   {"ID int", "Completed bit", "CompletedDate datetime", "Renews int", "Optional bit",
                    "Name nvarchar(50)", "FirstName nvarchar(50)", "MiddleName nvarchar(50)", "LastName nvarchar(50)",
                    "Suffix nvarchar(10)", "CustomerEmail nvarchar(100)", "CustomerName nvarchar(100)",
                    "ContractManagerEmail nvarchar(100)", "IssueID int", "RenewDate datetime", "EmailID int",
                    "ContractID int"},
                   candidates),
         queueRows(queued)});
    const ServerExit run = runOnce(server.odbc());
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(smtp.messages().size(), 3);
    // The figure bench/RESULTS.md records; every transaction in it costs
    // two (begin, commit).
    const auto requests = server.log(QStringLiteral("request")).size();
    std::cout << "round trips of a first cycle with " << Certifications << " notified certifications: " << requests
              << " (" << double(requests) / Certifications << " each)\n";
    const auto begun = server.batches().count(u"\nBEGIN TRANSACTION\n");
    EXPECT_EQ(begun, 7); // the notifications, then the trial and the mark of each digest
    EXPECT_LT(requests, 3 * begun + 30);
}

namespace {

// A certificate authority (ca.pem), a server certificate for "localhost"
// signed by it, and an authority that signed nothing (other-ca.pem), made
// with the openssl command; empty when it is not there.
QString makeCertificates(const QTemporaryDir &dir)
{
    QFile ext(dir.filePath(QStringLiteral("ext")));
    if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=DNS:localhost\n") < 0)
        return QString();
    ext.close();
    for (const QStringList &arguments :
         QList<QStringList>{{"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                             "-days", "2", "-subj", "/CN=Velmar test CA"},
                            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "other-ca.key", "-out",
                             "other-ca.pem", "-days", "2", "-subj", "/CN=Velmar test CA"},
                            {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                             "-subj", "/CN=localhost"},
                            {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                             "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "ext"}}) {
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral("openssl"), arguments);
        if (!process.waitForFinished(30000) || process.exitCode() != 0)
            return QString();
    }
    QFile key(dir.filePath(QStringLiteral("server.key")));
    QFile both(dir.filePath(QStringLiteral("server.pem")));
    if (!key.open(QIODevice::ReadOnly) || !both.open(QIODevice::Append))
        return QString();
    both.write(key.readAll());
    return both.fileName();
}

} // namespace

TEST_F(TdsOdbc, encryptYes_encryptsTheLoginThroughFreeTds)
{
    const QString certificate = makeCertificates(dir);
    if (certificate.isEmpty())
        GTEST_SKIP() << "the openssl command could not make certificates";
    TdsServer server({}, false, certificate);
    // Encrypt= is not a FreeTDS keyword: passed as written, the login would
    // go without TLS, and the server (which requires it) would never see it.
    // Same name, another key (other-ca.pem): only the authority that signed
    // it will do.
    const QString ca = dir.filePath(QStringLiteral("ca.pem")), otherCa = dir.filePath(QStringLiteral("other-ca.pem"));
    for (const QString &keywords :
         {"Encrypt=yes;CAFile=" + ca, QStringLiteral("Encrypt=yes;TrustServerCertificate=yes"),
          "Encrypt=yes;CAFile=" + otherCa}) {
        QFile::remove(server.logPath());
        DbConnection connection;
        QString error;
        const bool trusted = !keywords.endsWith(otherCa);
        EXPECT_EQ(connection.Open(server.odbc(keywords, QStringLiteral("localhost")), &error), trusted)
            << keywords.toStdString() << ": " << error.toStdString();
        EXPECT_EQ(server.log(QStringLiteral("login")).size(), trusted ? 1 : 0) << keywords.toStdString();
        if (trusted)
            EXPECT_EQ(server.log(QStringLiteral("tls")).size(), 1) << keywords.toStdString();
        else
            EXPECT_TRUE(error.contains(QStringLiteral("verify the server's certificate against ") + otherCa))
                << error.toStdString();
    }
}
