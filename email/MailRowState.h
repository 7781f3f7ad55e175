#pragma once

#include "database/DbConnection.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// What the server knows about single queue rows, in its own table
// AutomationServer_EmailRowState (the host application sees EmailSent 0/1
// and DateSent only):
//  - a claim (Refusal Null): the row's message is being handed to the mail
//    server. Written and committed before the SMTP exchange, deleted in the
//    same short transaction that marks the row sent (or right after a failed
//    exchange). A claim found when a run starts was left by a process that
//    ended during the exchange: whether the server took the message is
//    unknown, so the row (still unsent) goes out again and the log says it
//    may arrive twice.
//  - a refusal (Refusal set): a notification that alone is over the mail
//    server's size limit; held back until an operator asks (--retry-now).

// IN lists of at most `most` IDs each (SQL Server refuses very long ones),
// in the order given, each ID in plain decimal digits joined by ",".
QStringList IdLists(const QList<qint64> &ids, int most = 1000);

QString CreateMailRowStateSql(DbConnection::Backend backend);
QString ClaimEmailsSql(const QString &ids, const QDateTime &since);
QString ReleaseClaimsSql(const QString &ids);
QString StaleClaimsSql();
QString ForgetStaleClaimsSql();
QString RefuseNotificationSql(qint64 id, const QString &reply, const QDateTime &since);
QString RefusedNotificationsSql();
QString ForgetRefusedNotificationsSql();

// Creates the table when it is missing.
void EnsureMailRowStateTable();
// The claims a process that ended mid-exchange left behind, one log line per
// recipient list; forgets them (their rows are still queued and go again).
QStringList RecoverInterruptedSending();
// The IDs of notifications refused alone.
QSet<qint64> RefusedNotifications();
// Forgets every refusal; returns how many there were.
int ForgetRefusedNotifications();
