// The ODBC path through the real driver manager (unixODBC) with Debian's
// SQLite ODBC driver behind it: statements go as written, with no dialect.
#include "AdoToOdbc.h"
#include "DbConnection.h"
#include "Recordset.h"
#include "TempDatabase.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

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
        ASSERT_TRUE(connection.Open(QStringLiteral("Driver=SQLite3;Database=") + db.path(), &error)) << error.toStdString();
    }

    TempDatabase db;
    DbConnection connection;
};

} // namespace

TEST_F(OdbcSqlite, query_readsTextNullBitAndDateValues)
{
    EXPECT_EQ(connection.backend(), DbConnection::Backend::Odbc);
    Recordset rs;
    rs.Open(QStringLiteral("SELECT CustomerEmployee.*, CompletedDate FROM CustomerEmployee "
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

TEST_F(OdbcSqlite, statementsRunUnchangedAndSnapshotStaysFixed)
{
    // No rewrite: the SQL Server dialect is the server's business here.
    EXPECT_EQ(connection.backendSql(QStringLiteral("SELECT TOP 1 * FROM Company")),
              QStringLiteral("SELECT TOP 1 * FROM Company"));
    connection.resetStatementCount();
    connection.Execute(QStringLiteral("INSERT INTO Company (Name) VALUES ('A')"));
    connection.Execute(QStringLiteral("INSERT INTO Company (Name) VALUES ('B')"));
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
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM Company")).toInt(), 0);
}

TEST_F(OdbcSqlite, failingStatement_throwsWithTheDriversMessage)
{
    try {
        connection.Execute(QStringLiteral("UPDATE NoSuchTable SET X = 1"));
        FAIL() << "no error";
    } catch (const DbError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("NoSuchTable"))) << e.what();
    }
}

TEST_F(OdbcSqlite, transaction_rollbackDiscards)
{
    connection.BeginTransaction();
    connection.Execute(QStringLiteral("INSERT INTO Company (Name) VALUES ('Gone')"));
    connection.Rollback();
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM Company")).toInt(), 0);
}

TEST(OdbcOpen, unknownDriver_failsWithDriverManagersReasonAndNoPassword)
{
    DbConnection connection;
    QString error;
    EXPECT_FALSE(connection.Open(QStringLiteral("Driver={No Such Driver};Server=x;UID=sa;PWD=Sup3rSecret"), &error));
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(error.contains(QStringLiteral("Sup3rSecret"))) << error.toStdString();
}

TEST(OdbcOpen, adoStringForSqlServer_isTranslatedAndItsFailureReported)
{
    if (BestSqlServerOdbcDriver(InstalledOdbcDrivers()).isEmpty())
        GTEST_SKIP() << "no SQL Server ODBC driver installed";
    // Nothing listens on port 1: the driver reports a refused connection.
    DbConnection connection;
    QString error;
    EXPECT_FALSE(connection.Open(QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;"
                                                "Password=Sup3rSecret;Initial Catalog=Velmar;Data Source=127.0.0.1,1"),
                                 &error));
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot connect to the database: "))) << error.toStdString();
    // The driver itself was reached and tried the server.
    EXPECT_FALSE(error.contains(QStringLiteral("Can't open lib"))) << error.toStdString();
    EXPECT_FALSE(error.contains(QStringLiteral("Data source name not found"))) << error.toStdString();
    EXPECT_FALSE(error.contains(QStringLiteral("Sup3rSecret")));
}

TEST(OdbcOpen, oleDbProviderForOdbc_usesTheRestAsAnOdbcString)
{
    if (!sqliteOdbcDriverInstalled())
        GTEST_SKIP() << "the SQLite3 ODBC driver is not installed";
    TempDatabase db;
    db.exec(QStringLiteral("INSERT INTO Company (Name) VALUES ('Through MSDASQL')"));
    DbConnection connection;
    QString error;
    ASSERT_TRUE(connection.Open(QStringLiteral("Provider=MSDASQL.1;Driver=SQLite3;Database=") + db.path(), &error))
        << error.toStdString();
    EXPECT_EQ(connection.backend(), DbConnection::Backend::Odbc);
    EXPECT_EQ(connection.Query(QStringLiteral("SELECT Name FROM Company")).rows.value(0).value(0).toString(),
              QStringLiteral("Through MSDASQL"));
}
