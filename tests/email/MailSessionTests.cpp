#include "tests/email/MailTestSupport.h"

#include <QElapsedTimer>
#include <QThread>

#include <cstdio>

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

SmtpServer::Options startTls()
{
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTls;
    return options;
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
    SmtpServer server(startTls());
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

// Throughput to the local server with and without session reuse. Not a test:
// run with --gtest_also_run_disabled_tests --gtest_filter='*Throughput*'.
TEST_F(MailSessionReuse, DISABLED_Throughput)
{
    const int count = 200;
    for (bool secure : {false, true}) {
        SmtpServer server(secure ? startTls() : SmtpServer::Options{});
        for (bool reuse : {false, true}) {
            QElapsedTimer timer;
            timer.start();
            {
                MailSession session;
                for (int i = 0; i < count; ++i)
                    sendThrough(server, reuse ? &session : nullptr, QStringLiteral("a@client.test"), secure);
            }
            const double seconds = double(timer.nsecsElapsed()) / 1e9;
            std::printf("%-9s %-14s %4d messages in %6.2f s: %7.1f messages/s\n", secure ? "STARTTLS" : "plain",
                        reuse ? "reused session" : "new session", count, seconds, count / seconds);
        }
    }
}
