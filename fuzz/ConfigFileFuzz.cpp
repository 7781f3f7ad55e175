// config.txt as anything may leave it: the item reader over arbitrary bytes,
// the whole reader over a file holding them, and the writer's file read back.

#include "database/OpenDatabase.h"
#include "fuzz/FuzzCheck.h"
#include "startup/ConfigFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

constexpr int ItemsRead = 5; // what ReadConfigFile asks for

QString listed(const QStringList &items)
{
    QString text;
    for (const QString &item : items)
        text += QLatin1Char('[') + Visible(item) + QLatin1String("] ");
    return text;
}

// One file in a directory of this process, reused by every input.
const QString &configPath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        if (!dir.isValid())
            FuzzFailure("a temporary directory can be made", dir.errorString());
        const QString file = dir.filePath(QStringLiteral("config.txt"));
        SetConfigFilePath(file);
        return file;
    }();
    return path;
}

void checkItems(const QByteArray &bytes, const QStringList &items)
{
    FUZZ_CHECK(items.size() <= ItemsRead, listed(items));
    // Asking for fewer items gives the first of them, never others.
    for (int count = 0; count < ItemsRead; ++count)
        FUZZ_CHECK(ReadConfigItems(bytes, count) == items.mid(0, count), listed(items));
    // Each byte of the file ends up in at most one item, as at most one
    // character.
    qsizetype characters = 0;
    for (const QString &item : items)
        characters += item.size();
    FUZZ_CHECK(characters <= bytes.size(), listed(items));
}

void checkReaderOverFile(const QByteArray &bytes, const QStringList &items)
{
    QFile file(configPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        FuzzFailure("the fuzz file can be written", file.errorString());
    file.close();

    DBConnectionString = QStringLiteral("left over");
    CaptionSuffix = QStringLiteral("left over");
    QString problem = QStringLiteral("left over");
    ReadConfigFile(&problem);
    FUZZ_CHECK(DBConnectionString == (items.size() >= 3 ? items.at(2) : QString()), Visible(DBConnectionString));
    FUZZ_CHECK(CaptionSuffix == (items.size() >= 5 ? items.at(4) : QString()), Visible(CaptionSuffix));
    // A reason exactly when there is no connection string.
    FUZZ_CHECK(problem.isEmpty() == (items.size() >= 3), problem);
    FUZZ_CHECK(problem == LastConfigFileProblem(), problem);
}

// Whatever connection string the settings window saves is read back as saved
// (spaces at the ends removed), unless it holds a double quote: the format
// has no way to write one.
void checkFormatRoundTrip(const QString &connection)
{
    if (connection.contains(QLatin1Char('"')))
        return;
    const QStringList items = ReadConfigItems(ConfigFileBytes(connection), ItemsRead);
    FUZZ_CHECK(items.size() == 4, listed(items));
    FUZZ_CHECK(items.at(1) == QLatin1String("Database Location"), listed(items));
    FUZZ_CHECK(items.at(2) == connection, listed(items));
    FUZZ_CHECK(items.at(3) == QLatin1String("END OF CONFIG FILE"), listed(items));
}

// The writer itself: its file holds the format's bytes and only the owner
// may read it. It flushes the file to disk, so not every input pays for it.
void checkWriter(const QString &connection)
{
    QString error;
    if (!WriteConfigFile(connection, &error))
        FuzzFailure("the writer writes into a writable directory", error);
    QFile file(configPath());
    if (!file.open(QIODevice::ReadOnly))
        FuzzFailure("the written file can be read", file.errorString());
    const QByteArray written = file.readAll();
    const QString saved = TrimSpaces(connection);
    FUZZ_CHECK(written == ConfigFileBytes(saved), Visible(QString::fromUtf8(written)));
#ifdef Q_OS_UNIX
    FUZZ_CHECK(file.permissions() ==
                   (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser),
               QString::number(int(file.permissions()), 16));
#endif
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList items = ReadConfigItems(bytes, ItemsRead);
    checkItems(bytes, items);
    checkReaderOverFile(bytes, items);
    const QString connection = QString::fromUtf8(bytes);
    checkFormatRoundTrip(connection);
    static unsigned inputs = 0;
    if (inputs++ % 1000 == 0)
        checkWriter(connection);
    return 0;
}
