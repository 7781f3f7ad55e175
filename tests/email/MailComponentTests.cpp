#include "email/MailHeaders.h"
#include "tests/email/MailTestSupport.h"

#include <QLocale>
#include <QTimeZone>

using Behaviour = SmtpServer::Behaviour;
using Tls = SmtpServer::Tls;

namespace {

SmtpServer::Options with(Behaviour behaviour)
{
    SmtpServer::Options options;
    options.behaviour = behaviour;
    return options;
}

bool onlyCrLfLineEnds(const QByteArray &bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes.at(i) == '\n' && (i == 0 || bytes.at(i - 1) != '\r'))
            return false;
        if (bytes.at(i) == '\r' && (i + 1 == bytes.size() || bytes.at(i + 1) != '\n'))
            return false;
    }
    return true;
}

bool isAscii(const QByteArray &bytes)
{
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) > 0x7e)
            return false;
    }
    return true;
}

// The header fields of a received message, as they came over the wire.
QByteArray headerBlock(const ReceivedMail &mail)
{
    return mail.raw.left(mail.raw.indexOf("\r\n\r\n"));
}

} // namespace

// --- what arrives --------------------------------------------------------

TEST(MailDateField, englishNamesAndNumericOffsetWhateverTheLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const struct
    {
        int offsetSeconds;
        const char *field;
    } cases[] = {{3600, "Date: 07 Dec 2026 14:05:09 +0100"},
                 {-19800, "Date: 07 Dec 2026 14:05:09 -0530"},
                 {0, "Date: 07 Dec 2026 14:05:09 +0000"}};
    for (const auto &c : cases)
        EXPECT_EQ(DateField(QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9), QTimeZone(c.offsetSeconds))), c.field);
    QLocale::setDefault(before);
}

TEST_F(MailTest, plainMessage_arrivesAsProperInternetMessage)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    EXPECT_TRUE(mail.AddRecipient(QStringLiteral("first@client.test"), 0));
    EXPECT_TRUE(mail.AddRecipient(QStringLiteral("second@client.test"), 0));
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    const ReceivedMail &m = mails.first();
    EXPECT_EQ(m.mailFrom, QStringLiteral("alerts@velmar.test"));
    EXPECT_EQ(m.recipients, (QStringList{QStringLiteral("first@client.test"), QStringLiteral("second@client.test")}));
    EXPECT_EQ(m.header(QStringLiteral("From")), QStringLiteral("Velmar Services <alerts@velmar.test>"));
    EXPECT_EQ(m.header(QStringLiteral("To")), QStringLiteral("first@client.test, second@client.test"));
    EXPECT_EQ(m.header(QStringLiteral("Subject")), QStringLiteral("Notification from Velmar"));
    EXPECT_EQ(m.header(QStringLiteral("Date")).left(25), QStringLiteral("Mon, 07 Dec 2026 14:05:09"));
    EXPECT_TRUE(m.header(QStringLiteral("Message-ID")).endsWith(QStringLiteral("@velmar.test>")));
    EXPECT_EQ(m.header(QStringLiteral("MIME-Version")), QStringLiteral("1.0"));
    EXPECT_EQ(m.headerCount(QStringLiteral("MIME-Version")), 1);
    EXPECT_EQ(m.contentType, QStringLiteral("text/plain"));
    // One part is the whole message, not a multipart wrapping of it.
    EXPECT_TRUE(m.header(QStringLiteral("Content-Type")).startsWith(QLatin1String("text/plain")));
    // A fully qualified EHLO name, as servers that check it require.
    const QStringList ehlo = server.sessionEvents(QStringLiteral("ehlo "));
    ASSERT_EQ(ehlo.size(), 1);
    EXPECT_TRUE(ehlo.first().mid(5).contains(QLatin1Char('.'))) << ehlo.first().toStdString();
    EXPECT_EQ(m.charset, QStringLiteral("utf-8"));
    EXPECT_TRUE(m.transferEncoding == QLatin1String("quoted-printable") ||
                m.transferEncoding == QLatin1String("base64"))
        << m.transferEncoding.toStdString();
    EXPECT_TRUE(m.defects.isEmpty()) << m.defects.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(onlyCrLfLineEnds(m.raw));
    EXPECT_EQ(m.body, QByteArray("Training expires soon.\r\n"));
}

TEST_F(MailTest, twoMessages_haveDifferentMessageIds)
{
    SmtpServer server;
    for (int i = 0; i < 2; ++i) {
        MailComponent mail;
        address(mail, server);
        mail.AddRecipient(QStringLiteral("a@client.test"), 0);
        mail.Send();
    }
    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_NE(mails.at(0).header(QStringLiteral("Message-ID")), mails.at(1).header(QStringLiteral("Message-ID")));
}

TEST_F(MailTest, awkwardBody_arrivesByteForByteWithCrLfLineEnds)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    const QString longLine(300, QLatin1Char('x'));
    mail.SetBody(QStringLiteral("Line one\n.\n..two dots\n. leading dot\rcarriage only\r\n"
                                "trailing spaces   \ntab\there\n"
                                "Zürich – 5 € = naïve 東京\n=3D not an escape\n") +
                 longLine + QStringLiteral("\nFrom the start\nlast line without a break"));
    mail.AddRecipient(QStringLiteral("a@client.test"), 0);
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    const QByteArray expected = QStringLiteral("Line one\r\n.\r\n..two dots\r\n. leading dot\r\ncarriage only\r\n"
                                               "trailing spaces   \r\ntab\there\r\n"
                                               "Zürich – 5 € = naïve 東京\r\n=3D not an escape\r\n")
                                    .toUtf8() +
        longLine.toUtf8() + "\r\nFrom the start\r\nlast line without a break";
    EXPECT_EQ(mails.first().body, expected);
    EXPECT_TRUE(onlyCrLfLineEnds(mails.first().raw));
}

TEST_F(MailTest, emptyPieces_sendAnEmptyMessageStill)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    mail.SetSenderName(QString());
    mail.SetSubject(QString());
    mail.SetBody(QString());
    mail.AddRecipient(QStringLiteral("a@client.test"), 0);
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails.first().header(QStringLiteral("From")), QStringLiteral("alerts@velmar.test"));
    EXPECT_EQ(mails.first().header(QStringLiteral("Subject")), QString());
    EXPECT_EQ(mails.first().body, QByteArray());
}

TEST_F(MailTest, nonAsciiNamesAndSubject_arriveAsEncodedWords)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    const QString name = QStringLiteral("Sørensen & Søn, Ærø Ltd");
    const QString subject =
        QStringLiteral("Überprüfung fällig – 東京 ") + QString(80, QChar(0x00e9)) + QStringLiteral(" 😀 end");
    mail.SetSenderName(name);
    mail.SetSubject(subject);
    mail.AddRecipient(QStringLiteral("a@client.test"), 0);
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    const ReceivedMail &m = mails.first();
    EXPECT_EQ(m.header(QStringLiteral("Subject")), subject);
    EXPECT_EQ(m.header(QStringLiteral("From")), QStringLiteral("\"%1\" <alerts@velmar.test>").arg(name));
    const QByteArray head = headerBlock(m);
    EXPECT_TRUE(isAscii(head));
    EXPECT_TRUE(head.contains("=?UTF-8?B?"));
    for (const QByteArray &line : head.split('\n')) {
        if (line.startsWith("Subject:") || line.startsWith("From:") || line.startsWith(' ')) {
            EXPECT_LE(line.trimmed().size(), 78) << line.constData();
        }
    }
    EXPECT_TRUE(m.defects.isEmpty()) << m.defects.join(QLatin1Char(' ')).toStdString();
}

TEST_F(MailTest, displayNameWithQuotesAndComma_isQuotedIntact)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    mail.SetSenderName(QStringLiteral("O'Brien, \"Jim\" \\ Co"));
    mail.AddRecipient(QStringLiteral("a@client.test"), 0);
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_TRUE(mails.first().raw.contains("From: \"O'Brien, \\\"Jim\\\" \\\\ Co\" <alerts@velmar.test>\r\n"));
    EXPECT_TRUE(mails.first().defects.isEmpty());
}

TEST_F(MailTest, lineBreaksInSubjectOrName_cannotAddHeaders)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    mail.SetSubject(QStringLiteral("Hello\r\nBcc: hidden@elsewhere.test"));
    mail.SetSenderName(QStringLiteral("Name\nX-Injected: yes"));
    mail.AddRecipient(QStringLiteral("a@client.test"), 0);
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails.first().headerCount(QStringLiteral("Bcc")), 0);
    EXPECT_EQ(mails.first().headerCount(QStringLiteral("X-Injected")), 0);
    EXPECT_EQ(mails.first().header(QStringLiteral("Subject")), QStringLiteral("Hello  Bcc: hidden@elsewhere.test"));
    EXPECT_EQ(mails.first().recipients, QStringList{QStringLiteral("a@client.test")});
}

// Long runs of blanks and names that grow when quoted: every header line
// stays within the wire's 998 bytes and none is made of blanks alone.
TEST_F(MailTest, longBlankRunsAndQuoteHeavyNames_keepEveryHeaderLineSound)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    const QString subject = QStringLiteral("Expiring") + QString(200, QLatin1Char(' ')) + QStringLiteral("soon  ");
    mail.SetSubject(subject);
    mail.SetSenderName(QString(600, QLatin1Char('"')));
    mail.AddRecipient(QStringLiteral("a@client.test"), 0);
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    const ReceivedMail &m = mails.first();
    EXPECT_EQ(m.header(QStringLiteral("Subject")), subject);
    const QByteArray head = headerBlock(m);
    for (const QByteArray &line : head.split('\n')) {
        EXPECT_LE(line.size(), 999) << line.left(60).constData(); // 998 and the CR
        EXPECT_FALSE(line.trimmed().isEmpty()) << "a header line of blanks only";
    }
    EXPECT_TRUE(m.defects.isEmpty()) << m.defects.join(QLatin1Char(' ')).toStdString();
}

// --- recipients ----------------------------------------------------------

TEST_F(MailTest, internationalAddresses_travelInAsciiFormOrAreRefused)
{
    SmtpServer server(with(Behaviour::AcceptAll));
    MailComponent mail;
    address(mail, server);
    // A domain in international characters has an ASCII form; a local part
    // needs SMTPUTF8, which this server does not offer: it refuses it.
    EXPECT_TRUE(mail.AddRecipient(QStringLiteral("kunde@bücher.test"), 0));
    EXPECT_TRUE(mail.AddRecipient(QStringLiteral("jürgen@client.test"), 0));
    // 254 characters is the most any server takes.
    const QString longest = QString(254 - 12, QLatin1Char('x')) + QStringLiteral("@client.test");
    EXPECT_TRUE(mail.AddRecipient(longest, 0));
    EXPECT_FALSE(mail.AddRecipient(QLatin1Char('y') + longest, 0));
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails.first().recipients, (QStringList{QStringLiteral("kunde@xn--bcher-kva.test"), longest}));
    EXPECT_EQ(mail.RefusedRecipients().size(), 2);
    EXPECT_TRUE(headerBlock(mails.first()).contains("kunde@xn--bcher-kva.test"));
}

TEST_F(MailTest, recipientsWithSpacesAndEmptyPieces_areTrimmedAndSkipped)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    EXPECT_TRUE(mail.AddRecipient(QStringLiteral("  first@client.test "), 0));
    EXPECT_FALSE(mail.AddRecipient(QString(), 0));
    EXPECT_FALSE(mail.AddRecipient(QStringLiteral("   "), 0));
    EXPECT_TRUE(mail.AddRecipient(QStringLiteral("\tsecond@client.test"), 0));
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails.first().recipients,
              (QStringList{QStringLiteral("first@client.test"), QStringLiteral("second@client.test")}));
}

TEST_F(MailTest, noUsableRecipient_failsWithoutConnecting)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    mail.AddRecipient(QString(), 0);
    mail.AddRecipient(QStringLiteral(" "), 0);
    const QString failure = failureOf([&] { mail.Send(); });
    EXPECT_TRUE(failure.contains(QStringLiteral("no recipient"))) << failure.toStdString();
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(MailTest, addressThatWouldBendTheDialogue_isNeverSentTo)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    EXPECT_FALSE(mail.AddRecipient(QStringLiteral("x@client.test>\r\nRCPT TO:<smuggled@elsewhere.test"), 0));
    EXPECT_TRUE(mail.AddRecipient(QStringLiteral("good@client.test"), 0));
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails.first().recipients, QStringList{QStringLiteral("good@client.test")});

    MailComponent only;
    address(only, server);
    only.AddRecipient(QStringLiteral("two words@client.test"), 0);
    const QString failure = failureOf([&] { only.Send(); });
    EXPECT_TRUE(failure.contains(QStringLiteral("two words@client.test"))) << failure.toStdString();
}

TEST_F(MailTest, oneRecipientRefused_othersStillReceive)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    mail.AddRecipient(QStringLiteral("refused@client.test"), 0);
    mail.AddRecipient(QStringLiteral("kept@client.test"), 0);
    mail.Send();

    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails.first().recipients, QStringList{QStringLiteral("kept@client.test")});
}

// --- failures ------------------------------------------------------------

TEST_F(MailTest, everyRecipientRefused_failsWithServerReason)
{
    SmtpServer server;
    MailComponent mail;
    address(mail, server);
    mail.AddRecipient(QStringLiteral("refused1@client.test"), 0);
    mail.AddRecipient(QStringLiteral("refused2@client.test"), 0);
    const QString failure = failureOf([&] { mail.Send(); });
    EXPECT_TRUE(failure.contains(QStringLiteral("550"))) << failure.toStdString();
    EXPECT_TRUE(failure.contains(QStringLiteral("no such user"))) << failure.toStdString();
    EXPECT_TRUE(server.messages().isEmpty());
}

TEST_F(MailTest, serverRefusingTheMessageOrSender_fails)
{
    struct Case
    {
        Behaviour behaviour;
        const char *said;
    };
    for (const Case &c : {Case{Behaviour::RejectData, "554 5.7.1 Message rejected as spam"},
                          Case{Behaviour::RejectSender, "553 5.7.1 Sender address rejected"}}) {
        SmtpServer server(with(c.behaviour));
        MailComponent mail;
        address(mail, server);
        mail.AddRecipient(QStringLiteral("a@client.test"), 0);
        const QString failure = failureOf([&] { mail.Send(); });
        EXPECT_TRUE(failure.contains(QLatin1String(c.said))) << failure.toStdString();
        EXPECT_TRUE(server.messages().isEmpty());
    }
}

TEST_F(MailTest, unreachableSilentOrDroppingServer_fails)
{
    struct Case
    {
        Behaviour behaviour;
        const char *what;
    };
    for (const Case &c : {Case{Behaviour::NotListening, "onnect"}, Case{Behaviour::Silent, "timed out"},
                          Case{Behaviour::DropInData, "failed"}}) {
        SmtpServer server(with(c.behaviour));
        MailComponent mail(shortLimits(1000, 3000));
        address(mail, server);
        mail.AddRecipient(QStringLiteral("a@client.test"), 0);
        const QString failure = failureOf([&] { mail.Send(); });
        EXPECT_TRUE(failure.contains(QLatin1String(c.what))) << int(c.behaviour) << ": " << failure.toStdString();
        EXPECT_TRUE(failure.contains(QStringLiteral("127.0.0.1:%1").arg(server.port()))) << failure.toStdString();
        EXPECT_TRUE(server.messages().isEmpty());
    }
}

TEST_F(MailTest, invalidServerSettings_failWithoutConnecting)
{
    SmtpServer server;
    for (int port : {0, -25, 65536}) {
        MailComponent mail;
        address(mail, server);
        mail.SetServerPort(port);
        mail.AddRecipient(QStringLiteral("a@client.test"), 0);
        EXPECT_TRUE(failureOf([&] { mail.Send(); }).contains(QStringLiteral("port"))) << port;
    }
    for (const QString &host : {QString(), QStringLiteral("user@127.0.0.1"), QStringLiteral("host/path")}) {
        MailComponent mail;
        address(mail, server);
        mail.SetServerHost(host);
        mail.AddRecipient(QStringLiteral("a@client.test"), 0);
        EXPECT_TRUE(failureOf([&] { mail.Send(); }).contains(QStringLiteral("server name"))) << host.toStdString();
    }
    EXPECT_EQ(server.connectionCount(), 0);
}
