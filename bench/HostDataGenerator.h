#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>

// A generated host database: every table the server reads, as plain rows, so
// the same data can be laid out in the embedded backend and written as a
// T-SQL script. Deterministic for a seed and a "today".
struct HostTable
{
    QString name;
    QStringList columns;
    bool identity = false;    // first column is an identity the script must insert explicitly
    QList<QVariantList> rows; // Null = QVariant(); dates as QDate or QDateTime
};

struct GeneratedHostDataOptions
{
    qint64 records = 10000; // CustomerEmployeeTraining rows
    quint64 seed = 1;
    QDate today;
    int contracts = 500;
    int smtpPort = 2525;
    bool smtpSecure = false;
};

// What the first cycle must do on this data, worked out here from the rows
// themselves (never by the server's SQL), so a run can be checked against it.
struct GeneratedHostDataExpectation
{
    qint64 notifiable = 0;  // certifications inside the notification window
    qint64 issueWindow = 0; // of those, inside the issue window (automatic issues)
    qint64 managerRows = 0; // queue rows per recipient kind
    qint64 specialistRows = 0;
    qint64 clientRows = 0;
    qint64 recipientLists = 0; // distinct recipient lists among the queue rows = digests
};

struct GeneratedHostData
{
    QList<HostTable> tables;
    GeneratedHostDataExpectation expected;

    const HostTable *table(const QString &name) const;
};

GeneratedHostData GenerateHostData(const GeneratedHostDataOptions &options);

// Deterministic on every platform and standard library (splitmix64): the
// standard distributions are not specified bit for bit.
class BenchRandom
{
public:
    explicit BenchRandom(quint64 seed) : m_state(seed) {}
    quint64 next();
    int below(int bound); // 0 .. bound-1
    double unit();        // [0, 1)
    bool chance(double probability) { return unit() < probability; }

private:
    quint64 m_state;
};
