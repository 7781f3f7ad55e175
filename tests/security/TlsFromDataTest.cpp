// The secure-connection switch of the Company row turns TLS on; nothing in
// the database turns its verification off. The settings are loaded from a
// real Company row and the queue is sent as a cycle sends it.

#include "database/DbConnection.h"
#include "database/SqlText.h"
#include "email/MailComponent.h"
#include "email/SendQueuedEmails.h"
#include "startup/CompanySettings.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/SmtpServer.h"
#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>

namespace {

class TlsFromDataTest : public ::testing::Test
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override
    {
        qunsetenv("CURL_CA_BUNDLE");
        mailOptions.timeouts = {std::chrono::milliseconds(3000), std::chrono::milliseconds(6000)};
        db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailFromName, EmailTo,"
                               " EmailSubject, EmailBody, EmailSent) VALUES ('alerts@velmar.test', 'Velmar',"
                               " 'client@client.test;', 's', 'Training expires soon.', 0)"));
        QString error;
        ASSERT_TRUE(DatabaseConnection().Open(db.connectionString(), &error)) << error.toStdString();
    }
    void TearDown() override
    {
        DatabaseConnection().Close();
        qunsetenv("CURL_CA_BUNDLE");
    }

    // The Company row as the host stores it, read by start-up's loader.
    void companyRow(const QString &server, const QString &port, const QString &secure)
    {
        db.exec(QStringLiteral("DELETE FROM Company"));
        db.exec(
            QStringLiteral("INSERT INTO Company (Name, AutomationServerPoll, AutomationServerEmailServer,"
                           " AutomationServerEmailServerPort, AutomationServerEmailUseSSLTLS) VALUES ('Velmar', 5, '") +
            SqlText(server) + QStringLiteral("', '") + SqlText(port) + QStringLiteral("', ") + secure +
            QStringLiteral(")"));
        CompanySettings = CompanySettingsValues();
        LoadCompanySettings();
    }

    // Runs the queue as a cycle does; true when the row was marked sent.
    bool sendQueue()
    {
        sent = {};
        SendQueuedEmails(sent, CompanyMailSettings(mailOptions));
        return db.queryValue(QStringLiteral("SELECT EmailSent FROM AutomationServer_EmailsSent")).toInt() == 1;
    }

    TempDatabase db;
    MailOptions mailOptions;
    MailSendingOutcome sent;
};

SmtpServer::Options startTls()
{
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTls;
    return options;
}

} // namespace

TEST_F(TlsFromDataTest, secureOnWithUntrustedCertificate_sendsNothing_untilTheAuthorityIsTrusted)
{
    SmtpServer server(startTls());
    companyRow(QStringLiteral("127.0.0.1"), QString::number(server.port()), QStringLiteral("1"));
    ASSERT_TRUE(CompanySettings.AutomationServerEmailUseSSLTLS);

    // Nobody vouches for the server's certificate on this machine.
    EXPECT_FALSE(sendQueue());
    EXPECT_TRUE(server.messages().isEmpty());
    ASSERT_EQ(sent.Failures.size(), 1);
    EXPECT_TRUE(sent.Failures.first().contains(QLatin1String("certificate"), Qt::CaseInsensitive))
        << sent.Failures.first().toStdString();

    // An authority the administrator did not install for this server.
    qputenv("CURL_CA_BUNDLE", SmtpServer::strangerAuthorityFile().toLocal8Bit());
    EXPECT_FALSE(sendQueue());
    EXPECT_TRUE(server.messages().isEmpty());

    // The same row goes out once the machine trusts the server's authority:
    // the certificate, not the settings, stopped the message.
    qputenv("CURL_CA_BUNDLE", SmtpServer::testAuthorityFile().toLocal8Bit());
    EXPECT_TRUE(sendQueue()) << sent.Failures.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(server.messages().size(), 1);
}

TEST_F(TlsFromDataTest, serverNamesThatTryToCarryOptions_neverReachAnUnverifiedServer)
{
    SmtpServer server(startTls());
    const QString port = QString::number(server.port());
    const QStringList names = {
        QStringLiteral("127.0.0.1:") + port,          QStringLiteral("smtp://127.0.0.1:") + port,
        QStringLiteral("127.0.0.1/?insecure=1"),      QStringLiteral("127.0.0.1 -k"),
        QStringLiteral("127.0.0.1;SSL_VERIFYPEER=0"), QStringLiteral("localhost"),
    };
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        companyRow(name, port, QStringLiteral("1"));
        EXPECT_FALSE(sendQueue());
        EXPECT_EQ(sent.Failures.size(), 1);
    }
    EXPECT_TRUE(server.messages().isEmpty());
}

TEST_F(TlsFromDataTest, secureSwitchHeldAsTextOrNumber_stillVerifies)
{
    SmtpServer server(startTls());
    for (const QString &secure : {QStringLiteral("-1"), QStringLiteral("2"), QStringLiteral("'True'")}) {
        SCOPED_TRACE(secure.toStdString());
        companyRow(QStringLiteral("127.0.0.1"), QString::number(server.port()), secure);
        ASSERT_TRUE(CompanySettings.AutomationServerEmailUseSSLTLS);
        EXPECT_FALSE(sendQueue());
    }
    EXPECT_TRUE(server.messages().isEmpty());
}
