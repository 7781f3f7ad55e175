#include "email/MailQueueState.h"

#include "database/DbError.h"
#include "database/Recordset.h"
#include "database/SqlText.h"
#include "database/ValueConversion.h"
#include "email/MailRowState.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {
const QString StoredTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

MailQueueState stateOf(const Recordset &rows)
{
    MailQueueState state;
    state.attempts = rows.Field(QStringLiteral("Attempts")).toInt();
    state.lastReply = FieldText(rows.Field(QStringLiteral("LastReply")));
    state.nextTry = QDateTime::fromString(FieldText(rows.Field(QStringLiteral("NextTry"))), StoredTimeFormat);
    return state;
}

void ensureTable(DbConnection &connection)
{
    EnsureOwnTable(connection, QStringLiteral("AutomationServer_EmailQueueState"),
                   CreateMailQueueStateSql(connection.backend()));
}
} // namespace

void EnsureOwnTable(DbConnection &connection, const QString &table, const QString &createSql)
{
    try {
        connection.Query(QStringLiteral("SELECT COUNT(*) FROM ") + table);
    } catch (const DbError &) {
        connection.Execute(createSql);
    }
}

QDateTime MailBackOffUntil(const QDateTime &failedAt, int attempts, int pollMinutes)
{
    const qint64 poll = std::max(pollMinutes, 1);
    const qint64 day = 1440; // minutes
    const qint64 minutes = std::min(day, poll << std::clamp(attempts, 1, 20));
    // A poll that comes a few seconds early must not retry it one poll early.
    return failedAt.addSecs(minutes * 60 - 30);
}

QDateTime MailLoginBackOff(const QDateTime &failedAt, int failures, int pollMinutes)
{
    const qint64 poll = std::max(pollMinutes, 1);
    const qint64 minutes = std::min<qint64>(60, poll << std::clamp(failures, 1, 20));
    return failedAt.addSecs(minutes * 60 - 30);
}

QString MailLoginStateKey(const QStringList &loginSettings)
{
    const QByteArray digest =
        QCryptographicHash::hash(loginSettings.join(QChar(0)).toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("(login) ") + QString::fromLatin1(digest.left(8).toHex());
}

QString ForgetMailLoginStatesSql()
{
    return QStringLiteral("DELETE FROM AutomationServer_EmailQueueState WHERE EmailTo LIKE '(login) %'");
}

QString CreateMailQueueStateSql(DbConnection::Backend backend)
{
    // As in schema/: texts compare without regard to letter case, like the
    // host's own columns.
    if (backend == DbConnection::Backend::Sqlite)
        return QStringLiteral("CREATE TABLE AutomationServer_EmailQueueState (EmailTo TEXT COLLATE NOCASE NOT NULL, "
                              "Attempts INTEGER NOT NULL, LastReply TEXT COLLATE NOCASE NULL, "
                              "NextTry NVARCHAR(19) COLLATE NOCASE NULL)");
    return QStringLiteral("CREATE TABLE AutomationServer_EmailQueueState (EmailTo NVARCHAR(MAX) NOT NULL, "
                          "Attempts INT NOT NULL, LastReply NVARCHAR(MAX) NULL, NextTry NVARCHAR(19) NULL)");
}

QString MailQueueStatesSql()
{
    return QStringLiteral("SELECT EmailTo,Attempts,LastReply,NextTry FROM AutomationServer_EmailQueueState");
}

QString ForgetMailQueueStateSql(const QString &recipients)
{
    return QStringLiteral("DELETE FROM AutomationServer_EmailQueueState WHERE EmailTo=N'") + SqlText(recipients) +
        QStringLiteral("' COLLATE Latin1_General_BIN2");
}

QString SaveMailQueueStateSql(const QString &recipients, const MailQueueState &state)
{
    const QString nextTry = state.nextTry.isValid()
        ? QLatin1Char('\'') + state.nextTry.toString(StoredTimeFormat) + QLatin1Char('\'')
        : QStringLiteral("NULL");
    return QStringLiteral("INSERT INTO AutomationServer_EmailQueueState (EmailTo,Attempts,LastReply,NextTry) "
                          "VALUES (N'%1',%2,N'%3',%4)")
        .arg(SqlText(recipients))
        .arg(state.attempts)
        .arg(SqlText(state.lastReply), nextTry);
}

QString MailQueueStatusSql()
{
    return QStringLiteral(
        "SELECT q.ID,q.EmailTo,s.Attempts,s.LastReply,s.NextTry,r.Refusal FROM AutomationServer_EmailsSent q "
        "LEFT JOIN AutomationServer_EmailQueueState s ON s.EmailTo=q.EmailTo COLLATE Latin1_General_BIN2 "
        "LEFT JOIN AutomationServer_EmailRowState r ON r.EmailID=q.ID AND r.Refusal IS NOT NULL "
        "WHERE q.EmailSent=0 AND q.EmailTo<>'' ORDER BY q.EmailTo COLLATE Latin1_General_BIN2,q.ID");
}

QHash<QString, MailQueueState> LoadMailQueueStates()
{
    DbConnection &connection = DatabaseConnection();
    ensureTable(connection);
    Recordset rows;
    rows.Open(MailQueueStatesSql(), connection);
    const ClosesRecordset closeAtEnd(rows);
    QHash<QString, MailQueueState> states;
    for (; !rows.Eof(); rows.MoveNext())
        states.insert(FieldText(rows.Field(QStringLiteral("EmailTo"))), stateOf(rows));
    return states;
}

void SaveMailQueueState(const QString &recipients, const MailQueueState &state)
{
    DbConnection &connection = DatabaseConnection();
    connection.BeginTransaction();
    try {
        connection.Execute(ForgetMailQueueStateSql(recipients));
        connection.Execute(SaveMailQueueStateSql(recipients, state));
        connection.Commit();
    } catch (...) {
        connection.Rollback();
        throw;
    }
}

void ForgetMailQueueState(const QString &recipients)
{
    DatabaseConnection().Execute(ForgetMailQueueStateSql(recipients));
}

QString MailQueueStatusText()
{
    DbConnection &connection = DatabaseConnection();
    ensureTable(connection);
    EnsureMailRowStateTable();
    Recordset rows;
    rows.Open(MailQueueStatusSql(), connection);
    const ClosesRecordset closeAtEnd(rows);
    QString out;
    int count = 0;
    for (; !rows.Eof(); rows.MoveNext(), ++count) {
        const QString recipients = FieldText(rows.Field(QStringLiteral("EmailTo"))).simplified();
        if (!rows.Field(QStringLiteral("Refusal")).isNull()) {
            out += QStringLiteral("%1\t%2\trefused alone: held until --retry-now\tlast reply: %3\n")
                       .arg(rows.Field(QStringLiteral("ID")).toLongLong())
                       .arg(recipients, FieldText(rows.Field(QStringLiteral("Refusal"))).simplified());
            continue;
        }
        if (rows.Field(QStringLiteral("Attempts")).isNull()) {
            out += QStringLiteral("%1\t%2\tattempts: 0\tnext try: next poll\n")
                       .arg(rows.Field(QStringLiteral("ID")).toLongLong())
                       .arg(recipients);
            continue;
        }
        const MailQueueState state = stateOf(rows);
        out +=
            QStringLiteral("%1\t%2\tattempts: %3\tnext try: %4\tlast reply: %5\n")
                .arg(rows.Field(QStringLiteral("ID")).toLongLong())
                .arg(recipients)
                .arg(state.attempts)
                .arg(state.nextTry.isValid() ? state.nextTry.toString(StoredTimeFormat) : QStringLiteral("next poll"),
                     state.lastReply.simplified());
    }
    return out + QStringLiteral("%1 unsent queue row(s)\n").arg(count);
}

QString ForgetAllMailQueueStatesSql()
{
    return QStringLiteral("DELETE FROM AutomationServer_EmailQueueState");
}

QString RetryMailNowText()
{
    DbConnection &connection = DatabaseConnection();
    ensureTable(connection);
    const QList<QVariant> held =
        connection
            .Query(QStringLiteral("SELECT SUM(CASE WHEN EmailTo LIKE '(login) %' THEN 0 ELSE 1 END),"
                                  "SUM(CASE WHEN EmailTo LIKE '(login) %' THEN 1 ELSE 0 END) "
                                  "FROM AutomationServer_EmailQueueState"))
            .rows.value(0);
    const int refusedAlone = ForgetRefusedNotifications();
    connection.Execute(ForgetAllMailQueueStatesSql());
    QString text = QStringLiteral("%1 recipient list(s) with failed mail will be tried at the next poll\n")
                       .arg(held.value(0).toInt());
    if (refusedAlone > 0)
        text += QStringLiteral("%1 notification(s) refused alone will be tried at the next poll\n").arg(refusedAlone);
    if (held.value(1).toInt() > 0)
        text += QStringLiteral("the mail login will be tried at the next poll\n");
    return text;
}
