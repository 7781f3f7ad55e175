#include "database/DbError.h"
#include "database/OpenDatabase.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

namespace {
class CompanySettingsTest : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override { DBConnectionString = db.connectionString(); }
    void TearDown() override { CloseDatabase(); }

    void load()
    {
        ASSERT_TRUE(OpenDatabase()) << LastOpenDatabaseError().toStdString();
        LoadCompanySettings();
    }
    // Loads expecting a CompanySettingsError; returns it.
    CompanySettingsError loadFailing()
    {
        EXPECT_TRUE(OpenDatabase()) << LastOpenDatabaseError().toStdString();
        try {
            LoadCompanySettings();
        } catch (const CompanySettingsError &e) {
            return e;
        }
        ADD_FAILURE() << "LoadCompanySettings did not fail";
        return CompanySettingsError(QString(), QString(), QString());
    }
    void insertCompany(const QString &columns, const QString &values)
    {
        db.exec(QStringLiteral("INSERT INTO Company (%1) VALUES (%2)").arg(columns, values));
    }

    TempDatabase db;
};
} // namespace

TEST_F(CompanySettingsTest, query_isTheHostsStatement)
{
    EXPECT_EQ(CompanySettingsSql(), QStringLiteral("SELECT TOP 1 * FROM Company"));
}

TEST_F(CompanySettingsTest, fullRow_isReadIntoEveryField)
{
    insertCompany(QStringLiteral("Name, Address1, Address2, City, State, Zip, Phone, Fax, Email, Website, "
                                 "AutomationServerPoll, AutomationServerEmailFrom, AutomationServerEmailServer, "
                                 "AutomationServerEmailServerPort, AutomationServerEmailUser, "
                                 "AutomationServerEmailPassword, AutomationServerEmailUseSSLTLS, "
                                 "AutomationServerEmailFooter"),
                  QStringLiteral("'O''Brien Safety', '1 Main St', 'Suite 2', 'Tulsa', 'OK', '74103', "
                                 "'555-0100', '555-0101', 'info@obrien.example', 'obrien.example', "
                                 "5, 'alerts@obrien.example', 'smtp.obrien.example', '587', 'mailer', "
                                 "'p@ss', 1, 'Regards,\nO''Brien'"));
    load();
    const CompanySettingsValues &s = CompanySettings;
    EXPECT_EQ(s.Name, QStringLiteral("O'Brien Safety"));
    EXPECT_EQ(s.Address1, QStringLiteral("1 Main St"));
    EXPECT_EQ(s.Address2, QStringLiteral("Suite 2"));
    EXPECT_EQ(s.City, QStringLiteral("Tulsa"));
    EXPECT_EQ(s.State, QStringLiteral("OK"));
    EXPECT_EQ(s.Zip, QStringLiteral("74103"));
    EXPECT_EQ(s.Phone, QStringLiteral("555-0100"));
    EXPECT_EQ(s.Fax, QStringLiteral("555-0101"));
    EXPECT_EQ(s.Email, QStringLiteral("info@obrien.example"));
    EXPECT_EQ(s.Website, QStringLiteral("obrien.example"));
    EXPECT_EQ(s.AutomationServerPoll, 5);
    EXPECT_EQ(s.AutomationServerEmailFrom, QStringLiteral("alerts@obrien.example"));
    EXPECT_EQ(s.AutomationServerEmailServer, QStringLiteral("smtp.obrien.example"));
    EXPECT_EQ(s.AutomationServerEmailServerPort, QStringLiteral("587"));
    EXPECT_EQ(s.AutomationServerEmailUser, QStringLiteral("mailer"));
    EXPECT_EQ(s.AutomationServerEmailPassword, QStringLiteral("p@ss"));
    EXPECT_TRUE(s.AutomationServerEmailUseSSLTLS);
    EXPECT_EQ(s.AutomationServerEmailFooter, QStringLiteral("Regards,\nO'Brien"));
}

TEST_F(CompanySettingsTest, pollWithHalves_roundsToEven)
{
    struct Case
    {
        const char *value;
        qint16 expected;
    };
    const Case cases[] = {{"2.5", 2},   {"3.5", 4},         {"'3.5'", 4},       {"-2.5", -2}, {"2.4999", 2},
                          {"' 7 '", 7}, {"32767.4", 32767}, {"-32768", -32768}, {"0", 0}};
    for (const Case &c : cases) {
        db.exec(QStringLiteral("DELETE FROM Company"));
        insertCompany(QStringLiteral("AutomationServerPoll"), QString::fromLatin1(c.value));
        load();
        EXPECT_EQ(CompanySettings.AutomationServerPoll, c.expected) << c.value;
        CloseDatabase();
    }
}

TEST_F(CompanySettingsTest, portNumber_isHeldAsText_evenWhenNotANumber)
{
    insertCompany(QStringLiteral("AutomationServerEmailServerPort"), QStringLiteral("587"));
    load();
    EXPECT_EQ(CompanySettings.AutomationServerEmailServerPort, QStringLiteral("587"));
    CloseDatabase();
    db.exec(QStringLiteral("UPDATE Company SET AutomationServerEmailServerPort = 'smtp'"));
    load();
    EXPECT_EQ(CompanySettings.AutomationServerEmailServerPort, QStringLiteral("smtp"));
}

TEST_F(CompanySettingsTest, sslFlag_isTrueForAnyNonZero)
{
    const std::pair<const char *, bool> cases[] = {{"0", false},
                                                   {"1", true},
                                                   {"-1", true},
                                                   {"'True'", true},
                                                   {"'0'", false}};
    for (const auto &[value, expected] : cases) {
        db.exec(QStringLiteral("DELETE FROM Company"));
        insertCompany(QStringLiteral("AutomationServerEmailUseSSLTLS"), QString::fromLatin1(value));
        CompanySettings.AutomationServerEmailUseSSLTLS = !expected;
        load();
        EXPECT_EQ(CompanySettings.AutomationServerEmailUseSSLTLS, expected) << value;
        CloseDatabase();
    }
}

TEST_F(CompanySettingsTest, nullColumns_readAsEmptyZeroAndFalse)
{
    CompanySettings.Name = QStringLiteral("old");
    CompanySettings.AutomationServerPoll = 9;
    CompanySettings.AutomationServerEmailUseSSLTLS = true;
    CompanySettings.AutomationServerEmailFooter = QStringLiteral("old footer");
    insertCompany(QStringLiteral("Name, AutomationServerPoll, AutomationServerEmailUseSSLTLS, "
                                 "AutomationServerEmailFooter"),
                  QStringLiteral("NULL, NULL, NULL, NULL"));
    load();
    EXPECT_EQ(CompanySettings.Name, QString());
    EXPECT_EQ(CompanySettings.AutomationServerPoll, 0);
    EXPECT_FALSE(CompanySettings.AutomationServerEmailUseSSLTLS);
    EXPECT_EQ(CompanySettings.AutomationServerEmailFooter, QString());
}

TEST_F(CompanySettingsTest, noRow_changesNothing)
{
    CompanySettings.Name = QStringLiteral("kept");
    CompanySettings.AutomationServerPoll = 3;
    load();
    EXPECT_EQ(CompanySettings.Name, QStringLiteral("kept"));
    EXPECT_EQ(CompanySettings.AutomationServerPoll, 3);
}

TEST_F(CompanySettingsTest, pollOutOfRange_failsNamingColumnAndValue_afterEarlierColumns)
{
    CompanySettings.AutomationServerEmailFrom = QStringLiteral("old from");
    insertCompany(QStringLiteral("Name, AutomationServerPoll, AutomationServerEmailFrom"),
                  QStringLiteral("'Acme', 40000, 'new@acme.example'"));
    const CompanySettingsError e = loadFailing();
    EXPECT_EQ(e.Column, QStringLiteral("AutomationServerPoll"));
    EXPECT_EQ(e.Value, QStringLiteral("40000"));
    EXPECT_TRUE(e.Reason.contains(QLatin1String("AutomationServerPoll")));
    EXPECT_TRUE(e.Reason.contains(QLatin1String("40000")));
    // Read before the failing column, so loaded; after it, untouched.
    EXPECT_EQ(CompanySettings.Name, QStringLiteral("Acme"));
    EXPECT_EQ(CompanySettings.AutomationServerEmailFrom, QStringLiteral("old from"));
}

TEST_F(CompanySettingsTest, pollRoundingPastTheRange_fails)
{
    insertCompany(QStringLiteral("AutomationServerPoll"), QStringLiteral("32767.5"));
    EXPECT_EQ(loadFailing().Column, QStringLiteral("AutomationServerPoll"));
}

TEST_F(CompanySettingsTest, pollNotANumber_fails)
{
    insertCompany(QStringLiteral("AutomationServerPoll"), QStringLiteral("'five'"));
    const CompanySettingsError e = loadFailing();
    EXPECT_EQ(e.Column, QStringLiteral("AutomationServerPoll"));
    EXPECT_EQ(e.Value, QStringLiteral("five"));
}

TEST_F(CompanySettingsTest, sslFlagNotConvertible_fails)
{
    db.useWideColumns(); // a host whose flag column is text
    insertCompany(QStringLiteral("AutomationServerEmailUseSSLTLS"), QStringLiteral("'yes please'"));
    const CompanySettingsError e = loadFailing();
    EXPECT_EQ(e.Column, QStringLiteral("AutomationServerEmailUseSSLTLS"));
    EXPECT_EQ(e.Value, QStringLiteral("yes please"));
}

TEST_F(CompanySettingsTest, missingLastColumn_failsAfterAllOthersAreSet)
{
    db.exec(QStringLiteral(
        "DROP TABLE Company;"
        "CREATE TABLE Company (Name TEXT, Address1 TEXT, Address2 TEXT, City TEXT, State TEXT, Zip TEXT,"
        " Phone TEXT, Fax TEXT, Email TEXT, Website TEXT, AutomationServerPoll INTEGER,"
        " AutomationServerEmailFrom TEXT, AutomationServerEmailServer TEXT, AutomationServerEmailUser TEXT,"
        " AutomationServerEmailPassword TEXT, AutomationServerEmailUseSSLTLS BIT,"
        " AutomationServerEmailServerPort TEXT);"
        "INSERT INTO Company (Name, AutomationServerPoll, AutomationServerEmailServerPort)"
        " VALUES ('Acme', 2, '25');"));
    const CompanySettingsError e = loadFailing();
    EXPECT_EQ(e.Column, QStringLiteral("AutomationServerEmailFooter"));
    EXPECT_TRUE(e.Reason.contains(QLatin1String("AutomationServerEmailFooter")));
    EXPECT_EQ(CompanySettings.Name, QStringLiteral("Acme"));
    EXPECT_EQ(CompanySettings.AutomationServerPoll, 2);
    EXPECT_EQ(CompanySettings.AutomationServerEmailServerPort, QStringLiteral("25"));
}

TEST_F(CompanySettingsTest, missingCompanyTable_throwsTheDatabaseError)
{
    db.exec(QStringLiteral("DROP TABLE Company"));
    ASSERT_TRUE(OpenDatabase());
    EXPECT_THROW(LoadCompanySettings(), DbError);
}
