#pragma once

#include <QString>
#include <QVariant>

// The default text form of a database value as the alert task writes it into
// statements and texts: Null as empty text, a date or date-time by DateText,
// a true/false value as "True"/"False", a whole number by its decimal digits.
QString ValueText(const QVariant &value);

// An identity placed into a statement without quotes. Only whole numbers
// pass: anything else would become part of the statement's syntax, so it is
// refused with a DbError naming the column and the value.
QString IdentityText(const QVariant &value, const QString &column);
