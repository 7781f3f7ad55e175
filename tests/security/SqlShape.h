#pragma once

#include <QString>
#include <QStringList>

// The shape of a statement as the system's own tokenizer reads it: keywords
// and names (upper-cased), operators and brackets as they stand, and every
// literal abstracted to its kind. Two statements of one shape differ only in
// their values. A comment or an unterminated literal shows up as a token of
// its own, so that a value that opened one changes the shape.
QStringList SqlShape(const QString &sql);

// The contents of the string literals, quotes undoubled, in order.
QStringList SqlStringLiterals(const QString &sql);
