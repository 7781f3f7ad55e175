#pragma once

#include <QString>

class DbConnection;

// The system's statements need SQL Server's compatibility level 110 or above
// (TRY_CONVERT is a keyword from 110 on; below it every cycle would fail).
QString CompatibilityLevelQuery();

// Empty when the database runs the statements: level 110 or above, the
// embedded backend, or a database that has no such level to ask (another
// ODBC driver). Otherwise the refusal, naming the database, its level and
// the statement that raises it.
QString CompatibilityLevelRefusal(DbConnection &connection);
