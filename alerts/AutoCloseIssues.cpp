#include "alerts/AutoCloseIssues.h"

#include "alerts/TrainingExpireRule.h"
#include "alerts/TrainingStatements.h"
#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/Recordset.h"

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
