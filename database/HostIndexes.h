#pragma once

#include <QString>
#include <QStringList>

class DbConnection;

// The host's tables are the host's own: an index the cycle's joins need is
// named when it is missing, never created. Both renewal-date joins seek a
// training's rows by ItemID (then by the key) in AutomationServer_Emails and
// Issues; without an index led by ItemID each cycle scans the table.
// The query lists the tables that have such an index.
QString HostIndexesQuery();

// One line per table without it, naming the index to add; nothing on the
// embedded backend (its schema has them) or where the catalogue cannot be
// read (another ODBC driver).
QStringList MissingHostIndexes(DbConnection &connection);
