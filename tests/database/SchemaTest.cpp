// The two schema files describe the same host tables: the embedded one is
// what the tests and the demo run on, the SQL Server one what a host
// database administrator creates. They must not drift apart.
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMap>
#include <QRegularExpression>

namespace {

// table -> column -> declared type (lower case), from the T-SQL file.
QMap<QString, QMap<QString, QString>> sqlServerTables()
{
    QFile file(TempDatabase::sourcePath(QStringLiteral("schema/sqlserver.sql")));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QMap<QString, QMap<QString, QString>> tables;
    static const QRegularExpression table(QStringLiteral(R"(CREATE TABLE dbo\.(\w+) \((.*?)\n\);)"),
                                          QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression column(QStringLiteral(R"(^\s+(\w+)\s+(\w+))"));
    for (auto it = table.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QMap<QString, QString> columns;
        for (const QString &line : m.captured(2).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch c = column.match(line);
            if (c.hasMatch())
                columns.insert(c.captured(1).toLower(), c.captured(2).toLower());
        }
        tables.insert(m.captured(1).toLower(), columns);
    }
    return tables;
}

} // namespace

TEST(Schema, bothFilesDeclareTheSameTablesColumnsAndKinds)
{
    TempDatabase db;
    const auto server = sqlServerTables();
    const QList<QVariantList> tables = db.queryRows(
        QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY name"));
    ASSERT_EQ(tables.size(), server.size());
    for (const QVariantList &t : tables) {
        const QString name = t[0].toString();
        ASSERT_TRUE(server.contains(name.toLower())) << name.toStdString();
        const QMap<QString, QString> &serverColumns = server[name.toLower()];
        const QList<QVariantList> columns =
            db.queryRows(QStringLiteral("SELECT name, type FROM pragma_table_info('%1')").arg(name));
        EXPECT_EQ(columns.size(), serverColumns.size()) << name.toStdString();
        for (const QVariantList &c : columns) {
            const QString column = c[0].toString().toLower();
            const QString type = c[1].toString().toLower();
            ASSERT_TRUE(serverColumns.contains(column)) << name.toStdString() << "." << column.toStdString();
            const QString serverType = serverColumns[column];
            if (type == u"datetime")
                EXPECT_EQ(serverType, QStringLiteral("datetime")) << column.toStdString();
            else if (type == u"bit")
                EXPECT_EQ(serverType, QStringLiteral("bit")) << column.toStdString();
            else if (type == u"integer")
                EXPECT_EQ(serverType, QStringLiteral("int")) << column.toStdString();
            else
                EXPECT_TRUE(serverType.startsWith(QStringLiteral("nvarchar"))) << column.toStdString();
        }
    }
}

TEST(Schema, companyCarriesEverySettingColumnAndTextIgnoresCase)
{
    TempDatabase db;
    const QStringList settings = {QStringLiteral("Name"),
                                  QStringLiteral("Address1"),
                                  QStringLiteral("Address2"),
                                  QStringLiteral("City"),
                                  QStringLiteral("State"),
                                  QStringLiteral("Zip"),
                                  QStringLiteral("Phone"),
                                  QStringLiteral("Fax"),
                                  QStringLiteral("Email"),
                                  QStringLiteral("Website"),
                                  QStringLiteral("AutomationServerPoll"),
                                  QStringLiteral("AutomationServerEmailFrom"),
                                  QStringLiteral("AutomationServerEmailServer"),
                                  QStringLiteral("AutomationServerEmailUser"),
                                  QStringLiteral("AutomationServerEmailPassword"),
                                  QStringLiteral("AutomationServerEmailUseSSLTLS"),
                                  QStringLiteral("AutomationServerEmailServerPort"),
                                  QStringLiteral("AutomationServerEmailFooter")};
    for (const QString &column : settings)
        EXPECT_EQ(db.queryValue(
                        QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('Company') WHERE name='%1'").arg(column))
                      .toInt(),
                  1)
            << column.toStdString();
    // Every text column compares without regard to letter case.
    const QString schema =
        db.queryValue(QStringLiteral("SELECT group_concat(sql, ' ') FROM sqlite_master WHERE type='table'")).toString();
    static const QRegularExpression textWithoutNocase(QStringLiteral(R"((NVARCHAR\(\d+\)|TEXT)(?! COLLATE NOCASE))"));
    EXPECT_FALSE(textWithoutNocase.match(schema).hasMatch())
        << textWithoutNocase.match(schema).captured(0).toStdString();
}
