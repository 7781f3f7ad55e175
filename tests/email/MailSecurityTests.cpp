#include "tests/email/MailTestSupport.h"

using Tls = SmtpServer::Tls;

namespace {

const QString User = QStringLiteral("mailer");
const QString Password = QStringLiteral("s3cret-Pa55");

SmtpServer::Options tls(Tls mode)
{
    SmtpServer::Options options;
    options.tls = mode;
    return options;
}

SmtpServer::Options withLogin(Tls mode)
{
    SmtpServer::Options options = tls(mode);
    options.user = User;
    options.password = Password;
    return options;
}

QString sendOne(const SmtpServer &server, bool secure, const QString &user = QString(),
                const QString &password = QString())
{
    return failureOf([&] {
        MailComponent mail;
        address(mail, server);
        if (secure)
            mail.EnableSecureConnection();
        mail.SetUserName(user);
        mail.SetPassword(password);
        mail.AddRecipient(QStringLiteral("a@client.test"), 0);
        mail.Send();
    });
}

} // namespace

using MailSecurity = MailTest;

TEST_F(MailSecurity, startTlsWithTrustedCertificate_delivers)
{
    // The server refuses any mail before STARTTLS, so delivery proves it.
    SmtpServer server(tls(Tls::StartTls));
    EXPECT_EQ(sendOne(server, true), QString());
    EXPECT_EQ(server.messages().size(), 1);
}

TEST_F(MailSecurity, secureOff_stillUsesStartTlsWhenOffered)
{
    // The server refuses any mail before STARTTLS, so delivery proves it.
    SmtpServer server(tls(Tls::StartTls));
    EXPECT_EQ(sendOne(server, false), QString());
    EXPECT_EQ(server.messages().size(), 1);
}

TEST_F(MailSecurity, smtpsScheme_asksForImplicitTlsOnAnyPort)
{
    SmtpServer server(tls(Tls::Implicit));
    const QString failure = failureOf([&] {
        MailComponent mail;
        address(mail, server);
        mail.SetServerHost(QStringLiteral("smtps://127.0.0.1"));
        mail.AddRecipient(QStringLiteral("a@client.test"), 0);
        mail.Send();
    });
    EXPECT_EQ(failure, QString());
    EXPECT_EQ(server.messages().size(), 1);
}

TEST_F(MailSecurity, secureOnAgainstServerWithoutTls_neverFallsBackToPlainText)
{
    SmtpServer server;
    EXPECT_FALSE(sendOne(server, true).isEmpty());
    EXPECT_TRUE(server.messages().isEmpty());
}

TEST_F(MailSecurity, untrustedOrMisnamedCertificate_fails)
{
    {
        qputenv("CURL_CA_BUNDLE", SmtpServer::strangerAuthorityFile().toLocal8Bit());
        SmtpServer server(tls(Tls::StartTls));
        const QString failure = sendOne(server, true);
        EXPECT_TRUE(failure.contains(QStringLiteral("certificate"), Qt::CaseInsensitive)) << failure.toStdString();
        EXPECT_TRUE(server.messages().isEmpty());
    }
    {
        qputenv("CURL_CA_BUNDLE", SmtpServer::testAuthorityFile().toLocal8Bit());
        SmtpServer::Options options = tls(Tls::StartTls);
        options.wrongNameCertificate = true;
        SmtpServer server(options);
        const QString failure = sendOne(server, true);
        EXPECT_FALSE(failure.isEmpty());
        EXPECT_TRUE(server.messages().isEmpty());
    }
}

TEST_F(MailSecurity, loginOverStartTls_deliversWithRightPasswordOnly)
{
    SmtpServer server(withLogin(Tls::StartTls));
    EXPECT_EQ(sendOne(server, true, User, Password), QString());
    ASSERT_EQ(server.messages().size(), 1);

    const QString wrong = sendOne(server, true, User, QStringLiteral("wrong-Pa55"));
    EXPECT_TRUE(wrong.contains(QStringLiteral("535"))) << wrong.toStdString();
    EXPECT_FALSE(wrong.contains(QStringLiteral("wrong-Pa55")));
    EXPECT_FALSE(wrong.contains(QString::fromLatin1(QByteArray("wrong-Pa55").toBase64())));
    EXPECT_EQ(server.messages().size(), 1);
}

TEST_F(MailSecurity, passwordWithoutUserName_isNotSent)
{
    // No user name: no login attempt, so a server that requires one refuses.
    SmtpServer server(withLogin(Tls::StartTls));
    const QString failure = sendOne(server, true, QString(), Password);
    EXPECT_TRUE(failure.contains(QStringLiteral("530"))) << failure.toStdString();
    EXPECT_FALSE(failure.contains(Password));
    EXPECT_TRUE(server.messages().isEmpty());
}

TEST_F(MailSecurity, port465_usesImplicitTls)
{
    SmtpServer::Options options = withLogin(Tls::Implicit);
    options.port = 465;
    SmtpServer server(options);
    if (!server.available())
        GTEST_SKIP() << "port 465 cannot be bound here";
    EXPECT_EQ(sendOne(server, true, User, Password), QString());
    EXPECT_EQ(server.messages().size(), 1);
    // Without the secure setting the failure names the setting at once.
    EXPECT_TRUE(sendOne(server, false, User, Password).contains(QLatin1String("AutomationServerEmailUseSSLTLS")));
    EXPECT_EQ(server.messages().size(), 1);
}
