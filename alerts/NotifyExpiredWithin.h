#pragma once

#include <QDate>
#include <QString>

#include <optional>

// --notify-expired-within DAYS: certifications whose renewal date lies more
// than DAYS before today are no candidates for notifications or automatic
// issues, so a first start on a long-used database does not mail years of
// lapsed trainings. Unset (the default), every overdue certification stays a
// candidate. Set once at start-up.
void SetNotifyExpiredWithinDays(std::optional<int> days);
std::optional<int> NotifyExpiredWithinDays();

// The earliest renewal date still a candidate: today minus DAYS.
QDate OldestRenewalDate();

// The condition the candidate and issue selections end with when the option
// is set, " AND <renewal date> >= '<OldestRenewalDate>'"; empty otherwise, so
// the selections stay exactly as they were.
QString RenewalLowerBoundCondition();
