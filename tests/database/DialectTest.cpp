#include "database/DateValues.h"
#include "database/Recordset.h"
#include "database/SqlServerDialect.h"
#include "database/UnreadableDates.h"
#include "tests/database/EmbeddedFixture.h"

#include <QDateTime>

namespace {

// Dates come back as their stored fields in UTC, whatever the machine's zone
// (DateValues.h).
QDateTime at(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0)
{
    return QDateTime(QDate(y, m, d), QTime(hh, mm, ss), Qt::UTC);
}

class Dialect : public EmbeddedFixture
{
protected:
    QDateTime addMonths(int months, const QString &date)
    {
        const QVariant v = scalar(QStringLiteral("SELECT DATEADD(Month, %1, '%2')").arg(months).arg(date));
        EXPECT_EQ(v.typeId(), QMetaType::QDateTime) << v.toString().toStdString();
        return v.toDateTime();
    }
};

} // namespace

// SQL Server keeps the day and clamps it to the end of a shorter month.
TEST_F(Dialect, dateAddMonth_clampsToMonthEndLikeSqlServer)
{
    EXPECT_EQ(addMonths(1, QStringLiteral("2025-01-31 00:00:00")), at(2025, 2, 28));
    EXPECT_EQ(addMonths(1, QStringLiteral("2024-01-31 00:00:00")), at(2024, 2, 29));
    EXPECT_EQ(addMonths(1, QStringLiteral("2026-08-31 00:00:00")), at(2026, 9, 30));
    EXPECT_EQ(addMonths(12, QStringLiteral("2024-02-29 00:00:00")), at(2025, 2, 28));
    EXPECT_EQ(addMonths(48, QStringLiteral("2024-02-29 00:00:00")), at(2028, 2, 29));
    EXPECT_EQ(addMonths(-1, QStringLiteral("2025-03-31 00:00:00")), at(2025, 2, 28));
    EXPECT_EQ(addMonths(-13, QStringLiteral("2024-03-31 00:00:00")), at(2023, 2, 28));
    EXPECT_EQ(addMonths(1, QStringLiteral("2026-12-15 00:00:00")), at(2027, 1, 15));
    // A month step from a clamped date does not return to the 31st.
    EXPECT_EQ(addMonths(2, QStringLiteral("2025-01-31 00:00:00")), at(2025, 3, 31));
}

TEST_F(Dialect, dateAdd_keepsTimeAndReadsDateOnlyAndSystemText)
{
    EXPECT_EQ(addMonths(24, QStringLiteral("2025-01-05 14:30:15")), at(2027, 1, 5, 14, 30, 15));
    EXPECT_EQ(addMonths(6, QStringLiteral("2025-01-05")), at(2025, 7, 5));
    EXPECT_EQ(scalar(QStringLiteral("SELECT DATEADD(Year, 1, '2024-02-29')")).toDateTime(), at(2025, 2, 28));
    EXPECT_EQ(scalar(QStringLiteral("SELECT DATEADD(day, 1, '2026-12-31 23:00:00')")).toDateTime(), at(2027, 1, 1, 23));
    EXPECT_EQ(scalar(QStringLiteral("SELECT DATEADD(Day, -30, '3/1/2027')")).toDateTime(), at(2027, 1, 30));
    // The interval keyword in any letter case, the function name too.
    EXPECT_EQ(scalar(QStringLiteral("select dateadd(MONTH, 1.9, '2025-01-15')")).toDateTime(), at(2025, 2, 15));
}

TEST_F(Dialect, dateAdd_nullInNullOut)
{
    EXPECT_TRUE(scalar(QStringLiteral("SELECT DATEADD(Month, NULL, '2025-01-05')")).isNull());
    EXPECT_TRUE(scalar(QStringLiteral("SELECT DATEADD(Month, 12, NULL)")).isNull());
    db.exec(QStringLiteral(
        "INSERT INTO TrainingItem (ID, Name, Renews) VALUES (1, 'No renewal', NULL);"
        "INSERT INTO CustomerEmployeeTraining (ID, CompletedDate, TrainingItemID) VALUES (1, NULL, 1);"
        "INSERT INTO CustomerEmployeeTraining (ID, CompletedDate, TrainingItemID) VALUES (2, '2025-01-05 00:00:00', 1);"));
    const QuerySnapshot rows = connection.Query(QStringLiteral(
        "SELECT DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate) AS RenewDate "
        "FROM CustomerEmployeeTraining LEFT JOIN TrainingItem ON CustomerEmployeeTraining.TrainingItemID=TrainingItem.ID"));
    ASSERT_EQ(rows.rows.size(), 2);
    EXPECT_TRUE(rows.rows[0][0].isNull());
    EXPECT_TRUE(rows.rows[1][0].isNull());
}

TEST_F(Dialect, dateAdd_rejectsTextThatIsNoDate)
{
    EXPECT_THROW(scalar(QStringLiteral("SELECT DATEADD(Month, 1, 'soon')")), DbError);
    EXPECT_THROW(scalar(QStringLiteral("SELECT DATEADD(Fortnight, 1, '2025-01-05')")), DbError);
    EXPECT_THROW(scalar(QStringLiteral("SELECT DATEADD(Year, 9000, '2025-01-05')")), DbError);
}

TEST_F(Dialect, plusWithText_concatenatesAndNullStaysNull)
{
    EXPECT_EQ(scalar(QStringLiteral("SELECT 'Jane' + ' ' + 'Doe'")).toString(), QStringLiteral("Jane Doe"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT 1 + 2")).toInt(), 3);
    db.exec(QStringLiteral("INSERT INTO Issues (ID, Description) VALUES (1, NULL);"
                           "INSERT INTO Issues (ID, Description) VALUES (2, '');"
                           "INSERT INTO Issues (ID, Description) VALUES (3, 'Check it');"));
    connection.Execute(QStringLiteral("UPDATE Issues SET Description = Description + '\r\n(done)'"));
    EXPECT_TRUE(db.queryValue(QStringLiteral("SELECT Description FROM Issues WHERE ID=1")).isNull());
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT Description FROM Issues WHERE ID=2")).toString(),
              QStringLiteral("\r\n(done)"));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT Description FROM Issues WHERE ID=3")).toString(),
              QStringLiteral("Check it\r\n(done)"));
    db.exec(QStringLiteral("INSERT INTO CustomerEmployee (FirstName, LastName) VALUES ('Ann', 'Lee')"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT LastName + ', ' + FirstName FROM CustomerEmployee")).toString(),
              QStringLiteral("Lee, Ann"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT ISNULL(NULL + 'x', 'was null')")).toString(), QStringLiteral("was null"));
}

TEST_F(Dialect, textEquality_ignoresLetterCase)
{
    db.exec(
        QStringLiteral("INSERT INTO ServiceContract (ID, Status) VALUES (1, 'ACTIVE');"
                       "INSERT INTO ServiceContract (ID, Status) VALUES (2, 'Inactive');"
                       "INSERT INTO AutomationServer_Alert (Item, Category) VALUES ('training expire', 'Contract')"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM ServiceContract WHERE Status='Active'")).toInt(), 1);
    Recordset rs;
    rs.Open(QStringLiteral("SELECT * FROM AutomationServer_Alert WHERE Item = 'Training Expire'"), connection);
    EXPECT_FALSE(rs.Eof());
}

TEST_F(Dialect, dateTextLiterals_storeAndCompareAsDates)
{
    connection.Execute(QStringLiteral(
        "INSERT INTO Issues (ID, IssueDate, EnteredDate) VALUES (1, '1/5/2027', '12/7/2026 2:05:09 PM')"));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT IssueDate FROM Issues")).toString(),
              QStringLiteral("2027-01-05 00:00:00"));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT EnteredDate FROM Issues")).toString(),
              QStringLiteral("2026-12-07 14:05:09"));

    Recordset rs;
    rs.Open(QStringLiteral("SELECT IssueDate, EnteredDate FROM Issues"), connection);
    EXPECT_EQ(rs.Field(QStringLiteral("IssueDate")).typeId(), QMetaType::QDateTime);
    EXPECT_EQ(rs.Field(QStringLiteral("IssueDate")).toDateTime(), at(2027, 1, 5));
    EXPECT_EQ(rs.Field(QStringLiteral("EnteredDate")).toDateTime(), at(2026, 12, 7, 14, 5, 9));

    // 1/5 is 5 January, not 1 May; 12 AM is midnight.
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues WHERE IssueDate <= '1/5/2027'")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues WHERE IssueDate < '1/5/2027'")).toInt(), 0);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues WHERE IssueDate > '1/4/2027 11:59:59 PM'")).toInt(),
              1);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues WHERE EnteredDate = '12/7/2026 2:05:09 PM'")).toInt(),
              1);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues WHERE IssueDate > '4/30/2027'")).toInt(), 0);
    EXPECT_EQ(scalar(QStringLiteral("SELECT DATEADD(Day, 0, '1/1/2027 12:00:00 AM')")).toDateTime(), at(2027, 1, 1));
    // Alone, the literal is text, as on SQL Server.
    EXPECT_EQ(scalar(QStringLiteral("SELECT '1/1/2027 12:00:00 AM'")).toString(),
              QStringLiteral("1/1/2027 12:00:00 AM"));
}

TEST_F(Dialect, dateColumn_storedDateOnly_readsAsDateTime)
{
    db.exec(QStringLiteral("INSERT INTO CustomerEmployeeTraining (ID, CompletedDate) VALUES (1, '2025-03-31')"));
    Recordset rs;
    rs.Open(QStringLiteral("SELECT CompletedDate FROM CustomerEmployeeTraining"), connection);
    EXPECT_EQ(rs.Field(QStringLiteral("CompletedDate")).toDateTime(), at(2025, 3, 31));
}

// The de-duplication of notifications and issues rests on this equality.
TEST_F(Dialect, castOfDateAdd_equalsTheSameDateStoredFromItsText)
{
    db.exec(QStringLiteral(
        "INSERT INTO TrainingItem (ID, Renews) VALUES (1, 1);"
        "INSERT INTO CustomerEmployeeTraining (ID, CompletedDate, TrainingItemID) VALUES (1, '2024-01-31 00:00:00', 1);"
        "INSERT INTO CustomerEmployeeTraining (ID, CompletedDate, TrainingItemID) VALUES (2, '2024-06-10 09:15:00', 1);"));
    connection.Execute(QStringLiteral("INSERT INTO Issues (ItemID, AUTO_Date) VALUES (1, '2/29/2024')"));
    connection.Execute(QStringLiteral("INSERT INTO Issues (ItemID, AUTO_Date) VALUES (2, '7/10/2024 9:15:00 AM')"));
    connection.Execute(QStringLiteral("INSERT INTO Issues (ItemID, AUTO_Date) VALUES (1, '3/1/2024')"));
    const QuerySnapshot rows = connection.Query(QStringLiteral(
        "SELECT CustomerEmployeeTraining.ID, Issues.AUTO_Date FROM CustomerEmployeeTraining "
        "LEFT JOIN TrainingItem ON CustomerEmployeeTraining.TrainingItemID=TrainingItem.ID "
        "JOIN Issues ON CustomerEmployeeTraining.ID=Issues.ItemID AND "
        "CAST(DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate) AS VarChar)=Issues.AUTO_Date "
        "ORDER BY CustomerEmployeeTraining.ID"));
    ASSERT_EQ(rows.rows.size(), 2);
    EXPECT_EQ(rows.rows[0][0].toInt(), 1);
    EXPECT_EQ(rows.rows[0][1].toDateTime(), at(2024, 2, 29));
    EXPECT_EQ(rows.rows[1][0].toInt(), 2);
    EXPECT_EQ(rows.rows[1][1].toDateTime(), at(2024, 7, 10, 9, 15));
}

TEST_F(Dialect, castToVarChar_cutsToLengthLikeSqlServer)
{
    EXPECT_EQ(scalar(QStringLiteral("SELECT CAST('abcdefghij' AS VarChar(4))")).toString(), QStringLiteral("abcd"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT CAST(42 AS nvarchar)")).toString(), QStringLiteral("42"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT LENGTH(CAST('%1' AS VARCHAR))").arg(QString(40, QLatin1Char('x')))).toInt(),
              30);
    EXPECT_EQ(scalar(QStringLiteral("SELECT CAST('1/5/2027' AS DateTime)")).toDateTime(), at(2027, 1, 5));
}

TEST_F(Dialect, top_limitsItsOwnQueryLevel)
{
    db.exec(QStringLiteral("INSERT INTO Company (Name) VALUES ('First');"
                           "INSERT INTO Company (Name) VALUES ('Second');"
                           "INSERT INTO Issues (ItemID, Status) VALUES (1, 'Open');"
                           "INSERT INTO Issues (ItemID, Status) VALUES (1, 'Open');"
                           "INSERT INTO Issues (ItemID, Status) VALUES (2, 'Open');"));
    EXPECT_EQ(connection.Query(QStringLiteral("SELECT TOP 1 * FROM Company")).rows.size(), 1);
    EXPECT_EQ(scalar(QStringLiteral("SELECT TOP 1 Name FROM Company ORDER BY Name DESC")).toString(),
              QStringLiteral("Second"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM (SELECT TOP 2 ID FROM Issues ORDER BY ID) t")).toInt(), 2);
    EXPECT_EQ(scalar(QStringLiteral(
                         "SELECT COUNT(*) FROM Issues WHERE ID IN (SELECT TOP (1) ID FROM Issues WHERE ItemID=1)"))
                  .toInt(),
              1);
    EXPECT_EQ(connection.Query(QStringLiteral("SELECT DISTINCT TOP 5 ItemID FROM Issues -- two items")).rows.size(), 2);
}

// Nothing inside a text literal or a quoted name is ever rewritten.
TEST_F(Dialect, literalsAndQuotedNames_passUntouched)
{
    const QStringList hostile = {
        QStringLiteral("TOP 1 + Sons"),
        QStringLiteral("DATEADD(Month,1,x) and ISNULL(a,b) and CAST(x AS VarChar)"),
        QStringLiteral("1/5/2027 is not a date here"),
        QStringLiteral("a + b"),
        QStringLiteral("-- not a comment /* nor this */"),
        QStringLiteral("[x] \"y\" N'z'"),
        QStringLiteral("SELECT TOP 5 * FROM Company"),
    };
    for (const QString &text : hostile) {
        QString quoted = text;
        quoted.replace(QLatin1Char('\''), QLatin1String("''"));
        connection.Execute(QStringLiteral("INSERT INTO ServiceContract (CustomerName, Status) VALUES ('") + quoted +
                           QStringLiteral("' + ' Ltd', 'O''Brien''s')"));
    }
    const QList<QVariantList> rows =
        db.queryRows(QStringLiteral("SELECT CustomerName, Status FROM ServiceContract ORDER BY ID"));
    ASSERT_EQ(rows.size(), hostile.size());
    for (int i = 0; i < hostile.size(); ++i) {
        EXPECT_EQ(rows[i][0].toString(), hostile[i] + QStringLiteral(" Ltd"));
        EXPECT_EQ(rows[i][1].toString(), QStringLiteral("O'Brien's"));
    }
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT [TOP 1], \"ISNULL(\" FROM t")),
              QStringLiteral("SELECT [TOP 1], \"ISNULL(\" FROM t"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT N'Zoë'")).toString(), QStringLiteral("Zoë"));
}

TEST(DialectText, rewritesOnlyWhatItMust)
{
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT TOP 1 * FROM Company")),
              QStringLiteral("SELECT * FROM Company LIMIT 1"));
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT ISNULL(a,0) FROM t WHERE b IN (1,2)")),
              QStringLiteral("SELECT ifnull(a,0) FROM t WHERE b IN (1,2)"));
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT x FROM t WHERE a.b = 'Active' AND c+1 > 2")),
              QStringLiteral("SELECT x FROM t WHERE a.b = 'Active' AND c+1 > 2"));
}

// Words are SQL Server's in any letter case; a letter beyond ASCII counts as
// the ASCII one that Qt's case rules make of it (the long s, the Kelvin sign).
TEST(DialectText, readsWordsInAnyLetterCase)
{
    const QList<QPair<QString, QString>> cases = {
        {QStringLiteral("select distinct top 2 x from t"), QStringLiteral("select distinct x from t LIMIT 2")},
        {QStringLiteral("SELECT IsNull(a,0), cAsT(x AS vArChAr(4)) FROM t"),
         QStringLiteral("SELECT ifnull(a,0), VARCHAR_OF(cAsT(x AS TEXT),4) FROM t")},
        {QStringLiteral("SELECT TOPS 1, ISNULLS(a) FROM t"), QStringLiteral("SELECT TOPS 1, ISNULLS(a) FROM t")},
        {QStringLiteral("\u017FELECT TOP 1 x FROM t"), QStringLiteral("\u017FELECT x FROM t LIMIT 1")},
        // A keyword is never an operand of "+", so the chain holds no literal.
        {QStringLiteral("SELECT 1 + LI\u212AE + 'x'"), QStringLiteral("SELECT 1 + LI\u212AE + 'x'")},
        {QStringLiteral("SELECT 1 + L\u00CFKE + 'x'"), QStringLiteral("SELECT 1 || L\u00CFKE || 'x'")},
    };
    for (const auto &[sql, expected] : cases)
        EXPECT_EQ(RewriteSqlServerDialect(sql), expected) << sql.toStdString();
}

// Rewrites that move or drop tokens never run two of them together into a
// comment or one literal, and leave shapes they do not know as written.
TEST(DialectText, neverJoinsTokensItMovesOrDrops)
{
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT TOP (5 - -1) x FROM t")),
              QStringLiteral("SELECT x FROM t LIMIT (5 - -1)"));
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT 'a'N'b', 'c' FROM t")),
              QStringLiteral("SELECT 'a' 'b', 'c' FROM t"));
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT CAST(x AS VarChar 'b') FROM t")),
              QStringLiteral("SELECT CAST(x AS VarChar 'b') FROM t"));
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT DATEADD(Month'x', 1, d) FROM t")),
              QStringLiteral("SELECT DATEADD(Month'x', 1, d) FROM t"));
    EXPECT_EQ(RewriteSqlServerDialect(QStringLiteral("SELECT CAST(x AS VarChar(4)) FROM t")),
              QStringLiteral("SELECT VARCHAR_OF(CAST(x AS TEXT),4) FROM t"));
    // Run together with a word, a count or a function name is not one.
    for (const char *unchanged : {"SELECT TOP 1C x FROM t", "SELECT 0CAST(y AS DATETIME) FROM t",
                                  "SELECT $CAST(y AS DATETIME) FROM t", "SELECT DATEADD($m$, 1, d) FROM t"}) {
        EXPECT_EQ(RewriteSqlServerDialect(QString::fromLatin1(unchanged)), QString::fromLatin1(unchanged));
    }
    // A literal that never closes would swallow the moved LIMIT.
    const QString open = QStringLiteral("SELECT TOP 1 x FROM t WHERE a = 'never closed");
    EXPECT_EQ(RewriteSqlServerDialect(open), open);
}

// Where the system depends on SQL Server's own behaviour, the embedded
// database behaves the same, so that a statement that misbehaves on the
// server misbehaves here too. Each case failed on the kinder behaviour.
TEST_F(Dialect, behavesAsStrictlyAsSqlServer)
{
    struct Case
    {
        const char *rule, *sql;
        QVariant expected;
    };
    db.exec(QStringLiteral(
        "INSERT INTO TrainingItem (ID, Renews) VALUES (1, 12);"
        "INSERT INTO CustomerEmployeeTraining (ID, CompletedDate, TrainingItemID) VALUES (1, '2026-01-05 00:00:00', 1);"
        "INSERT INTO CustomerEmployeeTraining (ID, CompletedDate, TrainingItemID) VALUES (2, '2026-01-05 14:05:09', 1);"
        "INSERT INTO Issues (ItemID, AUTO_Date) VALUES (1, '2027-01-05 00:00:00');"
        "INSERT INTO Issues (ItemID, AUTO_Date) VALUES (2, '2027-01-05 14:05:09');"
        "INSERT INTO AutomationServer_EmailsSent (EmailTo, EmailSent) VALUES ('   ', 0);"));
    connection.Execute(QStringLiteral(
        "INSERT INTO CustomerEmployeeTraining (ID, CompletedDate) VALUES (3, '2026-01-05 09:30:41.999')"));
    connection.Execute(QStringLiteral(
        "INSERT INTO CustomerEmployeeTraining (ID, CompletedDate) VALUES (4, '2026-01-05 09:30:41.995')"));
    const QString renewal = QStringLiteral("DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate)");
    const Case cases[] = {
        {"CAST of a date-time to VarChar is style 0",
         "SELECT CAST(DATEADD(Month, 1, '2026-12-05 14:05:09') AS VarChar)", QStringLiteral("Jan  5 2027  2:05PM")},
        {"... cut to its length", "SELECT CAST(DATEADD(Day, 0, '2027-01-05') AS VarChar(6))", QStringLiteral("Jan  5")},
        {"datetime rounds to 1/300 s", "SELECT CompletedDate FROM CustomerEmployeeTraining WHERE ID = 3",
         at(2026, 1, 5, 9, 30, 42)},
        {"... .995 to .997", "SELECT CompletedDate FROM CustomerEmployeeTraining WHERE ID = 4",
         QDateTime(QDate(2026, 1, 5), QTime(9, 30, 41, 997), Qt::UTC)},
        {"style-0 text compared with a date column loses its seconds",
         "SELECT COUNT(*) FROM CustomerEmployeeTraining JOIN TrainingItem ON TrainingItemID = TrainingItem.ID"
         " JOIN Issues ON CustomerEmployeeTraining.ID = Issues.ItemID AND CAST(RENEWAL AS VarChar)=Issues.AUTO_Date",
         1},
        {"= and <> ignore trailing blanks",
         "SELECT COUNT(*) FROM AutomationServer_EmailsSent WHERE EmailSent=0 AND EmailTo<>''", 0},
        {"CONVERT style 120 drops the fraction",
         "SELECT CONVERT(VarChar(19),DATEADD(Day,0,'2027-01-05 09:30:41.250'),120) = '2027-01-05 09:30:41'", 1},
        {"TRY_CONVERT reads the server's style-0 text",
         "SELECT CONVERT(VarChar(19),TRY_CONVERT(datetime,'Jan  5 2027  9:30AM'),120) = '2027-01-05 09:30:00'", 1},
        {"TRY_CONVERT of no date is Null", "SELECT TRY_CONVERT(datetime,'2026-13-45') IS NULL", 1},
        {"... and each CONVERT keeps its own type",
         "SELECT CONVERT(VarChar(10),'2027-01-05 09:30:41',120) || '|' || "
         "CONVERT(VarChar(19),TRY_CONVERT(datetime,'1/5/2027'),120)",
         QStringLiteral("2027-01-05|2027-01-05 00:00:00")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(scalar(QString::fromLatin1(c.sql).replace(QStringLiteral("RENEWAL"), renewal)), c.expected) << c.rule;
}

// The columns refuse, with the server's message, what SQL Server's refuse,
// and bit columns keep 0 and 1 only.
TEST_F(Dialect, columnsRefuseWhatSqlServerRefuses)
{
    const struct
    {
        const char *values, *message;
    } refused[] = {
        {"(Status) VALUES ('Open and waiting for a reply')",
         "String or binary data would be truncated in table 'Issues', column 'Status'."},
        {"(DueDate) VALUES ('not a date')", "Conversion failed when converting date and/or time"},
        {"(DueDate) VALUES ('')", "Conversion failed when converting date and/or time"},
        {"(DueDate) VALUES ('2026-13-45')", "Conversion failed when converting date and/or time"},
    };
    for (const auto &r : refused) {
        try {
            connection.Execute(QStringLiteral("INSERT INTO Issues ") + QLatin1String(r.values));
            ADD_FAILURE() << "stored: " << r.values;
        } catch (const DbError &e) {
            EXPECT_TRUE(e.message().startsWith(QLatin1String(r.message))) << e.message().toStdString();
        }
    }
    db.exec(QStringLiteral("INSERT INTO CustomerEmployee (ID, Suspended, Terminated) VALUES (1, -1, 'FALSE');"
                           "INSERT INTO CustomerEmployee (ID, Suspended, Terminated) VALUES (2, 'TRUE', 2);"
                           "UPDATE CustomerEmployee SET Terminated = 0.5 WHERE ID = 1;"));
    EXPECT_EQ(db.queryRows(QStringLiteral("SELECT Suspended, Terminated FROM CustomerEmployee ORDER BY ID")),
              (QList<QVariantList>{{1, 1}, {1, 1}}));
    EXPECT_THROW(db.exec(QStringLiteral("INSERT INTO CustomerEmployee (Suspended) VALUES ('maybe')")),
                 std::runtime_error);
}

// Text in a date column that is no date leaves out its row alone, and the
// row is named; a literal that is no date still fails the statement.
TEST_F(Dialect, dateTextThatIsNoDate_leavesOutItsRowAndNamesTableColumnAndRow)
{
    db.exec(QStringLiteral("CREATE TABLE HostTraining (ID INTEGER PRIMARY KEY, CompletedDate NVARCHAR(30));"
                           "INSERT INTO HostTraining VALUES (7, 'not a date'), (8, ''), (9, '2026-13-45'),"
                           " (10, '2026-01-05 00:00:00');"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM HostTraining WHERE "
                                    "DATEADD(Month,12,HostTraining.CompletedDate) <= '1/5/2027'"))
                  .toInt(),
              1);
    const QStringList lines = TakeUnreadableDateLines(2);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(
        lines[0].startsWith(QLatin1String("HostTraining.CompletedDate of the row with ID 7 holds 'not a date'")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QLatin1String("HostTraining.CompletedDate of the row with ID 8 holds ''")));
    EXPECT_TRUE(lines[2].startsWith(QLatin1String("1 more row(s)")));
    EXPECT_TRUE(TakeUnreadableDateLines().isEmpty());
}
