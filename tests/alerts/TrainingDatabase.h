#pragma once

#include "HostData.h"
#include "TempDatabase.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <gtest/gtest.h>

// A host database in a temporary file with the system's connection open on
// it, the clock fixed at 12/7/2026 2:05:09 PM, fresh rule values, and a
// company row's sender settings. Rows are laid out in native
// SQL through the fixture's own connection.
class TrainingDatabase : public ::testing::Test
{
protected:
    static const QDateTime kNow;   // 12/7/2026 2:05:09 PM

    void SetUp() override;
    void TearDown() override;

    // The rule: Category 'Contract', every switch on, notify 30 days ahead
    // (window 1/6/2027), open issues 15 days ahead (window 12/22/2026).
    void AddRule(const QString &overrides = QString());   // e.g. "CreateIssue = NULL, IssuePriority = 'Low'"

    qint64 AddStaff(const QVariant &email);
    qint64 AddContract(const QVariant &customerName, qint64 managerId, const QString &status = QStringLiteral("Active"));
    void AddSpecialist(qint64 contractId, qint64 staffId);
    qint64 AddPerson(const QVariant &first, const QVariant &middle, const QVariant &last, const QVariant &suffix,
                     int suspended = 0, int terminated = 0);
    qint64 AddItem(const QVariant &name, int renewsMonths = 12, int optional = 0);
    // A training record completed on the given date: it renews renewsMonths later.
    qint64 AddTraining(qint64 itemId, qint64 personId, const QVariant &contractId, const QDate &completed);
    // An issue as the system would have opened it (or not, with another enteredBy/item).
    qint64 AddIssue(qint64 trainingId, const QDate &autoDate, const QString &status = QStringLiteral("Open"),
                    const QVariant &description = QStringLiteral("(AUTO ISSUE) earlier"),
                    const QString &enteredBy = QStringLiteral("AUTO SERVER"),
                    const QString &autoItem = QStringLiteral("Training Expire"));

    // A complete, notifiable record: contract 'Acme Ltd' with a manager, two
    // specialists and client addresses, person Jane Q Doe III, item First Aid.
    // Returns the training record's ID.
    qint64 AddAcmeTraining(const QDate &completed);
    qint64 AcmeContract() const { return m_acmeContract; }

    qint64 Count(const QString &tableAndCondition);   // "Issues WHERE Status = 'Open'"
    QVariantMap Row(const QString &nativeSql) { return db.queryRow(nativeSql); }

    static QString Iso(const QDate &date);   // stored form of a date: "2026-12-07 00:00:00"

    TempDatabase db;
    HostData host{db};   // the host rows every suite inserts alike

private:
    qint64 Insert(const QString &nativeSql);
    qint64 m_acmeContract = 0;
    qint64 m_acmePerson = 0;
    qint64 m_firstAid = 0;
};

// A native SQL literal: 'text' with quotes doubled, or NULL.
QString Literal(const QVariant &value);
