#include "startup/ConfigFile.h"

#include "database/DbConnection.h"
#include "database/OpenDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString CaptionSuffix;

namespace {
const char kHeader[] = "**** Configuration File - DO NOT Modify by hand****";
const char kLabel[] = "Database Location";
const char kClosing[] = "END OF CONFIG FILE";

QString &lastProblem()
{
    static QString problem;
    return problem;
}

QString &configPathOverride()
{
    static QString path;
    return path;
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// Moves past one separator: a comma, or a line end (CR LF counting as one).
qsizetype skipSeparator(const QByteArray &bytes, qsizetype pos)
{
    if (pos >= bytes.size())
        return pos;
    if (bytes[pos] == ',')
        return pos + 1;
    if (bytes[pos] == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n')
        return pos + 2;
    return pos + 1;
}

QByteArray quoted(const QByteArray &text)
{
    return '"' + text + '"';
}
} // namespace

QString ConfigFilePath()
{
    if (!configPathOverride().isEmpty())
        return configPathOverride();
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("config.txt"));
}

void SetConfigFilePath(const QString &path)
{
    configPathOverride() = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

QStringList ReadConfigItems(const QByteArray &bytes, int count)
{
    QStringList items;
    qsizetype pos = 0;
    const qsizetype size = bytes.size();
    while (items.size() < count) {
        while (pos < size && bytes[pos] == ' ')
            ++pos;
        if (pos >= size)
            break;
        QByteArray value;
        if (bytes[pos] == '"') {
            const qsizetype close = bytes.indexOf('"', pos + 1);
            const qsizetype end = close < 0 ? size : close;
            value = bytes.mid(pos + 1, end - pos - 1);
            pos = end < size ? end + 1 : size;
            // Whatever follows the closing quote up to the separator is not
            // part of the item.
            while (pos < size && bytes[pos] != ',' && !isLineEnd(bytes[pos]))
                ++pos;
        } else {
            const qsizetype start = pos;
            while (pos < size && bytes[pos] != ',' && !isLineEnd(bytes[pos]))
                ++pos;
            value = bytes.mid(start, pos - start);
        }
        pos = skipSeparator(bytes, pos);
        items.append(QString::fromLocal8Bit(value));
    }
    return items;
}

QByteArray ConfigFileBytes(const QString &connectionString)
{
    const QByteArray crlf("\r\n");
    return quoted(kHeader) + crlf + quoted(kLabel) + ',' + quoted(connectionString.toLocal8Bit()) + crlf +
        quoted(kClosing) + crlf;
}

QString TrimSpaces(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start] == QLatin1Char(' '))
        ++start;
    while (end > start && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(start, end - start);
}

QString LastConfigFileProblem()
{
    return lastProblem();
}

QString DataSourceBaseDirectory()
{
    // A service's configuration lives in a read-only /etc; systemd gives its
    // StateDirectory= (the first of a list "a:b"), the one folder it may
    // write, for the database and its cycle-lock file.
    const QString stateDirectory = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    if (!stateDirectory.isEmpty())
        return stateDirectory;
    return QFileInfo(ConfigFilePath()).absolutePath();
}

void ReadConfigFile(QString *problem)
{
    const QString path = ConfigFilePath();
    DBConnectionString.clear();
    CaptionSuffix.clear();
    lastProblem().clear();
    SetConnectionBaseDirectory(DataSourceBaseDirectory());

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        lastProblem() = file.exists() ? QStringLiteral("%1 could not be read: %2").arg(path, file.errorString())
                                      : QStringLiteral("%1 does not exist").arg(path);
    } else {
        const QStringList items = ReadConfigItems(file.readAll(), 5);
        if (items.size() >= 3)
            DBConnectionString = items[2];
        if (items.size() >= 5)
            CaptionSuffix = items[4];
        if (items.size() < 3)
            lastProblem() = QStringLiteral("%1 holds no connection string").arg(path);
    }
    if (problem)
        *problem = lastProblem();
}

bool WriteConfigFile(const QString &connectionString, QString *error)
{
    const QString path = ConfigFilePath();
    QSaveFile file(path);
    auto fail = [&](const QString &what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(what, file.errorString());
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("Cannot create %1").arg(path));
#ifdef Q_OS_UNIX
    // The string may hold a database password.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fail(QStringLiteral("Cannot restrict access to %1").arg(path));
#endif
    const QByteArray bytes = ConfigFileBytes(TrimSpaces(connectionString));
    if (file.write(bytes) != bytes.size())
        return fail(QStringLiteral("Cannot write %1").arg(path));
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("Cannot replace %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
