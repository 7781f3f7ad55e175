#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

// Date values of the embedded backend. Dates are stored as ISO 8601 text,
// "YYYY-MM-DD HH:MM:SS" (what SQLite's datetime() writes), so the file reads
// well with ordinary SQLite tools and text order is date order.
//
// A stored date is a calendar date and a time of day, nothing more: it names
// the same day wherever the server runs, and no time zone or daylight-saving
// rule applies to it (a host that stores 2:30 AM on the morning the clocks
// spring forward means 2:30 AM). So dates are read, stepped and written as
// plain fields, and handed out as QDateTime in UTC, whose date() and time()
// are exactly the stored fields. Building a local-time QDateTime instead
// would consult the time-zone rules on every value (with glibc and TZ unset,
// a check of /etc/localtime each time) and shift times inside a
// daylight-saving gap.

// A date and time of day as calendar fields (proleptic Gregorian).
struct DateFields
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;
};

// Longest ISO text of a date: "YYYY-MM-DD HH:MM:SS.fff".
constexpr int MaxIsoDateTimeChars = 23;

// A declared column type that holds dates (DATE, DATETIME, SMALLDATETIME...).
bool IsDateTypeName(const QString &declaredType);

// Year 1 to 9999, a real day of its month, a time of day below 24:00.
bool IsValidDateFields(const DateFields &fields);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Stored text -> date fields: "YYYY-MM-DD", "YYYY-MM-DD HH:MM",
// "YYYY-MM-DD HH:MM:SS[.fff]" (space or "T"; digits past milliseconds are
// dropped), or the system's own text form ("1/5/2027", "12/7/2026 2:05:09 PM"),
// with blanks around it ignored. False when it is none of them or names no
// real date.
bool ParseStoredDateFields(QStringView text, DateFields *fields);
// The ISO forms above on UTF-8 bytes as SQLite holds them, without blanks.
bool ParseIsoDateFields(const char *text, qsizetype length, DateFields *fields);
// The system's own text form ("1/5/2027" or "12/7/2026 2:05:09 PM", AM/PM in
// any letter case), exactly, without blanks around it.
bool ParseSystemDateFields(QStringView text, DateFields *fields);

// The same as date-times (see above: UTC, fields as stored); invalid when the
// text is no date.
QDateTime ParseStoredDate(const QString &text);
QDateTime ParseSystemDateText(const QString &text);

// Fields as a date-time whose date() and time() are exactly the fields,
// built without any time-zone lookup. Invalid for invalid fields.
QDateTime NaiveDateTime(const DateFields &fields);
// The date() and time() of a date-time, whatever its time zone setting.
DateFields FieldsOf(const QDateTime &value);

// Exactly "YYYY-MM-DD HH:MM:SS" with optional ".fff": what DATEADD returns.
bool IsFullIsoDateTime(QStringView text);
// The same on UTF-8 bytes as SQLite holds them.
bool IsFullIsoDateTime(const char *text, qsizetype length);

// "YYYY-MM-DD HH:MM:SS", with ".fff" only when there are milliseconds.
// Writes at most MaxIsoDateTimeChars characters (no terminator) and returns
// how many.
int WriteIsoDateTime(const DateFields &fields, char *out);
QString IsoDateTimeText(const DateFields &fields);
QString IsoDateTimeText(const QDateTime &value);
