#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

// The one conversion of a date or date-time to text for SQL and the log, in
// the fixed US English form (independent of the machine's locale):
// "1/5/2027" at midnight, "12/7/2026 2:05:09 PM" otherwise; whole seconds (a
// fraction is dropped, so 00:00:00.003 is midnight).
// SQL Server sessions are pinned to read this form (SET DATEFORMAT mdy).
QString DateText(const QDateTime &value);
QString DateText(const QDate &value);