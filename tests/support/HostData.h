#pragma once

#include "tests/support/TempDatabase.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

// Host rows for whole-cycle tests, laid out in native SQL on a TempDatabase:
// the Company row, the "Training Expire" rule, staff, contracts, people,
// courses and training records. Every text goes in as a quoted literal with
// its quotes doubled, so hostile values arrive in the table as they are.
class HostData
{
public:
    explicit HostData(TempDatabase &db) : m_db(db) {}

    // Company 'Velmar Services' mailing from alerts@velmar.test through
    // 127.0.0.1:<smtpPort> without TLS or login, polling every 5 minutes.
    void AddCompany(int smtpPort);
    // Every switch on, notify 30 days ahead, open issues 14 days ahead with
    // priority 'High', close automatic issues. overrides: "CreateIssue = 0, ...".
    void AddRule(const QString &overrides = QString());

    qint64 AddStaff(const QVariant &email);
    // Client addresses: EmailContract and EmailEmployee.
    qint64 AddContract(const QVariant &customerName, qint64 managerId,
                       const QVariant &emailContract = QStringLiteral("contracts@client.test"),
                       const QString &status = QStringLiteral("Active"),
                       const QVariant &emailEmployee = QStringLiteral("people@client.test"));
    void AddSpecialist(qint64 contractId, qint64 staffId);
    qint64 AddPerson(const QVariant &first, const QVariant &middle, const QVariant &last, const QVariant &suffix,
                     int suspended = 0, int terminated = 0);
    qint64 AddItem(const QVariant &name, const QVariant &renewsMonths = 12, int optional = 0);
    // completed: a QDate, a QDateTime, a text or Null, stored as given (dates in ISO form).
    qint64 AddTraining(qint64 itemId, qint64 personId, const QVariant &contractId, const QVariant &completed);

    // The completion date whose renewal, renewsMonths later, falls on
    // renewal (renewal dates after the 28th may not be reachable: checked).
    static QDate CompletedFor(const QDate &renewal, int renewsMonths);

    qint64 Count(const QString &tableAndCondition); // "Issues WHERE Status = 'Open'"
    qint64 Insert(const QString &nativeSql);        // returns the new row's ID

    // A native SQL literal: NULL, a number, an ISO date, or 'text' with quotes doubled.
    static QString Literal(const QVariant &value);
    // The stored form of a date: "2026-12-07 00:00:00".
    static QString Iso(const QDate &date);

private:
    TempDatabase &m_db;
};

// A config.txt naming the connection string, written into directory;
// returns its path.
QString WriteServerConfig(const QString &directory, const QString &connectionString);
