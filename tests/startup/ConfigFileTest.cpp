#include "startup/ConfigFile.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
class ConfigFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("config.txt"));
        SetConfigFilePath(path);
        DBConnectionString = QStringLiteral("left over");
        CaptionSuffix = QStringLiteral("left over");
    }
    void TearDown() override { SetConfigFilePath(QString()); }

    void writeRaw(const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray readRaw()
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }
    QString roundTrip(const QString &connectionString)
    {
        QString error;
        EXPECT_TRUE(WriteConfigFile(connectionString, &error)) << error.toStdString();
        ReadConfigFile();
        return DBConnectionString;
    }

    QTemporaryDir dir;
    QString path;
};
} // namespace

TEST_F(ConfigFileTest, written_file_hasExactBytesWithCrLf)
{
    ASSERT_TRUE(WriteConfigFile(QStringLiteral("Driver={FreeTDS};Server=db1,1433;")));
    EXPECT_EQ(readRaw(),
              QByteArray("\"**** Configuration File - DO NOT Modify by hand****\"\r\n"
                         "\"Database Location\",\"Driver={FreeTDS};Server=db1,1433;\"\r\n"
                         "\"END OF CONFIG FILE\"\r\n"));
}

TEST_F(ConfigFileTest, commasAndInnerSpaces_surviveRoundTrip)
{
    const QString text = QStringLiteral("Driver={ODBC Driver 18};Server=host,1433;Database=Velmar Live;PWD=a,b");
    EXPECT_EQ(roundTrip(text), text);
}

TEST_F(ConfigFileTest, surroundingSpaces_areNotWrittenButTabsAre)
{
    EXPECT_EQ(roundTrip(QStringLiteral("   DSN=velmar; UID=sa   ")), QStringLiteral("DSN=velmar; UID=sa"));
    EXPECT_EQ(readRaw().split('\n')[1], QByteArray("\"Database Location\",\"DSN=velmar; UID=sa\"\r"));
    // Only spaces are trimmed; other white space is the operator's text.
    EXPECT_EQ(TrimSpaces(QStringLiteral(" \tDSN=x\t ")), QStringLiteral("\tDSN=x\t"));
}

TEST_F(ConfigFileTest, emptyString_writesEmptyItemAndReadsEmpty)
{
    EXPECT_EQ(roundTrip(QString()), QString());
    EXPECT_TRUE(readRaw().contains("\"Database Location\",\"\"\r\n"));
    DBConnectionString = QStringLiteral("x");
    EXPECT_EQ(roundTrip(QStringLiteral("    ")), QString());
}

TEST_F(ConfigFileTest, innerDoubleQuote_isWrittenUnchangedAndCutsTheValueOnReading)
{
    const QString text = QStringLiteral("Driver=x;PWD=ab\"cd;Server=y");
    ASSERT_TRUE(WriteConfigFile(text));
    EXPECT_TRUE(readRaw().contains("\"Driver=x;PWD=ab\"cd;Server=y\"\r\n"));
    ReadConfigFile();
    EXPECT_EQ(DBConnectionString, QStringLiteral("Driver=x;PWD=ab"));
}

TEST_F(ConfigFileTest, fileAsSaved_endsBeforeItemFive_leavesCaptionSuffixEmpty)
{
    ASSERT_TRUE(WriteConfigFile(QStringLiteral("DSN=velmar")));
    ReadConfigFile();
    EXPECT_EQ(DBConnectionString, QStringLiteral("DSN=velmar"));
    EXPECT_EQ(CaptionSuffix, QString());
    EXPECT_EQ(LastConfigFileProblem(), QString());
}

TEST_F(ConfigFileTest, fifthItem_becomesCaptionSuffix_whateverTheLabelsSay)
{
    writeRaw("\"any header, with a comma\"\r\n"
             "  \"some other label\" ,\"DSN=one\"\r\n"
             "\"closing\",\"Plant 7\"\r\n");
    ReadConfigFile();
    EXPECT_EQ(DBConnectionString, QStringLiteral("DSN=one"));
    EXPECT_EQ(CaptionSuffix, QStringLiteral("Plant 7"));
}

TEST_F(ConfigFileTest, itemsOnAnyLine_countOnlyByPosition)
{
    // One item per line and unquoted items read the same as the usual layout.
    writeRaw("header\nlabel\nDSN=two\nlabel\n\"Suffix, with comma\"");
    ReadConfigFile();
    EXPECT_EQ(DBConnectionString, QStringLiteral("DSN=two"));
    EXPECT_EQ(CaptionSuffix, QStringLiteral("Suffix, with comma"));
}

TEST_F(ConfigFileTest, fileEndingBeforeConnectionString_givesEmptyValues)
{
    writeRaw("\"**** Configuration File - DO NOT Modify by hand****\"\r\n\"Database Location\"");
    ReadConfigFile();
    EXPECT_EQ(DBConnectionString, QString());
    EXPECT_EQ(CaptionSuffix, QString());
    EXPECT_TRUE(LastConfigFileProblem().contains(QLatin1String("no connection string")));
}

TEST_F(ConfigFileTest, missingFile_isEmptyStringWithReason)
{
    QString problem;
    ReadConfigFile(&problem);
    EXPECT_EQ(DBConnectionString, QString());
    EXPECT_EQ(CaptionSuffix, QString());
    EXPECT_TRUE(problem.contains(path)) << problem.toStdString();
    EXPECT_TRUE(problem.contains(QLatin1String("does not exist")));
}

TEST_F(ConfigFileTest, readItems_handlesUnterminatedQuoteAndEmptyText)
{
    EXPECT_EQ(ReadConfigItems(QByteArray(), 5), QStringList());
    EXPECT_EQ(ReadConfigItems("\"a\",\"unterminated, value", 5),
              (QStringList{QStringLiteral("a"), QStringLiteral("unterminated, value")}));
    EXPECT_EQ(ReadConfigItems("\"a\"junk,b\r\n\r\nc", 5),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QString(), QStringLiteral("c")}));
}

TEST_F(ConfigFileTest, save_replacesOldFileAndIsOwnerOnly)
{
    writeRaw(QByteArray(5000, 'x'));
    ASSERT_TRUE(WriteConfigFile(QStringLiteral("DSN=new")));
    EXPECT_EQ(readRaw().size(), ConfigFileBytes(QStringLiteral("DSN=new")).size());
#ifdef Q_OS_UNIX
    const QFile::Permissions perms = QFileInfo(path).permissions();
    EXPECT_TRUE(perms & QFile::ReadOwner);
    EXPECT_FALSE(perms & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther));
#endif
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("config.txt")});
}

TEST_F(ConfigFileTest, saveIntoMissingDirectory_failsWithReasonAndLeavesNothing)
{
    SetConfigFilePath(dir.filePath(QStringLiteral("no/such/dir/config.txt")));
    QString error;
    EXPECT_FALSE(WriteConfigFile(QStringLiteral("DSN=x"), &error));
    EXPECT_TRUE(error.contains(QLatin1String("no/such/dir/config.txt"))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("no"))));
}

#ifdef Q_OS_UNIX
TEST_F(ConfigFileTest, failedSave_keepsTheOldFileIntact)
{
    ASSERT_TRUE(WriteConfigFile(QStringLiteral("DSN=old")));
    const QByteArray before = readRaw();
    // A directory the writer may not create files in.
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    QString error;
    const bool written = WriteConfigFile(QStringLiteral("DSN=new"), &error);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (written)
        GTEST_SKIP() << "running with privileges that ignore directory permissions";
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readRaw(), before);
}
#endif

TEST_F(ConfigFileTest, relativeDataSource_resolvesInTheServicesStateFolder_elseBesideTheFile)
{
    const QString configFolder = QFileInfo(path).absolutePath();
    const QList<QPair<QByteArray, QString>> cases{
        {QByteArray(), configFolder},
        {QByteArray("/var/lib/velmar-automation-server"), QStringLiteral("/var/lib/velmar-automation-server")},
        {QByteArray("/var/lib/velmar:/var/lib/other"), QStringLiteral("/var/lib/velmar")},
    };
    for (const auto &[stateDirectory, expected] : cases) {
        qputenv("STATE_DIRECTORY", stateDirectory);
        ReadConfigFile();
        EXPECT_EQ(ConnectionBaseDirectory(), expected) << stateDirectory.toStdString();
    }
    qunsetenv("STATE_DIRECTORY");
}
