#include "tests/email/MailTestSupport.h"

#include "email/SendEmail.h"

namespace {

class SendEmailTest : public MailTest
{
protected:
    void SetUp() override
    {
        MailTest::SetUp();
        settings.server = QStringLiteral("127.0.0.1");
        settings.port = QString::number(server.port());
    }

    void send(const QString &list)
    {
        SendEmail(settings, QStringLiteral("alerts@velmar.test"), QStringLiteral("Velmar"), list,
                  QStringLiteral("Subject"), QStringLiteral("Body"));
    }

    SmtpServer server;
    MailSettings settings;
};

} // namespace

TEST(MailPortNumber, numberText_isThatNumberWithHalvesRoundedToEven)
{
    EXPECT_EQ(MailPortNumber(QStringLiteral("587")), 587);
    EXPECT_EQ(MailPortNumber(QStringLiteral(" 25 ")), 25);
    EXPECT_EQ(MailPortNumber(QStringLiteral("+465")), 465);
    EXPECT_EQ(MailPortNumber(QStringLiteral("587.5")), 588);
    EXPECT_EQ(MailPortNumber(QStringLiteral("586.5")), 586);
    EXPECT_EQ(MailPortNumber(QStringLiteral("2.5")), 2);
    EXPECT_EQ(MailPortNumber(QStringLiteral("2.51")), 3);
    EXPECT_EQ(MailPortNumber(QStringLiteral("1e3")), 1000);
    EXPECT_EQ(MailPortNumber(QStringLiteral("-7")), -7);
    EXPECT_EQ(MailPortNumber(QStringLiteral("2147483647")), 2147483647);
}

TEST(MailPortNumber, emptyNonNumericOrHugeText_fails)
{
    for (const char *text : {"", "  ", "abc", "25a", "0x19", "5 87", "inf", "nan", "2147483648", "1e20", "."})
        EXPECT_THROW(MailPortNumber(QLatin1String(text)), MailError) << text;
}

TEST_F(SendEmailTest, emptyList_sendsNothingAndConfiguresNothing)
{
    // Not even the broken port setting is looked at.
    settings.port = QStringLiteral("not a port");
    EXPECT_NO_THROW(send(QString()));
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(SendEmailTest, badPortSetting_failsBeforeConnecting)
{
    for (const QString &port : {QString(), QStringLiteral("smtp")}) {
        settings.port = port;
        const QString failure = failureOf([&] { send(QStringLiteral("a@client.test")); });
        EXPECT_TRUE(failure.contains(QStringLiteral("port"))) << failure.toStdString();
    }
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(SendEmailTest, recipientLists_areSplitOnSemicolons)
{
    struct Case
    {
        QString list;
        QStringList arrived;
    };
    const QString a = QStringLiteral("a@client.test");
    const QString b = QStringLiteral("b@client.test");
    const QList<Case> cases = {
        {a, {a}},
        {a + QLatin1Char(';'), {a}},
        {a + QLatin1Char(';') + b, {a, b}},
        {b + QLatin1String("; ") + a + QLatin1Char(';'), {b, a}},
        {a + QLatin1String(";;") + b + QLatin1Char(';'), {a, b}},
    };
    for (const Case &c : cases)
        send(c.list);
    const QList<ReceivedMail> mails = server.messages();
    ASSERT_EQ(mails.size(), cases.size());
    for (qsizetype i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(mails.at(i).recipients, cases.at(i).arrived) << cases.at(i).list.toStdString();
        EXPECT_EQ(mails.at(i).header(QStringLiteral("To")), cases.at(i).arrived.join(QLatin1String(", ")));
    }
}

TEST_F(SendEmailTest, listOfOnlySeparators_failsWithoutConnecting)
{
    for (const QString &list : {QStringLiteral(";"), QStringLiteral(" ; ;")})
        EXPECT_THROW(send(list), MailError) << list.toStdString();
    EXPECT_EQ(server.connectionCount(), 0);
}
