#pragma once

#include "mainwindow/DoTasks.h"

#include <QDateTime>
#include <QString>

// The line written after every cycle, from CycleCounters:
// "<DateText(when)>  - Emails: n  Issues Created: n  Issues Closed: n" CR LF.
// While mail is redirected, each line ends with MailRedirectNote().
QString CountLine(const QDateTime &when);

// "<DateText(when)>  - <text>" CR LF: a failure the cycle contained.
QString ErrorLine(const QDateTime &when, const QString &text);

// What a cycle adds to the top of the log: its error lines, then its count
// line. `when` is taken after the cycle has ended.
QString CycleLogText(const CycleResult &result, const QDateTime &when);
