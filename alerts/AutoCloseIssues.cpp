#include "AutoCloseIssues.h"

#include "Clock.h"
#include "DbConnection.h"
#include "Recordset.h"
#include "TrainingExpireRule.h"
#include "TrainingStatements.h"

void AutoCloseIssues(TrainingExpiryOutcome &outcome)
{
    Recordset &issues = SharedRecordset();
    issues.Open(AutoCloseSelectQuery(IssueWindowDate()), DatabaseConnection());
    const ClosesRecordset closeAtEnd(issues);
    while (!issues.Eof()) {
        const QVariant issueId = issues.Field(QStringLiteral("IssueID"));
        const QString note = AutoCloseNote(CurrentDateTime());
        // The edit time is a second reading of the clock; it may differ from the note's.
        DatabaseConnection().Execute(CloseIssueStatement(note, CurrentDateTime(), issueId));
        ++outcome.IssuesClosed;
        issues.MoveNext();
    }
}
