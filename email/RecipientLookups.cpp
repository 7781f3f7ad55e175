#include "email/RecipientLookups.h"

#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "database/ValueConversion.h"

QString ContractSpecialistEmailsSql(const QString &contractId)
{
    return QStringLiteral("SELECT Email FROM ServiceContractSpecialist LEFT JOIN Employee ON "
                          "ServiceContractSpecialist.EmployeeID = Employee.ID WHERE "
                          "ServiceContractSpecialist.ServiceContractID = ") +
        contractId + QStringLiteral(" ORDER BY Email");
}

QString ContractEmailSql(const QString &contractId)
{
    return QStringLiteral("SELECT * FROM ServiceContract WHERE ID = ") + contractId;
}

QString IssueCategorySql(const QString &issueId)
{
    return QStringLiteral("SELECT * FROM Issues WHERE ID = ") + issueId;
}

QString GetContractSpecialistEmails(const QString &contractId)
{
    Recordset rows;
    rows.Open(ContractSpecialistEmailsSql(contractId), DatabaseConnection());
    const ClosesRecordset closeAtEnd(rows);
    QString list;
    for (; !rows.Eof(); rows.MoveNext()) {
        const QString email = FieldText(rows.Field(QStringLiteral("Email")));
        if (!email.isEmpty())
            list += email + QLatin1Char(';');
    }
    return list;
}

QString GetContractEmail(const QString &contractId, const QString &category)
{
    Recordset rows;
    rows.Open(ContractEmailSql(contractId), DatabaseConnection());
    const ClosesRecordset closeAtEnd(rows);
    QString address;
    if (!rows.Eof()) {
        if (category == QLatin1String("Contract Employee"))
            address = FieldText(rows.Field(QStringLiteral("EmailEmployee")));
        else if (category == QLatin1String("Contract"))
            address = FieldText(rows.Field(QStringLiteral("EmailContract")));
    }
    return address;
}

QString GetIssueCategory(const QString &issueId)
{
    Recordset rows;
    rows.Open(IssueCategorySql(issueId), DatabaseConnection());
    const ClosesRecordset closeAtEnd(rows);
    QString category;
    if (!rows.Eof())
        category = FieldText(rows.Field(QStringLiteral("Category")));
    return category;
}
