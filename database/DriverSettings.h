#pragma once

#include "database/ConnectionString.h"

#include <QList>
#include <QString>

// What a connection string asks of the channel to the server, and how each
// kind of SQL Server ODBC driver is told. FreeTDS has no keyword for a CA
// file nor for strict encryption; Microsoft's drivers know Encrypt=strict
// and verify against the system's certificate store.

// "CAFile=PATH": the certificate authorities that signed the server's
// certificate, for FreeTDS (read by this system, not passed on).
inline const QString CaFileKey = QStringLiteral("CAFile");

// The freetds.conf section a verified FreeTDS connection is handed by name
// (Servername=): FreeTDS applies a CA file only from the section of the
// server it connects to, never to a Server= string's host.
inline const QString FreeTdsVerifiedSection = QStringLiteral("velmar-verified");

struct FreeTdsServer
{
    QString host;
    QString port;     // empty: the instance's, or FreeTDS's default
    QString instance; // empty: none
};

struct DriverConnectPlan
{
    QString connectionString; // what the driver manager gets
    // FreeTDS only: verify the server's certificate against this file
    // ("system": the system's store); empty: no verification asked.
    QString freeTdsCaFile;
    // With a CA file: the server the section FreeTdsVerifiedSection names.
    FreeTdsServer freeTdsServer;
};

// Encrypt=yes|true|mandatory (or FreeTDS's Encryption=require) verifies the
// server's certificate unless TrustServerCertificate=yes|true is written.
// For FreeTDS Encrypt becomes Encryption=require and the CA file is CAFile,
// else the system's store; a verified connection's Server= (host, host,port
// or host\instance), Port= and Address= become Servername= of the section
// FreeTdsVerifiedSection, and a verified data source (DSN=, Servername=),
// whose server this system cannot name a CA file for, is refused, as is
// Encrypt=strict. Other drivers get the
// items as written; CAFile is refused for them. False, with *error naming
// the cause, when the connection cannot be what the string asks.
bool PlanDriverConnection(const QList<ConnectionStringItem> &items, const QStringList &leaveOut, bool freeTds,
                          DriverConnectPlan *plan, QString *error);

// The freetds.conf this process hands FreeTDS (through FREETDSCONF): UTF-8
// client texts, the login and query time-outs, and, with a CA file, the
// section FreeTdsVerifiedSection: `server` and the CA file to verify it with. `operatorConfig` (the file FREETDSCONF named before, if
// any) follows, so its server sections still apply. Null, with *error set,
// when a line would pass the 256 characters FreeTDS reads of one.
QString FreeTdsConfigText(const QString &caFile, const FreeTdsServer &server, int loginTimeoutSeconds,
                          int queryTimeoutSeconds, const QString &operatorConfig, QString *error);

// Whether a driver library (SQL_DRIVER_NAME, or the file odbcinst.ini
// names) is FreeTDS's: libtdsodbc.so, tdsodbc.dll.
bool IsFreeTdsLibrary(const QString &library);
