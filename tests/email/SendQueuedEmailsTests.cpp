#include "tests/email/MailTestSupport.h"

#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/Recordset.h"
#include "email/MailQueueState.h"
#include "email/MailRowState.h"
#include "email/SendQueuedEmails.h"
#include "startup/CompanySettings.h"
#include "tests/support/FreshCompanySettings.h"
#include "tests/support/TempDatabase.h"

namespace {

const QString Footer = QStringLiteral("Velmar Services\r\n1 Main Street");
const QByteArray Crlf = "\r\n";

QString quoted(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    QString text = value.toString();
    text.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

class QueueTest : public MailTest
{
protected:
    FreshCompanySettings freshSettings;
    void SetUp() override
    {
        MailTest::SetUp();
        start(SmtpServer::Options{});
        QString error;
        ASSERT_TRUE(DatabaseConnection().Open(db.connectionString(), &error)) << error.toStdString();
    }
    void TearDown() override
    {
        SharedRecordset().Close();
        DatabaseConnection().Close();
        MailTest::TearDown();
    }

    // The queue run as a cycle runs it; what it did is left in `sent`.
    void SendQueuedEmails()
    {
        sent = {};
        ::SendQueuedEmails(sent, CompanyMailSettings(mailOptions));
    }
    MailSendingOutcome sent;
    MailOptions mailOptions;

    void start(const SmtpServer::Options &options)
    {
        server = std::make_unique<SmtpServer>(options);
        CompanySettings = {};
        CompanySettings.Name = QStringLiteral("Velmar Services");
        CompanySettings.AutomationServerEmailFooter = Footer;
        CompanySettings.AutomationServerEmailServer = QStringLiteral("127.0.0.1");
        CompanySettings.AutomationServerEmailServerPort = QString::number(server->port());
    }

    qint64 queue(const QVariant &to, const QVariant &body, const QVariant &fromName = QStringLiteral("Velmar Services"),
                 const QVariant &from = QStringLiteral("alerts@velmar.test"), int sent = 0)
    {
        db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailFromName, EmailTo, "
                               "EmailSubject, EmailBody, EmailSent) VALUES (%1, %2, %3, 'Training expiring', %4, %5)")
                    .arg(quoted(from), quoted(fromName), quoted(to), quoted(body))
                    .arg(sent));
        return db.queryValue(QStringLiteral("SELECT max(ID) FROM AutomationServer_EmailsSent")).toLongLong();
    }

    int sentFlag(qint64 id)
    {
        return db.queryValue(QStringLiteral("SELECT EmailSent FROM AutomationServer_EmailsSent WHERE ID = %1").arg(id))
            .toInt();
    }

    // The sending time as the system reads it back.
    QVariant dateSent(qint64 id)
    {
        Recordset rows;
        rows.Open(QStringLiteral("SELECT DateSent FROM AutomationServer_EmailsSent WHERE ID = %1").arg(id),
                  DatabaseConnection());
        const QVariant value = rows.Field(QStringLiteral("DateSent"));
        rows.Close();
        return value;
    }

    void clearQueue()
    {
        db.exec(
            QStringLiteral("DELETE FROM AutomationServer_EmailsSent; DELETE FROM AutomationServer_EmailQueueState"));
    }

    TempDatabase db;
    std::unique_ptr<SmtpServer> server;
};

QByteArray combined(const QList<QByteArray> &bodies, const QByteArray &footer = Footer.toUtf8())
{
    QByteArray text;
    for (const QByteArray &body : bodies)
        text += body + Crlf;
    return text + Crlf + Crlf + Crlf + footer;
}

} // namespace

TEST(QueueStatements, textsAreExactlyTheQueueDialogue)
{
    EXPECT_EQ(QueuedEmailsSql(),
              QStringLiteral("SELECT * FROM AutomationServer_EmailsSent WHERE EmailSent=0 AND "
                             "EmailTo<>'' ORDER BY EmailTo COLLATE Latin1_General_BIN2,ID"));
    EXPECT_EQ(MarkEmailsSentSql(QStringLiteral("4,7,9"), QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9))),
              QStringLiteral("UPDATE AutomationServer_EmailsSent SET EmailSent=1,DateSent='12/7/2026 2:05:09 PM' "
                             "WHERE ID IN (4,7,9)"));
    EXPECT_EQ(MarkEmailsSentSql(QStringLiteral("12"), QDateTime(QDate(2027, 1, 5), QTime(0, 0))),
              QStringLiteral(
                  "UPDATE AutomationServer_EmailsSent SET EmailSent=1,DateSent='1/5/2027' WHERE ID IN (12)"));
    EXPECT_EQ(CombinedMessageSubject(QStringLiteral("O'Neil & Co")), QStringLiteral("Notification from O'Neil & Co"));
    QList<qint64> ids;
    for (qint64 id = 1; id <= 2500; ++id)
        ids.append(id);
    const QStringList lists = IdLists(ids);
    ASSERT_EQ(lists.size(), 3);
    EXPECT_EQ(lists.at(1).count(QLatin1Char(',')), 999);
    EXPECT_TRUE(lists.at(1).startsWith(QLatin1String("1001,1002,")));
    EXPECT_TRUE(lists.at(2).endsWith(QLatin1String(",2499,2500")));
}

TEST_F(QueueTest, threeRowsForOneList_becomeOneMessageMarkedTogether)
{
    const qint64 first = queue(QStringLiteral("a@client.test;"), QStringLiteral("First: O'Brien's course"),
                               QStringLiteral("Early Sender"), QStringLiteral("early@velmar.test"));
    const qint64 second = queue(QStringLiteral("a@client.test;"), QStringLiteral("Second\r\n. dotted line"));
    const qint64 third = queue(QStringLiteral("a@client.test;"), QStringLiteral("Third – Zürich"),
                               QStringLiteral("Last Sender"), QStringLiteral("last@velmar.test"));
    SendQueuedEmails();

    const QList<ReceivedMail> mails = server->messages();
    ASSERT_EQ(mails.size(), 1);
    const ReceivedMail &m = mails.first();
    EXPECT_EQ(m.recipients, QStringList{QStringLiteral("a@client.test")});
    EXPECT_EQ(m.mailFrom, QStringLiteral("last@velmar.test"));
    EXPECT_EQ(m.header(QStringLiteral("From")), QStringLiteral("Last Sender <last@velmar.test>"));
    EXPECT_EQ(m.header(QStringLiteral("Subject")), QStringLiteral("Notification from Velmar Services"));
    EXPECT_EQ(m.body,
              combined(
                  {"First: O'Brien's course", "Second\r\n. dotted line", QStringLiteral("Third – Zürich").toUtf8()}));

    // Stored dates read back as their fields in UTC, whatever the machine's zone.
    const QDateTime sentAt(QDate(2026, 12, 7), QTime(14, 5, 9), Qt::UTC);
    for (qint64 id : {first, second, third}) {
        EXPECT_EQ(sentFlag(id), 1) << id;
        EXPECT_EQ(dateSent(id).toDateTime(), sentAt) << id;
    }
    EXPECT_EQ(sent.Emails, 1);
}

TEST_F(QueueTest, twoLists_giveTwoMessagesInRecipientOrderEachToAllItsAddresses)
{
    queue(QStringLiteral("b@client.test; c@client.test;"), QStringLiteral("b one"));
    queue(QStringLiteral("a@client.test;"), QStringLiteral("a one"));
    queue(QStringLiteral("b@client.test; c@client.test;"), QStringLiteral("b two"));
    SendQueuedEmails();

    const QList<ReceivedMail> mails = server->messages();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(mails.at(0).recipients, QStringList{QStringLiteral("a@client.test")});
    EXPECT_EQ(mails.at(0).body, combined({"a one"}));
    EXPECT_EQ(mails.at(1).recipients, (QStringList{QStringLiteral("b@client.test"), QStringLiteral("c@client.test")}));
    EXPECT_EQ(mails.at(1).body, combined({"b one", "b two"}));
    EXPECT_EQ(sent.Emails, 2);
    // One run, one SMTP session, ended with the run.
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_EQ(server->waitForClosedConnections(1, 5000), 1);
}

// The embedded schema orders EmailTo without regard to case, as SQL Server's
// default collation does: the rows of the two lists interleave unless the
// queue orders them by exact text. Their states are kept apart the same way.
TEST_F(QueueTest, listsDifferingOnlyInCase_areOneDigestEachWithStatesOfTheirOwn)
{
    const qint64 a1 = queue(QStringLiteral("Ann@client.test"), QStringLiteral("A one"));
    const qint64 b1 = queue(QStringLiteral("ann@client.test"), QStringLiteral("a one"));
    const qint64 a2 = queue(QStringLiteral("Ann@client.test"), QStringLiteral("A two"));
    const qint64 b2 = queue(QStringLiteral("ann@client.test"), QStringLiteral("a two"));
    SendQueuedEmails();

    const QList<ReceivedMail> mails = server->messages();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(mails.at(0).recipients, QStringList{QStringLiteral("Ann@client.test")});
    EXPECT_EQ(mails.at(0).body, combined({"A one", "A two"}));
    EXPECT_EQ(mails.at(1).recipients, QStringList{QStringLiteral("ann@client.test")});
    EXPECT_EQ(mails.at(1).body, combined({"a one", "a two"}));
    for (qint64 id : {a1, b1, a2, b2})
        EXPECT_EQ(sentFlag(id), 1);

    queue(QStringLiteral("Ann@client.test"), QStringLiteral("held"));
    const qint64 sentToo = queue(QStringLiteral("ann@client.test"), QStringLiteral("goes"));
    SaveMailQueueState(QStringLiteral("Ann@client.test"),
                       {1, QStringLiteral("550 no"), QDateTime(QDate(2026, 12, 8), QTime(9, 0))});
    ForgetMailQueueState(QStringLiteral("ann@client.test"));
    EXPECT_EQ(MailQueueStatusText().count(QLatin1String("attempts: 1")), 1);
    SendQueuedEmails();
    EXPECT_EQ(sent.MailHeldBack, 1);
    EXPECT_EQ(sent.Emails, 1);
    EXPECT_EQ(sentFlag(sentToo), 1);
}

TEST_F(QueueTest, sentRowsAndRowsWithoutRecipient_areNeverTouched)
{
    const qint64 old = queue(QStringLiteral("a@client.test"), QStringLiteral("old"), QStringLiteral("V"),
                             QStringLiteral("alerts@velmar.test"), 1);
    const qint64 empty = queue(QString(QLatin1String("")), QStringLiteral("nobody"));
    const qint64 null = queue(QVariant(), QStringLiteral("nobody either"));
    SendQueuedEmails(); // nothing to send: no connection, nothing counted
    EXPECT_EQ(server->connectionCount(), 0);
    EXPECT_EQ(sent.Emails, 0);
    EXPECT_TRUE(sent.Failures.isEmpty());
    const qint64 queued = queue(QStringLiteral("a@client.test"), QStringLiteral("new"));
    SendQueuedEmails();

    const QList<ReceivedMail> mails = server->messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails.first().body, combined({"new"}));
    EXPECT_EQ(sentFlag(old), 1);
    EXPECT_TRUE(dateSent(old).isNull());
    for (qint64 id : {empty, null}) {
        EXPECT_EQ(sentFlag(id), 0);
        EXPECT_TRUE(dateSent(id).isNull());
    }
    EXPECT_EQ(sentFlag(queued), 1);
}

TEST_F(QueueTest, nullBody_addsOnlyItsBreakAndEmptyFooterKeepsTheBreaks)
{
    CompanySettings.AutomationServerEmailFooter.clear();
    queue(QStringLiteral("a@client.test"), QStringLiteral("one"));
    queue(QStringLiteral("a@client.test"), QVariant(), QVariant());
    SendQueuedEmails();

    const QList<ReceivedMail> mails = server->messages();
    ASSERT_EQ(mails.size(), 1);
    EXPECT_EQ(mails.first().body, QByteArray("one\r\n\r\n\r\n\r\n\r\n"));
    EXPECT_EQ(sent.Emails, 1);
}

// What the real servers showed: a row queued without a sender goes with the
// company's current one; a relay refusal (5.7.x) is the server's refusal of
// this client: the cycle stops, no list is held back.
TEST_F(QueueTest, queueItems_emptySenderTakesTheCompanysRelayRefusalHoldsNoListBack)
{
    const struct
    {
        const char *name;
        SmtpServer::Behaviour behaviour;
        const char *companySender;
        int messages, failures, stuck, states;
        const char *mailFrom, *says;
    } cases[] = {
        {"emptySenderCompanyHasOne", SmtpServer::Behaviour::Accept, "now@velmar.test", 2, 0, 0, 0, "now@velmar.test",
         ""},
        {"emptySenderCompanyHasNone", SmtpServer::Behaviour::Accept, "", 0, 0, 2, 2, "", "and so is the company's"},
        {"relayDenied", SmtpServer::Behaviour::RelayDenied, "now@velmar.test", 0, 2, 0, 0, "",
         "the mail server refused this client"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        start({.behaviour = c.behaviour});
        CompanySettings.AutomationServerEmailFrom = QString::fromLatin1(c.companySender);
        clearQueue();
        for (const QVariant &sender : {QVariant(), QVariant(QStringLiteral("  "))})
            queue(QStringLiteral("list%1@client.test").arg(sender.isNull()), QStringLiteral("one"), QStringLiteral("V"),
                  sender);
        SendQueuedEmails();

        const QList<ReceivedMail> mails = server->messages();
        ASSERT_EQ(int(mails.size()), c.messages);
        for (const ReceivedMail &mail : mails)
            EXPECT_EQ(mail.mailFrom, QLatin1String(c.mailFrom));
        EXPECT_EQ(sent.Failures.size(), c.failures);
        EXPECT_EQ(sent.Stuck.size(), c.stuck);
        EXPECT_TRUE((sent.Failures + sent.Stuck).join(QLatin1Char('\n')).contains(QLatin1String(c.says)));
        EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM AutomationServer_EmailQueueState")).toInt(),
                  c.states);
        EXPECT_LE(server->connectionCount(), 1);
    }
}

// A wrong password costs one login, then none for two polls, then none for
// four; --retry-now, or mended settings, let the next poll try at once.
TEST_F(QueueTest, failedLogins_backOffTwoPollsThenFourUntilRetryNow)
{
    const QDateTime failedAt(QDate(2026, 12, 7), QTime(14, 5, 9));
    start({.tls = SmtpServer::Tls::StartTls, .user = QStringLiteral("mailer"), .password = QStringLiteral("right")});
    CompanySettings.AutomationServerPoll = 5;
    CompanySettings.AutomationServerEmailServer = QStringLiteral("localhost");
    CompanySettings.AutomationServerEmailUser = QStringLiteral("mailer");
    CompanySettings.AutomationServerEmailPassword = QStringLiteral("wrong");
    queue(QStringLiteral("a@client.test"), QStringLiteral("body"));
    // Minutes after the first failure, whether the poll logs in, and the next
    // try it leaves in the log.
    const struct
    {
        int minutes;
        bool logsIn;
        const char *nextTry;
    } polls[] = {{0, true, "2026-12-07T14:14:39"},
                 {5, false, "2026-12-07T14:14:39"},
                 {10, true, "2026-12-07T14:34:39"},
                 {25, false, "2026-12-07T14:34:39"}};
    for (const auto &poll : polls) {
        SCOPED_TRACE(poll.minutes);
        SetClockForTests([at = failedAt.addSecs(poll.minutes * 60)] { return at; });
        const qsizetype logins = server->sessionEvents(QStringLiteral("auth")).size();
        SendQueuedEmails();
        EXPECT_EQ(server->sessionEvents(QStringLiteral("auth")).size() - logins, poll.logsIn ? 1 : 0);
        ASSERT_FALSE(sent.Failures.isEmpty());
        EXPECT_TRUE(sent.Failures.last().contains(QLatin1String(poll.nextTry))) << sent.Failures.last().toStdString();
    }
    EXPECT_TRUE(RetryMailNowText().contains(QLatin1String("the mail login will be tried")));
    SendQueuedEmails();
    EXPECT_EQ(server->sessionEvents(QStringLiteral("auth")).size(), 3);
    CompanySettings.AutomationServerEmailPassword = QStringLiteral("right");
    SendQueuedEmails();
    EXPECT_EQ(sent.Emails, 1);
}

TEST_F(QueueTest, failingGroup_staysQueuedWhileOthersAreSent)
{
    const qint64 a = queue(QStringLiteral("a@client.test"), QStringLiteral("for a"));
    const qint64 refused = queue(QStringLiteral("refused@client.test"), QStringLiteral("for nobody"));
    const qint64 z = queue(QStringLiteral("z@client.test"), QStringLiteral("for z"));
    SendQueuedEmails();

    const QList<ReceivedMail> mails = server->messages();
    ASSERT_EQ(mails.size(), 2);
    EXPECT_EQ(mails.at(0).recipients, QStringList{QStringLiteral("a@client.test")});
    EXPECT_EQ(mails.at(1).recipients, QStringList{QStringLiteral("z@client.test")});
    EXPECT_EQ(sentFlag(a), 1);
    EXPECT_EQ(sentFlag(refused), 0);
    EXPECT_TRUE(dateSent(refused).isNull());
    EXPECT_EQ(sentFlag(z), 1);
    EXPECT_EQ(sent.Emails, 2);
    EXPECT_TRUE(sent.Failures.isEmpty());
    ASSERT_EQ(sent.Stuck.size(), 1);
    const QString line = sent.Stuck.first();
    EXPECT_TRUE(line.startsWith(QStringLiteral("Email to refused@client.test not sent: "))) << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("550"))) << line.toStdString();
    EXPECT_FALSE(line.contains(QLatin1Char('\n')));
}

TEST_F(QueueTest, serverDown_leavesEverythingQueuedAndStopsAfterTheFirstGroup)
{
    start({.behaviour = SmtpServer::Behaviour::NotListening});
    const qint64 a = queue(QStringLiteral("a@client.test"), QStringLiteral("for a"));
    const qint64 b = queue(QStringLiteral("b@client.test"), QStringLiteral("for b"));
    EXPECT_NO_THROW(SendQueuedEmails());
    EXPECT_EQ(sentFlag(a) + sentFlag(b) + sent.Emails, 0);
    ASSERT_EQ(sent.Failures.size(), 2);
    EXPECT_TRUE(sent.Failures.at(0).startsWith(QStringLiteral("Email to a@client.test not sent: ")));
    EXPECT_EQ(sent.Failures.at(1),
              QStringLiteral("Mail sending stopped for this cycle: the mail server "
                             "failed; 1 message(s) stay queued for the next poll"));
}

// The mark is taken before the message leaves: a queue that refuses it, or
// that another writer holds locked for the whole run, sends nothing.
TEST_F(QueueTest, queueThatCannotBeMarked_sendsNothingAndSaysWhy)
{
    for (const bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "anotherWriterHoldsTheLock" : "triggerRefusesTheUpdate");
        db.exec(QStringLiteral("DROP TRIGGER IF EXISTS queue_frozen"));
        if (!locked)
            db.exec(QStringLiteral("CREATE TRIGGER queue_frozen BEFORE UPDATE ON AutomationServer_EmailsSent "
                                   "BEGIN SELECT RAISE(ABORT, 'queue is frozen'); END;"));
        const qint64 a = queue(QStringLiteral("a@client.test"), QStringLiteral("for a"));
        queue(QStringLiteral("b@client.test"), QStringLiteral("for b"));
        DbConnection writer;
        if (locked && writer.Open(db.connectionString()))
            writer.BeginTransaction();
        EXPECT_NO_THROW(SendQueuedEmails());
        writer.Close();
        EXPECT_EQ(server->connectionCount(), 0);
        EXPECT_EQ(sentFlag(a), 0);
        EXPECT_EQ(sent.Emails, 0);
        ASSERT_EQ(sent.Failures.size(), 1);
        const QString line = sent.Failures.first();
        EXPECT_TRUE(line.startsWith(QLatin1String("Mail sending stopped for this cycle: the queue rows cannot be "
                                                  "marked sent, so no message is sent")))
            << line.toStdString();
        EXPECT_TRUE(line.contains(QLatin1String(locked ? "locked" : "queue is frozen"))) << line.toStdString();
        EXPECT_TRUE(line.endsWith(QLatin1String("2 message(s) stay queued for the next poll"))) << line.toStdString();
    }
}

TEST_F(QueueTest, failingQuery_throwsDbError)
{
    db.exec(QStringLiteral("DROP TABLE AutomationServer_EmailsSent"));
    EXPECT_THROW(SendQueuedEmails(), DbError);
    EXPECT_EQ(server->connectionCount(), 0);
}

// Logins: one failed login per cycle however many groups wait, and the
// password never crosses a session that is not encrypted unless allowed.
TEST_F(QueueTest, loginRules_oneAttemptPerCycleAndNeverInClearUnlessAllowed)
{
    // logins, clearLogins: AUTH commands over encrypted sessions and in clear.
    const struct
    {
        const char *name;
        SmtpServer::Tls tls;
        bool secure, allowPlain;
        const char *password;
        int logins, clearLogins, sent;
        const char *failure;
    } cases[] = {
        {"wrongPassword", SmtpServer::Tls::StartTls, true, false, "wrong-Pa55", 1, 0, 0, "535"},
        {"starttlsOfferedSecureOff", SmtpServer::Tls::StartTls, false, false, "right-Pa55", 1, 0, 7, ""},
        {"noStarttlsOffered", SmtpServer::Tls::None, false, false, "right-Pa55", 0, 0, 0, "does not offer STARTTLS"},
        {"noStarttlsButAllowed", SmtpServer::Tls::None, false, true, "right-Pa55", 0, 1, 7, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        start({.tls = c.tls, .user = QStringLiteral("mailer"), .password = QStringLiteral("right-Pa55")});
        CompanySettings.AutomationServerEmailServer = QStringLiteral("localhost");
        CompanySettings.AutomationServerEmailUseSSLTLS = c.secure;
        CompanySettings.AutomationServerEmailUser = QStringLiteral("mailer");
        CompanySettings.AutomationServerEmailPassword = QString::fromLatin1(c.password);
        mailOptions.plainTextLoginAllowed = c.allowPlain;
        clearQueue();
        for (int i = 0; i < 7; ++i)
            queue(QStringLiteral("list%1@client.test").arg(i), QStringLiteral("body"));
        SendQueuedEmails();

        EXPECT_EQ(server->sessionEvents(QStringLiteral("auth")).count(QStringLiteral("auth")), c.logins);
        EXPECT_EQ(server->sessionEvents(QStringLiteral("auth-clear")).size(), c.clearLogins);
        EXPECT_EQ(int(server->messages().size()), c.sent);
        EXPECT_EQ(db.queryValue(QStringLiteral("SELECT SUM(EmailSent) FROM AutomationServer_EmailsSent")).toInt(),
                  c.sent);
        if (c.sent == 0) {
            ASSERT_EQ(sent.Failures.size(), 2);
            EXPECT_TRUE(sent.Failures.first().contains(QLatin1String(c.failure)))
                << sent.Failures.first().toStdString();
            EXPECT_TRUE(sent.Failures.last().contains(QLatin1String("6 message(s) stay queued")));
            EXPECT_FALSE(sent.Failures.join(QLatin1Char('\n')).contains(QLatin1String(c.password)));
        }
    }
}

// A 4xx goes out at the next poll once the server takes it; a 5xx is held
// back (not tried at the next poll), listed with the reply, and goes out when
// the back-off has passed or an operator deletes its state row.
TEST_F(QueueTest, refusals_deferredRetriedNextPollRefusedHeldBackUntilDueOrAsked)
{
    const QDateTime failedAt(QDate(2026, 12, 7), QTime(14, 5, 9));
    const struct
    {
        const char *name, *to;
        bool operatorAsks;
    } cases[] = {{"deferredOnce", "later@client.test", false},
                 {"refusedBackOffEnds", "refuse@client.test", false},
                 {"refusedOperatorAsks", "refuse@client.test", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const bool permanent = QByteArray(c.to).startsWith("refuse");
        start(SmtpServer::Options{});
        CompanySettings.AutomationServerPoll = 5;
        clearQueue();
        const qint64 id = queue(QString::fromLatin1(c.to), QStringLiteral("body"));
        SetClockForTests([failedAt] { return failedAt; });
        SendQueuedEmails();
        EXPECT_EQ(sentFlag(id), 0);
        EXPECT_EQ((permanent ? sent.Stuck : sent.Failures).size(), 1);
        EXPECT_TRUE(MailQueueStatusText().contains(
            QStringLiteral("%1\t%2\tattempts: 1\tnext try: %3\tlast reply: ")
                .arg(id)
                .arg(QString::fromLatin1(c.to),
                     permanent ? QStringLiteral("2026-12-07 14:14:39") : QStringLiteral("next poll"))));
        EXPECT_TRUE(MailQueueStatusText().contains(permanent ? QLatin1String("550") : QLatin1String("450")));

        // The next poll: a refused list is not tried, nor reported again.
        SetClockForTests([failedAt] { return failedAt.addSecs(5 * 60); });
        const int connections = server->connectionCount();
        if (permanent) {
            SendQueuedEmails();
            EXPECT_EQ(server->connectionCount(), connections);
            EXPECT_TRUE(sent.Stuck.isEmpty());
            EXPECT_EQ(sent.MailHeldBack, 1);
            // The address is mended (the server now takes it).
            start({.behaviour = SmtpServer::Behaviour::AcceptAll});
            CompanySettings.AutomationServerPoll = 5;
            if (c.operatorAsks)
                db.exec(QStringLiteral("DELETE FROM AutomationServer_EmailQueueState"));
            else
                SetClockForTests([failedAt] { return failedAt.addSecs(10 * 60); });
        }
        SendQueuedEmails();
        EXPECT_EQ(sentFlag(id), 1);
        EXPECT_EQ(server->messages().size(), 1);
        EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM AutomationServer_EmailQueueState")).toInt(), 0);
    }
}

// A cycle starts no new group once its time is up or a stop was asked for;
// the rest waits for the next poll.
TEST_F(QueueTest, boundedSending_stopsBetweenGroupsOnTimeOrStop)
{
    for (int i = 0; i < 3; ++i)
        queue(QStringLiteral("list%1@client.test").arg(i), QStringLiteral("body"));
    RequestMailStop();
    SendQueuedEmails();
    RequestMailStop(false);
    EXPECT_EQ(server->connectionCount(), 0);
    ASSERT_EQ(sent.Failures.size(), 1);
    EXPECT_EQ(sent.Failures.first(),
              QStringLiteral("Mail sending stopped for this cycle: the server is "
                             "stopping; 3 message(s) stay queued for the next poll"));

    SetMailSendingBudgetForTests(std::chrono::milliseconds(1));
    SendQueuedEmails();
    SetMailSendingBudgetForTests(std::chrono::milliseconds(0));
    EXPECT_LT(sent.Emails, 3);
    ASSERT_EQ(sent.Failures.size(), 1);
    EXPECT_TRUE(sent.Failures.first().contains(QLatin1String("time for sending")));
}

// A list over the server's SIZE goes as several messages under it, each with
// whole notifications in ID order, the subject and the footer; a notification
// that alone is over it is held back by itself.
TEST_F(QueueTest, digestOverTheSizeLimit_arrivesWholeInSeveralMessagesUnderIt)
{
    start({.sizeLimit = 20000});
    QList<QByteArray> bodies;
    qint64 huge = 0;
    for (int i = 0; i < 300; ++i) {
        bodies.append(QStringLiteral("Notification %1: Jane Doe's forklift certificate – renewal due 12/%2/2026.")
                          .arg(i, 3, 10, QLatin1Char('0'))
                          .arg(1 + i % 28)
                          .toUtf8());
        queue(QStringLiteral("list@client.test"), QString::fromUtf8(bodies.last()));
        if (i == 150)
            huge = queue(QStringLiteral("list@client.test"), QString(30000, QLatin1Char('x')));
    }
    SendQueuedEmails();

    const QList<ReceivedMail> mails = server->messages();
    ASSERT_GE(mails.size(), 2);
    QByteArray all;
    for (const ReceivedMail &mail : mails) {
        EXPECT_LT(mail.raw.size(), 20000);
        EXPECT_EQ(mail.header(QStringLiteral("Subject")), QStringLiteral("Notification from Velmar Services"));
        ASSERT_TRUE(mail.body.endsWith(Crlf + Crlf + Crlf + Footer.toUtf8()));
        all += mail.body.chopped(3 * Crlf.size() + Footer.toUtf8().size());
    }
    EXPECT_EQ(all, bodies.join(Crlf) + Crlf);
    EXPECT_EQ(sent.Emails, mails.size());
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM AutomationServer_EmailsSent WHERE EmailSent=1"))
                  .toInt(),
              300);
    EXPECT_EQ(sentFlag(huge), 0);
    ASSERT_EQ(sent.Stuck.size(), 1);
    EXPECT_TRUE(sent.Stuck.first().contains(QLatin1String("5.3.4"))) << sent.Stuck.first().toStdString();

    SendQueuedEmails();
    EXPECT_EQ(server->messages().size(), mails.size());
    EXPECT_EQ(sent.MailHeldBack, 1);
    EXPECT_TRUE(MailQueueStatusText().contains(QStringLiteral("%1\tlist@client.test\trefused alone").arg(huge)));
}

// A claim left by a server stopped during the exchange: the message's fate is
// unknown, so it goes out again and the log says it may arrive twice.
TEST_F(QueueTest, claimLeftByAStoppedServer_isSentAgainAndSaidOnce)
{
    const qint64 id = queue(QStringLiteral("a@client.test"), QStringLiteral("body"));
    EnsureMailRowStateTable();
    DatabaseConnection().Execute(ClaimEmailsSql(QString::number(id), QDateTime(QDate(2026, 12, 7), QTime(14, 0))));
    SendQueuedEmails();
    ASSERT_EQ(sent.Notes.size(), 1);
    EXPECT_TRUE(sent.Notes.first().contains(QLatin1String("at 2026-12-07 14:00:00 when the server stopped")));
    EXPECT_EQ(sentFlag(id), 1);
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT COUNT(*) FROM AutomationServer_EmailRowState")).toInt(), 0);
    SendQueuedEmails();
    EXPECT_TRUE(sent.Notes.isEmpty());
    EXPECT_EQ(server->messages().size(), 1);
}
