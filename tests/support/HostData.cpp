#include "tests/support/HostData.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

QString HostData::Iso(const QDate &date)
{
    return date.toString(Qt::ISODate) + QStringLiteral(" 00:00:00");
}

QString HostData::Literal(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return value.toString();
    case QMetaType::QDate:
        return QLatin1Char('\'') + Iso(value.toDate()) + QLatin1Char('\'');
    case QMetaType::QDateTime:
        return QLatin1Char('\'') + value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
            QLatin1Char('\'');
    default: {
        QString text = value.toString();
        text.replace(QLatin1Char('\''), QLatin1String("''"));
        return QLatin1Char('\'') + text + QLatin1Char('\'');
    }
    }
}

qint64 HostData::Insert(const QString &nativeSql)
{
    m_db.exec(nativeSql);
    return m_db.queryValue(QStringLiteral("SELECT last_insert_rowid()")).toLongLong();
}

qint64 HostData::Count(const QString &tableAndCondition)
{
    return m_db.queryValue(QStringLiteral("SELECT COUNT(*) FROM ") + tableAndCondition).toLongLong();
}

void HostData::AddCompany(int smtpPort)
{
    Insert(QStringLiteral("INSERT INTO Company (Name, AutomationServerPoll, AutomationServerEmailFrom,"
                          " AutomationServerEmailServer, AutomationServerEmailServerPort,"
                          " AutomationServerEmailUseSSLTLS, AutomationServerEmailFooter)"
                          " VALUES ('Velmar Services', 5, 'alerts@velmar.test', '127.0.0.1', '%1', 0,"
                          " 'Velmar Services - Compliance Desk')")
               .arg(smtpPort));
}

void HostData::AddRule(const QString &overrides)
{
    const qint64 id = Insert(QStringLiteral(
        "INSERT INTO AutomationServer_Alert (Item, Category, EmailContractManager, EmailContractSpecialist,"
        " EmailClient, DaysInAdvance, CreateIssue, CreateIssueDaysInAdvance, IssuePriority, AutoCloseIssue)"
        " VALUES ('Training Expire', 'Contract', 1, 1, 1, 30, 1, 14, 'High', 1)"));
    if (!overrides.isEmpty())
        m_db.exec(QStringLiteral("UPDATE AutomationServer_Alert SET %1 WHERE ID = %2").arg(overrides).arg(id));
}

qint64 HostData::AddStaff(const QVariant &email)
{
    return Insert(QStringLiteral("INSERT INTO Employee (FirstName, LastName, Email) VALUES ('Staff', 'Member', %1)")
                      .arg(Literal(email)));
}

qint64 HostData::AddContract(const QVariant &customerName, qint64 managerId, const QVariant &emailContract,
                             const QString &status, const QVariant &emailEmployee)
{
    return Insert(QStringLiteral("INSERT INTO ServiceContract (ContractNumber, CustomerName, Status,"
                                 " PrimaryContactEmail, ContractManagerID, EmailEmployee, EmailContract)"
                                 " VALUES ('C-1', %1, %2, 'primary@client.test', %3, %4, %5)")
                      .arg(Literal(customerName), Literal(status))
                      .arg(managerId)
                      .arg(Literal(emailEmployee), Literal(emailContract)));
}

void HostData::AddSpecialist(qint64 contractId, qint64 staffId)
{
    Insert(QStringLiteral("INSERT INTO ServiceContractSpecialist (ServiceContractID, EmployeeID) VALUES (%1, %2)")
               .arg(contractId)
               .arg(staffId));
}

qint64 HostData::AddPerson(const QVariant &first, const QVariant &middle, const QVariant &last, const QVariant &suffix,
                           int suspended, int terminated)
{
    return Insert(QStringLiteral("INSERT INTO CustomerEmployee (FirstName, MiddleName, LastName, Suffix, Suspended,"
                                 " Terminated) VALUES (%1, %2, %3, %4, %5, %6)")
                      .arg(Literal(first), Literal(middle), Literal(last), Literal(suffix))
                      .arg(suspended)
                      .arg(terminated));
}

qint64 HostData::AddItem(const QVariant &name, const QVariant &renewsMonths, int optional)
{
    return Insert(QStringLiteral("INSERT INTO TrainingItem (Name, Renews, Optional) VALUES (%1, %2, %3)")
                      .arg(Literal(name), Literal(renewsMonths))
                      .arg(optional));
}

qint64 HostData::AddTraining(qint64 itemId, qint64 personId, const QVariant &contractId, const QVariant &completed)
{
    return Insert(QStringLiteral("INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate, TrainingItemID,"
                                 " EmployeeID, ContractID) VALUES (1, %1, %2, %3, %4)")
                      .arg(Literal(completed))
                      .arg(itemId)
                      .arg(personId)
                      .arg(Literal(contractId)));
}

QDate HostData::CompletedFor(const QDate &renewal, int renewsMonths)
{
    const QDate completed = renewal.addMonths(-renewsMonths);
    if (completed.addMonths(renewsMonths) != renewal)
        throw std::runtime_error("no completion date renews on " + renewal.toString(Qt::ISODate).toStdString());
    return completed;
}

QString WriteServerConfig(const QString &directory, const QString &connectionString)
{
    const QString path = QDir(directory).filePath(QStringLiteral("config.txt"));
    QFile config(path);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    config.write("\"**** Configuration File - DO NOT Modify by hand****\"\r\n\"Database Location\",\"");
    config.write(connectionString.toUtf8());
    config.write("\"\r\n\"END OF CONFIG FILE\"\r\n");
    return path;
}
