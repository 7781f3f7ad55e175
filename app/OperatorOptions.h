#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The operator's safety options, each off by default: without them the
// server behaves exactly as it always has.
struct OperatorOptions
{
    bool preview = false;                       // --preview
    QString redirectMail;                       // --redirect-mail ADDRESS
    std::optional<int> notifyExpiredWithinDays; // --notify-expired-within DAYS
};

// Reads the operator option at arguments[i] (advancing i past its value).
// False when the argument is none of them; error set when it is one but its
// value is missing or unusable.
bool ParseOperatorOption(const QStringList &arguments, qsizetype &i, OperatorOptions &options, QString &error);

// The lines of the usage text that explain them, with an example each.
QString OperatorOptionsUsage();

// Sets the options where the cycle reads them; once, at start-up.
void ApplyOperatorOptions(const OperatorOptions &options);
