#pragma once

#include "mainwindow/DoTasks.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/HostData.h"
#include "tests/support/ServerRun.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDatabase.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

// Task cycles run in this process (DoTasks, as the window and the headless
// server run them) on a real embedded database, mailing to real SMTP servers
// on 127.0.0.1. The clock stands at 12/7/2026 2:05:09 PM.
class CycleTest : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    static const QDateTime kNow;
    static QDate Today() { return kNow.date(); }

    void SetUp() override;
    void TearDown() override;

    // Starts a mail server and points the company settings at it (as an
    // operator would, followed by a restart: the settings are read once).
    SmtpServer &StartMail(const SmtpServer::Options &options = SmtpServer::Options{});
    // The Company row read as start-up reads it.
    void LoadSettings();
    // Mail time limits of a second or two, for servers that never answer;
    // false: limits no working server here comes near (the default).
    static void ShortMailTimeouts(bool shortLimits = true);
    // One task cycle; returns its log text and keeps its result in last.
    QString Cycle();
    // Every message that reached any server this test started, in order.
    QList<ReceivedMail> AllMail() const;

    qint64 Count(const QString &tableAndCondition) { return host.Count(tableAndCondition); }
    qint64 Unsent() { return Count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailSent = 0")); }

    TempDatabase db;
    HostData host{db};
    CycleResult last;
    QStringList connectionFailures; // reasons OpenDatabase reported
    std::vector<std::unique_ptr<SmtpServer>> servers;
};

// Certifications laid out for busy cycles: `contracts` active contracts with
// `dueEach` due certifications each (renewal 0 to 29 days from today, some
// overdue), two specialists per contract, one manager per two contracts, and
// beside them certifications that must never be notified.
struct Workload
{
    QList<qint64> due;      // notified at the next cycle
    QList<qint64> issueDue; // of those, the ones that also get an automatic issue
    QList<qint64> never;    // suspended, terminated, optional, inactive contract, not yet due
};
Workload AddWorkload(HostData &host, const QDate &today, int contracts, int dueEach, const QString &tag);

// What must hold on the database whatever failed on the way:
//  - every certification in `due` has exactly one log row, no other has any;
//  - every log row has rowsPerNotification queue rows (at least that many when
//    rows may have been queued again for refused recipients), no queue row
//    lacks a log row;
//  - no automatic issue twice for one record and renewal date;
//  - with allSent, no queue row is left unsent.
// Returns one text per violation.
QStringList DatabaseViolations(TempDatabase &db, const QList<qint64> &due, int rowsPerNotification, bool allSent,
                               bool queuedAgain = false);

// Mail against the queue: every row marked sent reached each of its
// recipients (or was queued again for the ones it did not reach), and
// nothing arrived that no queue row holds. With exactlyOnce
// also: no notification reached a recipient twice, and no unsent row's
// notification reached anyone.
QStringList MailViolations(TempDatabase &db, const QList<ReceivedMail> &mails, bool exactlyOnce);

// A second process holding a write lock on an SQLite file (the host database,
// or the cycle lock file) until it is stopped or killed.
class SqliteLockHolder
{
public:
    // statement: "BEGIN EXCLUSIVE" or "BEGIN IMMEDIATE".
    SqliteLockHolder(const QString &file, const QString &statement = QStringLiteral("BEGIN EXCLUSIVE"));
    ~SqliteLockHolder();
    bool holding() const { return m_holding; }
    void release(); // commits and ends the process
    void kill();    // SIGKILL: no chance to give anything back

private:
    QProcess m_process;
    bool m_holding = false;
};

// Waits on another server's lock (the cycle lock, the write lock) cut to a
// fraction of a second for the tests of what follows such a wait, in this
// process and the servers it starts; the usual waits again at the end of scope.
struct ShortLockWaits
{
    ShortLockWaits() { qputenv("VELMAR_LOCK_WAIT_MS", "300"); }
    ~ShortLockWaits() { qunsetenv("VELMAR_LOCK_WAIT_MS"); }
};

// Texts in failure messages as text.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

#define EXPECT_NO_VIOLATIONS(list)                                                                                     \
    do {                                                                                                               \
        const QStringList violations_ = (list);                                                                        \
        EXPECT_TRUE(violations_.isEmpty()) << violations_.join(QLatin1Char('\n')).toStdString();                       \
    } while (false)
