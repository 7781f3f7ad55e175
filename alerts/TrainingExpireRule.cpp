#include "TrainingExpireRule.h"

#include "Clock.h"
#include "DbConnection.h"
#include "Recordset.h"
#include "SqlText.h"
#include "ValueText.h"

#include <cmath>
#include <limits>
#include <optional>

TrainingExpireRuleValues TrainingExpireRule;

QString TrainingExpireAlertKind()
{
    return QStringLiteral("Training Expire");
}

TrainingExpireRuleError::TrainingExpireRuleError(Kind kind, const QString &column, const QString &value,
                                                 const QString &reason)
    : std::runtime_error(QStringLiteral("AutomationServer_Alert.%1 = %2: %3").arg(column, value, reason).toStdString())
    , ErrorKind(kind)
    , Column(column)
    , Value(value)
{
}

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

// A number as the database gave it, or numeric text; nothing for other text.
std::optional<double> NumberOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        const double number = value.toString().trimmed().toDouble(&ok);   // C locale: "2.5"
        if (ok && std::isfinite(number))
            return number;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// A fraction rounds to the nearest whole number, a half to the even one.
double RoundHalfToEven(double number)
{
    const double below = std::floor(number);
    const double fraction = number - below;
    if (fraction > 0.5)
        return below + 1;
    if (fraction < 0.5)
        return below;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1;
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
            throw TrainingExpireRuleError(TrainingExpireRuleError::Kind::Overflow, column, ValueForMessage(value),
                                          QStringLiteral("overflow, the value must lie in %1..%2").arg(lowest).arg(highest));
        whole = qint64(rounded);
    }
    if (whole < lowest || whole > highest)
        throw TrainingExpireRuleError(TrainingExpireRuleError::Kind::Overflow, column, ValueForMessage(value),
                                      QStringLiteral("overflow, the value must lie in %1..%2").arg(lowest).arg(highest));
    return whole;
}

// A true/false value; nothing for text that is neither a number nor True/False.
std::optional<bool> TruthOf(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
            return false;
    }
    const std::optional<double> number = NumberOf(value);
    if (!number)
        return std::nullopt;
    return *number != 0.0;
}

} // namespace

QString TrainingExpireRuleQuery()
{
    return QStringLiteral("SELECT * FROM AutomationServer_Alert WHERE Item = '") + SqlText(TrainingExpireAlertKind())
        + QStringLiteral("'");
}

void LoadTrainingExpireRule()
{
    Recordset &rule = SharedRecordset();
    rule.Open(TrainingExpireRuleQuery(), DatabaseConnection());
    struct CloseAtExit
    {
        Recordset &recordset;
        ~CloseAtExit() { recordset.Close(); }
    } closeAtExit{rule};

    if (rule.Eof())
        return;   // no rule row: the values of the last load stay in force

    // Column by column, so a failing column leaves the ones before it loaded.
    const QVariant category = rule.Field(QStringLiteral("Category"));
    if (category.isNull())
        Invalid(QStringLiteral("Category"), category, QStringLiteral("a category is needed, the column is Null"));
    TrainingExpireRule.Category = ValueText(category);
    TrainingExpireRule.EmailContractManager = rule.Field(QStringLiteral("EmailContractManager"));
    TrainingExpireRule.EmailContractSpecialist = rule.Field(QStringLiteral("EmailContractSpecialist"));
    TrainingExpireRule.EmailClient = rule.Field(QStringLiteral("EmailClient"));
    TrainingExpireRule.DaysInAdvance = qint32(WholeNumber(rule.Field(QStringLiteral("DaysInAdvance")),
        QStringLiteral("DaysInAdvance"), std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
    TrainingExpireRule.CreateIssue = rule.Field(QStringLiteral("CreateIssue"));
    TrainingExpireRule.CreateIssueDaysInAdvance = qint16(WholeNumber(rule.Field(QStringLiteral("CreateIssueDaysInAdvance")),
        QStringLiteral("CreateIssueDaysInAdvance"), std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()));
    TrainingExpireRule.IssuePriority = rule.Field(QStringLiteral("IssuePriority"));
    const QVariant autoClose = rule.Field(QStringLiteral("AutoCloseIssue"));
    if (autoClose.isNull())
        Invalid(QStringLiteral("AutoCloseIssue"), autoClose, QStringLiteral("a true/false value is needed, the column is Null"));
    const std::optional<bool> closes = TruthOf(autoClose);
    if (!closes)
        Invalid(QStringLiteral("AutoCloseIssue"), autoClose, QStringLiteral("not a true/false value"));
    TrainingExpireRule.AutoCloseIssue = *closes;
}

bool SwitchIsOn(const QVariant &value, const QString &column)
{
    if (value.isNull())
        return false;
    const std::optional<bool> on = TruthOf(value);
    if (!on)
        Invalid(column, value, QStringLiteral("not a true/false value"));
    return *on;
}

bool EmailSwitchIsOn()
{
    // Evaluated in full, left to right, so a bad value in any switch is reported.
    const bool manager = SwitchIsOn(TrainingExpireRule.EmailContractManager, QStringLiteral("EmailContractManager"));
    const bool specialist = SwitchIsOn(TrainingExpireRule.EmailContractSpecialist, QStringLiteral("EmailContractSpecialist"));
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
