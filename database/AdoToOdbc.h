#pragma once

#include <QString>
#include <QStringList>

// Existing installations keep an ADO / OLE DB connection string for SQL
// Server in config.txt. On this system the same server is reached through
// ODBC, so such a string is translated to ODBC keywords for the best SQL
// Server ODBC driver that the driver manager lists.

// SQLOLEDB, SQLOLEDB.1, SQLNCLI, SQLNCLI10, SQLNCLI11, MSOLEDBSQL,
// MSOLEDBSQL19 (letter case ignored).
bool IsSqlServerOleDbProvider(const QString &provider);

// The preferred SQL Server driver among the installed ones: Microsoft's
// "ODBC Driver N for SQL Server" (highest N), then "SQL Server Native
// Client", then FreeTDS, then the old "SQL Server". Empty when none is there.
QString BestSqlServerOdbcDriver(const QStringList &installedDrivers);

// The ODBC connection string for an ADO string of a SQL Server provider:
// Data Source/Server -> Server ("(local)" and "." -> 127.0.0.1, instance
// "SERVER\INSTANCE" and port "host,1433" kept; for FreeTDS a port becomes
// Port=), Initial Catalog -> Database, User ID -> UID, Password -> PWD,
// Integrated Security=SSPI -> Trusted_Connection=yes (Microsoft's driver
// only), Encrypt (strict kept) and TrustServerCertificate kept for the
// connection to tell the driver (DriverSettings.h), CAFile kept; Persist
// Security Info and timeouts dropped (the login time-out is the
// connection's own), Command Timeout kept for the backend. FreeTDS is asked for
// TDS 7.4 and UTF-8. Ends with ";". Empty, with *error set naming the cause,
// when no SQL Server ODBC driver is installed or a keyword cannot be carried.
QString AdoToOdbcConnectionString(const QString &adoConnectionString, const QStringList &installedDrivers,
                                  QString *error = nullptr);

// The driver names that the ODBC driver manager lists on this machine.
QStringList InstalledOdbcDrivers();

// The driver library the driver manager loads for an ODBC connection string:
// the one odbcinst names for Driver=NAME (or the path Driver= gives), or
// for DSN=NAME (no DSN: "DEFAULT") the driver of that user or system data
// source. Empty when the driver manager lists none.
QString OdbcDriverLibrary(const QString &odbcConnectionString);
