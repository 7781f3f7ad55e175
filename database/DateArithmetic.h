#pragma once

#include "database/DateValues.h"

#include <QStringView>

// The calendar steps of SQL Server's DATEADD on plain date fields (see
// DateValues.h): no time zone, no daylight-saving jump, whole numbers only.

enum class DateUnit { Unknown, Year, Quarter, Month, Day, Week, Hour, Minute, Second, Millisecond };

// DATEADD's interval keywords in any letter case, blanks around ignored:
// year/yy/yyyy, quarter/qq/q, month/mm/m, dayofyear/dy/y, day/dd/d,
// weekday/dw/w, week/wk/ww, hour/hh, minute/mi/n, second/ss/s,
// millisecond/ms. The day-of-year and weekday forms step days, as in
// SQL Server.
DateUnit DateUnitOf(QStringView interval);
// The same on the UTF-8 bytes SQLite hands over.
DateUnit DateUnitOf(const char *interval, qsizetype length);

// date + number units. Month, quarter and year steps keep the day and clamp
// it to the end of a shorter month (31 January + 1 month = 28 or 29
// February); the others step days, weeks or the time of day exactly. False
// when the unit is unknown or the result falls outside the years 1 to 9999.
bool AddDateUnits(DateUnit unit, qint64 number, const DateFields &date, DateFields *result);

// Days since 1 January 1970 of a proleptic Gregorian date, and back.
qint64 DayNumber(int year, int month, int day);
void DateOfDayNumber(qint64 dayNumber, int *year, int *month, int *day);
