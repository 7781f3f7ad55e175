#include "mainwindow/CyclePreview.h"

#include "alerts/NotifyExpiredWithin.h"
#include "alerts/RenewalKeyTypes.h"
#include "alerts/TrainingExpireRule.h"
#include "alerts/TrainingStatements.h"
#include "database/Clock.h"
#include "database/DateText.h"
#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/OpenDatabase.h"
#include "database/Recordset.h"
#include "database/ValueText.h"
#include "email/MailRecorder.h"
#include "email/MailRedirect.h"
#include "mainwindow/DoTasks.h"
#include "mainwindow/LogLine.h"
#include "startup/StartupSequence.h"

#include <QSet>

#include <optional>

namespace {

QString idList(const QStringList &ids)
{
    return ids.join(QLatin1Char(','));
}

QList<QList<QVariant>> rowsOf(const QString &sql, const QStringList &columns)
{
    Recordset rows;
    rows.Open(sql, DatabaseConnection());
    const ClosesRecordset closeAtEnd(rows);
    QList<QList<QVariant>> result;
    for (; !rows.Eof(); rows.MoveNext()) {
        QList<QVariant> row;
        for (const QString &column : columns)
            row.append(rows.Field(column));
        result.append(row);
    }
    return result;
}

QStringList idsOf(const QString &sql)
{
    QStringList ids;
    for (const QList<QVariant> &row : rowsOf(sql, {QStringLiteral("ID")}))
        ids.append(QString::number(row.first().toLongLong()));
    return ids;
}

qint64 maxId(const QString &table)
{
    const QList<QList<QVariant>> rows = rowsOf(PreviewMaxIdSql(table), {QStringLiteral("MaxID")});
    return rows.isEmpty() ? 0 : rows.first().first().toLongLong(); // Null on an empty table
}

// The certifications a selection would act on (marker column 0: not yet
// notified, or no automatic issue yet).
QSet<qint64> actedOn(const QString &sql, const QString &marker)
{
    QSet<qint64> ids;
    for (const QList<QVariant> &row : rowsOf(sql, {QStringLiteral("ID"), marker})) {
        if (ValueText(row.at(1)) == QLatin1String("0"))
            ids.insert(row.first().toLongLong());
    }
    return ids;
}

// What the cycle's own selections pick with the lower bound, compared with
// what they pick without it.
QSet<qint64> leftOutByLowerBound()
{
    const std::optional<int> days = NotifyExpiredWithinDays();
    if (!days)
        return {};
    LoadTrainingExpireRule();
    const RenewalKeyTypes keys = ReadRenewalKeyTypes(DatabaseConnection());
    QSet<qint64> bounded, unbounded;
    for (bool withBound : {true, false}) {
        SetNotifyExpiredWithinDays(withBound ? days : std::nullopt);
        QSet<qint64> &ids = withBound ? bounded : unbounded;
        if (EmailSwitchIsOn())
            ids.unite(actedOn(NotificationCandidateQuery(TrainingExpireRule.Category, NotificationWindowDate(), keys),
                              QStringLiteral("EmailID")));
        if (SwitchIsOn(TrainingExpireRule.CreateIssue, QStringLiteral("CreateIssue")))
            ids.unite(actedOn(AutomaticIssueSelectQuery(IssueWindowDate(), keys.IssueKey), QStringLiteral("IssueID")));
    }
    SetNotifyExpiredWithinDays(days);
    return unbounded.subtract(bounded);
}

struct Baseline
{
    qint64 maxQueueId = 0;
    qint64 maxIssueId = 0;
    QStringList queued;
    QStringList openIssues;
    QSet<qint64> leftOut;
};

Baseline readBaseline()
{
    Baseline before;
    before.maxQueueId = maxId(QStringLiteral("AutomationServer_EmailsSent"));
    before.maxIssueId = maxId(QStringLiteral("Issues"));
    before.queued = idsOf(PreviewQueuedIdsSql());
    before.openIssues = idsOf(PreviewOpenAutomaticIssuesSql());
    before.leftOut = leftOutByLowerBound();
    return before;
}

QString reportDigests(const Baseline &before, const QList<RecordedMail> &mails, int &notifications)
{
    // Rows of one recipient list in query order, as the sending groups them.
    QList<QList<QString>> groups;
    QString previous;
    const QList<QList<QVariant>> rows = rowsOf(PreviewSentRowsSql(before.maxQueueId, before.queued),
                                               {QStringLiteral("EmailTo"), QStringLiteral("EmailSubject")});
    for (const QList<QVariant> &row : rows) {
        const QString to = row.at(0).toString();
        if (groups.isEmpty() || to != previous)
            groups.append(QList<QString>());
        groups.last().append(row.at(1).toString());
        previous = to;
    }
    QString text;
    for (qsizetype i = 0; i < mails.size(); ++i) {
        const RecordedMail &mail = mails.at(i);
        const QList<QString> items = i < groups.size() ? groups.at(i) : QList<QString>();
        notifications += int(items.size());
        text += QStringLiteral("Digest %1 to: ").arg(i + 1) + mail.recipientList + QLatin1Char('\n');
        if (!MailRedirectAddress().isEmpty())
            text += QStringLiteral("  Redirected to: %1\n").arg(MailRedirectAddress());
        // Stored texts are appended, never put through arg(): a "%1" in them stays.
        text +=
            QStringLiteral("  Subject: ") + mail.subject + QStringLiteral("\n  Notifications: %1\n").arg(items.size());
        for (const QString &item : items)
            text += QStringLiteral("    ") + item + QLatin1Char('\n');
    }
    return text;
}

QString reportIssues(const QString &heading, const QList<QList<QVariant>> &issues)
{
    QString text = heading.arg(issues.size());
    for (const QList<QVariant> &issue : issues)
        text +=
            QStringLiteral("    Issue %1: ").arg(issue.at(0).toLongLong()) + ValueText(issue.at(1)) + QLatin1Char('\n');
    return text;
}

QString report(const Baseline &before, const QList<RecordedMail> &mails)
{
    int notifications = 0;
    const QString digests = reportDigests(before, mails, notifications);
    const QStringList columns{QStringLiteral("ID"), QStringLiteral("ItemDesc")};
    const QList<QList<QVariant>> opened = rowsOf(PreviewOpenedIssuesSql(before.maxIssueId), columns);
    const QList<QList<QVariant>> closed = before.openIssues.isEmpty()
        ? QList<QList<QVariant>>()
        : rowsOf(PreviewClosedIssuesSql(before.openIssues), columns);
    QString text = digests;
    text += reportIssues(QStringLiteral("Automatic issues it would open: %1\n"), opened);
    text += reportIssues(QStringLiteral("Automatic issues it would close: %1\n"), closed);
    if (NotifyExpiredWithinDays())
        text += QStringLiteral("Left out by --notify-expired-within %1 (renewal date before %2): %3 "
                               "certification(s)\n")
                    .arg(*NotifyExpiredWithinDays())
                    .arg(DateText(OldestRenewalDate()))
                    .arg(before.leftOut.size());
    text += QStringLiteral("Totals: %1 digest(s), %2 notification(s), %3 issue(s) opened, %4 issue(s) closed\n")
                .arg(mails.size())
                .arg(notifications)
                .arg(opened.size())
                .arg(closed.size());
    return text;
}

} // namespace

QString PreviewMaxIdSql(const QString &table)
{
    return QStringLiteral("SELECT MAX(ID) AS MaxID FROM ") + table;
}

QString PreviewOpenAutomaticIssuesSql()
{
    return QStringLiteral("SELECT ID FROM Issues WHERE Status='Open' AND EnteredBy = 'AUTO SERVER' AND AUTO_Item = '") +
        TrainingExpireAlertKind() + QStringLiteral("' ORDER BY ID");
}

QString PreviewQueuedIdsSql()
{
    return QStringLiteral("SELECT ID FROM AutomationServer_EmailsSent WHERE EmailSent=0 AND EmailTo<>'' ORDER BY ID");
}

QString PreviewSentRowsSql(qint64 maxQueueIdBefore, const QStringList &queuedBefore)
{
    QString rows = QStringLiteral("ID > ") + QString::number(maxQueueIdBefore);
    if (!queuedBefore.isEmpty())
        rows += QStringLiteral(" OR ID IN (") + idList(queuedBefore) + QStringLiteral(")");
    return QStringLiteral("SELECT ID,EmailTo,EmailSubject FROM AutomationServer_EmailsSent WHERE EmailSent=1 AND (") +
        rows + QStringLiteral(") ORDER BY EmailTo,ID");
}

QString PreviewOpenedIssuesSql(qint64 maxIssueIdBefore)
{
    return QStringLiteral("SELECT ID,ItemDesc FROM Issues WHERE ID > ") + QString::number(maxIssueIdBefore) +
        QStringLiteral(" ORDER BY ID");
}

QString PreviewClosedIssuesSql(const QStringList &openBefore)
{
    return QStringLiteral("SELECT ID,ItemDesc FROM Issues WHERE Status='Closed' AND ID IN (") + idList(openBefore) +
        QStringLiteral(") ORDER BY ID");
}

int RunCyclePreview(const std::function<void(const QString &text)> &write)
{
    write(QStringLiteral("Preview of one cycle: nothing is written to the database and no mail is sent.\n"));
    if (!OpenDatabase())
        return ExitFailure; // reported by the failure handler
    Baseline before;
    try {
        before = readBaseline();
    } catch (const DbError &e) {
        write(QStringLiteral("The preview could not read the database: %1\n").arg(e.message()));
        DatabaseConnection().DiscardHeldChanges();
        return ExitFailure;
    }

    MailRecorder recorder;
    const CycleResult cycle = DoTasks();
    int status = cycle.outcome == CycleOutcome::Completed ? ExitOk
        : cycle.outcome == CycleOutcome::Skipped          ? ExitAlreadyRunning
                                                          : ExitFailure;
    QString text;
    if (cycle.outcome != CycleOutcome::ConnectionFailed && cycle.outcome != CycleOutcome::Skipped) {
        try {
            text = report(before, recorder.Messages());
        } catch (const DbError &e) {
            text = QStringLiteral("The preview could not read the cycle's outcome: %1\n").arg(e.message());
            status = ExitFailure;
        }
    }
    DatabaseConnection().DiscardHeldChanges();
    write(text);
    // The log the cycle would write, its failures included.
    write(CycleLogText(cycle, CurrentDateTime()));
    return status;
}
