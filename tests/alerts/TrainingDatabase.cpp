#include "tests/alerts/TrainingDatabase.h"

#include "alerts/TrainingExpireRule.h"
#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/Recordset.h"
#include "startup/CompanySettings.h"

const QDateTime TrainingDatabase::kNow(QDate(2026, 12, 7), QTime(14, 5, 9));

void TrainingDatabase::SetUp()
{
    SetClockForTests([] { return kNow; });
    TrainingExpireRule = TrainingExpireRuleValues();
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

void TrainingDatabase::AddRule(const QString &overrides)
{
    HostData::AddRule(QStringLiteral("CreateIssueDaysInAdvance = 15") +
                      (overrides.isEmpty() ? QString() : QStringLiteral(", ") + overrides));
}

qint64 TrainingDatabase::AddIssue(qint64 trainingId, const QDate &autoDate, const QString &status,
                                  const QVariant &description, const QString &enteredBy, const QString &autoItem)
{
    return Insert(
        QStringLiteral("INSERT INTO Issues (ContractID, Category, ItemID, ItemDesc, Description, Status,"
                       " EnteredBy, AUTO_Item, AUTO_Date) VALUES (%1, '', %2, 'earlier issue', %3, %4, %5,"
                       " %6, %7)")
            .arg(m_acmeContract)
            .arg(trainingId)
            .arg(Literal(description), Literal(status), Literal(enteredBy), Literal(autoItem), Literal(autoDate)));
}

qint64 TrainingDatabase::AddAcmeTraining(const QDate &completed)
{
    if (m_acmeContract == 0) {
        m_acmeContract = AddContract(QStringLiteral("Acme Ltd"), AddStaff(QStringLiteral("manager@velmar.example")));
        AddSpecialist(m_acmeContract, AddStaff(QStringLiteral("zoe@velmar.example")));
        AddSpecialist(m_acmeContract, AddStaff(QStringLiteral("adam@velmar.example")));
        m_acmePerson =
            AddPerson(QStringLiteral("Jane"), QStringLiteral("Q"), QStringLiteral("Doe"), QStringLiteral("III"));
        m_firstAid = AddItem(QStringLiteral("First Aid"));
    }
    return AddTraining(m_firstAid, m_acmePerson, m_acmeContract, completed);
}
