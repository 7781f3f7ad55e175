#include "database/SqlServerDialect.h"
#include "tests/database/EmbeddedFixture.h"

#include <QStringList>

// Compared as standard strings so that a failure shows the SQL text.
#define EXPECT_SQL(actual, expected) EXPECT_EQ((actual).toStdString(), (expected).toStdString())

// A text in the system's date form ('1/5/2027', '12/7/2026 2:05:09 PM') is a
// date only where it meets a date; anywhere else it is text and must reach
// the database exactly as written.

namespace {

// Issues.IssueDate and AutomationServer_Emails.ItemKey are dates; Notes has
// a text column that happens to be called IssueDate too.
SchemaDateColumns sampleSchema()
{
    SchemaDateColumns schema;
    schema.AddColumn(QStringLiteral("Issues"), QStringLiteral("ID"), false);
    schema.AddColumn(QStringLiteral("Issues"), QStringLiteral("IssueDate"), true);
    schema.AddColumn(QStringLiteral("Issues"), QStringLiteral("Priority"), false);
    schema.AddColumn(QStringLiteral("Issues"), QStringLiteral("ItemDesc"), false);
    schema.AddColumn(QStringLiteral("AutomationServer_Emails"), QStringLiteral("ItemKey"), true);
    schema.AddColumn(QStringLiteral("Notes"), QStringLiteral("IssueDate"), false);
    schema.AddColumn(QStringLiteral("Notes"), QStringLiteral("IssueID"), false);
    return schema;
}

QString rewrite(const QString &sql)
{
    return RewriteSqlServerDialect(sql, [] { return sampleSchema(); });
}

const QString kIso = QStringLiteral("'2027-01-05 00:00:00'");

} // namespace

TEST(DateLiteralContext, comparedWithDateColumn_becomesIsoWhateverTheQualifier)
{
    EXPECT_SQL(rewrite(QStringLiteral("SELECT ID FROM Issues WHERE IssueDate <= '1/5/2027'")),
               QStringLiteral("SELECT ID FROM Issues WHERE IssueDate <= ") + kIso);
    EXPECT_SQL(rewrite(QStringLiteral("SELECT ID FROM Issues i WHERE '1/5/2027'>i.IssueDate")),
               QStringLiteral("SELECT ID FROM Issues i WHERE ") + kIso + QStringLiteral(">i.IssueDate"));
    EXPECT_SQL(rewrite(QStringLiteral("SELECT ID FROM Issues AS i WHERE i.[IssueDate]<>'12/7/2026 2:05:09 PM'")),
               QStringLiteral("SELECT ID FROM Issues AS i WHERE i.[IssueDate]<>'2026-12-07 14:05:09'"));
    EXPECT_SQL(rewrite(QStringLiteral("SELECT ID FROM Issues WHERE Issues.issuedate != '1/5/2027'")),
               QStringLiteral("SELECT ID FROM Issues WHERE Issues.issuedate != ") + kIso);
    // A derived table's column: looked up in the tables of the statement.
    EXPECT_SQL(rewrite(
                   QStringLiteral("SELECT * FROM (SELECT IssueDate FROM Issues) x WHERE x.IssueDate >= '1/5/2027'")),
               QStringLiteral("SELECT * FROM (SELECT IssueDate FROM Issues) x WHERE x.IssueDate >= ") + kIso);
    EXPECT_SQL(rewrite(QStringLiteral("SELECT ID FROM Issues WHERE IssueDate NOT IN ('1/5/2027',NULL, '1/5/2027')")),
               QStringLiteral("SELECT ID FROM Issues WHERE IssueDate NOT IN (") + kIso + QStringLiteral(",NULL, ") +
                   kIso + QStringLiteral(")"));
    EXPECT_SQL(rewrite(QStringLiteral("SELECT ID FROM Issues WHERE IssueDate BETWEEN '1/5/2027' AND '1/5/2027'")),
               QStringLiteral("SELECT ID FROM Issues WHERE IssueDate BETWEEN ") + kIso + QStringLiteral(" AND ") +
                   kIso);
    EXPECT_SQL(rewrite(QStringLiteral(
                   "SELECT 1 FROM Issues WHERE IssueDate NOT BETWEEN DATEADD(Day,-1,IssueDate) AND '1/5/2027'")),
               QStringLiteral("SELECT 1 FROM Issues WHERE IssueDate NOT BETWEEN DATEADD('Day',-1,IssueDate) AND ") +
                   kIso);
}

TEST(DateLiteralContext, comparedWithTextColumn_staysAsWritten)
{
    const QStringList untouched = {
        QStringLiteral("SELECT ID FROM Issues WHERE Priority = '1/5/2027'"),
        QStringLiteral("SELECT ID FROM Issues i WHERE '12/7/2026 2:05:09 PM' = i.ItemDesc"),
        // The same column name is text in the table the qualifier names.
        QStringLiteral(
            "SELECT n.IssueID FROM Notes n JOIN Issues i ON n.IssueID = i.ID WHERE n.IssueDate = '1/5/2027'"),
        QStringLiteral("SELECT * FROM Notes WHERE Notes.IssueDate = '1/5/2027'"),
        // Contexts where no date meets the literal.
        QStringLiteral("SELECT ID FROM Issues WHERE Priority IN ('1/5/2027', '1/6/2027')"),
        QStringLiteral("SELECT ID FROM Issues WHERE ItemDesc LIKE '1/5/2027'"),
        QStringLiteral("SELECT '1/5/2027' AS Shown, IssueDate FROM Issues"),
        QStringLiteral("SELECT COALESCE(Priority, '1/5/2027') FROM Issues"),
        QStringLiteral("SELECT ID FROM Issues WHERE Priority BETWEEN '1/5/2027' AND '1/6/2027'"),
        // A column no table of the statement has.
        QStringLiteral("SELECT ID FROM Notes WHERE ItemKey = '1/5/2027'"),
    };
    for (const QString &sql : untouched)
        EXPECT_SQL(rewrite(sql), sql);
    // Without the database's column types no column is known to be a date.
    const QString dateColumn = QStringLiteral("SELECT ID FROM Issues WHERE IssueDate <= '1/5/2027'");
    EXPECT_SQL(RewriteSqlServerDialect(dateColumn), dateColumn);
}

TEST(DateLiteralContext, comparedWithDateFunction_becomesIsoWithoutTheSchema)
{
    EXPECT_SQL(RewriteSqlServerDialect(
                   QStringLiteral("SELECT 1 FROM t WHERE DATEADD(Month,t.Renews,t.Done) <= '1/5/2027'")),
               QStringLiteral("SELECT 1 FROM t WHERE DATEADD('Month',t.Renews,t.Done,'t.Done',t.rowid) <= ") + kIso);
    EXPECT_SQL(RewriteSqlServerDialect(QStringLiteral("SELECT 1 WHERE '1/5/2027'<GETDATE()")),
               QStringLiteral("SELECT 1 WHERE ") + kIso + QStringLiteral("<GETDATE()"));
    EXPECT_SQL(RewriteSqlServerDialect(QStringLiteral("SELECT 1 WHERE CAST(x AS DateTime) > '1/5/2027'")),
               QStringLiteral("SELECT 1 WHERE DATEADD('day',0,x  ) > ") + kIso);
    // The date of DATEADD and the value of a cast to a date.
    EXPECT_SQL(RewriteSqlServerDialect(QStringLiteral("SELECT DATEADD(Day, 1, '1/5/2027')")),
               QStringLiteral("SELECT DATEADD('Day', 1, ") + kIso + QStringLiteral(")"));
    EXPECT_SQL(RewriteSqlServerDialect(QStringLiteral("SELECT CAST('1/5/2027' AS DateTime)")),
               QStringLiteral("SELECT DATEADD('day',0,") + kIso + QStringLiteral("  )"));
    // A cast to text is text; DATEADD's other arguments are no dates.
    const QStringList untouched = {
        QStringLiteral("SELECT 1 WHERE CAST(x AS VarChar) = '1/5/2027'"),
        QStringLiteral("SELECT 1 WHERE LOWER(x) = '1/5/2027'"),
        QStringLiteral("SELECT CAST('1/5/2027' AS VarChar(10))"),
    };
    for (const QString &sql : untouched)
        EXPECT_TRUE(RewriteSqlServerDialect(sql).contains(QLatin1String("'1/5/2027'"))) << sql.toStdString();
}

TEST(DateLiteralContext, insertValues_convertOnlyDateColumnsOfThatTable)
{
    EXPECT_SQL(rewrite(QStringLiteral(
                   "INSERT INTO Issues (Priority,IssueDate,ItemDesc) VALUES ('1/5/2027','1/5/2027','1/5/2027')")),
               QStringLiteral("INSERT INTO Issues (Priority,IssueDate,ItemDesc) VALUES ('1/5/2027',") + kIso +
                   QStringLiteral(",'1/5/2027')"));
    // Every row of a multi-row VALUES; a quoted column name.
    EXPECT_SQL(rewrite(QStringLiteral(
                   "INSERT INTO Issues ([IssueDate], Priority) VALUES ('1/5/2027', 'a'), ('1/5/2027', '1/5/2027')")),
               QStringLiteral("INSERT INTO Issues ([IssueDate], Priority) VALUES (") + kIso +
                   QStringLiteral(", 'a'), (") + kIso + QStringLiteral(", '1/5/2027')"));
    // Notes.IssueDate is text even though Issues.IssueDate is a date.
    const QStringList untouched = {
        QStringLiteral("INSERT INTO Notes (IssueID, IssueDate) VALUES (1, '1/5/2027')"),
        QStringLiteral("INSERT INTO Issues (Priority) SELECT '1/5/2027'"),
        QStringLiteral("INSERT INTO Issues (Priority) VALUES ('1/5/2027', '1/5/2027')"),
    };
    for (const QString &sql : untouched)
        EXPECT_SQL(rewrite(sql), sql);
}

TEST(DateLiteralContext, updateSet_convertsOnlyDateColumns)
{
    EXPECT_SQL(rewrite(QStringLiteral(
                   "UPDATE Issues SET Priority='1/5/2027',IssueDate='1/5/2027' WHERE ItemDesc='1/5/2027'")),
               QStringLiteral("UPDATE Issues SET Priority='1/5/2027',IssueDate=") + kIso +
                   QStringLiteral(" WHERE ItemDesc='1/5/2027'"));
    const QString textOnly = QStringLiteral("UPDATE Notes SET IssueDate = '1/5/2027'");
    EXPECT_SQL(rewrite(textOnly), textOnly);
}

TEST(DateLiteralContext, schemaIsAskedOnlyWhenALiteralMeetsAColumn)
{
    int asked = 0;
    const SchemaDateColumnsSource source = [&asked] {
        ++asked;
        return sampleSchema();
    };
    RewriteSqlServerDialect(QStringLiteral("INSERT INTO Issues (Priority) VALUES ('High')"), source);
    RewriteSqlServerDialect(QStringLiteral("SELECT 1 FROM t WHERE DATEADD(Day,1,d) > '1/5/2027'"), source);
    EXPECT_EQ(asked, 0);
    RewriteSqlServerDialect(
        QStringLiteral("UPDATE Issues SET IssueDate='1/5/2027', Priority='1/5/2027' WHERE IssueDate<'1/6/2027'"),
        source);
    EXPECT_EQ(asked, 1);
}

// Through the system's connection: what is stored and what matches.
class DateLiteralStorage : public EmbeddedFixture
{};

TEST_F(DateLiteralStorage, textColumns_keepDateShapedTextAndCompareAsText)
{
    connection.Execute(
        QStringLiteral("INSERT INTO Issues (ID, ItemDesc, Priority, IssueDate, Auto_Date) "
                       "VALUES (1, '1/5/2027', '12/7/2026 2:05:09 PM', '1/5/2027', '12/7/2026 2:05:09 PM')"));
    const QVariantMap row = db.queryRow(QStringLiteral("SELECT ItemDesc, Priority, IssueDate, AUTO_Date FROM Issues"));
    EXPECT_EQ(row.value(QStringLiteral("ItemDesc")).toString(), QStringLiteral("1/5/2027"));
    EXPECT_EQ(row.value(QStringLiteral("Priority")).toString(), QStringLiteral("12/7/2026 2:05:09 PM"));
    EXPECT_EQ(row.value(QStringLiteral("IssueDate")).toString(), QStringLiteral("2027-01-05 00:00:00"));
    EXPECT_EQ(row.value(QStringLiteral("AUTO_Date")).toString(), QStringLiteral("2026-12-07 14:05:09"));

    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues WHERE ItemDesc = '1/5/2027'")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues i WHERE i.Priority='12/7/2026 2:05:09 PM'")).toInt(),
              1);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues i WHERE i.IssueDate='1/5/2027'")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM Issues WHERE ItemDesc = '2027-01-05 00:00:00'")).toInt(), 0);
}

TEST_F(DateLiteralStorage, updateSet_storesTextAsWrittenAndDatesAsIso)
{
    db.exec(QStringLiteral("INSERT INTO Issues (ID, Description) VALUES (7, 'x')"));
    connection.Execute(QStringLiteral("UPDATE Issues SET Description='1/5/2027', EditedBy='12/7/2026 2:05:09 PM', "
                                      "EditedDate='12/7/2026 2:05:09 PM' WHERE ID = 7"));
    const QVariantMap row =
        db.queryRow(QStringLiteral("SELECT Description, EditedBy, EditedDate FROM Issues WHERE ID = 7"));
    EXPECT_EQ(row.value(QStringLiteral("Description")).toString(), QStringLiteral("1/5/2027"));
    EXPECT_EQ(row.value(QStringLiteral("EditedBy")).toString(), QStringLiteral("12/7/2026 2:05:09 PM"));
    EXPECT_EQ(row.value(QStringLiteral("EditedDate")).toString(), QStringLiteral("2026-12-07 14:05:09"));
}

// The column types are kept with the connection; a schema changed by another
// connection after they were first read is read again.
TEST_F(DateLiteralStorage, schemaChangedAfterFirstUse_isSeen)
{
    db.exec(QStringLiteral("CREATE TABLE Visit (ID INTEGER PRIMARY KEY, Note TEXT)"));
    connection.Execute(QStringLiteral("INSERT INTO Visit (ID, Note) VALUES (1, '1/5/2027')"));
    db.exec(QStringLiteral("ALTER TABLE Visit ADD COLUMN VisitDate DATETIME"));
    connection.Execute(QStringLiteral("INSERT INTO Visit (ID, Note, VisitDate) VALUES (2, '1/5/2027', '1/5/2027')"));
    const QList<QVariantList> rows = db.queryRows(QStringLiteral("SELECT Note, VisitDate FROM Visit ORDER BY ID"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][0].toString(), QStringLiteral("1/5/2027"));
    EXPECT_TRUE(rows[0][1].isNull());
    EXPECT_EQ(rows[1][0].toString(), QStringLiteral("1/5/2027"));
    EXPECT_EQ(rows[1][1].toString(), QStringLiteral("2027-01-05 00:00:00"));
}

// A connection reopened on another file must not use the first file's types.
TEST_F(DateLiteralStorage, reopenedOnAnotherFile_usesThatFilesTypes)
{
    connection.Execute(QStringLiteral("INSERT INTO Issues (ID, IssueDate) VALUES (1, '1/5/2027')"));
    TempDatabase other(TempDatabase::Content::Empty);
    other.exec(QStringLiteral("CREATE TABLE Issues (ID INTEGER PRIMARY KEY, IssueDate TEXT)"));
    QString error;
    ASSERT_TRUE(connection.Open(other.connectionString(), &error)) << error.toStdString();
    connection.Execute(QStringLiteral("INSERT INTO Issues (ID, IssueDate) VALUES (1, '1/5/2027')"));
    EXPECT_EQ(other.queryValue(QStringLiteral("SELECT IssueDate FROM Issues")).toString(), QStringLiteral("1/5/2027"));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT IssueDate FROM Issues")).toString(),
              QStringLiteral("2027-01-05 00:00:00"));
}
