// The rule load against a real rule row: values held as read, conversions,
// range checks, and what a failing or missing row leaves behind.
#include "tests/alerts/TrainingDatabase.h"

#include "alerts/TrainingExpireRule.h"
#include "database/Clock.h"

using RuleLoad = TrainingDatabase;

TEST_F(RuleLoad, fullRow_loadsEveryFieldKeepingKinds)
{
    AddRule(QStringLiteral("EmailContractManager = NULL, EmailClient = 0, IssuePriority = 2"));
    LoadTrainingExpireRule();
    EXPECT_EQ(TrainingExpireRule.Category, QStringLiteral("Contract"));
    EXPECT_TRUE(TrainingExpireRule.EmailContractManager.isNull());
    EXPECT_FALSE(TrainingExpireRule.EmailClient.isNull());
    EXPECT_EQ(TrainingExpireRule.EmailClient.toInt(), 0);
    EXPECT_EQ(TrainingExpireRule.DaysInAdvance, 30);
    EXPECT_EQ(TrainingExpireRule.CreateIssueDaysInAdvance, 15);
    EXPECT_EQ(TrainingExpireRule.IssuePriority.toInt(), 2);
    EXPECT_TRUE(TrainingExpireRule.AutoCloseIssue);
    EXPECT_TRUE(EmailSwitchIsOn()); // Null Or on Or off
}

TEST_F(RuleLoad, emailSwitches_nullAndOffCountAsOff)
{
    AddRule(QStringLiteral("EmailContractManager = NULL, EmailContractSpecialist = 0, EmailClient = NULL"));
    LoadTrainingExpireRule();
    EXPECT_FALSE(EmailSwitchIsOn());
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET EmailClient = 1"));
    LoadTrainingExpireRule();
    EXPECT_TRUE(EmailSwitchIsOn());
    // A host whose switch column is text, not bit, may hold anything.
    db.exec(QStringLiteral("PRAGMA ignore_check_constraints = ON;"
                           "UPDATE AutomationServer_Alert SET EmailClient = 'maybe';"
                           "PRAGMA ignore_check_constraints = OFF"));
    LoadTrainingExpireRule();
    EXPECT_THROW(EmailSwitchIsOn(), TrainingExpireRuleError);
}

TEST_F(RuleLoad, fractionalDayCounts_roundHalfToEven)
{
    AddRule();
    const struct
    {
        const char *stored;
        qint32 days;
    } cases[] = {{"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"2.4999", 2}, {"'7.5'", 8}, {"' 12 '", 12}, {"0.5", 0}};
    for (const auto &c : cases) {
        db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET DaysInAdvance = %1, CreateIssueDaysInAdvance = %1")
                    .arg(QLatin1String(c.stored)));
        LoadTrainingExpireRule();
        EXPECT_EQ(TrainingExpireRule.DaysInAdvance, c.days) << c.stored;
        EXPECT_EQ(TrainingExpireRule.CreateIssueDaysInAdvance, c.days) << c.stored;
    }
}

TEST_F(RuleLoad, dayCountRanges_limitsPassBeyondOverflows)
{
    AddRule(QStringLiteral("DaysInAdvance = 2147483647, CreateIssueDaysInAdvance = -32768"));
    LoadTrainingExpireRule();
    EXPECT_EQ(TrainingExpireRule.DaysInAdvance, 2147483647);
    EXPECT_EQ(TrainingExpireRule.CreateIssueDaysInAdvance, -32768);

    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET DaysInAdvance = 2147483648"));
    try {
        LoadTrainingExpireRule();
        FAIL() << "no overflow";
    } catch (const TrainingExpireRuleError &error) {
        EXPECT_EQ(error.ErrorKind, TrainingExpireRuleError::Kind::Overflow);
        EXPECT_EQ(error.Column, QStringLiteral("DaysInAdvance"));
        EXPECT_TRUE(error.message().contains(QStringLiteral("2147483648")));
    }
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET DaysInAdvance = 1, CreateIssueDaysInAdvance = 32767.5"));
    EXPECT_THROW(LoadTrainingExpireRule(), TrainingExpireRuleError);
}

TEST_F(RuleLoad, overflowInIssueDays_keepsEarlierColumnsLoadedLaterOnesOld)
{
    AddRule();
    LoadTrainingExpireRule();
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET Category = 'Contract Employee', EmailClient = 0,"
                           " DaysInAdvance = 45, CreateIssue = 0, CreateIssueDaysInAdvance = 40000,"
                           " IssuePriority = 'Low', AutoCloseIssue = 0"));
    try {
        LoadTrainingExpireRule();
        FAIL() << "no overflow";
    } catch (const TrainingExpireRuleError &error) {
        EXPECT_EQ(error.ErrorKind, TrainingExpireRuleError::Kind::Overflow);
        EXPECT_EQ(error.Column, QStringLiteral("CreateIssueDaysInAdvance"));
    }
    EXPECT_EQ(TrainingExpireRule.Category, QStringLiteral("Contract Employee"));
    EXPECT_EQ(TrainingExpireRule.EmailClient.toInt(), 0);
    EXPECT_EQ(TrainingExpireRule.DaysInAdvance, 45);
    EXPECT_EQ(TrainingExpireRule.CreateIssue.toInt(), 0);
    EXPECT_EQ(TrainingExpireRule.CreateIssueDaysInAdvance, 15);
    EXPECT_EQ(TrainingExpireRule.IssuePriority.toString(), QStringLiteral("High"));
    EXPECT_TRUE(TrainingExpireRule.AutoCloseIssue);
}

TEST_F(RuleLoad, nullOrTextWhereValueNeeded_isInvalidValueNamingColumn)
{
    AddRule();
    const struct
    {
        const char *assignment;
        const char *column;
    } cases[] = {
        {"Category = NULL", "Category"},
        {"DaysInAdvance = NULL", "DaysInAdvance"},
        {"DaysInAdvance = 'ten'", "DaysInAdvance"},
        {"CreateIssueDaysInAdvance = ''", "CreateIssueDaysInAdvance"},
        {"AutoCloseIssue = NULL", "AutoCloseIssue"},
    };
    for (const auto &c : cases) {
        db.exec(QStringLiteral("DELETE FROM AutomationServer_Alert"));
        AddRule(QLatin1String(c.assignment));
        try {
            LoadTrainingExpireRule();
            ADD_FAILURE() << c.assignment << " loaded";
        } catch (const TrainingExpireRuleError &error) {
            EXPECT_EQ(error.ErrorKind, TrainingExpireRuleError::Kind::InvalidValue) << c.assignment;
            EXPECT_EQ(error.Column, QLatin1String(c.column));
        }
    }
    // A Null AutoCloseIssue is read last: every other column already holds the row's values.
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET AutoCloseIssue = NULL, IssuePriority = 'Urgent'"));
    TrainingExpireRule.AutoCloseIssue = true;
    EXPECT_THROW(LoadTrainingExpireRule(), TrainingExpireRuleError);
    EXPECT_EQ(TrainingExpireRule.IssuePriority.toString(), QStringLiteral("Urgent"));
    EXPECT_TRUE(TrainingExpireRule.AutoCloseIssue);
}

TEST_F(RuleLoad, missingRow_keepsPreviousValues)
{
    LoadTrainingExpireRule();
    EXPECT_TRUE(TrainingExpireRule.Category.isEmpty());
    EXPECT_FALSE(TrainingExpireRule.AutoCloseIssue);
    EXPECT_FALSE(EmailSwitchIsOn());

    AddRule(QStringLiteral("Category = 'Contract Employee', DaysInAdvance = 9"));
    LoadTrainingExpireRule();
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET Item = 'Something Else'"));
    LoadTrainingExpireRule();
    EXPECT_EQ(TrainingExpireRule.Category, QStringLiteral("Contract Employee"));
    EXPECT_EQ(TrainingExpireRule.DaysInAdvance, 9);
    EXPECT_TRUE(TrainingExpireRule.AutoCloseIssue);
}

TEST_F(RuleLoad, windowDates_followTodayAndTheDayCounts)
{
    AddRule(QStringLiteral("DaysInAdvance = 30, CreateIssueDaysInAdvance = 0"));
    LoadTrainingExpireRule();
    EXPECT_EQ(IssueWindowDate(), QDate(2026, 12, 7));
    EXPECT_EQ(NotificationWindowDate(), QDate(2027, 1, 6));
    db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET CreateIssueDaysInAdvance = -7"));
    LoadTrainingExpireRule();
    EXPECT_EQ(IssueWindowDate(), QDate(2026, 11, 30));
    // Computed when asked, from the clock as it then stands (a poll after midnight).
    SetClockForTests([] { return QDateTime(QDate(2026, 12, 8), QTime(0, 0, 30)); });
    EXPECT_EQ(IssueWindowDate(), QDate(2026, 12, 1));
    EXPECT_EQ(NotificationWindowDate(), QDate(2027, 1, 7));
}
