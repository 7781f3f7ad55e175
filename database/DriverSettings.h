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

struct DriverConnectPlan
{
    QString connectionString; // what the driver manager gets
    // FreeTDS only: verify the server's certificate against this file
    // ("system": the system's store); empty: no verification asked.
    QString freeTdsCaFile;
};

// Encrypt=yes|true|mandatory (or FreeTDS's Encryption=require) verifies the
// server's certificate unless TrustServerCertificate=yes|true is written.
// For FreeTDS Encrypt becomes Encryption=require and the CA file is CAFile,
// else the system's store; Encrypt=strict is refused. Other drivers get the
// items as written; CAFile is refused for them. False, with *error naming
// the cause, when the connection cannot be what the string asks.
bool PlanDriverConnection(const QList<ConnectionStringItem> &items, const QStringList &leaveOut, bool freeTds,
                          DriverConnectPlan *plan, QString *error);

// The freetds.conf this process hands FreeTDS (through FREETDSCONF): UTF-8
// client texts, the login and query time-outs, and the CA file to verify
// the server with. `operatorConfig` (the file FREETDSCONF named before, if
// any) follows, so its server sections still apply. Null, with *error set,
// when a line would pass the 256 characters FreeTDS reads of one.
QString FreeTdsConfigText(const QString &caFile, int loginTimeoutSeconds, int queryTimeoutSeconds,
                          const QString &operatorConfig, QString *error);

// Whether a driver library (SQL_DRIVER_NAME, or the file odbcinst.ini
// names) is FreeTDS's: libtdsodbc.so, tdsodbc.dll.
bool IsFreeTdsLibrary(const QString &library);
