#include "RecipientLookups.h"

#include "DbConnection.h"
#include "Recordset.h"

namespace {

QString text(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

} // namespace

QString ContractSpecialistEmailsSql(const QString &contractId)
{
    return QStringLiteral("SELECT Email FROM ServiceContractSpecialist LEFT JOIN Employee ON "
                          "ServiceContractSpecialist.EmployeeID = Employee.ID WHERE "
                          "ServiceContractSpecialist.ServiceContractID = ")
           + contractId + QStringLiteral(" ORDER BY Email");
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
    QString list;
    for (; !rows.Eof(); rows.MoveNext()) {
        const QString email = text(rows.Field(QStringLiteral("Email")));
        if (!email.isEmpty())
            list += email + QLatin1Char(';');
    }
    rows.Close();
    return list;
}

QString GetContractEmail(const QString &contractId, const QString &category)
{
    Recordset rows;
    rows.Open(ContractEmailSql(contractId), DatabaseConnection());
    QString address;
    if (!rows.Eof()) {
        if (category == QLatin1String("Contract Employee"))
            address = text(rows.Field(QStringLiteral("EmailEmployee")));
        else if (category == QLatin1String("Contract"))
            address = text(rows.Field(QStringLiteral("EmailContract")));
    }
    rows.Close();
    return address;
}

QString GetIssueCategory(const QString &issueId)
{
    Recordset rows;
    rows.Open(IssueCategorySql(issueId), DatabaseConnection());
    QString category;
    if (!rows.Eof())
        category = text(rows.Field(QStringLiteral("Category")));
    rows.Close();
    return category;
}
