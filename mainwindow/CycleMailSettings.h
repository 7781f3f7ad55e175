#pragma once

#include "email/MailSettings.h"

// The operator's mail options (--allow-plain-auth), set once at start-up
// (tests set their own time limits here) and read by every cycle.
void SetCycleMailOptions(const MailOptions &options);
MailOptions CycleMailOptions();

// The settings one cycle sends with: the company's, the OAuth row (the
// database must be open), the options, and the end of the cycle's time for
// sending (MailSendingBudget from now).
MailSettings CycleMailSettings();
