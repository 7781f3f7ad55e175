#pragma once

#include <QString>

// What the ODBC backend can send in one call through the driver manager to
// the SQLite ODBC driver ("SQLite3" in odbcinst.ini), with each of its
// StepAPI settings: several statements in one text, and a statement of the
// cycle as the system writes it. Markdown; says so when the driver is absent.
QString ProbeSqliteOdbcDriver(const QString &workDir);
