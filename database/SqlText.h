#pragma once

#include <QString>

// A text value placed between single quotes in a statement: every single
// quote is doubled, so the statement never breaks, the stored value keeps its
// apostrophes, and nothing a value holds can change the statement.
// Every text value the system puts between quotes goes through here.
//
// A NUL character is dropped: both databases read a statement's text only up
// to its first NUL, so one left in would cut the statement short, and it can
// carry nothing a name, an address or a message needs.
inline QString SqlText(const QString &value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    quoted.remove(QChar(0));
    return quoted;
}
