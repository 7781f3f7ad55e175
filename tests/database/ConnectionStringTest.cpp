#include "database/ConnectionString.h"
#include "database/AdoToOdbc.h"
#include "database/DriverSettings.h"

#include <gtest/gtest.h>

namespace {

const QStringList FreeTdsOnly = {QStringLiteral("FreeTDS"), QStringLiteral("SQLite3")};
const QStringList Microsoft = {QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 17 for SQL Server"),
                               QStringLiteral("ODBC Driver 18 for SQL Server")};

QString translate(const QString &ado, const QStringList &drivers = FreeTdsOnly)
{
    QString error;
    const QString odbc = AdoToOdbcConnectionString(ado, drivers, &error);
    EXPECT_FALSE(odbc.isEmpty()) << error.toStdString();
    return odbc;
}

} // namespace

TEST(ConnectionStringParse, quotesBracesBlanksAndEmptyItems)
{
    const QList<ConnectionStringItem> items = ParseConnectionString(QStringLiteral(
        " Provider = SQLOLEDB ;;Password=\"a;b\"\"c\";User ID='it''s';Driver={x;}}y}; Data Source=srv\\inst,1433 "));
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(items[0].key, QStringLiteral("Provider"));
    EXPECT_EQ(items[0].value, QStringLiteral("SQLOLEDB"));
    EXPECT_EQ(items[1].value, QStringLiteral("a;b\"c"));
    EXPECT_EQ(items[2].value, QStringLiteral("it's"));
    EXPECT_EQ(items[3].value, QStringLiteral("x;}y"));
    EXPECT_EQ(ConnectionStringValue(items, QStringLiteral("data source")), QStringLiteral("srv\\inst,1433"));
    EXPECT_TRUE(ConnectionStringValue(items, QStringLiteral("Initial Catalog")).isNull());
}

TEST(ConnectionStringMask, hidesEveryPasswordValueOnly)
{
    EXPECT_EQ(MaskPasswords(QStringLiteral("Provider=SQLOLEDB;User ID=sa;Password=s3cret;Data Source=x")),
              QStringLiteral("Provider=SQLOLEDB;User ID=sa;Password=***;Data Source=x"));
    EXPECT_EQ(MaskPasswords(
                  QStringLiteral("Driver={FreeTDS};TDS_Version=7.4;ClientCharset=UTF-8;UID=sa;pwd={a;b};Server=x;")),
              QStringLiteral("Driver={FreeTDS};TDS_Version=7.4;ClientCharset=UTF-8;UID=sa;pwd=***;Server=x;"));
    EXPECT_EQ(MaskPasswords(QStringLiteral("PASSWORD = \"x;y\";OldPasswordHint=keep")),
              QStringLiteral("PASSWORD = ***;OldPasswordHint=keep"));
    EXPECT_EQ(MaskPasswords(QStringLiteral("login failed for user 'sa'")),
              QStringLiteral("login failed for user 'sa'"));
}

// The reader takes a quote or brace that never closes to the end of the
// text: the whole of it is the password, semicolons included.
TEST(ConnectionStringMask, unclosedQuoteOrBrace_isMaskedToTheEnd)
{
    for (const char *text :
         {"UID=sa;PWD=\"Half;Hidden=Nebula", "UID=sa;PWD='Half;Hidden=Nebula", "UID=sa;PWD={Half;Hidden=Nebula"}) {
        SCOPED_TRACE(text);
        const QString given = QString::fromLatin1(text);
        EXPECT_EQ(ConnectionStringValue(ParseConnectionString(given), QStringLiteral("PWD")),
                  QStringLiteral("Half;Hidden=Nebula"));
        EXPECT_EQ(MaskPasswords(given), QStringLiteral("UID=sa;PWD=***"));
    }
    // Closed, the value ends at its quote and what follows stays readable.
    EXPECT_EQ(MaskPasswords(QStringLiteral("PWD='a''b';Server=x")), QStringLiteral("PWD=***;Server=x"));
}

TEST(AdoToOdbc, recognisesTheSqlServerProviders)
{
    for (const char *provider : {"SQLOLEDB", "SQLOLEDB.1", "sqloledb", "SQLNCLI", "SQLNCLI10", "SQLNCLI11",
                                 "SQLNCLI11.1", "MSOLEDBSQL", "MSOLEDBSQL19"})
        EXPECT_TRUE(IsSqlServerOleDbProvider(QString::fromLatin1(provider))) << provider;
    for (const char *provider : {"SQLite", "MSDASQL", "Microsoft.Jet.OLEDB.4.0", "", "SQLOLEDBX"})
        EXPECT_FALSE(IsSqlServerOleDbProvider(QString::fromLatin1(provider))) << provider;
}

TEST(AdoToOdbc, prefersMicrosoftsNewestDriverThenFreeTds)
{
    EXPECT_EQ(BestSqlServerOdbcDriver(Microsoft), QStringLiteral("ODBC Driver 18 for SQL Server"));
    EXPECT_EQ(BestSqlServerOdbcDriver({QStringLiteral("SQL Server"), QStringLiteral("SQL Server Native Client 11.0"),
                                       QStringLiteral("FreeTDS")}),
              QStringLiteral("SQL Server Native Client 11.0"));
    EXPECT_EQ(BestSqlServerOdbcDriver({QStringLiteral("SQL Server"), QStringLiteral("FreeTDS")}),
              QStringLiteral("FreeTDS"));
    EXPECT_EQ(BestSqlServerOdbcDriver({QStringLiteral("SQLite3")}), QString());
}

TEST(AdoToOdbc, translatesForFreeTdsOrMicrosoftsDriver)
{
    const QString freeTds = QStringLiteral("Driver={FreeTDS};TDS_Version=7.4;ClientCharset=UTF-8;");
    const QString odbc18 = QStringLiteral("Driver={ODBC Driver 18 for SQL Server};");
    const struct
    {
        QString ado;
        bool microsoft;
        QString odbc;
    } cases[] = {
        {"Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=pw;Initial Catalog=Velmar;"
         "Data Source=SRV01\\SQLEXPRESS",
         false, freeTds + "UID=sa;PWD=pw;Database=Velmar;Server=SRV01\\SQLEXPRESS;"},
        {"Provider=SQLNCLI11;Data Source=tcp:db.example.com,1433;Initial Catalog=V", false,
         freeTds + "Server=db.example.com;Port=1433;Database=V;"},
        // An instance and a port together: the port decides where to connect.
        {"Provider=SQLOLEDB;Data Source=srv\\inst,14330", false, freeTds + "Server=srv;Port=14330;"},
        {"Provider=SQLOLEDB;Data Source=srv\\inst,14330", true, odbc18 + "Server=srv\\inst,14330;Encrypt=no;"},
        {"Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=srv", true,
         odbc18 + "Trusted_Connection=yes;Server=srv;Encrypt=no;"},
        {"Provider=SQLOLEDB;Integrated Security=false;Data Source=srv", false, freeTds + "Server=srv;"},
        {"Provider=MSOLEDBSQL19;Data Source=srv", true, odbc18 + "Server=srv;"},
        {"Provider=MSOLEDBSQL;Data Source=srv;Encrypt=yes;TrustServerCertificate=True", true,
         odbc18 + "Server=srv;Encrypt=yes;TrustServerCertificate=yes;"},
        {"Provider=MSOLEDBSQL;Data Source=srv;Encrypt=yes;TrustServerCertificate=True", false,
         freeTds + "Server=srv;Encryption=require;TrustServerCertificate=yes;"},
        // A trust that is not written explicitly is not given.
        {"Provider=MSOLEDBSQL;Data Source=srv;Encrypt=strict;TrustServerCertificate=no", true,
         odbc18 + "Server=srv;Encrypt=strict;TrustServerCertificate=no;"},
        {"Provider=SQLOLEDB;Password=\"p;w}d\";Connect Timeout=30;Application Name=Velmar;Data Source=srv", false,
         freeTds + "PWD={p;w}d};APP=Velmar;Server=srv;"},
        // Microsoft's driver undoubles "}}" inside braces; FreeTDS keeps it.
        {"Provider=SQLOLEDB;Password=\"p;w}d\"", true, odbc18 + "PWD={p;w}}d};Encrypt=no;"},
        {"Provider=SQLNCLI11;Data Source=(local)\\SQLEXPRESS;Password=p}w", false,
         freeTds + "Server=127.0.0.1\\SQLEXPRESS;PWD=p}w;"},
        {"Provider=SQLNCLI11;Data Source=.,1500;Command Timeout=5", true,
         odbc18 + "Server=127.0.0.1,1500;Command Timeout=5;Encrypt=no;"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(translate(c.ado, c.microsoft ? Microsoft : FreeTdsOnly), c.odbc) << c.ado.toStdString();
}

TEST(DriverConnection, encryptionIsToldToEachDriverOrRefused)
{
    const struct
    {
        QString odbc;
        bool freeTds;
        QString sent, caFile, refusal, server = {};
    } cases[] = {
        {"Driver=FreeTDS;Server=s;Encrypt=yes", true, "Driver=FreeTDS;Servername=velmar-verified;Encryption=require;",
         "system", "", "s||"},
        {"Driver=FreeTDS;Server=tcp:db\\SALES;Database=d;Encryption=require;CAFile=/etc/hostname", true,
         "Driver=FreeTDS;Database=d;Servername=velmar-verified;Encryption=require;", "/etc/hostname", "", "db||SALES"},
        {"Driver=FreeTDS;Server=db\\SALES,1500;Port=1433;Encrypt=yes", true,
         "Driver=FreeTDS;Servername=velmar-verified;Encryption=require;", "system", "", "db|1433|"},
        {"DSN=Payroll;Encryption=require;CAFile=/etc/hostname", true, "", "", "cannot be verified for a FreeTDS data"},
        {"DSN=Payroll;Encrypt=yes;TrustServerCertificate=yes", true, "DSN=Payroll;Encryption=require;", "", ""},
        {"DSN=Payroll;Encrypt=no;Encryption=request", true, "DSN=Payroll;Encryption=request;", "", ""},
        {"DSN=Payroll;Encrypt=strict", true, "", "", "Encrypt=strict cannot be used with the FreeTDS"},
        {"DSN=Payroll;Encrypt=yes;CAFile=/no/such/ca.pem", true, "", "",
         "\"/no/such/ca.pem\" named by CAFile cannot be read"},
        {"DSN=Payroll;CAFile=/etc/hostname", true, "", "", "CAFile is used only with Encrypt=yes"},
        {"Driver={ODBC Driver 18 for SQL Server};Server=s;Encrypt=strict", false,
         "Driver={ODBC Driver 18 for SQL Server};Server=s;Encrypt=strict;", "", ""},
        {"DSN=Payroll;Encrypt=yes;CAFile=/etc/hostname", false, "", "", "CAFile is read only for the FreeTDS"},
    };
    for (const auto &c : cases) {
        DriverConnectPlan plan;
        QString error;
        const bool planned = PlanDriverConnection(ParseConnectionString(c.odbc), {}, c.freeTds, &plan, &error);
        EXPECT_EQ(planned, c.refusal.isEmpty()) << c.odbc.toStdString() << ": " << error.toStdString();
        if (!planned) {
            EXPECT_TRUE(error.contains(c.refusal)) << error.toStdString();
            continue;
        }
        EXPECT_EQ(plan.connectionString, c.sent) << c.odbc.toStdString();
        EXPECT_EQ(plan.freeTdsCaFile, c.caFile) << c.odbc.toStdString();
        const FreeTdsServer &s = plan.freeTdsServer;
        EXPECT_EQ(s.host + '|' + s.port + '|' + s.instance, c.server.isEmpty() ? "||" : c.server);
    }
    QString error;
    EXPECT_TRUE(
        FreeTdsConfigText(QStringLiteral("/etc/ssl/private ca.pem"), {"db", "1433", ""}, 10, 30, QString(), &error)
            .contains(QStringLiteral("[velmar-verified]\n\thost = db\n\tport = 1433\n\tencryption = require\n"
                                     "\tca file = /etc/ssl/private ca.pem\n")));
    EXPECT_TRUE(FreeTdsConfigText(QStringLiteral("/a;b.pem"), {"db", "", ""}, 10, 30, QString(), &error).isNull());
}

TEST(QodbcName, theDriverManagerGetsTheStringAsWritten)
{
    const struct
    {
        QString written, handedToQt;
    } cases[] = {
        {"DSN=Payroll", "Payroll"},
        {"DSN={Pay roll};UID=sa;PWD={a;b}", "{Pay roll};UID=sa;PWD={a;b}"},
        {"UID=sa;dsn=Payroll;", "Payroll;UID=sa;"},
        {"Payroll", "Payroll"},
        {"Driver=FreeTDS;Server=s;", "Driver=FreeTDS;Server=s;"},
        {"DSN=Payroll;Server=s", "DSN=Payroll;Server=s"},
        {"FILEDSN=/etc/payroll.dsn;UID=sa", "/etc/payroll.dsn;UID=sa"},
        {"DSN=Payroll;Description=old.dsn", ""},
    };
    for (const auto &c : cases) {
        QString error;
        const QString name = QodbcDatabaseName(c.written, &error);
        EXPECT_EQ(name, c.handedToQt.isEmpty() ? QString() : c.handedToQt) << c.written.toStdString();
        EXPECT_EQ(name.isNull(), !error.isEmpty()) << error.toStdString();
    }
}

TEST(AdoToOdbc, noSqlServerDriver_isAnErrorNamingWhatIsInstalled)
{
    QString error;
    EXPECT_TRUE(AdoToOdbcConnectionString(QStringLiteral("Provider=SQLOLEDB;Data Source=srv"),
                                          {QStringLiteral("SQLite3")}, &error)
                    .isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("No SQL Server ODBC driver")) &&
                error.contains(QStringLiteral("SQLite3")))
        << error.toStdString();
}

TEST(AdoToOdbc, keywordsItCannotCarry_areRefusedByName)
{
    const struct
    {
        const char *item, *keyword;
    } cases[] = {{"Integrated Security=SSPI", "Integrated Security"},
                 {"Failover Partner=b", "Failover Partner"},
                 {"Network Library=dbnmpntw", "Network Library"},
                 {"Data Source=np:\\\\srv\\pipe\\sql", "Data Source"},
                 {"Mystery Option=1", "Mystery Option"}};
    for (const auto &c : cases) {
        QString error;
        EXPECT_TRUE(
            AdoToOdbcConnectionString(QStringLiteral("Provider=SQLOLEDB;User ID=sa;") + QString::fromLatin1(c.item),
                                      FreeTdsOnly, &error)
                .isEmpty())
            << c.item;
        EXPECT_TRUE(error.contains(QStringLiteral("\"%1\"").arg(QString::fromLatin1(c.keyword))))
            << error.toStdString();
    }
}
