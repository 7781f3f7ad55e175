// Logins a real mail server completes (password or OAuth 2.0), and the
// transport habits of real servers.

#include "tests/email/MailTestSupport.h"

#include "database/DbConnection.h"
#include "email/MailOAuth2Table.h"
#include "email/SendEmail.h"
#include "email/SendQueuedEmails.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/HostData.h"
#include "tests/support/ServerRun.h"
#include "tests/support/TempDatabase.h"

namespace {

class MailSignInTest : public MailTest
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override
    {
        MailTest::SetUp();
        QString error;
        ASSERT_TRUE(DatabaseConnection().Open(db.connectionString(), &error)) << error.toStdString();
    }
    void TearDown() override
    {
        DatabaseConnection().Close();
        MailTest::TearDown();
    }

    SmtpServer &start(SmtpServer::Options options, const QString &user)
    {
        options.tls = SmtpServer::Tls::StartTls;
        options.user = user;
        server = std::make_unique<SmtpServer>(options);
        CompanySettings.AutomationServerEmailServer = QStringLiteral("127.0.0.1");
        CompanySettings.AutomationServerEmailServerPort = QString::number(server->port());
        CompanySettings.AutomationServerEmailUseSSLTLS = true;
        CompanySettings.AutomationServerEmailUser = user;
        CompanySettings.AutomationServerEmailPassword = options.password;
        return *server;
    }
    void oauthRow(const QString &secret, const QString &refreshToken)
    {
        db.exec(QStringLiteral("DROP TABLE IF EXISTS AutomationServer_MailOAuth2"));
        LoadMailOAuth2Row(); // creates the table
        db.exec(QStringLiteral("INSERT INTO AutomationServer_MailOAuth2 VALUES ('%1', 'velmar-app', '%2', "
                               "'https://outlook.office365.com/.default', '%3')")
                    .arg(server->tokenEndpoint(), secret, refreshToken));
    }
    // Four recipient lists queued afresh and sent as one cycle does.
    MailSendingOutcome cycle()
    {
        db.exec(QStringLiteral("DELETE FROM AutomationServer_EmailsSent"));
        for (int i = 0; i < 4; ++i)
            db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailBody, "
                                   "EmailSent) VALUES ('alerts@corp.test', 'list%1@client.test;', 'b', 0)")
                        .arg(i));
        MailSendingOutcome sent;
        SendQueuedEmails(sent, CompanyMailSettings({}));
        return sent;
    }
    // --send-test-mail run by the executable on a Company row like the settings.
    ServerExit sendTestMail()
    {
        db.exec(QStringLiteral("INSERT INTO Company (Name, AutomationServerEmailFrom, AutomationServerEmailServer, "
                               "AutomationServerEmailServerPort, AutomationServerEmailUser, "
                               "AutomationServerEmailPassword, AutomationServerEmailUseSSLTLS) VALUES ('Corp', "
                               "'alerts@corp.test', '127.0.0.1', '%1', '%2', '%3', 1)")
                    .arg(server->port())
                    .arg(CompanySettings.AutomationServerEmailUser, CompanySettings.AutomationServerEmailPassword));
        QProcessEnvironment env = ServerEnvironment(db.directory());
        env.insert(QStringLiteral("CURL_CA_BUNDLE"), SmtpServer::testAuthorityFile());
        return RunServer({QStringLiteral("--send-test-mail"), QStringLiteral("me@corp.test"),
                          QStringLiteral("--config"), WriteServerConfig(db.directory(), db.connectionString())},
                         env);
    }
    int sentRows()
    {
        return db.queryValue(QStringLiteral("SELECT SUM(EmailSent) FROM AutomationServer_EmailsSent")).toInt();
    }

    TempDatabase db;
    std::unique_ptr<SmtpServer> server;
};

} // namespace

TEST_F(MailSignInTest, passwordLogin_neverPicksGssapiOrNtlm)
{
    for (const char *user : {"CORP\\alerts", "alerts@corp.test", "alerts"}) {
        SCOPED_TRACE(user);
        start({.password = QStringLiteral("Pa55"), .authMechanisms = QStringLiteral("GSSAPI NTLM LOGIN PLAIN")},
              QString::fromLatin1(user));
        const MailSendingOutcome sent = cycle();
        EXPECT_EQ(sent.Emails, 4) << sent.Failures.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(server->messages().size(), 4);
        EXPECT_EQ(sentRows(), 4);
    }
}

TEST_F(MailSignInTest, oauthGrants_deliverEveryDigestWithOneTokenRequestPerCycle)
{
    for (const char *refreshToken : {"", "rt-0"}) {
        SCOPED_TRACE(refreshToken);
        start({.authMechanisms = QStringLiteral("LOGIN XOAUTH2"),
               .tokenClient = QStringLiteral("velmar-app"),
               .tokenSecret = QStringLiteral("S3cret-Quartz"),
               .tokenRefresh = QLatin1String(refreshToken)},
              QStringLiteral("alerts@corp.test"));
        oauthRow(QStringLiteral("S3cret-Quartz"), QLatin1String(refreshToken));
        const MailSendingOutcome first = cycle();
        EXPECT_EQ(first.Emails, 4) << first.Failures.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(cycle().Emails, 4); // the token of the first cycle is still good
        EXPECT_EQ(server->messages().size(), 8);
        EXPECT_EQ(server->sessionEvents(QStringLiteral("token ")).size(), 1);
        EXPECT_EQ(server->sessionEvents(QStringLiteral("auth")).size(), 2);
        // A refresh token the provider replaced is stored in its place.
        EXPECT_EQ(db.queryValue(QStringLiteral("SELECT RefreshToken FROM AutomationServer_MailOAuth2")).toString(),
                  *refreshToken ? QStringLiteral("rt-1") : QString());
    }
}

TEST_F(MailSignInTest, refusedTokenRequest_sendsNothingAndSaysWhyWithoutTheSecret)
{
    start({.tokenClient = QStringLiteral("velmar-app"), .tokenSecret = QStringLiteral("right")},
          QStringLiteral("alerts@corp.test"));
    oauthRow(QStringLiteral("Wrong-Secret-Photon"), QString());
    const MailSendingOutcome sent = cycle();
    const QString said = sent.Failures.join(QLatin1Char('\n'));
    EXPECT_EQ(sentRows(), 0);
    EXPECT_EQ(server->connectionCount(), 0);
    EXPECT_EQ(server->sessionEvents(QStringLiteral("token ")).size(), 1);
    EXPECT_TRUE(said.contains(QLatin1String("invalid_client: AADSTS7000215"))) << said.toStdString();
    EXPECT_FALSE(said.contains(QLatin1String("Photon"))) << said.toStdString();

    // The same through --send-test-mail: exit 1, the provider's words, no secret.
    const ServerExit run = sendTestMail();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("AADSTS7000215"))) << run.err.toStdString();
    EXPECT_FALSE((run.out + run.err).contains(QLatin1String("Photon")));
}

TEST_F(MailSignInTest, sendTestMail_printsTheFinalReplyAndTouchesNoQueueRow)
{
    start({.password = QStringLiteral("Pa55")}, QStringLiteral("alerts"));
    db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailBody, EmailSent) "
                           "VALUES ('alerts@corp.test', 'queued@client.test;', 'b', 0)"));
    const ServerExit run = sendTestMail();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QLatin1String("250 2.0.0 Message accepted for delivery"))) << run.out.toStdString();
    ASSERT_EQ(server->messages().size(), 1);
    EXPECT_EQ(server->messages().at(0).recipients, QStringList{QStringLiteral("me@corp.test")});
    EXPECT_EQ(sentRows(), 0);
}

TEST_F(MailTest, realServerHabits_areMet)
{
    struct Case
    {
        const char *name;
        SmtpServer::Options options;
        const char *to;
    } cases[] = {
        {"slowReplies", {.replyDelaySeconds = 1}, "a@client.test"},
        {"421BetweenMessages", {.behaviour = SmtpServer::Behaviour::CloseReused}, "a@client.test"},
        {"internationalLocalPart", {.smtpUtf8 = true}, "jürgen@client.test"},
        {"namedRecipient", {}, "Named Person <a@client.test>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SmtpServer server(c.options);
        MailSettings settings = shortLimits(5000, 2000); // each reply within 2 s; the dialogue takes longer
        settings.server = QStringLiteral("127.0.0.1");
        settings.port = QString::number(server.port());
        MailSession session;
        for (int i = 0; i < 2; ++i)
            SendEmail(settings, QStringLiteral("alerts@corp.test"), QString(), QString::fromUtf8(c.to),
                      QStringLiteral("s"), QStringLiteral("b"), &session);
        ASSERT_EQ(server.messages().size(), 2);
        EXPECT_TRUE(QString::fromUtf8(c.to).contains(server.messages().at(1).recipients.value(0)));
    }
    // A TLS-only port with the secure setting off: said at once, pointing at the setting.
    MailSettings settings;
    settings.server = QStringLiteral("127.0.0.1");
    settings.port = QStringLiteral("465");
    const QString failure = failureOf(
        [&] { SendEmail(settings, QString(), QString(), QStringLiteral("a@client.test"), QString(), QString()); });
    EXPECT_TRUE(failure.contains(QLatin1String("AutomationServerEmailUseSSLTLS"))) << failure.toStdString();
}
