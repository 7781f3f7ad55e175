// config.txt as an editor, a copy or a broken disk may leave it. Every case
// has a defined outcome: a connection string (possibly wrong, then the
// connection fails with the usual message) or none with the reason, and the
// server never crashes. The writer leaves a file only its owner can read.

#include "database/OpenDatabase.h"
#include "startup/ConfigFile.h"
#include "tests/support/ServerRun.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QByteArray Header = "\"**** Configuration File - DO NOT Modify by hand****\"\r\n";
const QByteArray Closing = "\"END OF CONFIG FILE\"\r\n";

QByteArray savedFile(const QByteArray &connectionString)
{
    return Header + "\"Database Location\",\"" + connectionString + "\"\r\n" + Closing;
}

// Bytes that look like nothing: a fixed seed, so every run reads the same.
QByteArray garbage(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

struct Outcome
{
    QString connectionString;
    QString captionSuffix;
    QString problem;
};

class ConfigFileBadInputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("config.txt"));
        SetConfigFilePath(path);
    }
    void TearDown() override { SetConfigFilePath(QString()); }

    void write(const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    Outcome read()
    {
        DBConnectionString = QStringLiteral("left over");
        CaptionSuffix = QStringLiteral("left over");
        Outcome outcome;
        ReadConfigFile(&outcome.problem);
        outcome.connectionString = DBConnectionString;
        outcome.captionSuffix = CaptionSuffix;
        return outcome;
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(ConfigFileBadInputTest, missingEmptyOrNoFile_giveNoConnectionStringAndSayWhy)
{
    Outcome outcome = read();
    EXPECT_EQ(outcome.connectionString, QString());
    EXPECT_TRUE(outcome.problem.contains(QLatin1String("does not exist"))) << outcome.problem.toStdString();

    write(QByteArray());
    outcome = read();
    EXPECT_EQ(outcome.connectionString, QString());
    EXPECT_EQ(outcome.captionSuffix, QString());
    EXPECT_TRUE(outcome.problem.contains(QLatin1String("holds no connection string"))) << outcome.problem.toStdString();

    // A directory where the file should be.
    QFile::remove(path);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("config.txt")));
    outcome = read();
    EXPECT_EQ(outcome.connectionString, QString());
    EXPECT_FALSE(outcome.problem.isEmpty());
    EXPECT_TRUE(outcome.problem.contains(path)) << outcome.problem.toStdString();
}

#ifdef Q_OS_UNIX
TEST_F(ConfigFileBadInputTest, unreadableFile_givesNoConnectionStringAndSaysWhy)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind the superuser";
    write(savedFile("DSN=velmar"));
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0), 0);
    const Outcome outcome = read();
    EXPECT_EQ(outcome.connectionString, QString());
    EXPECT_TRUE(outcome.problem.contains(QLatin1String("could not be read"))) << outcome.problem.toStdString();
}
#endif

TEST_F(ConfigFileBadInputTest, binaryGarbage_isReadTheSameEveryTimeAndNeverPastItsEnd)
{
    for (quint32 seed = 1; seed <= 20; ++seed) {
        const QByteArray bytes = garbage(4096 + seed * 997, seed);
        write(bytes);
        const Outcome first = read();
        const Outcome second = read();
        EXPECT_EQ(first.connectionString, second.connectionString);
        EXPECT_EQ(first.problem, second.problem);
        EXPECT_LE(first.connectionString.size() + first.captionSuffix.size(), bytes.size());
        // Either a connection string or a reason why there is none.
        EXPECT_TRUE(first.problem.isEmpty() || first.connectionString.isEmpty());
    }
    // Garbage without a separator is one item: no connection string.
    QByteArray single = garbage(65536, 99);
    for (char &byte : single) {
        if (byte == ',' || byte == '\r' || byte == '\n' || byte == '"')
            byte = 'x';
    }
    write(single);
    const Outcome outcome = read();
    EXPECT_EQ(outcome.connectionString, QString());
    EXPECT_TRUE(outcome.problem.contains(QLatin1String("holds no connection string")));
}

TEST_F(ConfigFileBadInputTest, megabyteFiles_readWholeOrNotAtAll)
{
    // A megabyte connection string comes back whole.
    const QByteArray huge(1 << 20, 'k');
    write(savedFile("Provider=SQLite;Data Source=" + huge));
    Outcome outcome = read();
    EXPECT_EQ(outcome.connectionString.size(), 28 + huge.size());
    EXPECT_TRUE(outcome.connectionString.endsWith(QLatin1String("kkk")));

    // A megabyte inside one quote that never closes is one item.
    write("\"" + QByteArray(1 << 20, 'q'));
    outcome = read();
    EXPECT_EQ(outcome.connectionString, QString());
    EXPECT_TRUE(outcome.problem.contains(QLatin1String("holds no connection string")));

    // A megabyte of empty lines: five empty items, an empty string.
    write(QByteArray(1 << 20, '\n'));
    outcome = read();
    EXPECT_EQ(outcome.connectionString, QString());
    EXPECT_TRUE(outcome.problem.isEmpty());
}

TEST_F(ConfigFileBadInputTest, unterminatedQuotes_runToTheNextQuoteOrTheEnd)
{
    // The connection string's closing quote is missing: it runs to the end.
    write(Header + "\"Database Location\",\"Provider=SQLite;Data Source=velmar.db");
    Outcome outcome = read();
    EXPECT_EQ(outcome.connectionString, QStringLiteral("Provider=SQLite;Data Source=velmar.db"));

    // The header's closing quote is missing: it swallows the next line up to
    // the label's quote, so the items shift and no connection string is left.
    write("\"**** Configuration File\r\n\"Database Location\",\"DSN=velmar\"\r\n");
    outcome = read();
    EXPECT_EQ(outcome.connectionString, QString());
    EXPECT_TRUE(outcome.problem.contains(QLatin1String("holds no connection string")));
}

TEST_F(ConfigFileBadInputTest, bytesThatAreNoUtf8_becomeReplacementCharacters)
{
    // Latin-1 "é" and two bytes that never occur in UTF-8.
    write(savedFile("Provider=SQLite;Data Source=caf\xe9\xff\xfe.db"));
    const Outcome outcome = read();
    EXPECT_EQ(outcome.connectionString, QStringLiteral("Provider=SQLite;Data Source=caf\ufffd\ufffd\ufffd.db"));
    EXPECT_TRUE(outcome.problem.isEmpty());
}

TEST_F(ConfigFileBadInputTest, savedByOtherEditors_byteOrderMarksAndLineEnds)
{
    // A UTF-8 byte order mark joins the header item; the rest reads as usual.
    write("\xef\xbb\xbf" + savedFile("DSN=velmar"));
    EXPECT_EQ(read().connectionString, QStringLiteral("DSN=velmar"));

    // Old Mac and Unix line ends.
    write(Header.chopped(2) + "\r\"Database Location\",\"DSN=cr\"\r" + Closing.chopped(2) + "\r");
    EXPECT_EQ(read().connectionString, QStringLiteral("DSN=cr"));
    write(Header.chopped(2) + "\n\"Database Location\",\"DSN=lf\"\n" + Closing.chopped(2) + "\n");
    EXPECT_EQ(read().connectionString, QStringLiteral("DSN=lf"));

    // Every item on one line, and every item on its own line.
    write("\"h\",\"Database Location\",\"DSN=one\",\"END OF CONFIG FILE\",\"Plant 7\"");
    Outcome outcome = read();
    EXPECT_EQ(outcome.connectionString, QStringLiteral("DSN=one"));
    EXPECT_EQ(outcome.captionSuffix, QStringLiteral("Plant 7"));
    write("\"h\"\n\"Database Location\"\n\"DSN=many\"\n\"END OF CONFIG FILE\"\n\"Plant 8\"\n\"ignored\"\n");
    outcome = read();
    EXPECT_EQ(outcome.connectionString, QStringLiteral("DSN=many"));
    EXPECT_EQ(outcome.captionSuffix, QStringLiteral("Plant 8"));

    // UTF-16 (an editor's "Unicode"): every other byte is zero, so the items
    // are not what was meant, yet they are read and the connection fails.
    QByteArray utf16("\xff\xfe", 2);
    for (char c : savedFile("DSN=velmar")) {
        utf16 += c;
        utf16 += '\0';
    }
    write(utf16);
    outcome = read();
    EXPECT_NE(outcome.connectionString, QStringLiteral("DSN=velmar"));
    EXPECT_FALSE(OpenDatabase());
}

#ifdef Q_OS_UNIX
TEST_F(ConfigFileBadInputTest, writtenFile_isOwnerOnlyWhateverTheUmaskAndTheOldFile)
{
    const mode_t oldMask = umask(0);
    write(savedFile("DSN=old"));
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0666), 0);
    QString error;
    const bool written = WriteConfigFile(QStringLiteral("Driver={FreeTDS};Server=db;UID=sa;PWD=secret"), &error);
    umask(oldMask);
    ASSERT_TRUE(written) << error.toStdString();
    struct stat status
    {};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode_t(0600));
    // No temporary copy is left beside it for others to read.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("config.txt")});
}
#endif

// --- Through the server itself ---------------------------------------------------

TEST_F(ConfigFileBadInputTest, server_withBadConfigFile_exitsOneWithTheMessageAndTheReason)
{
    QTemporaryDir lockDir;
    ASSERT_TRUE(lockDir.isValid());
    const QString connectionFailed = QStringLiteral("Unable to connect to the database");

    ServerExit finished = RunServer(OnceArguments(path), lockDir.path());
    EXPECT_EQ(finished.exitCode, 1);
    EXPECT_TRUE(finished.err.contains(connectionFailed)) << finished.err.toStdString();
    EXPECT_TRUE(finished.err.contains(QLatin1String("does not exist"))) << finished.err.toStdString();

    write("\"" + QByteArray(1 << 20, 'q'));
    finished = RunServer(OnceArguments(path), lockDir.path());
    EXPECT_EQ(finished.exitCode, 1);
    EXPECT_TRUE(finished.err.contains(connectionFailed)) << finished.err.toStdString();
    EXPECT_TRUE(finished.err.contains(QLatin1String("holds no connection string"))) << finished.err.toStdString();

    for (quint32 seed : {7u, 8u}) {
        write(garbage(32768, seed));
        finished = RunServer(OnceArguments(path), lockDir.path());
        EXPECT_EQ(finished.exitCode, 1) << "seed " << seed;
        EXPECT_TRUE(finished.err.contains(connectionFailed)) << finished.err.left(2000).toStdString();
    }

    // A connection string to a database file that is not there.
    write(savedFile("Provider=SQLite;Data Source=no-such.db"));
    finished = RunServer(OnceArguments(path), lockDir.path());
    EXPECT_EQ(finished.exitCode, 1);
    EXPECT_TRUE(finished.err.contains(connectionFailed)) << finished.err.toStdString();
    EXPECT_TRUE(finished.err.contains(QLatin1String("no-such.db"))) << finished.err.toStdString();
}
