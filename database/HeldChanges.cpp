#include "database/HeldChanges.h"

HeldChangesSql HeldChangesStatements(bool sqlite, int depth)
{
    const QString name = QStringLiteral("velmar_held_%1").arg(depth);
    HeldChangesSql sql;
    if (sqlite) {
        // IMMEDIATE as for every transaction here: the write lock up front.
        sql.begin = {QStringLiteral("BEGIN IMMEDIATE")};
        sql.discard = QStringLiteral("ROLLBACK");
        sql.savepoint = {QStringLiteral("SAVEPOINT ") + name};
        sql.release = {QStringLiteral("RELEASE SAVEPOINT ") + name};
        // Rolling back to a savepoint keeps it open; release it as well.
        sql.rollBackTo = {QStringLiteral("ROLLBACK TO SAVEPOINT ") + name, QStringLiteral("RELEASE SAVEPOINT ") + name};
        return sql;
    }
    // An explicit transaction works whatever the ODBC autocommit setting.
    // Implicit transactions as well: should an error make the server roll
    // the explicit one back, the next change opens a new transaction that is
    // never committed, instead of being committed on its own.
    // T-SQL has no release of a savepoint: it lasts until the outer end.
    sql.begin = {QStringLiteral("SET IMPLICIT_TRANSACTIONS ON"), QStringLiteral("BEGIN TRANSACTION")};
    sql.discard = QStringLiteral("ROLLBACK TRANSACTION");
    sql.savepoint = {QStringLiteral("SAVE TRANSACTION ") + name};
    sql.rollBackTo = {QStringLiteral("ROLLBACK TRANSACTION ") + name};
    return sql;
}
