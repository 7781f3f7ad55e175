#include "tests/email/MailTestSupport.h"

namespace {

void sendThrough(const SmtpServer &server, MailSession *session, const QString &to = QStringLiteral("a@client.test"),
                 bool secure = false)
{
    MailComponent mail({}, session);
    address(mail, server);
    if (secure)
        mail.EnableSecureConnection();
    mail.AddRecipient(to, 0);
    mail.Send();
}

} // namespace

using MailSessionReuse = MailTest;

TEST_F(MailSessionReuse, messagesOfOneSession_shareOneConnectionUntilItEnds)
{
    SmtpServer server;
    {
        MailSession session;
        for (int i = 0; i < 3; ++i)
            sendThrough(server, &session);
        EXPECT_EQ(server.connectionCount(), 1);
        EXPECT_EQ(server.waitForClosedConnections(1, 200), 0);
    }
    // Ending the session ends the SMTP session.
    EXPECT_EQ(server.waitForClosedConnections(1, 5000), 1);
    EXPECT_EQ(server.messages().size(), 3);
}

TEST_F(MailSessionReuse, withoutSession_everyMessageConnectsAnew)
{
    SmtpServer server;
    for (int i = 0; i < 3; ++i)
        sendThrough(server, nullptr);
    EXPECT_EQ(server.connectionCount(), 3);
    EXPECT_EQ(server.messages().size(), 3);
}

TEST_F(MailSessionReuse, startTlsSession_isReusedToo)
{
    SmtpServer server({.tls = SmtpServer::Tls::StartTls});
    MailSession session;
    for (int i = 0; i < 3; ++i)
        sendThrough(server, &session, QStringLiteral("a@client.test"), true);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(server.messages().size(), 3);
}

TEST_F(MailSessionReuse, afterRefusedMessage_nextMessageStillGoesOut)
{
    SmtpServer server;
    MailSession session;
    sendThrough(server, &session);
    EXPECT_THROW(sendThrough(server, &session, QStringLiteral("refused@client.test")), MailError);
    sendThrough(server, &session);
    const QList<ReceivedMail> mails = server.messages();
    EXPECT_EQ(mails.size(), 2);
    EXPECT_LE(server.connectionCount(), 2);
}

TEST_F(MailSessionReuse, connectionClosedByIdleServer_isReplacedQuietly)
{
    SmtpServer::Options options;
    options.idleTimeoutSeconds = 0.2;
    SmtpServer server(options);
    MailSession session;
    sendThrough(server, &session);
    ASSERT_EQ(server.waitForClosedConnections(1, 5000), 1);
    sendThrough(server, &session);
    EXPECT_EQ(server.connectionCount(), 2);
    EXPECT_EQ(server.messages().size(), 2);
}
