#include "bench/CycleRunner.h"

#include "bench/BenchSqlite.h"
#include "bench/PeakMemory.h"

#include "alerts/AutoCloseIssues.h"
#include "alerts/AutomaticIssues.h"
#include "alerts/ExpiryNotifications.h"
#include "alerts/TrainingExpireRule.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "email/SendQueuedEmails.h"

#include <QElapsedTimer>

#include <exception>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

double Milliseconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// Runs one phase when `on` says so, timing it and reading what the mail
// stretch reports it sent.
PhaseResult RunPhase(const QString &name, const std::function<bool()> &on, const std::function<void()> &work,
                     const MailSendingOutcome &sent)
{
    PhaseResult phase;
    phase.name = name;
    DbConnection &connection = DatabaseConnection();
    const qint64 statementsBefore = connection.statementCount();
    const qint32 emailsBefore = sent.Emails;
    const double cpuBefore = ProcessCpuMilliseconds();
    QElapsedTimer timer;
    timer.start();
    try {
        phase.ran = on();
        if (phase.ran)
            work();
    } catch (const std::exception &error) {
        CloseDatabase();
        throw CycleFailed(u"%1 failed: %2"_s.arg(name, QString::fromUtf8(error.what())));
    }
    phase.milliseconds = Milliseconds(timer);
    if (cpuBefore >= 0)
        phase.cpuMilliseconds = ProcessCpuMilliseconds() - cpuBefore;
    phase.statements = connection.statementCount() - statementsBefore;
    phase.messages = sent.Emails - emailsBefore;
    phase.peakRssKiB = PeakResidentKiB();
    return phase;
}

bool Always()
{
    return true;
}

} // namespace

MeasuredCycle RunMeasuredCycle(const QString &label, BenchSqlite &probe)
{
    MeasuredCycle cycle;
    cycle.label = label;
    const qint64 logBefore = probe.count(u"AutomationServer_Emails"_s);
    const qint64 queueBefore = probe.count(u"AutomationServer_EmailsSent"_s);

    DbConnection &connection = DatabaseConnection();
    const double cpuStart = ProcessCpuMilliseconds();
    QElapsedTimer timer;
    timer.start();
    if (!OpenDatabase())
        throw CycleFailed(u"OpenDatabase failed: %1"_s.arg(LastOpenDatabaseError()));
    connection.resetStatementCount();
    TrainingExpiryOutcome expiry;
    MailSendingOutcome sent;
    double total = Milliseconds(timer);
    double cpu = cpuStart >= 0 ? ProcessCpuMilliseconds() - cpuStart : -1;

    const auto add = [&](const QString &name, const std::function<bool()> &on, const std::function<void()> &work) {
        const PhaseResult phase = RunPhase(name, on, work, sent);
        total += phase.milliseconds;
        cpu += phase.cpuMilliseconds;
        cycle.phases.append(phase);
    };
    add(u"rule load"_s, Always, LoadTrainingExpireRule);
    add(
        u"auto-close"_s, [] { return TrainingExpireRule.AutoCloseIssue; }, [&] { AutoCloseIssues(expiry); });
    add(u"notifications"_s, EmailSwitchIsOn, [&] { QueueExpiryNotifications(expiry); });
    add(
        u"issue creation"_s, [] { return SwitchIsOn(TrainingExpireRule.CreateIssue, u"CreateIssue"_s); },
        [&] { CreateAutomaticIssues(expiry); });
    // The counts of the notification stretch, read before the queue marks
    // anything (not part of the timed cycle).
    cycle.notified = probe.count(u"AutomationServer_Emails"_s) - logBefore;
    cycle.queueRows = probe.count(u"AutomationServer_EmailsSent"_s) - queueBefore;
    add(u"queue sending"_s, Always, [&] { SendQueuedEmails(sent, CompanyMailSettings({})); });

    const double cpuClose = ProcessCpuMilliseconds();
    timer.restart();
    CloseDatabase();
    total += Milliseconds(timer);
    if (cpuStart >= 0)
        cpu += ProcessCpuMilliseconds() - cpuClose;

    cycle.milliseconds = total;
    cycle.cpuMilliseconds = cpuStart >= 0 ? cpu : -1;
    cycle.statements = connection.statementCount();
    cycle.messages = sent.Emails;
    cycle.issuesCreated = expiry.IssuesCreated;
    cycle.issuesClosed = expiry.IssuesClosed;
    cycle.failures = expiry.Failures + sent.Failures;
    cycle.peakRssKiB = PeakResidentKiB();
    return cycle;
}
