#include "database/DateValues.h"

namespace {

// Plain character codes of either text kind, so one parser serves QString
// and SQLite's UTF-8 bytes.
inline int codeOf(QChar c)
{
    return c.unicode();
}

inline int codeOf(char c)
{
    return static_cast<unsigned char>(c);
}

template<typename Char> bool isDigit(Char c)
{
    const int code = codeOf(c);
    return code >= '0' && code <= '9';
}

// The number in text[from, from + count), all ASCII digits; -1 otherwise.
template<typename Char> int digitsAt(const Char *text, qsizetype from, qsizetype count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        if (!isDigit(text[i]))
            return -1;
        value = value * 10 + (codeOf(text[i]) - '0');
    }
    return value;
}

template<typename Char> bool isChar(Char c, char expected)
{
    return codeOf(c) == static_cast<unsigned char>(expected);
}

bool validTime(const DateFields &f)
{
    return f.hour >= 0 && f.hour < 24 && f.minute >= 0 && f.minute < 60 && f.second >= 0 && f.second < 60 &&
        f.msec >= 0 && f.msec < 1000;
}

// YYYY-MM-DD[( |T)HH:MM[:SS[.f{1,}]]]: digits past the third of the
// fraction are read and dropped.
template<typename Char> bool parseIso(const Char *text, qsizetype length, DateFields *out)
{
    if (length != 10 && length != 16 && length < 19)
        return false;
    DateFields f;
    f.year = digitsAt(text, 0, 4);
    if (f.year < 0 || !isChar(text[4], '-'))
        return false;
    f.month = digitsAt(text, 5, 2);
    if (f.month < 0 || !isChar(text[7], '-'))
        return false;
    f.day = digitsAt(text, 8, 2);
    if (f.day < 0)
        return false;
    if (length > 10) {
        if (!isChar(text[10], ' ') && !isChar(text[10], 'T'))
            return false;
        f.hour = digitsAt(text, 11, 2);
        if (f.hour < 0 || !isChar(text[13], ':'))
            return false;
        f.minute = digitsAt(text, 14, 2);
        if (f.minute < 0)
            return false;
    }
    if (length > 16) {
        if (!isChar(text[16], ':'))
            return false;
        f.second = digitsAt(text, 17, 2);
        if (f.second < 0)
            return false;
    }
    if (length > 19) {
        if (!isChar(text[19], '.') || length < 21)
            return false;
        int scale = 100;
        for (qsizetype i = 20; i < length; ++i) {
            if (!isDigit(text[i]))
                return false;
            if (scale > 0) {
                f.msec += (codeOf(text[i]) - '0') * scale;
                scale /= 10;
            }
        }
    }
    if (!IsValidDateFields(f))
        return false;
    *out = f;
    return true;
}

} // namespace

bool IsDateTypeName(const QString &declaredType)
{
    return declaredType.contains(QLatin1String("DATE"), Qt::CaseInsensitive) ||
        declaredType.contains(QLatin1String("TIME"), Qt::CaseInsensitive);
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool IsValidDateFields(const DateFields &f)
{
    return f.year >= 1 && f.year <= 9999 && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
        f.day <= DaysInMonth(f.year, f.month) && validTime(f);
}

bool ParseIsoDateFields(const char *text, qsizetype length, DateFields *fields)
{
    return text != nullptr && parseIso(text, length, fields);
}

bool ParseSystemDateFields(QStringView text, DateFields *fields)
{
    // M/D/YYYY[ h:mm:ss AM|PM], month, day and hour in one or two digits.
    const QChar *s = text.data();
    const qsizetype n = text.size();
    qsizetype at = 0;
    auto number = [&](int minDigits, int maxDigits) {
        qsizetype end = at;
        while (end < n && end - at < maxDigits && isDigit(s[end]))
            ++end;
        if (end - at < minDigits)
            return -1;
        const int value = digitsAt(s, at, end - at);
        at = end;
        return value;
    };
    auto literal = [&](char c) {
        if (at >= n || !isChar(s[at], c))
            return false;
        ++at;
        return true;
    };

    DateFields f;
    f.month = number(1, 2);
    if (f.month < 0 || !literal('/'))
        return false;
    f.day = number(1, 2);
    if (f.day < 0 || !literal('/'))
        return false;
    f.year = number(4, 4);
    if (f.year < 0)
        return false;
    if (at < n) {
        if (!literal(' '))
            return false;
        const int hour12 = number(1, 2);
        if (hour12 < 0 || !literal(':'))
            return false;
        f.minute = number(2, 2);
        if (f.minute < 0 || !literal(':'))
            return false;
        f.second = number(2, 2);
        if (f.second < 0 || !literal(' ') || n - at != 2)
            return false;
        const int half = codeOf(s[at]) | 0x20; // ASCII letters in lower case
        if ((half != 'a' && half != 'p') || (codeOf(s[at + 1]) | 0x20) != 'm')
            return false;
        if (hour12 < 1 || hour12 > 12)
            return false;
        f.hour = (hour12 % 12) + (half == 'p' ? 12 : 0);
    }
    if (!IsValidDateFields(f))
        return false;
    *fields = f;
    return true;
}

bool ParseStoredDateFields(QStringView text, DateFields *fields)
{
    const QStringView trimmed = text.trimmed();
    return parseIso(trimmed.data(), trimmed.size(), fields) || ParseSystemDateFields(trimmed, fields);
}

QDateTime NaiveDateTime(const DateFields &f)
{
    if (!IsValidDateFields(f))
        return QDateTime();
    return QDateTime(QDate(f.year, f.month, f.day), QTime(f.hour, f.minute, f.second, f.msec), Qt::UTC);
}

DateFields FieldsOf(const QDateTime &value)
{
    const QDate d = value.date();
    const QTime t = value.time();
    DateFields f;
    f.year = d.year();
    f.month = d.month();
    f.day = d.day();
    f.hour = t.hour();
    f.minute = t.minute();
    f.second = t.second();
    f.msec = t.msec();
    return f;
}

QDateTime ParseStoredDate(const QString &text)
{
    DateFields f;
    return ParseStoredDateFields(text, &f) ? NaiveDateTime(f) : QDateTime();
}

QDateTime ParseSystemDateText(const QString &text)
{
    DateFields f;
    return ParseSystemDateFields(text, &f) ? NaiveDateTime(f) : QDateTime();
}

namespace {
// YYYY-MM-DD HH:MM:SS with an optional fraction of one to three digits.
template<typename Char> bool isFullIsoDateTime(const Char *text, qsizetype n)
{
    if (n != 19 && (n < 21 || n > 23))
        return false;
    static constexpr char shape[] = "0000-00-00 00:00:00.000";
    for (qsizetype i = 0; i < n; ++i) {
        if (shape[i] == '0' ? !isDigit(text[i]) : !isChar(text[i], shape[i]))
            return false;
    }
    return true;
}
} // namespace

bool IsFullIsoDateTime(QStringView text)
{
    return isFullIsoDateTime(text.data(), text.size());
}

bool IsFullIsoDateTime(const char *text, qsizetype length)
{
    return text != nullptr && isFullIsoDateTime(text, length);
}

int WriteIsoDateTime(const DateFields &f, char *out)
{
    auto put = [&out](int value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            out[i] = char('0' + value % 10);
            value /= 10;
        }
        out += width;
    };
    char *const start = out;
    put(f.year, 4);
    *out++ = '-';
    put(f.month, 2);
    *out++ = '-';
    put(f.day, 2);
    *out++ = ' ';
    put(f.hour, 2);
    *out++ = ':';
    put(f.minute, 2);
    *out++ = ':';
    put(f.second, 2);
    if (f.msec != 0) {
        *out++ = '.';
        put(f.msec, 3);
    }
    return int(out - start);
}

QString IsoDateTimeText(const DateFields &fields)
{
    char text[MaxIsoDateTimeChars];
    return QString::fromLatin1(text, WriteIsoDateTime(fields, text));
}

QString IsoDateTimeText(const QDateTime &value)
{
    const DateFields f = FieldsOf(value);
    if (f.year >= 0 && f.year <= 9999 && validTime(f))
        return IsoDateTimeText(f);
    // Outside what a stored date can hold: shown as it is, for messages.
    QString text = QStringLiteral("%1-%2-%3 %4:%5:%6")
                       .arg(f.year, 4, 10, QLatin1Char('0'))
                       .arg(f.month, 2, 10, QLatin1Char('0'))
                       .arg(f.day, 2, 10, QLatin1Char('0'))
                       .arg(f.hour, 2, 10, QLatin1Char('0'))
                       .arg(f.minute, 2, 10, QLatin1Char('0'))
                       .arg(f.second, 2, 10, QLatin1Char('0'));
    if (f.msec != 0)
        text += QStringLiteral(".%1").arg(f.msec, 3, 10, QLatin1Char('0'));
    return text;
}
