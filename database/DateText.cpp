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
    if (value.time() == QTime(0, 0))
        return DateText(value.date());
    return usEnglish().toString(value, QStringLiteral("M/d/yyyy h:mm:ss AP"));
}

QString DateText(const QDate &value)
{
    if (!value.isValid())
        return QString();
    return usEnglish().toString(value, QStringLiteral("M/d/yyyy"));
}
