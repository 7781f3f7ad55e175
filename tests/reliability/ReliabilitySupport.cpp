#include "tests/reliability/ReliabilitySupport.h"

#include "alerts/TrainingExpireRule.h"
#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "database/Recordset.h"
#include "mainwindow/CycleCounters.h"
#include "mainwindow/CycleMailSettings.h"
#include "mainwindow/LogLine.h"
#include "tests/support/FreshCompanySettings.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

const QDateTime CycleTest::kNow(QDate(2026, 12, 7), QTime(14, 5, 9));

void CycleTest::SetUp()
{
    qputenv("CURL_CA_BUNDLE", SmtpServer::testAuthorityFile().toLocal8Bit());
    ShortMailTimeouts(false);
    SetClockForTests([] { return kNow; });
    TrainingExpireRule = TrainingExpireRuleValues();
    CycleCounters.Reset();
    DBConnectionString = db.connectionString();
    SetOpenDatabaseFailureHandler([this](const QString &reason) { connectionFailures.append(reason); });
}

void CycleTest::TearDown()
{
    SharedRecordset().Close();
    CloseDatabase();
    SetOpenDatabaseFailureHandler(nullptr);
    SetCycleMailOptions({});
    SetClockForTests({});
    qunsetenv("CURL_CA_BUNDLE");
    CycleCounters.Reset();
}

SmtpServer &CycleTest::StartMail(const SmtpServer::Options &options)
{
    servers.push_back(std::make_unique<SmtpServer>(options));
    SmtpServer &server = *servers.back();
    if (!server.available())
        throw std::runtime_error("the test mail server could not bind its port");
    db.exec(QStringLiteral("UPDATE Company SET AutomationServerEmailServerPort = '%1'").arg(server.port()));
    LoadSettings();
    return server;
}

void CycleTest::LoadSettings()
{
    if (!OpenDatabase())
        throw std::runtime_error("cannot open the test database: " + LastOpenDatabaseError().toStdString());
    LoadCompanySettings();
    CloseDatabase();
}

void CycleTest::ShortMailTimeouts(bool shortLimits)
{
    MailOptions options;
    options.timeouts = shortLimits ? MailTimeouts{std::chrono::milliseconds(1000), std::chrono::milliseconds(2000)}
                                   : MailTimeouts{std::chrono::milliseconds(10000), std::chrono::milliseconds(30000)};
    SetCycleMailOptions(options);
}

QString CycleTest::Cycle()
{
    last = DoTasks();
    return CycleLogText(last, kNow);
}

QList<ReceivedMail> CycleTest::AllMail() const
{
    QList<ReceivedMail> mails;
    for (const auto &server : servers)
        mails += server->messages();
    return mails;
}

namespace {

QDate reachableRenewal(QDate renewal, int renewsMonths)
{
    // 29 February and the like cannot be reached from every month: the day before can.
    while (renewal.addMonths(-renewsMonths).addMonths(renewsMonths) != renewal)
        renewal = renewal.addDays(-1);
    return renewal;
}

QString text(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

struct QueueRow
{
    qint64 id = 0;
    QString to;
    QString body;
    bool sent = false;
    qint64 itemId = -1;
};

QList<QueueRow> queueRows(TempDatabase &db)
{
    static const QRegularExpression item(QStringLiteral("\r\nItem ID: (-?[0-9]+)\r\n"));
    QList<QueueRow> rows;
    for (const QVariantList &row : db.queryRows(
             QStringLiteral("SELECT ID, EmailTo, EmailBody, EmailSent FROM AutomationServer_EmailsSent ORDER BY ID"))) {
        QueueRow r;
        r.id = row.at(0).toLongLong();
        r.to = text(row.at(1));
        r.body = text(row.at(2));
        r.sent = row.at(3).toInt() != 0;
        const QRegularExpressionMatch match = item.match(r.body);
        if (match.hasMatch())
            r.itemId = match.captured(1).toLongLong();
        rows.append(r);
    }
    return rows;
}

QStringList recipientsOf(const QString &list)
{
    QStringList recipients;
    for (const QString &piece : list.split(QLatin1Char(';'))) {
        if (!piece.trimmed().isEmpty())
            recipients.append(piece.trimmed());
    }
    return recipients;
}

} // namespace

Workload AddWorkload(HostData &host, const QDate &today, int contracts, int dueEach, const QString &tag)
{
    Workload work;
    const qint64 firstAid = host.AddItem(QStringLiteral("First Aid ") + tag, 12);
    const qint64 optional = host.AddItem(QStringLiteral("Ergonomics ") + tag, 12, 1);
    qint64 manager = 0;
    qint64 lastContract = 0;
    for (int c = 0; c < contracts; ++c) {
        if (c % 2 == 0)
            manager = host.AddStaff(QStringLiteral("manager%1.%2@velmar.test").arg(c / 2).arg(tag));
        const qint64 contract = host.AddContract(QStringLiteral("Client %1 %2").arg(c).arg(tag), manager,
                                                 QStringLiteral("client%1.%2@client.test").arg(c).arg(tag));
        host.AddSpecialist(contract, host.AddStaff(QStringLiteral("staffer%1a.%2@velmar.test").arg(c).arg(tag)));
        host.AddSpecialist(contract, host.AddStaff(QStringLiteral("staffer%1b.%2@velmar.test").arg(c).arg(tag)));
        for (int i = 0; i < dueEach; ++i) {
            const int offset = (c * 7 + i * 3) % 40 - 10; // -10 .. 29 days: overdue to the window's edge
            const QDate renewal = reachableRenewal(today.addDays(offset), 12);
            const qint64 person = host.AddPerson(QStringLiteral("Pat"), QStringLiteral("%1").arg(i),
                                                 QStringLiteral("Worker%1-%2").arg(c).arg(tag), QVariant());
            work.due.append(host.AddTraining(firstAid, person, contract, HostData::CompletedFor(renewal, 12)));
            if (renewal <= today.addDays(14))
                work.issueDue.append(work.due.last());
        }
        lastContract = contract;
    }
    const QDate soon = reachableRenewal(today.addDays(3), 12);
    const QDate completed = HostData::CompletedFor(soon, 12);
    const qint64 suspended =
        host.AddPerson(QStringLiteral("Sus"), QVariant(), QStringLiteral("Pended"), QVariant(), 1, 0);
    const qint64 terminated =
        host.AddPerson(QStringLiteral("Ter"), QVariant(), QStringLiteral("Minated"), QVariant(), 0, 1);
    const qint64 regular = host.AddPerson(QStringLiteral("Reg"), QVariant(), QStringLiteral("Ular"), QVariant());
    const qint64 inactive =
        host.AddContract(QStringLiteral("Former ") + tag, manager, QStringLiteral("former.%1@client.test").arg(tag),
                         QStringLiteral("Inactive"));
    work.never.append(host.AddTraining(firstAid, suspended, lastContract, completed));
    work.never.append(host.AddTraining(firstAid, terminated, lastContract, completed));
    work.never.append(host.AddTraining(optional, regular, lastContract, completed));
    work.never.append(host.AddTraining(firstAid, regular, inactive, completed));
    work.never.append(host.AddTraining(firstAid, regular, lastContract,
                                       HostData::CompletedFor(reachableRenewal(today.addDays(200), 12), 12)));
    return work;
}

QStringList DatabaseViolations(TempDatabase &db, const QList<qint64> &due, int rowsPerNotification, bool allSent,
                               bool queuedAgain)
{
    QStringList violations;
    QHash<qint64, int> logRows;
    for (const QVariantList &row : db.queryRows(QStringLiteral("SELECT ItemID FROM AutomationServer_Emails")))
        ++logRows[row.at(0).toLongLong()];
    const QSet<qint64> dueSet(due.cbegin(), due.cend());
    for (qint64 id : due) {
        if (logRows.value(id) != 1)
            violations.append(QStringLiteral("due certification %1 has %2 log rows").arg(id).arg(logRows.value(id)));
    }
    for (auto it = logRows.cbegin(); it != logRows.cend(); ++it) {
        if (!dueSet.contains(it.key()))
            violations.append(QStringLiteral("certification %1 is not due but has a log row").arg(it.key()));
    }

    QHash<qint64, int> queued;
    for (const QueueRow &row : queueRows(db)) {
        ++queued[row.itemId];
        if (!logRows.contains(row.itemId))
            violations.append(QStringLiteral("queue row %1 (item %2) has no log row").arg(row.id).arg(row.itemId));
        if (allSent && !row.sent)
            violations.append(QStringLiteral("queue row %1 to %2 was never sent").arg(row.id).arg(row.to));
    }
    for (auto it = logRows.cbegin(); it != logRows.cend(); ++it) {
        const int expected = rowsPerNotification * it.value();
        if (queuedAgain ? queued.value(it.key()) < expected : queued.value(it.key()) != expected)
            violations.append(QStringLiteral("certification %1 has %2 queue rows for %3 log rows")
                                  .arg(it.key())
                                  .arg(queued.value(it.key()))
                                  .arg(it.value()));
    }

    for (const QVariantList &row :
         db.queryRows(QStringLiteral("SELECT ItemID, AUTO_Date, COUNT(*) FROM Issues WHERE EnteredBy = 'AUTO SERVER'"
                                     " GROUP BY ItemID, AUTO_Date HAVING COUNT(*) > 1")))
        violations.append(QStringLiteral("automatic issue for record %1, renewal %2 opened %3 times")
                              .arg(row.at(0).toString(), row.at(1).toString(), row.at(2).toString()));
    return violations;
}

QStringList MailViolations(TempDatabase &db, const QList<ReceivedMail> &mails, bool exactlyOnce)
{
    QStringList violations;
    const QHash<QString, int> delivered = DeliveredNotifications(mails);
    const QList<QueueRow> rows = queueRows(db);
    // The rows queued again for a recipient a message did not reach.
    QHash<QString, qint64> latestRow;
    for (const QueueRow &row : rows) {
        for (const QString &recipient : recipientsOf(row.to))
            latestRow[recipient + QLatin1Char('\n') + row.body] = row.id;
    }
    QSet<QString> queued;
    for (const QueueRow &row : rows) {
        for (const QString &recipient : recipientsOf(row.to)) {
            const QString key = recipient + QLatin1Char('\n') + row.body;
            queued.insert(key);
            const int times = delivered.value(key);
            if (row.sent && times == 0 && latestRow.value(key) == row.id)
                violations.append(
                    QStringLiteral("queue row %1 is marked sent but %2 never got it").arg(row.id).arg(recipient));
            if (exactlyOnce && !row.sent && times > 0)
                violations.append(QStringLiteral("queue row %1 is unsent but %2 got it").arg(row.id).arg(recipient));
        }
    }
    for (auto it = delivered.cbegin(); it != delivered.cend(); ++it) {
        if (!queued.contains(it.key()))
            violations.append(QStringLiteral("mail without a queue row: %1").arg(it.key().left(200)));
        if (exactlyOnce && it.value() > 1)
            violations.append(QStringLiteral("delivered %1 times: %2").arg(it.value()).arg(it.key().left(200)));
    }
    return violations;
}

SqliteLockHolder::SqliteLockHolder(const QString &file, const QString &statement)
{
    // Python's own SQLite module: another process, another SQLite library
    // instance, the same file locks.
    const QString script = QStringLiteral("import sqlite3, sys\n"
                                          "c = sqlite3.connect(sys.argv[1], timeout=10, isolation_level=None)\n"
                                          "c.execute(sys.argv[2])\n"
                                          "print('HOLDING', flush=True)\n"
                                          "sys.stdin.readline()\n"
                                          "c.execute('COMMIT')\n");
    m_process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, file, statement});
    if (!m_process.waitForStarted(10000))
        throw std::runtime_error("cannot start /usr/bin/python3");
    QByteArray said;
    const QDeadlineTimer deadline(20000);
    while (!said.contains("HOLDING\n") && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        said += m_process.readAllStandardOutput();
    }
    m_holding = said.contains("HOLDING\n");
    if (!m_holding)
        throw std::runtime_error("the lock holder did not get its lock: " + said.toStdString() +
                                 m_process.readAllStandardError().toStdString());
}

SqliteLockHolder::~SqliteLockHolder()
{
    if (m_process.state() != QProcess::NotRunning)
        kill();
}

void SqliteLockHolder::release()
{
    m_process.write("\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(10000))
        kill();
    m_holding = false;
}

void SqliteLockHolder::kill()
{
    m_process.kill();
    m_process.waitForFinished(10000);
    m_holding = false;
}
