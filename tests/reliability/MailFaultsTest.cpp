// The mail server failing under a real cycle: down, refusing, deferring,
// failing TLS or the login, silent, dropping the connection. Each time what
// the server accepted is marked sent, everything else stays queued (or is
// queued again for the recipients a message did not reach), the other
// recipient lists go out, every failure is in the log with the server's
// reason, and once the fault clears a later cycle sends the rest exactly once.

#include "tests/reliability/ReliabilitySupport.h"

#include "email/SendQueuedEmails.h"
#include "mainwindow/LogLine.h"
#include "startup/CompanySettings.h"

#include <QRegularExpression>

namespace {

// Which recipient lists the faulty server still lets through.
enum class Reach { None, All, AllButClientB };

struct MailFault
{
    const char *name;
    SmtpServer::Options fault = SmtpServer::Options{};
    SmtpServer::Options cleared = SmtpServer::Options{};
    Reach reach = Reach::None;
    const char *failure = ""; // in every failure line of the fault cycle
    const char *staffA2 = "staffer.a2@velmar.test";
    const char *clientB = "client.b@client.test";
    bool secure = false;                 // the company asks for TLS
    bool strangerAuthority = false;      // during the fault the client trusts an unrelated authority
    const char *faultPassword = nullptr; // login "mailer" with this password during the fault
    // What the failure says: the server is sick (the cycle stops after the
    // first list), or the mail is refused for good (held back until asked).
    enum { PerList, StopsCycle, Permanent } kind = StopsCycle;
};

SmtpServer::Options behaving(SmtpServer::Behaviour behaviour)
{
    SmtpServer::Options options;
    options.behaviour = behaviour;
    return options;
}

SmtpServer::Options startTls(bool wrongName = false, bool login = false)
{
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTls;
    options.wrongNameCertificate = wrongName;
    if (login) {
        options.user = QStringLiteral("mailer");
        options.password = QStringLiteral("right-Pa55");
    }
    return options;
}

std::ostream &operator<<(std::ostream &out, const MailFault &fault)
{
    return out << fault.name;
}

class MailFaults : public CycleTest, public ::testing::WithParamInterface<MailFault>
{
protected:
    void SetUp() override
    {
        CycleTest::SetUp();
        const MailFault &fault = GetParam();
        host.AddCompany(1);
        host.AddRule();
        const qint64 item = host.AddItem(QStringLiteral("First Aid"));
        const qint64 acme = host.AddContract(QStringLiteral("Acme"), host.AddStaff(QStringLiteral("mgr.a@velmar.test")),
                                             QStringLiteral("client.a@client.test"));
        host.AddSpecialist(acme, host.AddStaff(QStringLiteral("staffer.a1@velmar.test")));
        host.AddSpecialist(acme, host.AddStaff(QString::fromLatin1(fault.staffA2)));
        const qint64 bolt = host.AddContract(QStringLiteral("Bolt"), host.AddStaff(QStringLiteral("mgr.b@velmar.test")),
                                             QString::fromLatin1(fault.clientB));
        host.AddSpecialist(bolt, host.AddStaff(QStringLiteral("staffer.b@velmar.test")));
        const qint64 jane =
            host.AddPerson(QStringLiteral("Jane"), QStringLiteral("Q"), QStringLiteral("Doe"), QVariant());
        const qint64 sean = host.AddPerson(QStringLiteral("Sean"), QVariant(), QStringLiteral("O'Brien"), QVariant());
        due.append(host.AddTraining(item, jane, acme, HostData::CompletedFor(Today().addDays(5), 12)));
        due.append(host.AddTraining(item, sean, acme, HostData::CompletedFor(Today().addDays(20), 12)));
        due.append(host.AddTraining(item, jane, bolt, HostData::CompletedFor(Today().addDays(-3), 12)));

        QStringList specialists = {QStringLiteral("staffer.a1@velmar.test"), QString::fromLatin1(fault.staffA2)};
        specialists.sort();
        lists = {QStringLiteral("mgr.a@velmar.test"),      specialists.join(QLatin1Char(';')) + QLatin1Char(';'),
                 QStringLiteral("client.a@client.test"),   QStringLiteral("mgr.b@velmar.test"),
                 QStringLiteral("staffer.b@velmar.test;"), QString::fromLatin1(fault.clientB)};
    }

    // The company settings as the operator had them during the fault, or
    // after mending them.
    void configure(bool duringFault)
    {
        const MailFault &fault = GetParam();
        const bool login = !(duringFault ? fault.fault : fault.cleared).user.isEmpty();
        const QString password = duringFault && fault.faultPassword != nullptr
            ? QString::fromLatin1(fault.faultPassword)
            : QStringLiteral("right-Pa55");
        db.exec(QStringLiteral("UPDATE Company SET AutomationServerEmailUseSSLTLS = %1,"
                               " AutomationServerEmailUser = %2, AutomationServerEmailPassword = %3")
                    .arg(fault.secure ? 1 : 0)
                    .arg(HostData::Literal(login ? QStringLiteral("mailer") : QString()),
                         HostData::Literal(login ? password : QString())));
        const QString authority = duringFault && fault.strangerAuthority ? SmtpServer::strangerAuthorityFile()
                                                                         : SmtpServer::testAuthorityFile();
        qputenv("CURL_CA_BUNDLE", authority.toLocal8Bit());
    }

    bool sent(const QString &list)
    {
        return Count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailTo = %1 AND EmailSent = 1"
                                    " AND DateSent IS NOT NULL")
                         .arg(HostData::Literal(list))) > 0;
    }

    QList<qint64> due;
    QStringList lists; // every recipient list, as queued
};

} // namespace

TEST_P(MailFaults, faultThenCleared_acceptedMarkedRestQueuedThenSentExactlyOnce)
{
    const MailFault &fault = GetParam();
    configure(true);
    StartMail(fault.fault);
    if (fault.fault.behaviour == SmtpServer::Behaviour::Silent)
        ShortMailTimeouts();
    const QString log = Cycle();

    // The alert did its part whatever the mail server does.
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, false, true));
    EXPECT_EQ(Count(QStringLiteral("Issues")), 2);

    // What the server accepted is marked, nothing else.
    for (const QString &list : lists) {
        const bool through = fault.reach == Reach::All ||
            (fault.reach == Reach::AllButClientB && list != QString::fromLatin1(fault.clientB));
        EXPECT_EQ(sent(list), through) << list.toStdString() << "\n" << log.toStdString();
    }
    EXPECT_NO_VIOLATIONS(MailViolations(db, AllMail(), true));

    // Every failure is in the log with the server's reason; a sick server
    // is met once, the rest is said to stay queued in one line.
    EXPECT_EQ(last.outcome, fault.kind == MailFault::Permanent ? CycleOutcome::MailStuck : CycleOutcome::TaskFailed);
    ASSERT_FALSE(last.errors.isEmpty());
    const int expectedLines = fault.kind == MailFault::StopsCycle ? 2
        : fault.reach == Reach::None                              ? int(lists.size())
                                                                  : 1;
    EXPECT_EQ(last.errors.size(), expectedLines) << log.toStdString();
    for (const QString &line : std::as_const(last.errors)) {
        EXPECT_TRUE(line.startsWith(QLatin1String("Email to ")) ||
                    (fault.kind == MailFault::StopsCycle && line.startsWith(QLatin1String("Mail sending stopped"))))
            << line.toStdString();
        EXPECT_TRUE(log.contains(line));
    }
    EXPECT_TRUE(last.errors.first().contains(QString::fromLatin1(fault.failure))) << last.errors.first().toStdString();
    EXPECT_FALSE(log.contains(QLatin1String("wrong-Pa55")));
    if (fault.reach == Reach::All) {
        // A message that reached some recipients: the others are named and queued again.
        EXPECT_TRUE(
            last.errors.first().contains(QStringLiteral(" not sent to %1: ").arg(QString::fromLatin1(fault.staffA2))))
            << last.errors.first().toStdString();
        EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailSent = 0 AND EmailTo = %1")
                            .arg(HostData::Literal(QString::fromLatin1(fault.staffA2) + QLatin1Char(';')))),
                  2);
    }

    if (fault.kind == MailFault::Permanent) {
        // Not tried again at the next poll, nor said again; an operator asks
        // for the retry.
        const int connections = servers.back()->connectionCount();
        Cycle();
        EXPECT_EQ(last.outcome, CycleOutcome::MailStuck);
        EXPECT_TRUE(last.errors.isEmpty()) << last.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(servers.back()->connectionCount(), connections);
        db.exec(QStringLiteral("DELETE FROM AutomationServer_EmailQueueState"));
    }

    // The fault clears: the rest goes out once, and then nothing more.
    ShortMailTimeouts(false);
    configure(false);
    StartMail(fault.cleared);
    const QString recovered = Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << recovered.toStdString();
    EXPECT_EQ(Unsent(), 0);
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, AllMail(), true));
    const qsizetype mails = AllMail().size();
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed);
    EXPECT_EQ(AllMail().size(), mails);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MailFaults,
    ::testing::Values(
        MailFault{.name = "notListening",
                  .fault = behaving(SmtpServer::Behaviour::NotListening),
                  .failure = "Mail through 127.0.0.1:"},
        MailFault{.name = "unavailableAtGreeting",
                  .fault = behaving(SmtpServer::Behaviour::Unavailable),
                  .failure = "421"},
        MailFault{.name = "oneRecipientDeferred",
                  .cleared = behaving(SmtpServer::Behaviour::AcceptAll),
                  .reach = Reach::All,
                  .failure = "450",
                  .staffA2 = "defer.a2@velmar.test",
                  .kind = MailFault::PerList},
        MailFault{.name = "oneRecipientRefused",
                  .cleared = behaving(SmtpServer::Behaviour::AcceptAll),
                  .reach = Reach::All,
                  .failure = "550",
                  .staffA2 = "refuse.a2@velmar.test",
                  .kind = MailFault::Permanent},
        MailFault{.name = "everyRecipientOfAListDeferred",
                  .cleared = behaving(SmtpServer::Behaviour::AcceptAll),
                  .reach = Reach::AllButClientB,
                  .failure = "450",
                  .clientB = "defer.b@client.test",
                  .kind = MailFault::PerList},
        MailFault{.name = "everyRecipientOfAListRefused",
                  .cleared = behaving(SmtpServer::Behaviour::AcceptAll),
                  .reach = Reach::AllButClientB,
                  .failure = "550",
                  .clientB = "refuse.b@client.test",
                  .kind = MailFault::Permanent},
        MailFault{.name = "dataDeferred", .fault = behaving(SmtpServer::Behaviour::DeferData), .failure = "451"},
        MailFault{.name = "dataRefused",
                  .fault = behaving(SmtpServer::Behaviour::RejectData),
                  .failure = "554",
                  .kind = MailFault::Permanent},
        MailFault{.name = "droppedInData",
                  .fault = behaving(SmtpServer::Behaviour::DropInData),
                  .failure = "Mail through 127.0.0.1:"},
        MailFault{.name = "neverAnswers", .fault = behaving(SmtpServer::Behaviour::Silent), .failure = "timed out"},
        MailFault{.name = "tlsHandshakeFails",
                  .fault = startTls(),
                  .cleared = startTls(),
                  .failure = "Mail through 127.0.0.1:",
                  .secure = true,
                  .strangerAuthority = true},
        MailFault{.name = "certificateForAnotherHost",
                  .fault = startTls(true),
                  .cleared = startTls(),
                  .failure = "Mail through 127.0.0.1:",
                  .secure = true},
        MailFault{.name = "loginRefused",
                  .fault = startTls(false, true),
                  .cleared = startTls(false, true),
                  .failure = "535",
                  .secure = true,
                  .faultPassword = "wrong-Pa55"}),
    [](const ::testing::TestParamInfo<MailFault> &info) { return std::string(info.param.name); });

// A server that never answers is waited for once per cycle, not once per
// message: the messages after the first are left queued, in one line.
TEST_F(CycleTest, silentServer_laterMessagesOfTheCycleAreNotTriedAndSaySo)
{
    host.AddCompany(1);
    for (int i = 0; i < 4; ++i)
        db.exec(QStringLiteral("INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailSubject, EmailBody,"
                               " EmailSent) VALUES ('a@velmar.test', 'list%1@client.test;', 's', 'b', 0)")
                    .arg(i));
    SmtpServer::Options silent;
    silent.behaviour = SmtpServer::Behaviour::Silent;
    StartMail(silent);
    ShortMailTimeouts();
    Cycle();
    ASSERT_EQ(last.errors.size(), 2);
    EXPECT_TRUE(last.errors[0].contains(QLatin1String("timed out"))) << last.errors[0].toStdString();
    EXPECT_EQ(last.errors[1],
              QStringLiteral("Mail sending stopped for this cycle: the mail server failed; 3 "
                             "message(s) stay queued for the next poll"));
    EXPECT_EQ(Unsent(), 4);
}

TEST(QueueAgainStatement, rowsQueuedAgainForTheRecipientsInQueueOrder)
{
    EXPECT_EQ(QueueEmailsAgainSql(QStringLiteral("4,7"), QStringLiteral("o'hara@velmar.test;defer@velmar.test;")),
              QStringLiteral(
                  "INSERT INTO AutomationServer_EmailsSent (EmailFrom,EmailFromName,EmailTo,EmailSubject,"
                  "EmailBody,EmailSent) SELECT EmailFrom,EmailFromName,N'o''hara@velmar.test;defer@velmar.test;',"
                  "EmailSubject,EmailBody,0 FROM AutomationServer_EmailsSent WHERE ID IN (4,7) ORDER BY ID"));
}

// An address that cannot be written into the SMTP dialogue, beside a good
// one: the good one is mailed, the other is named in the log once and kept
// queued on its own row, held back as refused for good.
TEST_F(CycleTest, unusableAddressBesideAGoodOne_goodOneMailedOtherReportedAndKeptQueued)
{
    host.AddCompany(1);
    db.exec(QStringLiteral(
        "INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailSubject, EmailBody,"
        " EmailSent) VALUES ('a@velmar.test', 'good@client.test;bad address@client.test;', 's',"
        " 'first', 0), ('a@velmar.test', 'good@client.test;bad address@client.test;', 's', 'second', 0)"));
    StartMail();
    Cycle();
    ASSERT_EQ(last.errors.size(), 1);
    EXPECT_EQ(last.errors[0],
              QStringLiteral("Email to good@client.test;bad address@client.test; not sent to bad "
                             "address@client.test: not a usable address (queued again for them)"));
    ASSERT_EQ(AllMail().size(), 1);
    EXPECT_EQ(AllMail()[0].recipients, QStringList{QStringLiteral("good@client.test")});
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailSent = 1")), 2);
    const QList<QVariantList> kept = db.queryRows(
        QStringLiteral("SELECT EmailTo, EmailBody FROM AutomationServer_EmailsSent WHERE EmailSent = 0 ORDER BY ID"));
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept[0][0].toString(), QStringLiteral("bad address@client.test;"));
    EXPECT_EQ(kept[0][1].toString(), QStringLiteral("first"));
    EXPECT_EQ(kept[1][1].toString(), QStringLiteral("second"));

    EXPECT_EQ(last.outcome, CycleOutcome::MailStuck);
    Cycle();
    EXPECT_TRUE(last.errors.isEmpty()) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(last.outcome, CycleOutcome::MailStuck);
    EXPECT_EQ(AllMail().size(), 1);
    EXPECT_EQ(Unsent(), 2);
}
