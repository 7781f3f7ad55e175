#include "alerts/AutomaticIssues.h"

#include "alerts/IsolatedBatches.h"
#include "alerts/RenewalKeyTypes.h"
#include "alerts/TrainingExpireRule.h"
#include "alerts/TrainingStatements.h"
#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "database/ValueText.h"

void CreateAutomaticIssues(TrainingExpiryOutcome &outcome)
{
    const RenewalKeyType issueKey = ReadRenewalKeyTypes(DatabaseConnection()).IssueKey;
    Recordset &trainings = SharedRecordset();
    trainings.Open(AutomaticIssueSelectQuery(IssueWindowDate(), issueKey), DatabaseConnection());
    const ClosesRecordset closeAtEnd(trainings);
    // Counted once committed: a rolled-back issue is opened at the next poll.
    IsolatedBatches batches(DatabaseConnection(), outcome.Failures, [&outcome] { ++outcome.IssuesCreated; });
    while (!trainings.Eof()) {
        // IssueID is the automatic issue already opened for this renewal date, or 0.
        if (ValueText(trainings.Field(QStringLiteral("IssueID"))) == QLatin1String("0")) {
            const QVariant renewDate = trainings.Field(QStringLiteral("RenewDate"));
            AutomaticIssueValues issue;
            issue.ItemID = trainings.Field(QStringLiteral("ID"));
            issue.ItemDesc =
                ItemDescription(trainings.Field(QStringLiteral("Name")), trainings.Field(QStringLiteral("LastName")),
                                trainings.Field(QStringLiteral("FirstName")),
                                trainings.Field(QStringLiteral("MiddleName")),
                                trainings.Field(QStringLiteral("Suffix")), renewDate);
            issue.IssueDate = Today();
            issue.DueDate = renewDate;
            issue.Description = QStringLiteral("(AUTO ISSUE) ") + issue.ItemDesc;
            issue.Priority = TrainingExpireRule.IssuePriority;
            issue.ContractID = trainings.Field(QStringLiteral("ContractID"));
            issue.EnteredDate = CurrentDateTime();
            issue.EditedDate = CurrentDateTime();
            issue.AutoDate = renewDate;
            batches.Write(QStringLiteral("The automatic issue of training %1 (%2)")
                              .arg(ValueText(issue.ItemID), issue.ItemDesc),
                          {AutomaticIssueInsertStatement(issue)});
        }
        trainings.MoveNext();
    }
    batches.Finish();
}
