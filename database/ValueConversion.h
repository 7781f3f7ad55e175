#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// How the server reads a database value as text, number or true/false,
// whichever table it comes from.

// Null as empty text, anything else by its own text form.
QString FieldText(const QVariant &value);

// A number as the database gave it, or text that holds one (blanks around it
// ignored, "2.5" whatever the locale); a true/false value counts as -1 or 0,
// as on the host. Nothing for Null, other text, or a value that is not finite.
std::optional<double> NumberOf(const QVariant &value);

// The nearest whole number, a half to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfToEven(double number);

// A true/false value, "True"/"False" in any letter case, or a number (zero is
// false). Nothing for Null and for other text.
std::optional<bool> TruthOf(const QVariant &value);

// As TruthOf, but Null is false: a switch that is not set is off.
std::optional<bool> SwitchOf(const QVariant &value);
