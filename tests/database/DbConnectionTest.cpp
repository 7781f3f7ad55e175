#include "database/DbConnection.h"
#include "database/CycleLock.h"
#include "database/OpenDatabase.h"
#include "database/Recordset.h"
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

namespace {

class EmbeddedConnection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(connection.Open(db.connectionString(), &error)) << error.toStdString();
    }

    TempDatabase db;
    DbConnection connection;
};

} // namespace

TEST_F(EmbeddedConnection, open_setsWalAndNormalSync)
{
    EXPECT_TRUE(connection.IsOpen());
    EXPECT_EQ(connection.backend(), DbConnection::Backend::Sqlite);
    const QuerySnapshot mode = connection.Query(QStringLiteral("PRAGMA journal_mode"));
    ASSERT_EQ(mode.rows.size(), 1);
    EXPECT_EQ(mode.rows[0][0].toString(), QStringLiteral("wal"));
    const QuerySnapshot sync = connection.Query(QStringLiteral("PRAGMA synchronous"));
    EXPECT_EQ(sync.rows[0][0].toInt(), 1); // NORMAL
    // The log is copied into the database as it grows, not only at close.
    EXPECT_EQ(connection.Query(QStringLiteral("PRAGMA wal_autocheckpoint")).rows[0][0].toInt(),
              SqliteConnection::WalCheckpointPages);
    EXPECT_EQ(connection.Query(QStringLiteral("PRAGMA journal_size_limit")).rows[0][0].toLongLong(),
              SqliteConnection::WalSizeLimitBytes);
    // Its own SQLite connection, not one of Qt's driver.
    EXPECT_FALSE(QSqlDatabase::contains(connection.connectionName()));
}

TEST(EmbeddedOpen, missingFile_failsAndCreatesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("absent.db"));
    DbConnection connection;
    QString error;
    EXPECT_FALSE(connection.Open(QStringLiteral("Provider=SQLite;Data Source=") + path, &error));
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_TRUE(error.startsWith(QStringLiteral("Database file not found: "))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("absent.db")));
    EXPECT_FALSE(QFile::exists(path));
}

TEST(EmbeddedOpen, relativeFile_isResolvedAgainstBaseDirectory)
{
    TempDatabase db;
    db.exec(QStringLiteral("INSERT INTO Company (Name) VALUES ('Relative Ltd')"));
    SetConnectionBaseDirectory(db.directory());
    DbConnection connection;
    QString error;
    const bool opened = connection.Open(QStringLiteral("Provider=SQLite; Data Source = velmar.db ;"), &error);
    SetConnectionBaseDirectory(QString());
    ASSERT_TRUE(opened) << error.toStdString();
    EXPECT_EQ(connection.Query(QStringLiteral("SELECT Name FROM Company")).rows[0][0].toString(),
              QStringLiteral("Relative Ltd"));
}

TEST(EmbeddedOpen, fileThatIsNoDatabase_fails)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes.db"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    DbConnection connection;
    QString error;
    EXPECT_FALSE(connection.Open(QStringLiteral("Provider=SQLite;Data Source=") + path, &error));
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_TRUE(error.contains(QStringLiteral("not a database"))) << error.toStdString();
}

TEST(ConnectionStrings, emptyOrUnknownProvider_failWithReason)
{
    DbConnection connection;
    QString error;
    EXPECT_FALSE(connection.Open(QStringLiteral("   "), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(connection.Open(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Microsoft.Jet.OLEDB.4.0"))) << error.toStdString();
    EXPECT_FALSE(connection.Open(QStringLiteral("Provider=SQLite"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Data Source"))) << error.toStdString();
}

TEST_F(EmbeddedConnection, executeAndQuery_roundTripWithNullsAndApostrophes)
{
    connection.Execute(QStringLiteral("INSERT INTO CustomerEmployee (FirstName, MiddleName, LastName, Suspended) "
                                      "VALUES ('Sean', NULL, 'O''Brien', 1)"));
    Recordset rs;
    rs.Open(QStringLiteral("SELECT * FROM CustomerEmployee"), connection);
    ASSERT_FALSE(rs.Eof());
    EXPECT_FALSE(rs.Bof());
    EXPECT_EQ(rs.Field(QStringLiteral("lastname")).toString(), QStringLiteral("O'Brien"));
    EXPECT_EQ(rs.Field(QStringLiteral("LASTNAME")).toString(), QStringLiteral("O'Brien"));
    EXPECT_TRUE(rs.Field(QStringLiteral("MiddleName")).isNull());
    EXPECT_FALSE(rs.Field(QStringLiteral("MiddleName")).isValid());
    EXPECT_EQ(rs.Field(QStringLiteral("Suspended")).toInt(), 1);
    EXPECT_TRUE(rs.HasField(QStringLiteral("firstName")));
    EXPECT_FALSE(rs.HasField(QStringLiteral("Nickname")));
    EXPECT_THROW(rs.Field(QStringLiteral("Nickname")), DbError);
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
    EXPECT_THROW(rs.MoveNext(), DbError);
    EXPECT_THROW(rs.Field(QStringLiteral("LastName")), DbError);
    rs.Close();
    EXPECT_THROW(rs.Eof(), DbError);
}

TEST_F(EmbeddedConnection, emptyResult_isBofAndEof)
{
    Recordset rs;
    rs.Open(QStringLiteral("SELECT * FROM Company"), connection);
    EXPECT_TRUE(rs.Eof());
    EXPECT_TRUE(rs.Bof());
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_TRUE(rs.ColumnNames().contains(QStringLiteral("AutomationServerEmailFooter")));
}

TEST_F(EmbeddedConnection, failingStatements_throwWithSqliteMessage)
{
    try {
        connection.Execute(QStringLiteral("UPDATE NoSuchTable SET X = 1"));
        FAIL() << "no error";
    } catch (const DbError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("no such table: NoSuchTable"))) << e.what();
    }
    Recordset rs;
    EXPECT_THROW(rs.Open(QStringLiteral("SELECT Nope FROM Company"), connection), DbError);
    EXPECT_FALSE(rs.IsOpen());
}

// Read at once or streamed from the database, the rows walked are those of
// the moment the query ran, whatever the walk changes meanwhile.
TEST_F(EmbeddedConnection, snapshot_doesNotChangeWhileStatementsRun)
{
    for (const Recordset::Reading reading : {Recordset::Reading::AllAtOnce, Recordset::Reading::Streamed}) {
        db.exec(QStringLiteral(
            "DELETE FROM AutomationServer_EmailsSent;"
            "INSERT INTO AutomationServer_EmailsSent (EmailTo, EmailSent) VALUES ('a@example.com', 0);"
            "INSERT INTO AutomationServer_EmailsSent (EmailTo, EmailSent) VALUES ('b@example.com', 0);"
            "INSERT INTO AutomationServer_EmailsSent (EmailTo, EmailSent) VALUES ('c@example.com', 0);"));
        Recordset rs(reading);
        rs.Open(QStringLiteral("SELECT * FROM AutomationServer_EmailsSent WHERE EmailSent=0 ORDER BY EmailTo,ID"),
                connection);
        QStringList walked;
        while (!rs.Eof()) {
            walked << rs.Field(QStringLiteral("EmailTo")).toString();
            connection.BeginTransaction();
            connection.Execute(QStringLiteral("UPDATE AutomationServer_EmailsSent SET EmailSent=1"));
            connection.Execute(QStringLiteral(
                "INSERT INTO AutomationServer_EmailsSent (EmailTo, EmailSent) VALUES ('z@example.com', 0)"));
            connection.Commit();
            rs.MoveNext();
        }
        EXPECT_EQ(walked,
                  (QStringList{QStringLiteral("a@example.com"), QStringLiteral("b@example.com"),
                               QStringLiteral("c@example.com")}));
        EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM AutomationServer_EmailsSent WHERE EmailSent=0"))
                      .toInt(),
                  1);
    }
    // Rows of a transaction still open are seen: another connection could not see them.
    connection.BeginTransaction();
    connection.Execute(
        QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailTo, EmailSent) VALUES ('y@example.com', 0)"));
    Recordset rs(Recordset::Reading::Streamed);
    rs.Open(QStringLiteral("SELECT COUNT(*) AS N FROM AutomationServer_EmailsSent WHERE EmailSent=0"), connection);
    EXPECT_EQ(rs.Field(QStringLiteral("N")).toInt(), 2);
    connection.Rollback();
}

// Names are compared without letter case, and the first column of a name wins.
TEST_F(EmbeddedConnection, fieldNames_ignoreCaseAndTheFirstColumnWins)
{
    Recordset rs(Recordset::Reading::Streamed);
    rs.Open(QStringLiteral("SELECT 1 AS ID, 2 AS id, 3 AS Name"), connection);
    EXPECT_EQ(rs.Field(QStringLiteral("id")).toInt(), 1);
    EXPECT_EQ(rs.Field(QStringLiteral("ID")).toInt(), 1);
    EXPECT_EQ(rs.Field(QStringLiteral("NAME")).toInt(), 3);
    EXPECT_THROW(rs.Field(QStringLiteral("Nope")), DbError);
}

// A simple INSERT runs as a kept prepared statement with its values bound:
// it stores, and refuses, exactly what the statement as written does.
TEST_F(EmbeddedConnection, simpleInserts_storeAndRefuseWhatTheTextSays)
{
    const QStringList values = {QStringLiteral("0"),        QStringLiteral("-1"), QStringLiteral("NULL"),
                                QStringLiteral("N'it''s'"), QStringLiteral("''"), QStringLiteral("'1'"),
                                QStringLiteral("1.5"),      QStringLiteral("'x'")};
    for (const QString &value : values) {
        const QString sql =
            QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailTo,EmailBody,EmailSent) VALUES (") + value +
            QLatin1Char(',') + value + QLatin1Char(',') + value + QLatin1Char(')');
        const auto outcome = [&](const std::function<void()> &run) {
            db.exec(QStringLiteral("DELETE FROM AutomationServer_EmailsSent"));
            try {
                run();
            } catch (const DbError &e) {
                return e.message();
            }
            return db
                .queryValue(
                    QStringLiteral("SELECT quote(EmailTo)||typeof(EmailBody)||quote(EmailSent)||typeof(EmailSent) "
                                   "FROM AutomationServer_EmailsSent"))
                .toString();
        };
        // Anything after the values (here a comment) leaves the statement to be prepared as written.
        const QString asWritten = outcome([&] { connection.Execute(sql + QStringLiteral(" /* as written */")); });
        for (int again = 0; again < 2; ++again) // prepared, then kept
            EXPECT_EQ(outcome([&] { connection.Execute(sql); }), asWritten) << sql.toStdString();
    }
}

TEST_F(EmbeddedConnection, statementCounter_countsExecutesAndQueries)
{
    connection.resetStatementCount();
    connection.Execute(QStringLiteral("INSERT INTO Company (Name) VALUES ('A')"));
    Recordset rs;
    rs.Open(QStringLiteral("SELECT * FROM Company"), connection);
    EXPECT_THROW(connection.Execute(QStringLiteral("bogus")), DbError);
    EXPECT_EQ(connection.statementCount(), 3);
}

// Beginning, committing and rolling back are round trips to a server too.
TEST_F(EmbeddedConnection, statementCounter_countsTransactionStatements)
{
    connection.resetStatementCount();
    connection.BeginTransaction();
    connection.Execute(QStringLiteral("INSERT INTO Company (Name) VALUES ('A')"));
    connection.Commit();
    EXPECT_EQ(connection.statementCount(), 3);
    connection.BeginTransaction();
    connection.Rollback();
    EXPECT_EQ(connection.statementCount(), 5);
    connection.Close();
    connection.Rollback(); // closed: nothing is sent
    EXPECT_EQ(connection.statementCount(), 5);
}

TEST_F(EmbeddedConnection, transaction_rollbackDiscardsAndCommitKeeps)
{
    connection.BeginTransaction();
    connection.Execute(QStringLiteral("INSERT INTO Company (Name) VALUES ('Gone')"));
    connection.Rollback();
    connection.BeginTransaction();
    connection.Execute(QStringLiteral("INSERT INTO Company (Name) VALUES ('Kept')"));
    connection.Commit();
    EXPECT_EQ(db.queryRows(QStringLiteral("SELECT Name FROM Company")),
              (QList<QVariantList>{{QStringLiteral("Kept")}}));
    connection.Rollback(); // nothing open: silent
}

TEST_F(EmbeddedConnection, closedConnection_refusesWorkAndClosesSilently)
{
    connection.Close();
    connection.Close();
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_THROW(connection.Execute(QStringLiteral("DELETE FROM Company")), DbError);
    Recordset rs;
    EXPECT_THROW(rs.Open(QStringLiteral("SELECT * FROM Company"), connection), DbError);
}

TEST(OpenDatabaseRoutine, failure_callsHandlerWithReasonAndReturnsFalse)
{
    QStringList reasons;
    SetOpenDatabaseFailureHandler([&](const QString &reason) { reasons << reason; });
    QTemporaryDir dir;
    DBConnectionString = QStringLiteral("Provider=SQLite;Data Source=") + dir.filePath(QStringLiteral("none.db"));
    EXPECT_FALSE(OpenDatabase());
    EXPECT_FALSE(OpenDatabase());
    SetOpenDatabaseFailureHandler(nullptr);
    ASSERT_EQ(reasons.size(), 2);
    EXPECT_TRUE(reasons[0].startsWith(QStringLiteral("Database file not found")));
    EXPECT_EQ(LastOpenDatabaseError(), reasons[1]);
    EXPECT_FALSE(DatabaseConnection().IsOpen());
    CloseDatabase();
    CloseDatabase();
}

TEST(OpenDatabaseRoutine, reopens_withTheConfiguredStringNotTheTestedOne)
{
    TempDatabase configured;
    TempDatabase tested;
    configured.exec(QStringLiteral("INSERT INTO Company (Name) VALUES ('Configured')"));
    tested.exec(QStringLiteral("INSERT INTO Company (Name) VALUES ('Tested')"));
    QString error;
    ASSERT_TRUE(DatabaseConnection().Open(tested.connectionString(), &error));
    DBConnectionString = configured.connectionString();
    ASSERT_TRUE(OpenDatabase());
    EXPECT_TRUE(LastOpenDatabaseError().isEmpty());
    Recordset rs;
    rs.Open(QStringLiteral("SELECT Name FROM Company"), DatabaseConnection());
    EXPECT_EQ(rs.Field(QStringLiteral("Name")).toString(), QStringLiteral("Configured"));
    rs.Close();
    CloseDatabase();
    EXPECT_FALSE(DatabaseConnection().IsOpen());
}

// Two servers reaching one file through a symbolic link share one cycle lock.
TEST(EmbeddedCycleLockFile, linkAndFile_shareOneLock)
{
    TempDatabase db;
    const QString link = db.directory() + QStringLiteral("/linked.db");
    ASSERT_TRUE(QFile::link(db.path(), link));
    EXPECT_EQ(EmbeddedCycleLockPath(link), EmbeddedCycleLockPath(db.path()));
    EmbeddedCycleLock first;
    EmbeddedCycleLock second;
    ASSERT_EQ(first.Take(EmbeddedCycleLockPath(db.path()), 0, nullptr), CycleLockResult::Taken);
    EXPECT_EQ(second.Take(EmbeddedCycleLockPath(link), 0, nullptr), CycleLockResult::HeldElsewhere);
}

// The journal mode is the host's setting: a cycle leaves it as it was.
TEST(EmbeddedJournalMode, databaseInRollbackMode_staysInIt)
{
    TempDatabase db;
    db.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
    DbConnection connection;
    ASSERT_TRUE(connection.Open(db.connectionString()));
    connection.Execute(QStringLiteral("UPDATE Company SET Name = 'x'"));
    connection.Close();
    EXPECT_EQ(db.queryValue(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("delete"));
}

TEST(HeldChanges, nestedTransactionsBecomeSavepoints_andNothingReachesTheFile)
{
    TempDatabase db;
    db.exec(QStringLiteral("PRAGMA journal_mode=DELETE; CREATE TABLE T (V INTEGER)"));
    DbConnection connection;
    connection.HoldChanges();
    ASSERT_TRUE(connection.Open(db.connectionString()));
    EXPECT_EQ(connection.Query(QStringLiteral("PRAGMA journal_mode")).rows[0][0].toString(), QStringLiteral("delete"));
    connection.Execute(QStringLiteral("INSERT INTO T (V) VALUES (1)"));
    connection.BeginTransaction();
    connection.Execute(QStringLiteral("INSERT INTO T (V) VALUES (2)"));
    connection.Rollback(); // the nested part only
    connection.BeginTransaction();
    connection.Execute(QStringLiteral("INSERT INTO T (V) VALUES (4)"));
    connection.Commit();
    connection.Close(); // a cycle's own close keeps the held connection
    ASSERT_TRUE(connection.Open(db.connectionString()));
    EXPECT_EQ(connection.Query(QStringLiteral("SELECT SUM(V) FROM T")).rows[0][0].toInt(), 5);
    connection.DiscardHeldChanges();
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM T")).toInt(), 0);
}
