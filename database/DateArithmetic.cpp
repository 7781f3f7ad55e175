#include "database/DateArithmetic.h"

#include <QString>

namespace {

constexpr qint64 MsecsPerDay = 86400000;

struct UnitName
{
    const char *name;
    DateUnit unit;
};

constexpr UnitName UnitNames[] = {
    {"year", DateUnit::Year},       {"yy", DateUnit::Year},    {"yyyy", DateUnit::Year},
    {"quarter", DateUnit::Quarter}, {"qq", DateUnit::Quarter}, {"q", DateUnit::Quarter},
    {"month", DateUnit::Month},     {"mm", DateUnit::Month},   {"m", DateUnit::Month},
    {"day", DateUnit::Day},         {"dd", DateUnit::Day},     {"d", DateUnit::Day},
    {"dayofyear", DateUnit::Day},   {"dy", DateUnit::Day},     {"y", DateUnit::Day},
    {"weekday", DateUnit::Day},     {"dw", DateUnit::Day},     {"w", DateUnit::Day},
    {"week", DateUnit::Week},       {"wk", DateUnit::Week},    {"ww", DateUnit::Week},
    {"hour", DateUnit::Hour},       {"hh", DateUnit::Hour},    {"minute", DateUnit::Minute},
    {"mi", DateUnit::Minute},       {"n", DateUnit::Minute},   {"second", DateUnit::Second},
    {"ss", DateUnit::Second},       {"s", DateUnit::Second},   {"millisecond", DateUnit::Millisecond},
    {"ms", DateUnit::Millisecond},
};

// Matches an ASCII keyword; anything else (other letters, other scripts) is
// no keyword.
template<typename Char, typename CodeOf> DateUnit unitOf(const Char *text, qsizetype length, CodeOf codeOf)
{
    auto blank = [&](qsizetype i) {
        const int c = codeOf(text[i]);
        return c == ' ' || (c >= '\t' && c <= '\r');
    };
    qsizetype begin = 0;
    qsizetype end = length;
    while (begin < end && blank(begin))
        ++begin;
    while (end > begin && blank(end - 1))
        --end;
    for (const UnitName &candidate : UnitNames) {
        qsizetype i = begin;
        const char *name = candidate.name;
        for (; i < end && *name != '\0'; ++i, ++name) {
            int c = codeOf(text[i]);
            if (c >= 'A' && c <= 'Z')
                c += 'a' - 'A';
            if (c != *name)
                break;
        }
        if (i == end && *name == '\0')
            return candidate.unit;
    }
    return DateUnit::Unknown;
}

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// DayNumber(1, 1, 1) and DayNumber(9999, 12, 31).
constexpr qint64 FirstDay = -719162;
constexpr qint64 LastDay = 2932896;

// The month step of SQL Server: the day is kept and clamped to the month's end.
bool addMonths(qint64 number, qint64 unitMonths, const DateFields &date, DateFields *result)
{
    if (number > 120000 || number < -120000)
        return false; // more than the calendar's 9999 years
    const qint64 months = number * unitMonths;
    const qint64 index = qint64(date.year) * 12 + (date.month - 1) + months;
    const qint64 year = floorDiv(index, 12);
    if (year < 1 || year > 9999)
        return false;
    *result = date;
    result->year = int(year);
    result->month = int(index - year * 12) + 1;
    result->day = qMin(date.day, DaysInMonth(result->year, result->month));
    return true;
}

// date + number * unitMsecs, exactly.
bool addMsecs(qint64 number, qint64 unitMsecs, const DateFields &date, DateFields *result)
{
    // A step longer than the whole calendar never lands in it (and would
    // overflow below).
    const qint64 longestStep = (LastDay - FirstDay + 1) * MsecsPerDay;
    if (number > longestStep / unitMsecs || number < -(longestStep / unitMsecs))
        return false;
    const qint64 msecs = number * unitMsecs;
    const qint64 ofDay = ((qint64(date.hour) * 60 + date.minute) * 60 + date.second) * 1000 + date.msec;
    const qint64 total = ofDay + msecs;
    const qint64 day = DayNumber(date.year, date.month, date.day) + floorDiv(total, MsecsPerDay);
    if (day < FirstDay || day > LastDay)
        return false;
    qint64 rest = total - floorDiv(total, MsecsPerDay) * MsecsPerDay;
    *result = DateFields();
    DateOfDayNumber(day, &result->year, &result->month, &result->day);
    result->msec = int(rest % 1000);
    rest /= 1000;
    result->second = int(rest % 60);
    rest /= 60;
    result->minute = int(rest % 60);
    result->hour = int(rest / 60);
    return true;
}

} // namespace

DateUnit DateUnitOf(QStringView interval)
{
    return unitOf(interval.data(), interval.size(), [](QChar c) { return int(c.unicode()); });
}

DateUnit DateUnitOf(const char *interval, qsizetype length)
{
    if (interval == nullptr)
        return DateUnit::Unknown;
    return unitOf(interval, length, [](char c) { return int(static_cast<unsigned char>(c)); });
}

qint64 DayNumber(int year, int month, int day)
{
    // Eras of 400 years, each starting on 1 March, so the leap day is last.
    const qint64 y = qint64(year) - (month <= 2 ? 1 : 0);
    const qint64 era = floorDiv(y, 400);
    const qint64 yearOfEra = y - era * 400;
    const qint64 dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void DateOfDayNumber(qint64 dayNumber, int *year, int *month, int *day)
{
    const qint64 z = dayNumber + 719468;
    const qint64 era = floorDiv(z, 146097);
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 monthIndex = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = int(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

bool AddDateUnits(DateUnit unit, qint64 number, const DateFields &date, DateFields *result)
{
    if (!IsValidDateFields(date))
        return false;
    switch (unit) {
    case DateUnit::Unknown:
        return false;
    case DateUnit::Year:
        return addMonths(number, 12, date, result);
    case DateUnit::Quarter:
        return addMonths(number, 3, date, result);
    case DateUnit::Month:
        return addMonths(number, 1, date, result);
    case DateUnit::Day:
        return addMsecs(number, MsecsPerDay, date, result);
    case DateUnit::Week:
        return addMsecs(number, 7 * MsecsPerDay, date, result);
    case DateUnit::Hour:
        return addMsecs(number, 3600000, date, result);
    case DateUnit::Minute:
        return addMsecs(number, 60000, date, result);
    case DateUnit::Second:
        return addMsecs(number, 1000, date, result);
    case DateUnit::Millisecond:
        return addMsecs(number, 1, date, result);
    }
    return false;
}
