#pragma once

#include <QDateTime>
#include <QString>

struct sqlite3;

// The SQL Server functions the system's statements use, registered on an
// embedded connection:
//  - DATEADD(interval, number, date) with SQL Server's rules: month and year
//    steps keep the day and clamp it to the end of a shorter month
//    (31 January + 1 month = 28 or 29 February); the number is truncated
//    toward zero; a Null number or date gives Null; the result is ISO text
//    "YYYY-MM-DD HH:MM:SS". The interval arrives as text (the rewrite quotes
//    the bare keyword): year/yy/yyyy, quarter/qq/q, month/mm/m,
//    dayofyear/dy/y, day/dd/d, weekday/dw/w, week/wk/ww, hour/hh,
//    minute/mi/n, second/ss/s, millisecond/ms.
//  - GETDATE(): the local date and time, as ISO text.
// Returns the empty text, or what failed.
QString RegisterSqlServerFunctions(sqlite3 *handle);

// DATEADD on the date() and time() of a date-time (see DateArithmetic.h);
// the result carries its fields as DateValues.h hands dates out. Invalid for
// an unknown interval or a result outside the years 1 to 9999.
QDateTime AddDateInterval(const QString &interval, qint64 number, const QDateTime &date, bool *knownInterval = nullptr);
