#pragma once

#include "database/DbConnection.h"

#include <QDateTime>
#include <QHash>
#include <QString>

// What the server remembers about a recipient list whose queued mail failed:
// kept in its own table, AutomationServer_EmailQueueState, next to the queue
// (the host application reads EmailSent 0/1 only, so its meaning stays).
// One row per recipient list (the exact EmailTo text of its queue rows,
// compared with a binary collation: lists differing in letter case are
// different lists). The row keyed "(login) " and a fingerprint of the login
// settings is the mail login's: failed logins and when the next may be
// tried; changed settings (a mended password) are tried at once.
struct MailQueueState
{
    int attempts = 0;  // failed tries since the list last went out
    QString lastReply; // the failure, in the mail server's own words
    QDateTime nextTry; // permanent refusal: not tried before then; invalid: at the next poll
    bool heldBack(const QDateTime &now) const { return nextTry.isValid() && now < nextTry; }
};

// How long a permanently refused list waits after its attempts-th failure:
// two polls, then doubling, up to a day; so it is never tried at the very next
// poll. pollMinutes below 1 counts as 1.
QDateTime MailBackOffUntil(const QDateTime &failedAt, int attempts, int pollMinutes);

// When the next login may be tried after the failures-th failed login in a
// row: two polls, then four, up to an hour.
QDateTime MailLoginBackOff(const QDateTime &failedAt, int failures, int pollMinutes);
// The state row key of the mail login with these settings (server, port,
// user name, password...): a short digest, never the settings themselves.
QString MailLoginStateKey(const QStringList &loginSettings);
// Forgets the login's state, whatever settings it was kept for.
QString ForgetMailLoginStatesSql();

// A table of the server's own, created when the probe of it fails (the
// host's schema need not have it).
void EnsureOwnTable(DbConnection &connection, const QString &table, const QString &createSql);

QString CreateMailQueueStateSql(DbConnection::Backend backend);
QString MailQueueStatesSql();
QString ForgetMailQueueStateSql(const QString &recipients);
QString SaveMailQueueStateSql(const QString &recipients, const MailQueueState &state);
// Every unsent queue row with what is known of its recipient list.
QString MailQueueStatusSql();

// The states of every list, creating the table first when it is missing.
QHash<QString, MailQueueState> LoadMailQueueStates();
void SaveMailQueueState(const QString &recipients, const MailQueueState &state);
void ForgetMailQueueState(const QString &recipients);

// The text of --queue-status: one line per unsent queue row.
QString MailQueueStatusText();
// --retry-now: forgets every back-off (lists, the login, notifications
// refused alone), so everything queued is tried at the next poll; returns
// what it did, for the operator.
QString RetryMailNowText();
QString ForgetAllMailQueueStatesSql();
