#pragma once

#include "tests/support/FreshCompanySettings.h"
#include "tests/support/HostData.h"
#include "tests/support/TempDatabase.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <gtest/gtest.h>

// A host database in a temporary file with the system's connection open on
// it, the clock fixed at 12/7/2026 2:05:09 PM, fresh rule values and a
// company row's sender settings. Rows are laid out with the
// shared host-data helpers (HostData) on the fixture's database.
class TrainingDatabase : public ::testing::Test, public HostData
{
protected:
    static const QDateTime kNow; // 12/7/2026 2:05:09 PM

    TrainingDatabase() : HostData(db) {}
    void SetUp() override;
    void TearDown() override;

    // The rule: Category 'Contract', every switch on, notify 30 days ahead
    // (window 1/6/2027), open issues 15 days ahead (window 12/22/2026).
    void AddRule(const QString &overrides = QString()); // e.g. "CreateIssue = NULL, IssuePriority = 'Low'"

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

    QVariantMap Row(const QString &nativeSql) { return db.queryRow(nativeSql); }

    FreshCompanySettings freshSettings;
    TempDatabase db;

private:
    qint64 m_acmeContract = 0;
    qint64 m_acmePerson = 0;
    qint64 m_firstAid = 0;
};
