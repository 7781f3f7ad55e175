#include "database/DateText.h"

#include <QLocale>

namespace {
const QLocale &usEnglish()
{
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    return locale;
}
} // namespace

QString DateText(const QDateTime &value)
{
    if (!value.isValid())
        return QString();
    // The form shows whole seconds, so a time within the first second of the
    // day (a datetime's 00:00:00.003) is midnight as well: the date alone.
    const QTime time = value.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return DateText(value.date());
    return usEnglish().toString(value, QStringLiteral("M/d/yyyy h:mm:ss AP"));
}

QString DateText(const QDate &value)
{
    if (!value.isValid())
        return QString();
    return usEnglish().toString(value, QStringLiteral("M/d/yyyy"));
}
