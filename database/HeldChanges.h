#pragma once

#include <QString>
#include <QStringList>

// The statements of a connection that holds its changes (a preview): one
// outer transaction that is never committed, and savepoints standing in for
// the transactions that the task cycle begins inside it. Both dialects'
// texts, so tests can read what a SQL Server would be sent.
struct HeldChangesSql
{
    QStringList begin;      // the outer transaction
    QString discard;        // rolls all of it back
    QStringList savepoint;  // a nested BeginTransaction
    QStringList release;    // its Commit
    QStringList rollBackTo; // its Rollback
};

// depth: 1 for the first nested transaction, 2 for one begun inside it.
HeldChangesSql HeldChangesStatements(bool sqlite, int depth);
