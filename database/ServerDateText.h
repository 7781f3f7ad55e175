#pragma once

#include "database/DateValues.h"

#include <QString>
#include <QStringView>

// How SQL Server itself turns a datetime into text and text into a datetime,
// for the embedded backend to do the same (SQL Server 2012 and later, session
// language us_english, DATEFORMAT mdy).

// Style 0, CAST(datetime AS varchar)'s form: "Jan  5 2027  2:05PM", the day
// and the hour padded with a blank to two places, no seconds.
QString DefaultStyleText(const DateFields &fields);
// Style 120: "2027-01-05 14:05:09", the fraction dropped (not rounded).
QString CanonicalStyleText(const DateFields &fields);

// Text as the server reads it into a datetime under mdy: the ISO forms, the
// system's "1/5/2027 2:05:09 PM" and the style-0 "Jan  5 2027  2:05PM" (any
// run of blanks, month names in any letter case). False for anything else.
bool ParseServerDateText(QStringView text, DateFields *fields);

// datetime keeps 1/300 of a second: milliseconds round to .000, .003 or
// .007 (.999 carries into the next second). False past 9999-12-31.
bool RoundToDatetime(const DateFields &fields, DateFields *rounded);
