#include "alerts/AutoCloseIssues.h"

#include "alerts/IsolatedBatches.h"
#include "alerts/TrainingExpireRule.h"
#include "alerts/TrainingStatements.h"
#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "database/ValueText.h"

void AutoCloseIssues(TrainingExpiryOutcome &outcome)
{
    Recordset &issues = SharedRecordset();
    issues.Open(AutoCloseSelectQuery(IssueWindowDate()), DatabaseConnection());
    const ClosesRecordset closeAtEnd(issues);
    // Counted once committed; an issue whose closing fails stays open for the
    // next poll and holds back no other.
    IsolatedBatches batches(DatabaseConnection(), outcome.Failures, [&outcome] { ++outcome.IssuesClosed; });
    while (!issues.Eof()) {
        const QVariant issueId = issues.Field(QStringLiteral("IssueID"));
        const QString note = AutoCloseNote(CurrentDateTime());
        // The edit time is a second reading of the clock; it may differ from the note's.
        batches.Write(QStringLiteral("The closing of automatic issue %1 (training %2)")
                          .arg(ValueText(issueId), ValueText(issues.Field(QStringLiteral("ID")))),
                      {CloseIssueStatement(note, CurrentDateTime(), issueId)});
        issues.MoveNext();
    }
    batches.Finish();
}
