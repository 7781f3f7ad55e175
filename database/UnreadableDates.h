#pragma once

#include <QString>
#include <QStringList>

// Dates a query of the embedded backend could not read. Text in a date
// column that is no date (left in an older file, or in a column the host
// declared as text) makes DATEADD of it Null instead of failing the whole
// query: that row alone drops out of the conditions it meets, and the cycle
// names it. Noted from inside the query, on the cycle's thread.

// column: "Table.Column"; rowId: the row's key (its ID where ID is the key).
void NoteUnreadableDate(const QString &column, const QString &rowId, const QString &value);

// One line per row noted since the last call (each row once, however often a
// query read it), at most `limit` of them and then one line with the count of
// the rest; the notes are forgotten.
QStringList TakeUnreadableDateLines(int limit = 5);
