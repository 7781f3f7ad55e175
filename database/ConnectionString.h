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
