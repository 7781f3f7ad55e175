#pragma once

#include <QDateTime>
#include <QString>

// Date values of the embedded backend. Dates are stored as ISO 8601 text,
// "YYYY-MM-DD HH:MM:SS" (what SQLite's datetime() writes), so the file reads
// well with ordinary SQLite tools and text order is date order.

// A declared column type that holds dates (DATE, DATETIME, SMALLDATETIME...).
bool IsDateTypeName(const QString &declaredType);

// Stored text -> local date-time: "YYYY-MM-DD", "YYYY-MM-DD HH:MM",
// "YYYY-MM-DD HH:MM:SS[.fff]" (space or "T"), or the system's own text form
// ("1/5/2027", "12/7/2026 2:05:09 PM"). Invalid when it is none of them.
QDateTime ParseStoredDate(const QString &text);

// Exactly "YYYY-MM-DD HH:MM:SS" with optional ".fff": what DATEADD returns.
bool IsFullIsoDateTime(const QString &text);

// The system's own text form of a date ("1/5/2027" or
// "12/7/2026 2:05:09 PM", AM/PM in any letter case). Invalid otherwise.
QDateTime ParseSystemDateText(const QString &text);

// "YYYY-MM-DD HH:MM:SS", with ".fff" only when there are milliseconds.
QString IsoDateTimeText(const QDateTime &value);
