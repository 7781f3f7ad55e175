#include "bench/HostDataGenerator.h"

#include <QDateTime>
#include <QSet>
#include <QTime>

#include <algorithm>

using namespace Qt::StringLiterals;

quint64 BenchRandom::next()
{
    quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int BenchRandom::below(int bound)
{
    return bound <= 0 ? 0 : int(next() % quint64(bound));
}

double BenchRandom::unit()
{
    return double(next() >> 11) * (1.0 / 9007199254740992.0);
}

const HostTable *GeneratedHostData::table(const QString &name) const
{
    for (const HostTable &t : tables)
        if (t.name == name)
            return &t;
    return nullptr;
}

namespace {

const QStringList kFirstNames = {u"James"_s,   u"Mary"_s,  u"Robert"_s,  u"Patricia"_s,  u"John"_s,    u"Jennifer"_s,
                                 u"Michael"_s, u"Linda"_s, u"David"_s,   u"Elizabeth"_s, u"William"_s, u"Barbara"_s,
                                 u"Richard"_s, u"Susan"_s, u"Joseph"_s,  u"Jessica"_s,   u"Thomas"_s,  u"Sarah"_s,
                                 u"Zoë"_s,     u"José"_s,  u"Siobhán"_s, u"Karen"_s,     u"Daniel"_s,  u"Nancy"_s};
const QStringList kMiddleNames = {u"A"_s, u"B"_s, u"C"_s, u"J"_s, u"Lee"_s, u"Marie"_s, u"Q"_s, u"Ann"_s};
const QStringList kLastNames = {u"Smith"_s,  u"Johnson"_s, u"Williams"_s,  u"Brown"_s,    u"Jones"_s,    u"Garcia"_s,
                                u"Miller"_s, u"Davis"_s,   u"Rodriguez"_s, u"Martinez"_s, u"O'Brien"_s,  u"D'Souza"_s,
                                u"Müller"_s, u"Nguyen"_s,  u"Wilson"_s,    u"Anderson"_s, u"Taylor"_s,   u"Thomas"_s,
                                u"Moore"_s,  u"Jackson"_s, u"Martin"_s,    u"Lee"_s,      u"Thompson"_s, u"White"_s};
const QStringList kSuffixes = {u"Jr"_s, u"Sr"_s, u"II"_s, u"III"_s};
const QStringList kCustomerWords = {u"Northern"_s, u"Harbour"_s, u"Summit"_s,    u"Pioneer"_s,
                                    u"O'Neill"_s,  u"Granite"_s, u"Riverside"_s, u"Atlas"_s,
                                    u"Beacon"_s,   u"Cedar"_s,   u"Delta"_s,     u"Evergreen"_s};
const QStringList kCustomerKinds = {u"Logistics"_s,    u"Engineering"_s, u"Foods"_s,
                                    u"Construction"_s, u"Chemicals"_s,   u"Health"_s};

struct TrainingItemDef
{
    int id;
    QString name;
    int renews;
    int optional;
};
const QList<TrainingItemDef> kItems = {
    {1, u"First Aid"_s, 24, 0},
    {2, u"Fire Safety"_s, 12, 0},
    {3, u"Forklift Operation"_s, 36, 0},
    {4, u"Working at Heights"_s, 24, 0},
    {5, u"Manual Handling Refresher"_s, 12, 1},
};

const int kManagers = 40;
const int kSpecialists = 120;

QString Pick(BenchRandom &random, const QStringList &list)
{
    return list.at(random.below(int(list.size())));
}

QDateTime Midnight(const QDate &date)
{
    return QDateTime(date, QTime(0, 0));
}

} // namespace

GeneratedHostData GenerateHostData(const GeneratedHostDataOptions &options)
{
    BenchRandom random(options.seed);
    const QDate today = options.today.isValid() ? options.today : QDate::currentDate();
    const QDate notificationWindow = today.addDays(30);
    const QDate issueWindow = today.addDays(14);
    GeneratedHostData data;

    HostTable company{u"Company"_s,
                      {u"Name"_s, u"Address1"_s, u"Address2"_s, u"City"_s, u"State"_s, u"Zip"_s, u"Phone"_s, u"Fax"_s,
                       u"Email"_s, u"Website"_s, u"AutomationServerPoll"_s, u"AutomationServerEmailFrom"_s,
                       u"AutomationServerEmailServer"_s, u"AutomationServerEmailServerPort"_s,
                       u"AutomationServerEmailUser"_s, u"AutomationServerEmailPassword"_s,
                       u"AutomationServerEmailUseSSLTLS"_s, u"AutomationServerEmailFooter"_s},
                      false,
                      {}};
    company.rows.append({u"Velmar Bench Training"_s, u"1 Bench Street"_s, QVariant(), u"Springfield"_s, u"IL"_s,
                         u"62701"_s, u"555-0100"_s, QVariant(), u"office@velmar-bench.example"_s,
                         u"https://velmar-bench.example"_s, 1, u"alerts@velmar-bench.example"_s, u"127.0.0.1"_s,
                         QString::number(options.smtpPort), u""_s, u""_s, options.smtpSecure ? 1 : 0,
                         u"Velmar Bench Training - automatic notification, do not reply."_s});
    data.tables.append(company);

    HostTable alert{u"AutomationServer_Alert"_s,
                    {u"Item"_s, u"Category"_s, u"EmailContractManager"_s, u"EmailContractSpecialist"_s,
                     u"EmailClient"_s, u"DaysInAdvance"_s, u"CreateIssue"_s, u"CreateIssueDaysInAdvance"_s,
                     u"IssuePriority"_s, u"AutoCloseIssue"_s},
                    false,
                    {}};
    alert.rows.append({u"Training Expire"_s, u"Contract"_s, 1, 1, 1, 30, 1, 14, u"High"_s, 1});
    data.tables.append(alert);

    // Staff: managers first, then specialists. A few specialists have no
    // address, which the specialist list must skip.
    HostTable staff{u"Employee"_s, {u"ID"_s, u"FirstName"_s, u"LastName"_s, u"Email"_s}, true, {}};
    QList<QString> staffEmail(kManagers + kSpecialists + 1);
    for (int id = 1; id <= kManagers + kSpecialists; ++id) {
        const bool manager = id <= kManagers;
        const QString first = Pick(random, kFirstNames);
        const QString last = Pick(random, kLastNames);
        QVariant email;
        if (manager || !random.chance(0.05)) {
            staffEmail[id] = u"%1.%2@velmar-bench.example"_s.arg(manager ? u"manager"_s : u"specialist"_s).arg(id);
            email = staffEmail[id];
        }
        staff.rows.append({id, first, last, email});
    }
    data.tables.append(staff);

    HostTable items{u"TrainingItem"_s, {u"ID"_s, u"Name"_s, u"Renews"_s, u"Optional"_s}, true, {}};
    for (const TrainingItemDef &item : kItems)
        items.rows.append({item.id, item.name, item.renews, item.optional});
    data.tables.append(items);

    // Contracts: a few inactive ones; every contract has its manager and its
    // client addresses (the rule's category "Contract" picks EmailContract).
    HostTable contracts{u"ServiceContract"_s,
                        {u"ID"_s, u"CustomerName"_s, u"Status"_s, u"PrimaryContactEmail"_s, u"ContractManagerID"_s,
                         u"EmailEmployee"_s, u"EmailContract"_s},
                        true,
                        {}};
    QList<bool> contractActive(options.contracts + 1, false);
    QList<int> contractManager(options.contracts + 1, 0);
    QList<QString> contractClient(options.contracts + 1);
    for (int id = 1; id <= options.contracts; ++id) {
        const bool active = !random.chance(0.02);
        const int manager = 1 + random.below(kManagers);
        const QString customer = u"%1 %2 %3"_s.arg(Pick(random, kCustomerWords), Pick(random, kCustomerKinds)).arg(id);
        const QString client = u"client.contract%1@customer%1.example"_s.arg(id);
        contractActive[id] = active;
        contractManager[id] = manager;
        contractClient[id] = client;
        contracts.rows.append({id, customer + u" Ltd"_s, active ? u"Active"_s : u"Inactive"_s,
                               u"contact%1@customer%1.example"_s.arg(id), manager,
                               u"hr.contract%1@customer%1.example"_s.arg(id), client});
    }
    data.tables.append(contracts);

    // Specialists: 0 to 3 distinct ones per contract.
    HostTable specialists{u"ServiceContractSpecialist"_s, {u"ID"_s, u"ServiceContractID"_s, u"EmployeeID"_s}, true, {}};
    QList<QString> specialistList(options.contracts + 1);
    qint64 specialistRowId = 0;
    for (int contract = 1; contract <= options.contracts; ++contract) {
        const int count = random.below(4);
        QList<int> chosen;
        while (chosen.size() < count) {
            const int employee = kManagers + 1 + random.below(kSpecialists);
            if (!chosen.contains(employee))
                chosen.append(employee);
        }
        QStringList addresses;
        for (int employee : chosen) {
            specialists.rows.append({++specialistRowId, contract, employee});
            if (!staffEmail[employee].isEmpty())
                addresses.append(staffEmail[employee]);
        }
        std::sort(addresses.begin(), addresses.end(),
                  [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        for (const QString &address : addresses)
            specialistList[contract] += address + u';';
    }
    data.tables.append(specialists);

    // Customer employees: N/5, each working under one contract, a few
    // suspended or terminated, middle names and suffixes often Null.
    const qint64 employeeCount = (options.records + 4) / 5;
    HostTable people{u"CustomerEmployee"_s,
                     {u"ID"_s, u"FirstName"_s, u"MiddleName"_s, u"LastName"_s, u"Suffix"_s, u"Suspended"_s,
                      u"Terminated"_s},
                     true,
                     {}};
    QList<int> personContract(employeeCount + 1, 0);
    QList<bool> personWorking(employeeCount + 1, false);
    for (qint64 id = 1; id <= employeeCount; ++id) {
        const bool suspended = random.chance(0.02);
        const bool terminated = random.chance(0.02);
        personContract[id] = 1 + random.below(options.contracts);
        personWorking[id] = !suspended && !terminated;
        people.rows.append(
            {id, Pick(random, kFirstNames), random.chance(0.6) ? QVariant(Pick(random, kMiddleNames)) : QVariant(),
             Pick(random, kLastNames), random.chance(0.08) ? QVariant(Pick(random, kSuffixes)) : QVariant(),
             suspended ? 1 : 0, terminated ? 1 : 0});
    }
    data.tables.append(people);

    // Training records: one per employee and item. About 5 % renew within the
    // issue window or are overdue, 5 % more within the notification window,
    // 1 % were never completed, the rest renew later.
    HostTable trainings{u"CustomerEmployeeTraining"_s,
                        {u"ID"_s, u"Completed"_s, u"CompletedDate"_s, u"TrainingItemID"_s, u"EmployeeID"_s,
                         u"ContractID"_s},
                        true,
                        {}};
    HostTable emailLog{u"AutomationServer_Emails"_s,
                       {u"ID"_s, u"EmailDate"_s, u"Category"_s, u"Item"_s, u"ItemID"_s, u"ItemKey"_s,
                        u"ContractManager"_s, u"ContractSpecialist"_s, u"Client"_s},
                       true,
                       {}};
    HostTable queue{u"AutomationServer_EmailsSent"_s,
                    {u"ID"_s, u"EmailFrom"_s, u"EmailFromName"_s, u"EmailTo"_s, u"EmailSubject"_s, u"EmailBody"_s,
                     u"EmailSent"_s, u"DateSent"_s},
                    true,
                    {}};
    HostTable issues{u"Issues"_s,
                     {u"ID"_s, u"ContractID"_s, u"Category"_s, u"ItemID"_s, u"ItemDesc"_s, u"IssueDate"_s, u"DueDate"_s,
                      u"Description"_s, u"Status"_s, u"Priority"_s, u"EnteredBy"_s, u"EnteredDate"_s, u"EditedBy"_s,
                      u"EditedDate"_s, u"AUTO_Item"_s, u"AUTO_Date"_s},
                     true,
                     {}};
    QSet<QString> recipientLists;
    for (qint64 id = 1; id <= options.records; ++id) {
        const qint64 person = (id - 1) / 5 + 1;
        const TrainingItemDef &item = kItems.at(int((id - 1) % 5));
        const int contract = personContract[person];
        const double band = random.unit();
        QVariant completedDate;
        QDate renewal;
        if (band >= 0.01) {
            QDate target;
            if (band < 0.06)
                target = today.addDays(-180 + random.below(195)); // overdue .. today+14
            else if (band < 0.11)
                target = today.addDays(15 + random.below(16)); // today+15 .. today+30
            else
                target = today.addDays(31 + random.below(item.renews * 30 - 31));
            const QDate completed = target.addMonths(-item.renews);
            renewal = completed.addMonths(item.renews); // month ends clamp as the server does
            completedDate = Midnight(completed);

            // History: earlier renewals of this record were notified and
            // sometimes had an automatic issue, now closed.
            if (random.chance(0.2)) {
                const QDateTime previous = Midnight(completed);
                emailLog.rows.append({qint64(emailLog.rows.size() + 1), previous.addDays(-30).addSecs(9 * 3600 + 5),
                                      u"Contract"_s, u"Training Expire"_s, id, previous, 1, 1, 1});
                queue.rows.append({qint64(queue.rows.size() + 1), u"alerts@velmar-bench.example"_s,
                                   u"Velmar Bench Training"_s,
                                   u"manager.%1@velmar-bench.example"_s.arg(contractManager[contract]),
                                   u"Earlier notification %1"_s.arg(id), u"Item ID: %1\r\n"_s.arg(id), 1,
                                   previous.addDays(-30).addSecs(9 * 3600 + 7)});
                if (random.chance(0.5))
                    issues.rows.append({qint64(issues.rows.size() + 1), contract, u""_s, id,
                                        u"%1 (earlier renewal)"_s.arg(item.name), Midnight(completed.addDays(-14)),
                                        previous, u"(AUTO ISSUE) earlier renewal\r\n\r\n(AUTO CLOSED)"_s, u"Closed"_s,
                                        u"High"_s, u"AUTO SERVER"_s, previous.addDays(-14), u"AUTO SERVER"_s, previous,
                                        u"Training Expire"_s, previous});
            }
        }
        trainings.rows.append({id, completedDate.isNull() ? 0 : 1, completedDate, item.id, person, contract});

        if (!renewal.isValid() || item.optional || !contractActive[contract] || !personWorking[person] ||
            renewal > notificationWindow)
            continue;
        ++data.expected.notifiable;
        if (renewal <= issueWindow)
            ++data.expected.issueWindow;
        const QString manager = staffEmail[contractManager[contract]];
        if (!manager.isEmpty()) {
            ++data.expected.managerRows;
            recipientLists.insert(manager);
        }
        if (!specialistList[contract].isEmpty()) {
            ++data.expected.specialistRows;
            recipientLists.insert(specialistList[contract]);
        }
        ++data.expected.clientRows;
        recipientLists.insert(contractClient[contract]);
    }
    data.expected.recipientLists = recipientLists.size();

    // Issues the host's users filed by hand: never touched by the server.
    const qint64 manualIssues = options.records / 50;
    for (qint64 n = 0; n < manualIssues; ++n) {
        const qint64 item = 1 + qint64(random.next() % quint64(options.records));
        const QDateTime when = Midnight(today.addDays(-random.below(400))).addSecs(10 * 3600);
        issues.rows.append({qint64(issues.rows.size() + 1), 1 + random.below(options.contracts), u"Training"_s, item,
                            u"Follow-up on training record %1"_s.arg(item), when, when.addDays(30),
                            u"Customer asked about renewal."_s, random.chance(0.5) ? u"Open"_s : u"Closed"_s,
                            u"Normal"_s, u"jsmith"_s, when, u"jsmith"_s, when, QVariant(), QVariant()});
    }

    data.tables.append(trainings);
    data.tables.append(emailLog);
    data.tables.append(queue);
    data.tables.append(issues);
    return data;
}
