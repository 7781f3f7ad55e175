#include "alerts/NotifyExpiredWithin.h"

#include "database/Clock.h"
#include "database/DateText.h"
#include "database/SqlText.h"

namespace {
std::optional<int> &setting()
{
    static std::optional<int> days;
    return days;
}
} // namespace

void SetNotifyExpiredWithinDays(std::optional<int> days)
{
    setting() = days;
}

std::optional<int> NotifyExpiredWithinDays()
{
    return setting();
}

QDate OldestRenewalDate()
{
    return Today().addDays(-qint64(setting().value_or(0)));
}

QString RenewalLowerBoundCondition()
{
    if (!setting())
        return QString();
    return QStringLiteral(" AND DATEADD(Month,TrainingItem.Renews,CustomerEmployeeTraining.CompletedDate) >= '") +
        SqlText(DateText(OldestRenewalDate())) + QStringLiteral("'");
}
