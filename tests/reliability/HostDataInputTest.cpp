// Hostile and odd values in the host's rows, through whole cycles: Nulls in
// every column the cycle reads, texts of a megabyte, non-ASCII and emoji,
// apostrophes and injection payloads in every text that reaches a statement,
// month ends and leap days, odd renewal periods and day counts, port texts.
// Each time: no crash, a clear error in the log where a value cannot be used,
// nothing lost, nothing done twice.

#include "tests/reliability/ReliabilitySupport.h"

#include "database/Clock.h"
#include "database/DateText.h"

namespace {

const QString kRule = QString(54, QLatin1Char('*'));
const QString kCrLf = QStringLiteral("\r\n");

QString body(const QString &client, qint64 id, const QString &description)
{
    return QStringLiteral("Client: ") + client + kCrLf + QStringLiteral("Item ID: ") + QString::number(id) + kCrLf +
        description + kCrLf + kCrLf + kRule + kCrLf;
}

QString digest(const QStringList &bodies, const QString &footer)
{
    QString text;
    for (const QString &b : bodies)
        text += b + kCrLf;
    return text + kCrLf + kCrLf + kCrLf + footer;
}

class HostInput : public CycleTest
{
protected:
    void SetUp() override
    {
        CycleTest::SetUp();
        db.useWideColumns(); // hostile values as a host with wider columns holds them
        host.AddCompany(1);
    }

    // One contract with a manager, one specialist and a client address.
    qint64 addAcme(const QVariant &customerName = QStringLiteral("Acme"))
    {
        const qint64 contract = host.AddContract(customerName, host.AddStaff(QStringLiteral("mgr@velmar.test")),
                                                 QStringLiteral("client@client.test"));
        host.AddSpecialist(contract, host.AddStaff(QStringLiteral("staffer@velmar.test")));
        return contract;
    }

    // The mail that reached one recipient, decoded.
    QList<ReceivedMail> mailTo(const QString &recipient) const
    {
        QList<ReceivedMail> found;
        for (const ReceivedMail &mail : AllMail()) {
            if (mail.recipients.contains(recipient))
                found.append(mail);
        }
        return found;
    }

    // A second cycle finds nothing new: no mail, no issue, no log row.
    void expectSecondCycleQuiet()
    {
        const qint64 logRows = Count(QStringLiteral("AutomationServer_Emails"));
        const qint64 issues = Count(QStringLiteral("Issues"));
        const qsizetype mails = AllMail().size();
        Cycle();
        EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), logRows);
        EXPECT_EQ(Count(QStringLiteral("Issues")), issues);
        EXPECT_EQ(AllMail().size(), mails);
    }
};

} // namespace

TEST_F(HostInput, nullInEveryColumnTheCycleReads_emptyTextsAndNoCrash)
{
    db.exec(QStringLiteral("UPDATE Company SET Name = NULL, AutomationServerEmailFrom = NULL,"
                           " AutomationServerEmailFooter = NULL, AutomationServerPoll = NULL,"
                           " AutomationServerEmailUseSSLTLS = NULL, AutomationServerEmailUser = NULL,"
                           " AutomationServerEmailPassword = NULL"));
    host.AddRule(QStringLiteral("CreateIssue = NULL, IssuePriority = NULL"));
    StartMail();

    const qint64 acme = host.AddContract(QStringLiteral("Acme"), host.AddStaff(QStringLiteral("mgr@velmar.test")),
                                         QStringLiteral("client@client.test"));
    host.AddSpecialist(acme, host.AddStaff(QVariant()));
    host.AddSpecialist(acme, host.AddStaff(QStringLiteral("staffer@velmar.test")));
    const qint64 bare = host.AddContract(QVariant(), host.AddStaff(QVariant()), QVariant());
    const qint64 noStatus =
        host.AddContract(QStringLiteral("No Status"), host.AddStaff(QStringLiteral("x@velmar.test")),
                         QStringLiteral("x@client.test"), QString());
    db.exec(QStringLiteral("UPDATE ServiceContract SET Status = NULL WHERE ID = %1").arg(noStatus));
    const qint64 nameless = host.AddPerson(QVariant(), QVariant(), QVariant(), QVariant());
    const qint64 flagless = host.AddPerson(QStringLiteral("Flag"), QVariant(), QStringLiteral("Less"), QVariant());
    db.exec(
        QStringLiteral("UPDATE CustomerEmployee SET Suspended = NULL, Terminated = NULL WHERE ID = %1").arg(flagless));
    const qint64 unnamed = host.AddItem(QVariant(), 12);
    const qint64 noPeriod = host.AddItem(QStringLiteral("No Period"), QVariant());
    const qint64 noOptional = host.AddItem(QStringLiteral("No Optional"), 12);
    db.exec(QStringLiteral("UPDATE TrainingItem SET Optional = NULL WHERE ID = %1").arg(noOptional));
    const QDate completed = HostData::CompletedFor(Today().addDays(13), 12);

    const qint64 toAcme = host.AddTraining(unnamed, nameless, acme, completed);
    const qint64 toBare = host.AddTraining(unnamed, nameless, bare, completed);
    // Not due by the host's own query: a comparison with Null is never true.
    host.AddTraining(noPeriod, nameless, acme, completed);
    host.AddTraining(noOptional, nameless, acme, completed);
    host.AddTraining(unnamed, flagless, acme, completed);
    host.AddTraining(unnamed, nameless, noStatus, completed);
    host.AddTraining(unnamed, nameless, acme, QVariant());
    host.AddTraining(unnamed, nameless, QVariant(), completed);
    db.exec(QStringLiteral("INSERT INTO CustomerEmployeeTraining (Completed, CompletedDate) VALUES (NULL, '%1')")
                .arg(HostData::Iso(completed)));
    // An automatic issue whose text the host cleared, due for closing.
    db.exec(QStringLiteral("INSERT INTO Issues (ItemID, Status, EnteredBy, AUTO_Item, AUTO_Date, Description)"
                           " VALUES (%1, 'Open', 'AUTO SERVER', 'Training Expire', '2020-01-01 00:00:00', NULL)")
                .arg(host.AddTraining(unnamed, nameless, acme, HostData::CompletedFor(Today().addDays(300), 12))));

    // A Null sender is not sent: the rows wait, held back, until the host
    // gives them one and an operator asks for the retry.
    const QString log = Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::MailStuck) << log.toStdString();
    EXPECT_EQ(Unsent(), 3);
    EXPECT_TRUE(AllMail().isEmpty());
    db.exec(QStringLiteral("UPDATE AutomationServer_EmailsSent SET EmailFrom = 'alerts@velmar.test';"
                           "DELETE FROM AutomationServer_EmailQueueState"));
    const QString retried = Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << retried.toStdString();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 2);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemID IN (%1, %2)").arg(toAcme).arg(toBare)), 2);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Status = 'Closed' AND EditedBy = 'AUTO SERVER'")), 1);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE EnteredBy = 'AUTO SERVER' AND Status = 'Open'")),
              0); // CreateIssue Null: off

    // Null parts are empty texts with their separators kept; nothing is
    // queued for a recipient without an address.
    const QString description = QStringLiteral(": ,    - Expires ") + DateText(Today().addDays(13));
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 3);
    EXPECT_EQ(Unsent(), 0);
    const QList<ReceivedMail> toManager = mailTo(QStringLiteral("mgr@velmar.test"));
    ASSERT_EQ(toManager.size(), 1);
    EXPECT_EQ(toManager[0].mailFrom, QStringLiteral("alerts@velmar.test"));
    EXPECT_EQ(toManager[0].header(QStringLiteral("Subject")), QStringLiteral("Notification from "));
    EXPECT_EQ(QString::fromUtf8(toManager[0].body),
              digest({body(QStringLiteral("Acme"), toAcme, description)}, QString()));
    EXPECT_EQ(mailTo(QStringLiteral("staffer@velmar.test")).size(), 1);
    expectSecondCycleQuiet();
}

namespace {
struct RuleNull
{
    const char *column;
    const char *error; // nullptr: Null is a valid "off"
};

class RuleNulls : public HostInput, public ::testing::WithParamInterface<RuleNull>
{};
} // namespace

TEST_P(RuleNulls, nullInARuleColumn_clearErrorOrOffAndNothingLost)
{
    const RuleNull &rule = GetParam();
    host.AddRule(QStringLiteral("%1 = NULL").arg(QLatin1String(rule.column)));
    StartMail();
    const qint64 id =
        host.AddTraining(host.AddItem(QStringLiteral("First Aid")),
                         host.AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant()),
                         addAcme(), HostData::CompletedFor(Today().addDays(3), 12));
    db.exec(QStringLiteral(
        "INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailSubject, EmailBody, EmailSent)"
        " VALUES ('other@velmar.test', 'other@client.test', 's', 'from another writer', 0)"));
    const QString log = Cycle();
    // Mail from other writers goes out whatever the rule holds.
    EXPECT_EQ(mailTo(QStringLiteral("other@client.test")).size(), 1);
    if (rule.error == nullptr) {
        EXPECT_EQ(last.outcome, CycleOutcome::Completed) << log.toStdString();
        return;
    }
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(last.errors.size(), 1) << log.toStdString();
    EXPECT_EQ(last.errors[0],
              QStringLiteral("Error in training expiry: AutomationServer_Alert.%1 = Null: %2")
                  .arg(QLatin1String(rule.column), QLatin1String(rule.error)));
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);

    // Mended, the next cycle notifies it once.
    db.exec(QStringLiteral("DELETE FROM AutomationServer_Alert"));
    host.AddRule();
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(id)), 1);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent")), 1 + 3);
    EXPECT_EQ(Unsent(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Columns, RuleNulls,
    ::testing::Values(RuleNull{"Category", "a category is needed, the column is Null"},
                      RuleNull{"DaysInAdvance", "a whole number is needed, the column is Null"},
                      RuleNull{"CreateIssueDaysInAdvance", "a whole number is needed, the column is Null"},
                      RuleNull{"AutoCloseIssue", "a true/false value is needed, the column is Null"},
                      RuleNull{"EmailContractManager", nullptr}, RuleNull{"EmailContractSpecialist", nullptr},
                      RuleNull{"EmailClient", nullptr}, RuleNull{"CreateIssue", nullptr},
                      RuleNull{"IssuePriority", nullptr}),
    [](const ::testing::TestParamInfo<RuleNull> &info) { return std::string(info.param.column); });

TEST_F(HostInput, megabyteTexts_arriveWholeAndAreStoredWhole)
{
    const QString huge = QStringLiteral("Megabyte").repeated(131072); // 1 MiB
    const QString large = QStringLiteral("Large").repeated(13108);    // 64 KiB
    // The company name goes into the From and Subject fields: a long one,
    // past the line limit of a message, is enough there.
    const QString longName = QStringLiteral("Velmar").repeated(500);
    db.exec(QStringLiteral("UPDATE Company SET Name = %1, AutomationServerEmailFooter = %2")
                .arg(HostData::Literal(longName), HostData::Literal(huge)));
    host.AddRule();
    StartMail();
    const qint64 id =
        host.AddTraining(host.AddItem(large), host.AddPerson(QStringLiteral("Jane"), QVariant(), huge, QVariant()),
                         addAcme(large), HostData::CompletedFor(Today().addDays(3), 12));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).left(2000).toStdString();
    const QString description =
        large + QStringLiteral(": ") + huge + QStringLiteral(", Jane   - Expires ") + DateText(Today().addDays(3));
    const QList<ReceivedMail> mails = mailTo(QStringLiteral("mgr@velmar.test"));
    ASSERT_EQ(mails.size(), 1);
    EXPECT_TRUE(QString::fromUtf8(mails[0].body) == digest({body(large, id, description)}, huge));
    EXPECT_TRUE(mails[0].header(QStringLiteral("Subject")) == QStringLiteral("Notification from ") + longName);
    // The test server's parser keeps the blanks between the encoded words of
    // a name, which readers drop (RFC 2047, 6.2); the name has none of its own.
    EXPECT_TRUE(mails[0].header(QStringLiteral("From")).remove(QLatin1Char(' ')).startsWith(longName))
        << mails[0].header(QStringLiteral("From")).left(80).toStdString();
    for (const QByteArray &line : mails[0].raw.split('\n'))
        ASSERT_LE(line.size(), 999);
    EXPECT_TRUE(mails[0].defects.isEmpty()) << mails[0].defects.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(db.queryValue(QStringLiteral("SELECT ItemDesc FROM Issues WHERE ItemID = %1").arg(id)).toString() ==
                description);
    expectSecondCycleQuiet();
}

TEST_F(HostInput, nonAsciiAndEmojiNames_arriveCorrectlyEncoded)
{
    const QString company = QStringLiteral("Velmar \u015Cervices \U0001F680");
    const QString footer = QStringLiteral("Gr\u00FC\u00DFe \u2014 \U0001F6DF");
    db.exec(QStringLiteral("UPDATE Company SET Name = %1, AutomationServerEmailFooter = %2")
                .arg(HostData::Literal(company), HostData::Literal(footer)));
    host.AddRule();
    StartMail();
    const QString customer = QStringLiteral("Soci\u00E9t\u00E9 G\u00E9n\u00E9rale \U0001F3D7");
    const qint64 id = host.AddTraining(host.AddItem(QStringLiteral("Premiers secours \u2013 niveau 2 \u271A")),
                                       host.AddPerson(QStringLiteral("Zo\u00EB"), QStringLiteral("\u674E"),
                                                      QStringLiteral("\u00D1\u00FA\u00F1ez-\u00D8rsted"),
                                                      QStringLiteral("\U0001F680")),
                                       addAcme(customer), HostData::CompletedFor(Today().addDays(3), 12));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();

    const QString description =
        QStringLiteral("Premiers secours \u2013 niveau 2 \u271A: \u00D1\u00FA\u00F1ez-\u00D8rsted, "
                       "Zo\u00EB \u674E \U0001F680 - Expires ") +
        DateText(Today().addDays(3));
    for (const QString &recipient : {QStringLiteral("mgr@velmar.test"), QStringLiteral("staffer@velmar.test"),
                                     QStringLiteral("client@client.test")}) {
        const QList<ReceivedMail> mails = mailTo(recipient);
        ASSERT_EQ(mails.size(), 1) << recipient.toStdString();
        EXPECT_EQ(mails[0].charset.toLower(), QStringLiteral("utf-8"));
        EXPECT_EQ(QString::fromUtf8(mails[0].body), digest({body(customer, id, description)}, footer));
        EXPECT_EQ(mails[0].header(QStringLiteral("Subject")), QStringLiteral("Notification from ") + company);
        EXPECT_TRUE(mails[0].header(QStringLiteral("From")).startsWith(company))
            << mails[0].header(QStringLiteral("From")).toStdString();
        EXPECT_TRUE(mails[0].defects.isEmpty()) << mails[0].defects.join(QLatin1Char(' ')).toStdString();
        // Nothing but 7-bit text on the wire.
        for (char c : mails[0].raw)
            ASSERT_EQ(c & 0x80, 0);
    }
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT ItemDesc FROM Issues WHERE ItemID = %1").arg(id)).toString(),
              description);
    expectSecondCycleQuiet();
}

TEST_F(HostInput, apostrophesAndInjectionInEveryTextReachingAStatement_storedIntactNothingElseDone)
{
    const QString payload = QStringLiteral("x'); DELETE FROM Issues; --");
    const QString category = QStringLiteral("Contract'); DELETE FROM AutomationServer_Emails; --");
    const QString priority = QStringLiteral("High'); UPDATE Issues SET Status = 'Closed'; --");
    const QString company = QStringLiteral("O'Brien & Sons'); DROP TABLE Issues; --");
    db.exec(QStringLiteral("UPDATE Company SET Name = %1, AutomationServerEmailFrom = 'o''brien@velmar.test',"
                           " AutomationServerEmailFooter = %2")
                .arg(HostData::Literal(company), HostData::Literal(payload)));
    host.AddRule(QStringLiteral("Category = %1, IssuePriority = %2")
                     .arg(HostData::Literal(category), HostData::Literal(priority)));
    StartMail();
    // Issues of the host application that must come through untouched.
    for (int i = 0; i < 3; ++i)
        db.exec(
            QStringLiteral("INSERT INTO Issues (Description, Status, EnteredBy) VALUES ('canary', 'Open', 'someone')"));
    const qint64 contract =
        host.AddContract(QStringLiteral("O'Connell'); DELETE FROM Issues; --"),
                         host.AddStaff(QStringLiteral("o'hara@velmar.test")), QStringLiteral("client@client.test"));
    host.AddSpecialist(contract, host.AddStaff(QStringLiteral("d'arcy@velmar.test")));
    const qint64 id =
        host.AddTraining(host.AddItem(QStringLiteral("First Aid'); DROP TABLE Issues; --")),
                         host.AddPerson(QStringLiteral("Sean'); DELETE FROM Issues; --"), QStringLiteral("'"),
                                        QStringLiteral("O'Brien"), QStringLiteral("'';")),
                         contract, HostData::CompletedFor(Today().addDays(3), 12));
    const QString log = Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << log.toStdString();

    const QString description =
        QStringLiteral("First Aid'); DROP TABLE Issues; --: O'Brien, Sean'); DELETE FROM Issues; --"
                       " ' ''; - Expires ") +
        DateText(Today().addDays(3));
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Description = 'canary' AND Status = 'Open'")), 3);
    const QVariantMap issue = db.queryRow(QStringLiteral("SELECT * FROM Issues WHERE EnteredBy = 'AUTO SERVER'"));
    EXPECT_EQ(issue.value(QStringLiteral("ItemDesc")).toString(), description);
    EXPECT_EQ(issue.value(QStringLiteral("Priority")).toString(), priority);
    EXPECT_EQ(issue.value(QStringLiteral("Status")).toString(), QStringLiteral("Open"));
    const QVariantMap logRow = db.queryRow(QStringLiteral("SELECT * FROM AutomationServer_Emails"));
    EXPECT_EQ(logRow.value(QStringLiteral("Category")).toString(), category);
    EXPECT_EQ(logRow.value(QStringLiteral("ItemID")).toLongLong(), id);
    // The category is not a client category: manager and specialists only.
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent WHERE EmailFrom = 'o''brien@velmar.test' AND"
                                   " EmailFromName = %1 AND EmailSent = 1")
                        .arg(HostData::Literal(company))),
              2);
    const QList<ReceivedMail> toManager = mailTo(QStringLiteral("o'hara@velmar.test"));
    ASSERT_EQ(toManager.size(), 1);
    EXPECT_EQ(QString::fromUtf8(toManager[0].body),
              digest({body(QStringLiteral("O'Connell'); DELETE FROM Issues; --"), id, description)}, payload));
    EXPECT_EQ(toManager[0].header(QStringLiteral("Subject")), QStringLiteral("Notification from ") + company);
    EXPECT_EQ(mailTo(QStringLiteral("d'arcy@velmar.test")).size(), 1);
    // The log row with its quoted category keeps the certification from a second notice.
    expectSecondCycleQuiet();

    // Renewed: the automatic issue is closed, its text kept with the note.
    db.exec(QStringLiteral("UPDATE CustomerEmployeeTraining SET CompletedDate = '%1' WHERE ID = %2")
                .arg(HostData::Iso(Today()))
                .arg(id));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT Description FROM Issues WHERE EnteredBy = 'AUTO SERVER'"))
                  .toString(),
              QStringLiteral("(AUTO ISSUE) ") + description + QStringLiteral("\r\n\r\n(AUTO CLOSED ") + DateText(kNow) +
                  QStringLiteral(")"));
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE Description = 'canary' AND Status = 'Open'")), 3);
}

TEST_F(HostInput, monthEnds_renewalDatesClampLikeTheHostAndAreNotifiedOnce)
{
    host.AddRule();
    StartMail();
    const qint64 contract = addAcme();
    const qint64 person = host.AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant());
    struct Case
    {
        const char *completed;
        int renews;
        QDate renewal;
        bool due;
    };
    const QList<Case> cases = {
        {"2025-12-31", 12, QDate(2026, 12, 31), true},        {"2026-11-30", 1, QDate(2026, 12, 30), true},
        {"2024-02-29", 34, QDate(2026, 12, 29), true},        // from a leap day
        {"2025-10-31", 13, QDate(2026, 11, 30), true},        // 31st clamped to the 30th, overdue
        {"2026-12-07 23:59:59", 1, QDate(2027, 1, 7), false}, // one day past the window
        {"2024-12-31", 26, QDate(2027, 2, 28), false},
    };
    QList<qint64> due;
    for (const Case &c : cases) {
        const qint64 id = host.AddTraining(host.AddItem(QStringLiteral("Course %1").arg(c.renews), c.renews), person,
                                           contract, QString::fromLatin1(c.completed));
        if (c.due)
            due.append(id);
    }
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
    for (int i = 0; i < cases.size(); ++i) {
        if (!cases[i].due)
            continue;
        const QString expires = QStringLiteral(" - Expires ") + DateText(cases[i].renewal) + kCrLf;
        EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent WHERE instr(EmailBody, %1) > 0")
                            .arg(HostData::Literal(expires))),
                  3)
            << cases[i].completed;
    }
    // Only the overdue one is inside the 14-day issue window.
    EXPECT_EQ(Count(QStringLiteral("Issues")), 1);
    expectSecondCycleQuiet();
}

TEST_F(HostInput, leapDays_februaryTwentyNinthReachedFromEveryDirectionAndNotifiedOnce)
{
    const QDateTime leapYear(QDate(2028, 2, 10), QTime(9, 0, 0));
    SetClockForTests([leapYear] { return leapYear; });
    host.AddRule();
    StartMail();
    const qint64 contract = addAcme();
    const qint64 person = host.AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant());
    const QList<QPair<const char *, int>> toLeapDay = {{"2024-02-29", 48},
                                                       {"2027-01-31", 13},
                                                       {"2026-03-31", 23},
                                                       {"2027-03-31", 11}};
    QList<qint64> due;
    for (const auto &c : toLeapDay)
        due.append(host.AddTraining(host.AddItem(QStringLiteral("Course"), c.second), person, contract,
                                    QString::fromLatin1(c.first)));
    due.append(
        host.AddTraining(host.AddItem(QStringLiteral("Course"), 12), person, contract, QStringLiteral("2027-02-28")));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent WHERE instr(EmailBody, ' - Expires 2/29/2028') > 0")),
              4 * 3);
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_EmailsSent WHERE instr(EmailBody, ' - Expires 2/28/2028') > 0")),
              3);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 0);
    expectSecondCycleQuiet();

    // Three weeks on, the leap day is inside the issue window: one issue
    // each, and no second notice.
    SetClockForTests([] { return QDateTime(QDate(2028, 3, 1), QTime(9, 0, 0)); });
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE AUTO_Date = '2028-02-29 00:00:00'")), 4);
    EXPECT_EQ(Count(QStringLiteral("Issues")), 5);
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
    expectSecondCycleQuiet();
}

TEST_F(HostInput, renewsNullZeroOrNegative_nullNeverDueOthersNotifiedOnce)
{
    host.AddRule();
    StartMail();
    const qint64 contract = addAcme();
    const qint64 person = host.AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant());
    host.AddTraining(host.AddItem(QStringLiteral("Null"), QVariant()), person, contract, QStringLiteral("2026-12-10"));
    const QList<qint64> due = {
        host.AddTraining(host.AddItem(QStringLiteral("Zero"), 0), person, contract, QStringLiteral("2026-12-10")),
        host.AddTraining(host.AddItem(QStringLiteral("Minus one"), -1), person, contract, QStringLiteral("2027-01-05")),
        host.AddTraining(host.AddItem(QStringLiteral("Minus two years"), -24), person, contract,
                         QStringLiteral("2027-06-01")),
    };
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
    EXPECT_EQ(Count(QStringLiteral("Issues")), 3);
    EXPECT_EQ(Count(QStringLiteral("Issues WHERE AUTO_Date = '2025-06-01 00:00:00'")), 1);
    expectSecondCycleQuiet();
}

TEST_F(HostInput, renewsBeyondTheCalendar_cycleErrorNamesTheOverflowAndMendedRecordsFollow)
{
    host.AddRule();
    StartMail();
    const qint64 contract = addAcme();
    const qint64 person = host.AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant());
    const qint64 due = host.AddTraining(host.AddItem(QStringLiteral("First Aid")), person, contract,
                                        HostData::CompletedFor(Today().addDays(3), 12));
    const qint64 broken = host.AddItem(QStringLiteral("Forever"), 2000000000);
    host.AddTraining(broken, person, contract, QStringLiteral("2026-01-01"));
    db.exec(QStringLiteral(
        "INSERT INTO AutomationServer_EmailsSent (EmailFrom, EmailTo, EmailSubject, EmailBody, EmailSent)"
        " VALUES ('other@velmar.test', 'other@client.test', 's', 'from another writer', 0)"));
    Cycle();
    // As on the host: the query cannot compute a renewal date, so the alert
    // fails as a whole, with the database's words; other mail still goes.
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(last.errors.size(), 1);
    EXPECT_EQ(last.errors[0],
              QStringLiteral("Error in training expiry: Adding a value to a 'datetime' column caused an overflow."));
    EXPECT_EQ(mailTo(QStringLiteral("other@client.test")).size(), 1);

    db.exec(QStringLiteral("UPDATE TrainingItem SET Renews = 24 WHERE ID = %1").arg(broken));
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails WHERE ItemID = %1").arg(due)), 1);
}

namespace {
struct DayCounts
{
    const char *name;
    const char *assignment; // SET clause for the rule
    const char *error;      // nullptr: usable
    int dueDays;            // with a usable value: certifications due this many days ahead are notified
};

class RuleDayCounts : public HostInput, public ::testing::WithParamInterface<DayCounts>
{};
} // namespace

TEST_P(RuleDayCounts, dayCountsOutOfRange_clearErrorOrAWindowThatHolds)
{
    const DayCounts &counts = GetParam();
    host.AddRule(QLatin1String(counts.assignment));
    StartMail();
    const qint64 contract = addAcme();
    const qint64 person = host.AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant());
    const qint64 item = host.AddItem(QStringLiteral("First Aid"));
    QHash<int, qint64> byDays;
    for (int days : {-30, -3, 0, 2, 40, 4000})
        byDays.insert(days,
                      host.AddTraining(item, person, contract, HostData::CompletedFor(Today().addDays(days), 12)));
    const QString log = Cycle();
    if (counts.error != nullptr) {
        EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
        ASSERT_EQ(last.errors.size(), 1) << log.toStdString();
        EXPECT_TRUE(
            last.errors[0].startsWith(QLatin1String("Error in training expiry: ") + QLatin1String(counts.error)))
            << last.errors[0].toStdString();
        EXPECT_EQ(Count(QStringLiteral("AutomationServer_Emails")), 0);
        return;
    }
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << log.toStdString();
    QList<qint64> due;
    for (auto it = byDays.cbegin(); it != byDays.cend(); ++it) {
        if (it.key() <= counts.dueDays)
            due.append(it.value());
    }
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, due, 3, true));
    expectSecondCycleQuiet();
}

INSTANTIATE_TEST_SUITE_P(
    Rule, RuleDayCounts,
    ::testing::Values(DayCounts{"daysBeyond32Bits", "DaysInAdvance = 3000000000",
                                "AutomationServer_Alert.DaysInAdvance = \"3000000000\": overflow", 0},
                      DayCounts{"issueDaysBeyond16Bits", "CreateIssueDaysInAdvance = 40000",
                                "AutomationServer_Alert.CreateIssueDaysInAdvance = \"40000\": overflow", 0},
                      DayCounts{"daysNotANumber", "DaysInAdvance = 'thirty'",
                                "AutomationServer_Alert.DaysInAdvance = \"thirty\": not a number", 0},
                      DayCounts{"daysNegative", "DaysInAdvance = -5", nullptr, -5},
                      DayCounts{"daysFractional", "DaysInAdvance = 2.5", nullptr, 2},
                      DayCounts{"largestDays", "DaysInAdvance = 2147483647", nullptr, 4000},
                      DayCounts{"smallestIssueDays", "CreateIssueDaysInAdvance = -32768", nullptr, 30}),
    [](const ::testing::TestParamInfo<DayCounts> &info) { return std::string(info.param.name); });

namespace {
class PortTexts : public HostInput, public ::testing::WithParamInterface<const char *>
{};
} // namespace

TEST_P(PortTexts, unusablePortText_eachMessageReportsItThenSentOnceMended)
{
    host.AddRule();
    const SmtpServer &server = StartMail();
    const qint64 id =
        host.AddTraining(host.AddItem(QStringLiteral("First Aid")),
                         host.AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant()),
                         addAcme(), HostData::CompletedFor(Today().addDays(3), 12));
    const QString port = QString::fromLatin1(GetParam());
    db.exec(QStringLiteral("UPDATE Company SET AutomationServerEmailServerPort = %1").arg(HostData::Literal(port)));
    LoadSettings();
    Cycle();
    // Every message would fail alike: the first says why, the rest wait.
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(last.errors.size(), 2) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(last.errors[0].contains(QStringLiteral("The mail server port \"%1\" is ").arg(port)))
        << last.errors[0].toStdString();
    EXPECT_TRUE(last.errors[1].endsWith(QLatin1String("2 message(s) stay queued for the next poll")));
    EXPECT_EQ(Unsent(), 3);
    EXPECT_EQ(server.connectionCount(), 0);

    // Spaces around the number are allowed.
    db.exec(QStringLiteral("UPDATE Company SET AutomationServerEmailServerPort = ' %1 '").arg(server.port()));
    LoadSettings();
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, {id}, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, AllMail(), true));
}

INSTANTIATE_TEST_SUITE_P(Company, PortTexts, ::testing::Values("", "abc", "99999999999", "25 26"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return "case" + std::to_string(info.index);
                         });

TEST_F(HostInput, mailServerNameNull_eachMessageReportsItAndWaitsForTheMendedSetting)
{
    host.AddRule();
    StartMail();
    const qint64 id =
        host.AddTraining(host.AddItem(QStringLiteral("First Aid")),
                         host.AddPerson(QStringLiteral("Jane"), QVariant(), QStringLiteral("Doe"), QVariant()),
                         addAcme(), HostData::CompletedFor(Today().addDays(3), 12));
    db.exec(QStringLiteral("UPDATE Company SET AutomationServerEmailServer = NULL"));
    LoadSettings();
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::TaskFailed);
    ASSERT_EQ(last.errors.size(), 2);
    EXPECT_TRUE(last.errors[0].endsWith(QLatin1String(" not sent: The mail server name \"\" is not valid.")))
        << last.errors[0].toStdString();
    EXPECT_EQ(Unsent(), 3);

    db.exec(QStringLiteral("UPDATE Company SET AutomationServerEmailServer = '127.0.0.1'"));
    LoadSettings();
    Cycle();
    EXPECT_EQ(last.outcome, CycleOutcome::Completed) << last.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_NO_VIOLATIONS(DatabaseViolations(db, {id}, 3, true));
    EXPECT_NO_VIOLATIONS(MailViolations(db, AllMail(), true));
}
