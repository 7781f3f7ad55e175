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
//    With two more arguments, the column and the row of the date
//    (DATEADD(i, n, d, 'Table.Column', rowid)), text that is no date names
//    them in the error.
//  - GETDATE(): the local date and time, as ISO text.
//  - CONVERT(type, x[, style]), TRY_CONVERT(type, x[, style]), the type as
//    text: to varchar/nvarchar(n) a date-time (the full ISO form) becomes
//    style 0 ("Jan  5 2027  2:05PM") or 120 ("2027-01-05 14:05:09", no
//    fraction) text, cut to n (30 by default); to datetime text is read as
//    the server reads it under mdy (ISO, "1/5/2027 2:05:09 PM", style 0) and
//    rounded to 1/300 s; text that is no date fails CONVERT and gives Null
//    from TRY_CONVERT.
//  - VARCHAR_OF(x, n): CAST(x AS VarChar(n)), the style-0 text of a date-time.
//  - the collation NOCASE (the schema's text columns) as SQL Server's default
//    collation: letter case and trailing blanks are ignored.
// Returns the empty text, or what failed.
QString RegisterSqlServerFunctions(sqlite3 *handle);

// DATEADD on the date() and time() of a date-time (see DateArithmetic.h);
// the result carries its fields as DateValues.h hands dates out. Invalid for
// an unknown interval or a result outside the years 1 to 9999.
QDateTime AddDateInterval(const QString &interval, qint64 number, const QDateTime &date, bool *knownInterval = nullptr);
