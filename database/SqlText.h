#pragma once

#include <QString>

// A text value placed between single quotes in a statement: every single
// quote is doubled, so the statement never breaks, the stored value keeps its
// apostrophes, and nothing a value holds can change the statement.
// Every text value the system puts between quotes goes through here.
inline QString SqlText(const QString &value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return quoted;
}
