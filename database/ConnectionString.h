#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One "key=value" item of a connection string, as written (key trimmed,
// value unquoted).
struct ConnectionStringItem
{
    QString key;
    QString value;
    QString raw; // "key=value" exactly as written, quotes and braces kept
};

// Splits "key=value;key=value" as ADO and ODBC write it. Values may stand in
// double or single quotes (a doubled quote inside stands for one) or in ODBC
// braces ("}}" inside stands for "}"); empty items are skipped.
QList<ConnectionStringItem> ParseConnectionString(const QString &text);

// The value of the last item whose key matches (letter case ignored), or a
// null QString when there is none.
QString ConnectionStringValue(const QList<ConnectionStringItem> &items, const QString &key);
bool HasConnectionStringKey(const QList<ConnectionStringItem> &items, const QString &key);

// The items as written, joined by ";", leaving out those whose key matches
// one of the given keys (letter case ignored).
QString JoinRawItems(const QList<ConnectionStringItem> &items, const QStringList &leaveOut = {});

// The text with the value of every Password= / PWD= item replaced by "***",
// for error messages and logs.
QString MaskPasswords(const QString &text);

// The text to hand Qt's ODBC driver so that the driver manager receives
// `odbcConnectionString` itself. Qt passes a text that holds "DRIVER=" or
// "SERVER=" unchanged, puts "FILEDSN=" before one that holds ".dsn", and
// "DSN=" before any other, which would turn "DSN=Payroll" into
// "DSN=DSN=Payroll". For those the data source's own name goes first, the
// other items after it, each as written. Null, with *error set, for a text
// Qt would misread whatever it was handed (".dsn" in a string not opening
// with FILEDSN=).
QString QodbcDatabaseName(const QString &odbcConnectionString, QString *error = nullptr);

// What Qt's ODBC driver hands the driver manager for a database name.
QString QodbcDriverManagerText(const QString &databaseName);
