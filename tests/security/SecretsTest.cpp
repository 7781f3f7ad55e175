// Passwords stay out of everything shown: the database's failure texts (in
// the system's words and the driver's), the reasons start-up prints, the mail
// failure lines of a cycle and the server's own output.

#include "database/ConnectionString.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "email/MailComponent.h"
#include "email/SendQueuedEmails.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/HostData.h"
#include "tests/support/ServerRun.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDatabase.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Every distinctive piece of a secret: a masked text may keep none of them.
::testing::AssertionResult keepsNoPartOf(const QString &text, const QString &secret)
{
    const QStringList pieces = secret.split(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        if (piece.size() >= 5 && text.contains(piece, Qt::CaseInsensitive))
            return ::testing::AssertionFailure()
                << "\"" << piece.toStdString() << "\" shown in: " << text.toStdString();
    }
    const QStringList encodings = {QString::fromLatin1(secret.toUtf8().toBase64()),
                                   QString::fromLatin1(secret.toUtf8().toPercentEncoding())};
    for (const QString &encoded : encodings) {
        if (text.contains(encoded))
            return ::testing::AssertionFailure() << "encoded secret shown in: " << text.toStdString();
    }
    return ::testing::AssertionSuccess();
}

struct FailingConnection
{
    QString connectionString;
    QString password;
};

// Connection strings that cannot connect here, each with a password written
// in another of the ways ADO and ODBC allow.
QList<FailingConnection> failingConnections()
{
    return {
        {QStringLiteral("Driver={No Such Driver 99};Server=db1;UID=sa;PWD=Odbc-Zephyr-4711"),
         QStringLiteral("Odbc-Zephyr-4711")},
        {QStringLiteral("DSN=velmar_missing_dsn;UID=sa;Password=Dsn-Quasar-5821"), QStringLiteral("Dsn-Quasar-5821")},
        {QStringLiteral("Driver={FreeTDS};Server=127.0.0.1;Port=1;UID=sa;PWD={Brace;Nebula}}-6932}"),
         QStringLiteral("Brace;Nebula}-6932")},
        {QStringLiteral("Driver={FreeTDS};Server=127.0.0.1;Port=1;UID=sa;pwd = 'Quoted Pulsar 7043'"),
         QStringLiteral("Quoted Pulsar 7043")},
        {QStringLiteral("Provider=SQLOLEDB;Data Source=127.0.0.1,1;User ID=sa;Password=\"Ado;Comet-8154\""),
         QStringLiteral("Ado;Comet-8154")},
        {QStringLiteral("Provider=SQLite;Data Source=/nonexistent-velmar/none.db;Password=Lite-Meteor-9265"),
         QStringLiteral("Lite-Meteor-9265")},
        {QStringLiteral("Provider=NoSuchProvider;Data Source=x;Password=Alien-Orbit-1376"),
         QStringLiteral("Alien-Orbit-1376")},
        {QStringLiteral("Password=First-Galaxy-2487;Driver={No Such Driver 99}"), QStringLiteral("First-Galaxy-2487")},
        // Strings whose failure text repeats part of what was given (the
        // driver's name, the database file): the password in it is masked.
        {QStringLiteral("Driver={No Such Driver;PWD=Echoed-Quark-3598};Server=db1"),
         QStringLiteral("Echoed-Quark-3598")},
        {QStringLiteral("Provider=SQLite;Data Source='/nonexistent-velmar/x;Password=Echoed-Boson-4609.db'"),
         QStringLiteral("Echoed-Boson-4609")},
    };
}

} // namespace

TEST(DatabaseSecrets, failedOpen_masksThePasswordInItsReason)
{
    for (const FailingConnection &failing : failingConnections()) {
        SCOPED_TRACE(failing.connectionString.toStdString());
        DbConnection connection;
        QString error;
        ASSERT_FALSE(connection.Open(failing.connectionString, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(keepsNoPartOf(error, failing.password));
    }
}

TEST(DatabaseSecrets, openDatabaseFailure_givesHandlerAndLogAMaskedReason)
{
    for (const FailingConnection &failing : failingConnections()) {
        SCOPED_TRACE(failing.connectionString.toStdString());
        QString handed;
        SetOpenDatabaseFailureHandler([&handed](const QString &reason) { handed = reason; });
        DBConnectionString = failing.connectionString;
        EXPECT_FALSE(OpenDatabase());
        EXPECT_FALSE(handed.isEmpty());
        EXPECT_TRUE(keepsNoPartOf(handed, failing.password));
        EXPECT_TRUE(keepsNoPartOf(LastOpenDatabaseError(), failing.password));
    }
    SetOpenDatabaseFailureHandler({});
    DBConnectionString.clear();
}

// A password whose quote never closes runs to the end of the string, so a
// failure that echoes the string must hide all of it, past any ";".
TEST(DatabaseSecrets, passwordWhoseQuoteNeverCloses_isMaskedAsFarAsItIsRead)
{
    const QString password = QStringLiteral("Open-Quasar-5720;Tail-Pulsar-6831");
    for (const QString &opening : {QStringLiteral("\""), QStringLiteral("'"), QStringLiteral("{")}) {
        const QString connectionString =
            QStringLiteral("Driver={No Such Driver 99};Server=db1;UID=sa;PWD=") + opening + password;
        SCOPED_TRACE(connectionString.toStdString());
        DbConnection connection;
        QString error;
        ASSERT_FALSE(connection.Open(connectionString, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(keepsNoPartOf(error, password));
        EXPECT_TRUE(keepsNoPartOf(MaskPasswords(connectionString), password));
    }
}

TEST(DatabaseSecrets, serverThatCannotConnect_printsNoPassword)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString config =
        WriteServerConfig(dir.path(),
                          QStringLiteral("Driver={No Such Driver 99};Server=db1;UID=sa;PWD=Printed-Vortex-3598"));
    const ServerExit server =
        RunServer({QStringLiteral("--once"), QStringLiteral("--allow-plain-auth"), QStringLiteral("--config"), config},
                  dir.path());
    ASSERT_TRUE(server.finished) << "the server did not finish";
    const QString output = server.out + server.err;
    EXPECT_EQ(server.exitCode, 1) << output.toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("Unable to connect"))) << output.toStdString();
    EXPECT_TRUE(keepsNoPartOf(output, QStringLiteral("Printed-Vortex-3598")));
}

// --- The SMTP password ----------------------------------------------------------

namespace {

const QString MailUser = QStringLiteral("mailer");
const QString MailPassword = QStringLiteral("Smtp:Secret/Nova%20-4609");

// A queue of one message in a fresh database, the system's connection open
// on it, and the company's mail settings pointing at a test server.
class MailSecretsTest : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override
    {
        qputenv("CURL_CA_BUNDLE", SmtpServer::testAuthorityFile().toLocal8Bit());
        mailOptions.timeouts = {std::chrono::milliseconds(3000), std::chrono::milliseconds(6000)};
        db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailFromName, EmailTo,"
                               " EmailSubject, EmailBody, EmailSent) VALUES ('alerts@velmar.test', 'Velmar',"
                               " 'client@client.test;', 's', 'Training expires soon.', 0)"));
        QString error;
        ASSERT_TRUE(DatabaseConnection().Open(db.connectionString(), &error)) << error.toStdString();
        CompanySettings.Name = QStringLiteral("Velmar");
        CompanySettings.AutomationServerEmailServer = QStringLiteral("127.0.0.1");
        CompanySettings.AutomationServerEmailUser = MailUser;
        CompanySettings.AutomationServerEmailPassword = MailPassword;
        CompanySettings.AutomationServerEmailUseSSLTLS = true;
    }
    void TearDown() override
    {
        DatabaseConnection().Close();
        qunsetenv("CURL_CA_BUNDLE");
    }

    // Sends the queue; the message must fail, stay queued and leave one line.
    QString failureLine()
    {
        MailSendingOutcome sent;
        SendQueuedEmails(sent, CompanyMailSettings(mailOptions));
        EXPECT_EQ(sent.Emails, 0);
        EXPECT_EQ(db.queryValue(QStringLiteral("SELECT EmailSent FROM AutomationServer_EmailsSent")).toInt(), 0);
        if (sent.Failures.size() != 1) {
            ADD_FAILURE() << "expected one failure line, got " << sent.Failures.size();
            return QString();
        }
        return sent.Failures.first();
    }

    TempDatabase db;
    MailOptions mailOptions;
};

SmtpServer::Options loginServer(SmtpServer::Behaviour behaviour = SmtpServer::Behaviour::Accept)
{
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTls;
    options.user = MailUser;
    options.password = QStringLiteral("another-password");
    options.behaviour = behaviour;
    return options;
}

} // namespace

TEST_F(MailSecretsTest, loginRefused_failureLineHoldsNoPassword)
{
    SmtpServer server(loginServer());
    CompanySettings.AutomationServerEmailServerPort = QString::number(server.port());
    const QString line = failureLine();
    EXPECT_TRUE(line.contains(QLatin1String("535"))) << line.toStdString();
    EXPECT_TRUE(keepsNoPartOf(line, MailPassword));
    // The PLAIN mechanism's whole answer, in case a server echoed it.
    const QByteArray plain = QByteArray(1, '\0') + MailUser.toUtf8() + QByteArray(1, '\0') + MailPassword.toUtf8();
    EXPECT_FALSE(line.contains(QString::fromLatin1(plain.toBase64())));
}

TEST_F(MailSecretsTest, serverUnreachableOrSilentOrUntrusted_failureLineHoldsNoPassword)
{
    {
        SmtpServer::Options options = loginServer(SmtpServer::Behaviour::NotListening);
        SmtpServer server(options);
        CompanySettings.AutomationServerEmailServerPort = QString::number(server.port());
        EXPECT_TRUE(keepsNoPartOf(failureLine(), MailPassword));
    }
    {
        SmtpServer server(loginServer(SmtpServer::Behaviour::Silent));
        CompanySettings.AutomationServerEmailServerPort = QString::number(server.port());
        EXPECT_TRUE(keepsNoPartOf(failureLine(), MailPassword));
    }
    {
        qputenv("CURL_CA_BUNDLE", SmtpServer::strangerAuthorityFile().toLocal8Bit());
        SmtpServer server(loginServer());
        CompanySettings.AutomationServerEmailServerPort = QString::number(server.port());
        EXPECT_TRUE(keepsNoPartOf(failureLine(), MailPassword));
    }
}

namespace {

// A careless server that repeats the login it refused, encoded and decoded.
SmtpServer::Options echoingServer()
{
    SmtpServer::Options options = loginServer(SmtpServer::Behaviour::EchoLogin);
    options.tls = SmtpServer::Tls::None;
    return options;
}

} // namespace

TEST_F(MailSecretsTest, serverThatRepeatsTheLogin_failureLineHoldsNoPassword)
{
    SmtpServer echo(echoingServer());
    CompanySettings.AutomationServerEmailServerPort = QString::number(echo.port());
    CompanySettings.AutomationServerEmailUseSSLTLS = false;

    // The server offers no STARTTLS: only an explicit allowance lets the
    // login go at all.
    mailOptions.plainTextLoginAllowed = true;
    const QString line = failureLine();
    EXPECT_TRUE(line.contains(QLatin1String("535 5.7.8 Login refused for"))) << line.toStdString();
    // The repeat arrived (the user name is no secret), the password did not.
    EXPECT_TRUE(line.contains(MailUser)) << line.toStdString();
    EXPECT_TRUE(keepsNoPartOf(line, MailPassword));
    const QByteArray plain = QByteArray(1, '\0') + MailUser.toUtf8() + QByteArray(1, '\0') + MailPassword.toUtf8();
    EXPECT_FALSE(line.contains(QString::fromLatin1(plain.toBase64()))) << line.toStdString();
}

TEST(ServerSecrets, cycleWithRefusedLogin_printsNoPasswordOnEitherStream)
{
    SmtpServer echo(echoingServer());
    TempDatabase db;
    db.exec(QStringLiteral("INSERT INTO Company (Name, AutomationServerPoll, AutomationServerEmailServer,"
                           " AutomationServerEmailServerPort, AutomationServerEmailUser, AutomationServerEmailPassword,"
                           " AutomationServerEmailUseSSLTLS) VALUES ('Velmar', 5, '127.0.0.1', '") +
            QString::number(echo.port()) +
            QStringLiteral("', 'mailer', 'Row-Secret-Photon-5710', 0);"
                           "INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailBody, EmailSent)"
                           " VALUES ('alerts@velmar.test', 'client@client.test;', 'b', 0)"));
    const QString config = WriteServerConfig(db.directory(), QStringLiteral("Provider=SQLite;Data Source=velmar.db"));
    const ServerExit server =
        RunServer({QStringLiteral("--once"), QStringLiteral("--allow-plain-auth"), QStringLiteral("--config"), config},
                  db.directory());
    ASSERT_TRUE(server.finished) << "the server did not finish";
    const QString output = server.out + server.err;
    EXPECT_EQ(server.exitCode, 1) << output.toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("535"))) << output.toStdString();
    EXPECT_TRUE(keepsNoPartOf(output, QStringLiteral("Row-Secret-Photon-5710")));
}
