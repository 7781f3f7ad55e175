#include "alerts/TrainingExpireRule.h"

#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "database/SqlText.h"
#include "database/ValueConversion.h"
#include "database/ValueText.h"

#include <limits>

TrainingExpireRuleValues TrainingExpireRule;

QString TrainingExpireAlertKind()
{
    return QStringLiteral("Training Expire");
}

TrainingExpireRuleError::TrainingExpireRuleError(Kind kind, const QString &column, const QString &value,
                                                 const QString &reason)
    : std::runtime_error(QStringLiteral("AutomationServer_Alert.%1 = %2: %3").arg(column, value, reason).toStdString()),
      ErrorKind(kind), Column(column), Value(value)
{}

QString TrainingExpireRuleError::message() const
{
    return QString::fromStdString(what());
}

namespace {

QString ValueForMessage(const QVariant &value)
{
    return value.isNull() ? QStringLiteral("Null") : QLatin1Char('"') + ValueText(value) + QLatin1Char('"');
}

[[noreturn]] void Invalid(const QString &column, const QVariant &value, const QString &reason)
{
    throw TrainingExpireRuleError(TrainingExpireRuleError::Kind::InvalidValue, column, ValueForMessage(value), reason);
}

qint64 WholeNumber(const QVariant &value, const QString &column, qint64 lowest, qint64 highest)
{
    if (value.isNull())
        Invalid(column, value, QStringLiteral("a whole number is needed, the column is Null"));
    qint64 whole = 0;
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int) {
        whole = value.toLongLong();
    } else {
        const std::optional<double> number = NumberOf(value);
        if (!number)
            Invalid(column, value, QStringLiteral("not a number"));
        const double rounded = RoundHalfToEven(*number);
        if (rounded < double(lowest) || rounded > double(highest))
            throw TrainingExpireRuleError(
                TrainingExpireRuleError::Kind::Overflow, column, ValueForMessage(value),
                QStringLiteral("overflow, the value must lie in %1..%2").arg(lowest).arg(highest));
        whole = qint64(rounded);
    }
    if (whole < lowest || whole > highest)
        throw TrainingExpireRuleError(
            TrainingExpireRuleError::Kind::Overflow, column, ValueForMessage(value),
            QStringLiteral("overflow, the value must lie in %1..%2").arg(lowest).arg(highest));
    return whole;
}

} // namespace

QString TrainingExpireRuleQuery()
{
    return QStringLiteral("SELECT * FROM AutomationServer_Alert WHERE Item = '") + SqlText(TrainingExpireAlertKind()) +
        QStringLiteral("'");
}

void LoadTrainingExpireRule()
{
    Recordset &rule = SharedRecordset();
    rule.Open(TrainingExpireRuleQuery(), DatabaseConnection());
    const ClosesRecordset closeAtEnd(rule);

    if (rule.Eof())
        return; // no rule row: the values of the last load stay in force

    // Column by column, so a failing column leaves the ones before it loaded.
    const QVariant category = rule.Field(QStringLiteral("Category"));
    if (category.isNull())
        Invalid(QStringLiteral("Category"), category, QStringLiteral("a category is needed, the column is Null"));
    TrainingExpireRule.Category = ValueText(category);
    TrainingExpireRule.EmailContractManager = rule.Field(QStringLiteral("EmailContractManager"));
    TrainingExpireRule.EmailContractSpecialist = rule.Field(QStringLiteral("EmailContractSpecialist"));
    TrainingExpireRule.EmailClient = rule.Field(QStringLiteral("EmailClient"));
    TrainingExpireRule.DaysInAdvance =
        qint32(WholeNumber(rule.Field(QStringLiteral("DaysInAdvance")), QStringLiteral("DaysInAdvance"),
                           std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
    TrainingExpireRule.CreateIssue = rule.Field(QStringLiteral("CreateIssue"));
    TrainingExpireRule.CreateIssueDaysInAdvance = qint16(
        WholeNumber(rule.Field(QStringLiteral("CreateIssueDaysInAdvance")), QStringLiteral("CreateIssueDaysInAdvance"),
                    std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()));
    TrainingExpireRule.IssuePriority = rule.Field(QStringLiteral("IssuePriority"));
    const QVariant autoClose = rule.Field(QStringLiteral("AutoCloseIssue"));
    if (autoClose.isNull())
        Invalid(QStringLiteral("AutoCloseIssue"), autoClose,
                QStringLiteral("a true/false value is needed, the column is Null"));
    const std::optional<bool> closes = TruthOf(autoClose);
    if (!closes)
        Invalid(QStringLiteral("AutoCloseIssue"), autoClose, QStringLiteral("not a true/false value"));
    TrainingExpireRule.AutoCloseIssue = *closes;
}

bool SwitchIsOn(const QVariant &value, const QString &column)
{
    const std::optional<bool> on = SwitchOf(value);
    if (!on)
        Invalid(column, value, QStringLiteral("not a true/false value"));
    return *on;
}

bool EmailSwitchIsOn()
{
    // Evaluated in full, left to right, so a bad value in any switch is reported.
    const bool manager = SwitchIsOn(TrainingExpireRule.EmailContractManager, QStringLiteral("EmailContractManager"));
    const bool specialist =
        SwitchIsOn(TrainingExpireRule.EmailContractSpecialist, QStringLiteral("EmailContractSpecialist"));
    const bool client = SwitchIsOn(TrainingExpireRule.EmailClient, QStringLiteral("EmailClient"));
    return manager || specialist || client;
}

QDate IssueWindowDate()
{
    return Today().addDays(TrainingExpireRule.CreateIssueDaysInAdvance);
}

QDate NotificationWindowDate()
{
    return Today().addDays(TrainingExpireRule.DaysInAdvance);
}
