#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// config.txt: a header line, the connection string after its label, a closing
// line. Each item is a double-quoted string, written without escaping; lines
// end in CR LF; text is in the machine's 8-bit code page.

// The text shown after " - " in the main window's caption (item 5 of the
// file). Empty when the file holds fewer than five items, as Save writes it.
extern QString CaptionSuffix;

// "<executable directory>/config.txt", unless SetConfigFilePath chose another
// file (the --config option of an installed server).
QString ConfigFilePath();
void SetConfigFilePath(const QString &path); // empty: back to the default

// Reads ConfigFilePath() into DBConnectionString (item 3) and CaptionSuffix
// (item 5). A missing or unreadable file leaves both empty, so start-up takes
// the "Unable to Connect" path and the settings window can write the file.
// *problem (when given) receives why the file gave nothing, or stays empty.
// Relative embedded-database paths resolve against DataSourceBaseDirectory().
void ReadConfigFile(QString *problem = nullptr);
// The folder a relative embedded-database Data Source resolves against: the
// service's state folder when systemd gives one ($STATE_DIRECTORY), otherwise
// the configuration file's folder.
QString DataSourceBaseDirectory();
// Why the last ReadConfigFile found no connection string (empty when it did).
QString LastConfigFileProblem();

// Writes the file for `connectionString` (leading and trailing spaces
// removed) in full beside the old one, then replaces it; on Unix only the
// owner may read it, since the string may hold a password. On failure the old
// file is untouched, false is returned and *error says why.
bool WriteConfigFile(const QString &connectionString, QString *error = nullptr);

// The pieces of the format, for the reader, the writer and their tests.
// Splits `bytes` into at most `count` items: spaces before an item are
// skipped; a quoted item runs to the next double quote, then the rest of the
// field up to the next comma or line end is skipped; an unquoted item runs to
// the next comma or line end. Fewer items come back when the text ends early.
QStringList ReadConfigItems(const QByteArray &bytes, int count);
// The whole file for `connectionString`, exactly as written (no trimming).
QByteArray ConfigFileBytes(const QString &connectionString);
// Removes spaces (only spaces) at both ends, as Save does.
QString TrimSpaces(const QString &text);
