#include "database/ServerDateText.h"

#include "database/DateArithmetic.h"

#include <QRegularExpression>

namespace {

const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool parseDefaultStyle(QStringView text, DateFields *fields)
{
    static const QRegularExpression shape(QRegularExpression::anchoredPattern(
        QStringLiteral("([A-Za-z]{3}) +(\\d{1,2}) +(\\d{4})(?: +(\\d{1,2}):(\\d{2})(?::(\\d{2}))? *([AaPp][Mm]))?")));
    const QRegularExpressionMatch m = shape.match(text.toString());
    if (!m.hasMatch())
        return false;
    DateFields f;
    for (int i = 0; i < 12; ++i) {
        if (m.capturedView(1).compare(QLatin1String(kMonths[i]), Qt::CaseInsensitive) == 0)
            f.month = i + 1;
    }
    f.day = m.capturedView(2).toInt();
    f.year = m.capturedView(3).toInt();
    if (m.hasCaptured(4)) {
        const int hour12 = m.capturedView(4).toInt();
        if (hour12 < 1 || hour12 > 12)
            return false;
        const bool pm = m.capturedView(7).at(0).toLower() == QLatin1Char('p');
        f.hour = hour12 % 12 + (pm ? 12 : 0);
        f.minute = m.capturedView(5).toInt();
        f.second = m.hasCaptured(6) ? m.capturedView(6).toInt() : 0;
    }
    if (!IsValidDateFields(f))
        return false;
    *fields = f;
    return true;
}

} // namespace

QString DefaultStyleText(const DateFields &f)
{
    const int hour12 = f.hour % 12 == 0 ? 12 : f.hour % 12;
    return QStringLiteral("%1 %2 %3 %4:%5%6")
        .arg(QLatin1String(kMonths[qBound(1, f.month, 12) - 1]))
        .arg(f.day, 2)
        .arg(f.year, 4, 10, QLatin1Char('0'))
        .arg(hour12, 2)
        .arg(f.minute, 2, 10, QLatin1Char('0'))
        .arg(f.hour < 12 ? QLatin1String("AM") : QLatin1String("PM"));
}

QString CanonicalStyleText(const DateFields &fields)
{
    DateFields whole = fields;
    whole.msec = 0;
    return IsoDateTimeText(whole);
}

bool ParseServerDateText(QStringView text, DateFields *fields)
{
    return ParseStoredDateFields(text, fields) || parseDefaultStyle(text.trimmed(), fields);
}

bool RoundToDatetime(const DateFields &fields, DateFields *rounded)
{
    static constexpr int kLastDigit[] = {0, 0, 3, 3, 3, 7, 7, 7, 7, 10};
    DateFields base = fields;
    base.msec = 0;
    const int msec = fields.msec - fields.msec % 10 + kLastDigit[fields.msec % 10];
    return AddDateUnits(DateUnit::Millisecond, msec, base, rounded);
}
