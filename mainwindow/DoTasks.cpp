#include "DoTasks.h"

#include "CycleCounters.h"
#include "DbError.h"
#include "OpenDatabase.h"
#include "ProcessTrainingExpiry.h"
#include "Recordset.h"
#include "SendQueuedEmails.h"

#include <exception>

namespace {
// Runs one task; a failure comes back as "Error in <what>: <its own
// message>", an empty text when the task succeeded.
template<typename Task>
QString runContained(const QString &what, Task task)
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
    // The failed task may have left the shared result set open.
    SharedRecordset().Close();
    return QStringLiteral("Error in %1: %2").arg(what, message);
}
}

CycleResult DoTasks()
{
    CycleResult result;
    if (!OpenDatabase()) {
        result.outcome = CycleOutcome::ConnectionFailed;
        return result;
    }
    CycleCounters.Reset();

    const QString alertError = runContained(QStringLiteral("training expiry"), ProcessTrainingExpiry);
    const QString sendError = runContained(QStringLiteral("sending emails"), SendQueuedEmails);
    CloseDatabase();

    // In the order they happened: the alert, the mail groups that could not
    // be sent (they stay queued for the next cycle), then the sending itself.
    if (!alertError.isEmpty())
        result.errors.append(alertError);
    result.errors.append(CycleCounters.Failures);
    if (!sendError.isEmpty())
        result.errors.append(sendError);
    if (!result.errors.isEmpty())
        result.outcome = CycleOutcome::TaskFailed;
    return result;
}
