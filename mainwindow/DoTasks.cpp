#include "mainwindow/DoTasks.h"

#include "alerts/ProcessTrainingExpiry.h"
#include "database/CycleLock.h"
#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/OpenDatabase.h"
#include "email/SendQueuedEmails.h"
#include "mainwindow/CycleCounters.h"
#include "mainwindow/CycleMailSettings.h"
#include "mainwindow/CycleWatchdog.h"

#include <exception>

namespace {
// Runs one task; a failure comes back as "Error in <what>: <its own
// message>", an empty text when the task succeeded.
template<typename Task> QString runContained(const QString &what, Task task)
{
    QString message;
    try {
        task();
        return QString();
    } catch (const DbError &e) {
        message = e.message();
    } catch (const std::exception &e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("unknown failure");
    }
    return QStringLiteral("Error in %1: %2").arg(what, message);
}
} // namespace

QString CycleSkippedText()
{
    return QStringLiteral("Cycle skipped: another server is running a cycle on this database "
                          "(it holds the database's cycle lock)");
}

CycleResult DoTasks()
{
    const WatchedCycle watched;
    NoteCycleStep(QStringLiteral("opening the database"));
    CycleResult result;
    if (!OpenDatabase()) {
        result.outcome = CycleOutcome::ConnectionFailed;
        return result;
    }
    CycleCounters.Reset();

    // Two servers on one database would notify and mail everything twice.
    QString lockFailure;
    NoteCycleStep(QStringLiteral("taking the cycle lock"));
    const CycleLockResult lock = DatabaseConnection().TakeCycleLock(LockWaitMs(CycleLockWaitMs), &lockFailure);
    if (lock != CycleLockResult::Taken) {
        CloseDatabase();
        if (lock == CycleLockResult::HeldElsewhere) {
            result.outcome = CycleOutcome::Skipped;
            result.errors.append(CycleSkippedText());
        } else {
            result.outcome = CycleOutcome::TaskFailed;
            result.errors.append(QStringLiteral("Error in taking the cycle lock: %1").arg(lockFailure));
        }
        return result;
    }

    // A task that fails midway still reports what it did before the failure.
    TrainingExpiryOutcome expiry;
    NoteCycleStep(QStringLiteral("training expiry"));
    const QString alertError =
        runContained(QStringLiteral("training expiry"), [&expiry] { ProcessTrainingExpiry(expiry); });
    MailSendingOutcome sent;
    NoteCycleStep(QStringLiteral("sending emails"));
    const QString sendError =
        runContained(QStringLiteral("sending emails"), [&sent] { SendQueuedEmails(sent, CycleMailSettings()); });
    NoteCycleStep(QStringLiteral("closing the database"));
    CloseDatabase();
    IncrementCounter(CycleCounters.IssuesClosed, expiry.IssuesClosed);
    IncrementCounter(CycleCounters.IssuesCreated, expiry.IssuesCreated);
    IncrementCounter(CycleCounters.Emails, sent.Emails);

    // In the order they happened: the alert, the items it held back, the mail
    // groups that could not be sent (they stay queued for the next cycle),
    // the mail newly refused for good, then the sending itself.
    if (!alertError.isEmpty())
        result.errors.append(alertError);
    result.errors.append(expiry.Failures);
    result.errors.append(sent.Notes); // mended, not failed: the outcome stands
    result.errors.append(sent.Failures);
    result.errors.append(sent.Stuck);
    if (!sendError.isEmpty())
        result.errors.append(sendError);
    // Mail refused for good is the addresses' fault, not the server's: a
    // health check tells the two apart by the outcome.
    const bool otherFailure =
        !alertError.isEmpty() || !sendError.isEmpty() || !expiry.Failures.isEmpty() || !sent.Failures.isEmpty();
    if (otherFailure)
        result.outcome = CycleOutcome::TaskFailed;
    else if (!sent.Stuck.isEmpty() || sent.MailHeldBack > 0)
        result.outcome = CycleOutcome::MailStuck;
    return result;
}
