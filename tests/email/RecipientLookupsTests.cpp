#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/Recordset.h"
#include "email/RecipientLookups.h"
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

namespace {

class LookupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral(
            "INSERT INTO Employee (ID, FirstName, Email) VALUES (1, 'Zed', 'zed@velmar.test'), "
            "(2, 'Amy', 'amy@velmar.test'), (3, 'Noaddress', NULL), (4, 'Blank', ''), (5, 'Twin', 'amy@velmar.test'), "
            "(6, 'Quote', 'o''neil@velmar.test');"
            "INSERT INTO ServiceContract (ID, Status, EmailEmployee, EmailContract) VALUES "
            "(10, 'Active', 'staff@client.test', 'office@client.test'), (11, 'Active', NULL, NULL), "
            "(12, 'Active', 'x@client.test', 'y@client.test');"
            "INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES "
            "(10, 1), (10, 2), (11, 3), (11, 4), (11, 99), (12, 2), (12, 5), (12, 6);"
            "INSERT INTO Issues (ID, Category, Status) VALUES (20, 'Contract', 'Open'), (21, NULL, 'Open');"));
        QString error;
        ASSERT_TRUE(DatabaseConnection().Open(db.connectionString(), &error)) << error.toStdString();
    }
    void TearDown() override
    {
        SharedRecordset().Close();
        DatabaseConnection().Close();
    }

    TempDatabase db;
};

} // namespace

TEST(LookupStatements, textsAreExactlyTheHostQueries)
{
    EXPECT_EQ(ContractSpecialistEmailsSql(QStringLiteral("42")),
              QStringLiteral("SELECT Email FROM ServiceContractSpecialist LEFT JOIN Employee ON "
                             "ServiceContractSpecialist.EmployeeID = Employee.ID WHERE "
                             "ServiceContractSpecialist.ServiceContractID = 42 ORDER BY Email"));
    EXPECT_EQ(ContractEmailSql(QStringLiteral("42")), QStringLiteral("SELECT * FROM ServiceContract WHERE ID = 42"));
    EXPECT_EQ(IssueCategorySql(QStringLiteral("7")), QStringLiteral("SELECT * FROM Issues WHERE ID = 7"));
}

TEST_F(LookupTest, specialists_giveSortedSemicolonTerminatedList)
{
    EXPECT_EQ(GetContractSpecialistEmails(QStringLiteral("10")), QStringLiteral("amy@velmar.test;zed@velmar.test;"));
    // Duplicates are kept; an apostrophe in an address is just text.
    EXPECT_EQ(GetContractSpecialistEmails(QStringLiteral("12")),
              QStringLiteral("amy@velmar.test;amy@velmar.test;o'neil@velmar.test;"));
}

TEST_F(LookupTest, specialistsWithoutAddressOrNone_giveEmptyText)
{
    // Null address, empty address, and a specialist row whose employee is gone.
    EXPECT_EQ(GetContractSpecialistEmails(QStringLiteral("11")), QString());
    EXPECT_EQ(GetContractSpecialistEmails(QStringLiteral("999")), QString());
}

TEST_F(LookupTest, contractEmail_followsTheExactCategory)
{
    EXPECT_EQ(GetContractEmail(QStringLiteral("10"), QStringLiteral("Contract Employee")),
              QStringLiteral("staff@client.test"));
    EXPECT_EQ(GetContractEmail(QStringLiteral("10"), QStringLiteral("Contract")), QStringLiteral("office@client.test"));
    for (const QString &category : {QStringLiteral("contract"), QStringLiteral("CONTRACT EMPLOYEE"),
                                    QStringLiteral("Contract "), QStringLiteral("Issue"), QString()})
        EXPECT_EQ(GetContractEmail(QStringLiteral("10"), category), QString()) << category.toStdString();
}

TEST_F(LookupTest, contractEmailOfMissingContractOrNullAddress_isEmpty)
{
    for (const QString &category : {QStringLiteral("Contract Employee"), QStringLiteral("Contract")}) {
        EXPECT_EQ(GetContractEmail(QStringLiteral("999"), category), QString());
        EXPECT_EQ(GetContractEmail(QStringLiteral("11"), category), QString());
    }
}

TEST_F(LookupTest, issueCategory_isTheCategoryOrEmpty)
{
    EXPECT_EQ(GetIssueCategory(QStringLiteral("20")), QStringLiteral("Contract"));
    EXPECT_EQ(GetIssueCategory(QStringLiteral("21")), QString());
    EXPECT_EQ(GetIssueCategory(QStringLiteral("999")), QString());
}

TEST_F(LookupTest, missingOrNonNumericId_isRejectedByTheDatabase)
{
    EXPECT_THROW(GetContractSpecialistEmails(QString()), DbError);
    EXPECT_THROW(GetContractEmail(QStringLiteral("abc def"), QStringLiteral("Contract")), DbError);
    EXPECT_THROW(GetIssueCategory(QString()), DbError);
}

TEST_F(LookupTest, lookups_leaveTheCallersRowsWhereTheyWere)
{
    Recordset &rows = SharedRecordset();
    rows.Open(QStringLiteral("SELECT * FROM ServiceContract ORDER BY ID"), DatabaseConnection());
    rows.MoveNext();
    GetContractSpecialistEmails(QStringLiteral("10"));
    GetContractEmail(QStringLiteral("10"), QStringLiteral("Contract"));
    GetIssueCategory(QStringLiteral("20"));
    ASSERT_FALSE(rows.Eof());
    EXPECT_EQ(rows.Field(QStringLiteral("ID")).toInt(), 11);
    rows.Close();
}
