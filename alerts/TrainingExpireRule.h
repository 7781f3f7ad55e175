#pragma once

#include <QDate>
#include <QString>
#include <QVariant>

#include <stdexcept>

// The alert kind this task serves: AutomationServer_Alert.Item of its rule,
// Issues.AUTO_Item of its automatic issues, AutomationServer_Emails.Item of
// its notification log.
QString TrainingExpireAlertKind();

// The "Training Expire" rule. Lives for the whole process and is overwritten
// only by a rule load that finds the row, so the last values loaded stay in
// force when the row disappears. Fields "as read" keep the column's own kind
// (Null, true/false, number or text).
struct TrainingExpireRuleValues
{
    QString Category;
    QVariant EmailContractManager;
    QVariant EmailContractSpecialist;
    QVariant EmailClient;
    qint32 DaysInAdvance = 0;
    QVariant CreateIssue;
    qint16 CreateIssueDaysInAdvance = 0;
    QVariant IssuePriority;
    bool AutoCloseIssue = false;
};

extern TrainingExpireRuleValues TrainingExpireRule;

// A rule column whose value cannot be used: Null where a value is needed, a
// text that is no number or true/false value, or a number outside its range.
class TrainingExpireRuleError : public std::runtime_error
{
public:
    enum class Kind { InvalidValue, Overflow };

    TrainingExpireRuleError(Kind kind, const QString &column, const QString &value, const QString &reason);
    Kind ErrorKind;
    QString Column;
    QString Value; // the value as read, "Null" for Null
    QString message() const;
};

QString TrainingExpireRuleQuery();

// Reads the first row of the rule query into TrainingExpireRule, column by
// column in the table's order. No row: nothing changes. A column that cannot
// be converted throws TrainingExpireRuleError; the columns read before it keep
// their new values. A failing query throws DbError.
void LoadTrainingExpireRule();

// A value as read, tested as a switch: true or a non-zero number is on;
// false, zero and Null are off. A text that is neither a number nor
// "True"/"False" throws TrainingExpireRuleError naming the column.
bool SwitchIsOn(const QVariant &value, const QString &column);

// EmailContractManager Or EmailContractSpecialist Or EmailClient, Null
// counting as false.
bool EmailSwitchIsOn();

// Today plus CreateIssueDaysInAdvance days; today plus DaysInAdvance days.
// Computed afresh from the clock on every call.
QDate IssueWindowDate();
QDate NotificationWindowDate();
