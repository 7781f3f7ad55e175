#include "mainwindow/CycleMailSettings.h"

#include "email/SendQueuedEmails.h"

namespace {
MailOptions &options()
{
    static MailOptions held;
    return held;
}
} // namespace

void SetCycleMailOptions(const MailOptions &options)
{
    ::options() = options;
}

MailOptions CycleMailOptions()
{
    return options();
}

MailSettings CycleMailSettings()
{
    MailSettings settings = CompanyMailSettings(options());
    settings.sendingDeadline = QDeadlineTimer(MailSendingBudget());
    return settings;
}
