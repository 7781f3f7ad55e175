#include "TrainingDatabase.h"

#include "Clock.h"
#include "CompanySettings.h"
#include "DbConnection.h"
#include "Recordset.h"
#include "TrainingExpireRule.h"

const QDateTime TrainingDatabase::kNow(QDate(2026, 12, 7), QTime(14, 5, 9));

QString Literal(const QVariant &value)
{
    return HostData::Literal(value);
}

void TrainingDatabase::SetUp()
{
    SetClockForTests([] { return kNow; });
    TrainingExpireRule = TrainingExpireRuleValues();
    CompanySettings = CompanySettingsValues();
    CompanySettings.Name = QStringLiteral("Velmar Services");
    CompanySettings.AutomationServerEmailFrom = QStringLiteral("alerts@velmar.example");
    QString error;
    ASSERT_TRUE(DatabaseConnection().Open(db.connectionString(), &error)) << error.toStdString();
}

void TrainingDatabase::TearDown()
{
    SharedRecordset().Close();
    DatabaseConnection().Close();
    SetClockForTests({});
}

QString TrainingDatabase::Iso(const QDate &date)
{
    return HostData::Iso(date);
}

qint64 TrainingDatabase::Insert(const QString &nativeSql)
{
    return host.Insert(nativeSql);
}

void TrainingDatabase::AddRule(const QString &overrides)
{
    const qint64 id = Insert(QStringLiteral(
        "INSERT INTO AutomationServer_Alert (Item, Category, EmailContractManager, EmailContractSpecialist, EmailClient,"
        " DaysInAdvance, CreateIssue, CreateIssueDaysInAdvance, IssuePriority, AutoCloseIssue)"
        " VALUES ('Training Expire', 'Contract', 1, 1, 1, 30, 1, 15, 'High', 1)"));
    if (!overrides.isEmpty())
        db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET %1 WHERE ID = %2").arg(overrides).arg(id));
}

qint64 TrainingDatabase::AddStaff(const QVariant &email)
{
    return host.AddStaff(email);
}

qint64 TrainingDatabase::AddContract(const QVariant &customerName, qint64 managerId, const QString &status)
{
    return Insert(QStringLiteral("INSERT INTO ServiceContract (ContractNumber, CustomerName, Status, PrimaryContactEmail,"
                                 " ContractManagerID, EmailEmployee, EmailContract)"
                                 " VALUES ('C-1', %1, %2, 'primary@client.example', %3, 'staff@client.example',"
                                 " 'contracts@client.example')")
                      .arg(Literal(customerName), Literal(status))
                      .arg(managerId));
}

void TrainingDatabase::AddSpecialist(qint64 contractId, qint64 staffId)
{
    host.AddSpecialist(contractId, staffId);
}

qint64 TrainingDatabase::AddPerson(const QVariant &first, const QVariant &middle, const QVariant &last,
                                   const QVariant &suffix, int suspended, int terminated)
{
    return host.AddPerson(first, middle, last, suffix, suspended, terminated);
}

qint64 TrainingDatabase::AddItem(const QVariant &name, int renewsMonths, int optional)
{
    return host.AddItem(name, renewsMonths, optional);
}

qint64 TrainingDatabase::AddTraining(qint64 itemId, qint64 personId, const QVariant &contractId, const QDate &completed)
{
    return Insert(QStringLiteral("INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID,"
                                 " EmployeeID, ContractID) VALUES (1, '%1', %2, %3, %4)")
                      .arg(Iso(completed))
                      .arg(itemId)
                      .arg(personId)
                      .arg(Literal(contractId)));
}

qint64 TrainingDatabase::AddIssue(qint64 trainingId, const QDate &autoDate, const QString &status,
                                  const QVariant &description, const QString &enteredBy, const QString &autoItem)
{
    return Insert(QStringLiteral("INSERT INTO Issues (ContractID, Category, ItemID, ItemDesc, Description, Status,"
                                 " EnteredBy, AUTO_Item, AUTO_Date) VALUES (%1, '', %2, 'earlier issue', %3, %4, %5,"
                                 " %6, '%7')")
                      .arg(m_acmeContract)
                      .arg(trainingId)
                      .arg(Literal(description), Literal(status), Literal(enteredBy), Literal(autoItem),
                           Iso(autoDate)));
}

qint64 TrainingDatabase::AddAcmeTraining(const QDate &completed)
{
    if (m_acmeContract == 0) {
        m_acmeContract = AddContract(QStringLiteral("Acme Ltd"), AddStaff(QStringLiteral("manager@velmar.example")));
        AddSpecialist(m_acmeContract, AddStaff(QStringLiteral("zoe@velmar.example")));
        AddSpecialist(m_acmeContract, AddStaff(QStringLiteral("adam@velmar.example")));
        m_acmePerson = AddPerson(QStringLiteral("Jane"), QStringLiteral("Q"), QStringLiteral("Doe"), QStringLiteral("III"));
        m_firstAid = AddItem(QStringLiteral("First Aid"));
    }
    return AddTraining(m_firstAid, m_acmePerson, m_acmeContract, completed);
}

qint64 TrainingDatabase::Count(const QString &tableAndCondition)
{
    return host.Count(tableAndCondition);
}
