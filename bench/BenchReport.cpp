#include "bench/BenchReport.h"

#include <QJsonArray>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace {

QString Number(qint64 value)
{
    return QLocale(QLocale::English).toString(value);
}

QString Fixed(double value, int decimals = 1)
{
    return QLocale(QLocale::English).toString(value, 'f', decimals);
}

QString Mib(qint64 kib)
{
    return kib < 0 ? u"n/a"_s : Fixed(double(kib) / 1024.0);
}

QString Verdict(bool met)
{
    return met ? u"yes"_s : u"**NO**"_s;
}

const PhaseResult *Phase(const MeasuredCycle &cycle, const QString &name)
{
    for (const PhaseResult &phase : cycle.phases)
        if (phase.name == name)
            return &phase;
    return nullptr;
}

double PhaseMs(const MeasuredCycle &cycle, const QString &name)
{
    const PhaseResult *phase = Phase(cycle, name);
    return phase ? phase->milliseconds : 0;
}

qint64 PhaseStatements(const MeasuredCycle &cycle, const QString &name)
{
    const PhaseResult *phase = Phase(cycle, name);
    return phase ? phase->statements : 0;
}

QJsonObject PhaseJson(const PhaseResult &phase)
{
    return QJsonObject{{u"name"_s, phase.name},
                       {u"ran"_s, phase.ran},
                       {u"milliseconds"_s, phase.milliseconds},
                       {u"cpuMilliseconds"_s, phase.cpuMilliseconds},
                       {u"statements"_s, phase.statements},
                       {u"messages"_s, phase.messages},
                       {u"peakRssKiB"_s, phase.peakRssKiB}};
}

QJsonObject DiagnosisJson(const Diagnosis &diagnosis)
{
    QJsonArray queries;
    for (const QueryTiming &q : diagnosis.queries)
        queries.append(QJsonObject{{u"name"_s, q.name},
                                   {u"rows"_s, q.rows},
                                   {u"systemMs"_s, q.systemMs},
                                   {u"tzSetMs"_s, q.tzSetMs},
                                   {u"integerMs"_s, q.integerMs},
                                   {u"sameResults"_s, q.sameResults},
                                   {u"plan"_s, QJsonArray::fromStringList(q.plan)}});
    return QJsonObject{{u"queries"_s, queries},
                       {u"executeMicroseconds"_s, diagnosis.executeMicroseconds},
                       {u"preparedMicroseconds"_s, diagnosis.preparedMicroseconds},
                       {u"dateAddMicroseconds"_s, diagnosis.dateAddMicroseconds},
                       {u"integerDateAddMicroseconds"_s, diagnosis.integerDateAddMicroseconds},
                       {u"rewriteBatchMs"_s, diagnosis.rewrite.ms},
                       {u"rewriteBatchMegabytesPerSecond"_s, diagnosis.rewrite.MegabytesPerSecond()}};
}

} // namespace

double NotifiedPerSecond(const SizeRun &run)
{
    if (run.cycles.isEmpty() || run.cycles.first().milliseconds <= 0)
        return 0;
    return double(run.cycles.first().notified) / (run.cycles.first().milliseconds / 1000.0);
}

double ReferenceRatio(const SizeRun &run)
{
    if (run.cycles.isEmpty() || run.reference.milliseconds <= 0)
        return 0;
    const MeasuredCycle &first = run.cycles.first();
    return (PhaseMs(first, u"notifications"_s) + PhaseMs(first, u"issue creation"_s)) / run.reference.milliseconds;
}

qint64 PeakRssKiB(const SizeRun &run)
{
    qint64 peak = -1;
    for (const MeasuredCycle &cycle : run.cycles)
        peak = std::max(peak, cycle.peakRssKiB);
    return peak;
}

QString MarkdownForSize(const SizeRun &run, const BenchTargets &targets)
{
    QString md;
    const QJsonObject rows = run.generated.value(u"rows"_s).toObject();
    const QJsonObject expected = run.generated.value(u"expected"_s).toObject();
    md += u"### N = %1 training records (seed %2)\n\n"_s.arg(Number(run.records)).arg(run.seed);
    md += u"Generated in %1 ms: %2 contracts, %3 customer employees, %4 training records, %5 specialist rows, "
          "%6 earlier log rows, %7 queued-and-sent rows, %8 issues. Expected first cycle: %9 notified, "_s
              .arg(Number(qint64(run.generated.value(u"milliseconds"_s).toDouble())))
              .arg(Number(qint64(rows.value(u"ServiceContract"_s).toDouble())))
              .arg(Number(qint64(rows.value(u"CustomerEmployee"_s).toDouble())))
              .arg(Number(qint64(rows.value(u"CustomerEmployeeTraining"_s).toDouble())))
              .arg(Number(qint64(rows.value(u"ServiceContractSpecialist"_s).toDouble())))
              .arg(Number(qint64(rows.value(u"AutomationServer_Emails"_s).toDouble())))
              .arg(Number(qint64(rows.value(u"AutomationServer_EmailsSent"_s).toDouble())))
              .arg(Number(qint64(rows.value(u"Issues"_s).toDouble())))
              .arg(Number(qint64(expected.value(u"notified"_s).toDouble())));
    md += u"%1 issues, %2 digests.\n\n"_s.arg(Number(qint64(expected.value(u"issues"_s).toDouble())))
              .arg(Number(qint64(expected.value(u"digests"_s).toDouble())));

    md += u"| Cycle | Phase | Wall ms | CPU ms | Statements | Messages | Peak RSS MiB |\n"
          "|---|---|---:|---:|---:|---:|---:|\n"_s;
    const auto cpu = [](double ms) { return ms < 0 ? u"n/a"_s : Fixed(ms, 0); };
    for (const MeasuredCycle &cycle : run.cycles) {
        for (const PhaseResult &phase : cycle.phases)
            md += u"| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n"_s.arg(cycle.label,
                                                                  phase.ran ? phase.name : phase.name + u" (off)"_s,
                                                                  Fixed(phase.milliseconds, 1),
                                                                  cpu(phase.cpuMilliseconds), Number(phase.statements),
                                                                  Number(phase.messages), Mib(phase.peakRssKiB));
        md += u"| %1 | **whole cycle** | **%2** | **%3** | **%4** | **%5** | **%6** |\n"_s
                  .arg(cycle.label, Fixed(cycle.milliseconds, 1), cpu(cycle.cpuMilliseconds), Number(cycle.statements),
                       Number(cycle.messages), Mib(cycle.peakRssKiB));
    }
    md += u"\n| Cycle | Notified | Queue rows | Issues created | Issues closed | Send failures |\n"
          "|---|---:|---:|---:|---:|---:|\n"_s;
    for (const MeasuredCycle &cycle : run.cycles)
        md += u"| %1 | %2 | %3 | %4 | %5 | %6 |\n"_s.arg(cycle.label, Number(cycle.notified), Number(cycle.queueRows),
                                                         Number(cycle.issuesCreated), Number(cycle.issuesClosed),
                                                         Number(cycle.failures.size()));
    md += u"\nRenewed before the third cycle: %1 trainings, %2 of them with an open automatic issue. "
          "Messages the sink received during the cycles: %3.\n\n"_s.arg(Number(run.renewed),
                                                                        Number(run.renewedWithOpenIssue),
                                                                        Number(run.sinkMessages));

    if (run.cycles.size() < 2)
        return md;
    const MeasuredCycle &first = run.cycles.at(0);
    const MeasuredCycle &second = run.cycles.at(1);
    const double notifiedRate = NotifiedPerSecond(run);
    const double ratio = ReferenceRatio(run);
    const double perNotified = first.notified ? double(PhaseStatements(first, u"notifications"_s)) / first.notified : 0;
    const double wholePerNotified = first.notified ? double(first.statements) / first.notified : 0;
    const double peakMib = double(PeakRssKiB(run)) / 1024.0;
    md += u"| Figure | Value | Target | Met |\n|---|---:|---:|---|\n"_s;
    md += u"| First cycle: notified certifications per second, end to end | %1 | >= %2 | %3 |\n"_s
              .arg(Fixed(notifiedRate, 0), Fixed(targets.notifiedPerSecond, 0),
                   Verdict(notifiedRate >= targets.notifiedPerSecond));
    md += u"| Set-based reference (%1 statements, one transaction), ms | %2 | | |\n"_s.arg(run.reference.statements)
              .arg(Fixed(run.reference.milliseconds, 1));
    md += u"| Notification + issue stretches / reference | %1x | <= %2x | %3 |\n"_s
              .arg(Fixed(ratio, 2), Fixed(targets.referenceRatio, 1),
                   Verdict(ratio > 0 && ratio <= targets.referenceRatio));
    md += u"| Reference wrote the same rows as the cycles (queue %1, log %2, issues %3) | %4 | same | %5 |\n"_s
              .arg(Number(run.reference.queueRows), Number(run.reference.logRows), Number(run.reference.issues),
                   run.referenceDifferences.isEmpty() ? u"same"_s : run.referenceDifferences.join(u"; "_s),
                   Verdict(run.referenceDifferences.isEmpty()));
    // The embedded backend runs each text DbConnection sends (a transaction
    // statement, a query, a statement, or the statements of one batch) in
    // one call, as SQL Server does: its count is the round trips that server
    // would see. Computed, not measured on a network.
    md += u"| Round trips per notified certification, notification stretch (SQL Server path, computed) | %1 | | |\n"_s
              .arg(Fixed(perNotified, 2));
    md +=
        u"| Round trips per notified certification, whole first cycle (SQL Server path, computed) | %1 | <= %2 | %3 |\n"_s
            .arg(Fixed(wholePerNotified, 2), Fixed(targets.roundTripsPerNotified, 1),
                 Verdict(wholePerNotified <= targets.roundTripsPerNotified));
    md += u"| Network time of the first cycle at %1 ms per round trip (computed), s | %2 | | |\n"_s
              .arg(Fixed(targets.msPerRoundTrip, 1),
                   Fixed(double(first.statements) * targets.msPerRoundTrip / 1000.0, 1));
    md += u"| Second cycle (nothing new), ms | %1 | < %2 | %3 |\n"_s.arg(Fixed(second.milliseconds, 1),
                                                                         Fixed(targets.secondCycleMs, 0),
                                                                         Verdict(second.milliseconds <
                                                                                 targets.secondCycleMs));
    md += u"| Peak resident memory, MiB | %1 | < %2 | %3 |\n\n"_s.arg(Fixed(peakMib, 1), Fixed(targets.peakRssMiB, 0),
                                                                      Verdict(peakMib >= 0 &&
                                                                              peakMib < targets.peakRssMiB));
    md += MarkdownForDiagnosis(run.diagnosis);
    return md;
}

QString MarkdownForSmtp(const QList<SmtpRate> &rates, const BenchTargets &targets)
{
    QString md = u"| Security | SMTP session | Messages | Seconds | Messages/s | Connections at the sink |\n"
                 "|---|---|---:|---:|---:|---:|\n"_s;
    for (const SmtpRate &rate : rates)
        md += u"| %1 | %2 | %3 | %4 | %5 | %6 |\n"_s.arg(rate.secure ? u"STARTTLS"_s : u"plain"_s,
                                                         rate.reuse ? u"reused"_s : u"fresh per message"_s,
                                                         Number(rate.messages), Fixed(rate.seconds, 3),
                                                         Fixed(rate.perSecond(), 0), Number(rate.sinkConnections));
    const auto gain = [&](bool secure) {
        double reused = 0, fresh = 0;
        for (const SmtpRate &rate : rates)
            if (rate.secure == secure)
                (rate.reuse ? reused : fresh) = rate.perSecond();
        return fresh > 0 ? reused / fresh : 0;
    };
    md += u"\n| Figure | Value | Target | Met |\n|---|---:|---:|---|\n"_s;
    md += u"| Reuse gain, plain | %1x | | |\n"_s.arg(Fixed(gain(false), 1));
    md +=
        u"| Reuse gain, STARTTLS | %1x | >= %2x | %3 |\n\n"_s.arg(Fixed(gain(true), 1), Fixed(targets.smtpReuseGain, 0),
                                                                  Verdict(gain(true) >= targets.smtpReuseGain));
    return md;
}

QJsonObject JsonForSize(const SizeRun &run)
{
    QJsonArray cycles;
    for (const MeasuredCycle &cycle : run.cycles) {
        QJsonArray phases;
        for (const PhaseResult &phase : cycle.phases)
            phases.append(PhaseJson(phase));
        cycles.append(QJsonObject{{u"label"_s, cycle.label},
                                  {u"phases"_s, phases},
                                  {u"milliseconds"_s, cycle.milliseconds},
                                  {u"cpuMilliseconds"_s, cycle.cpuMilliseconds},
                                  {u"statements"_s, cycle.statements},
                                  {u"messages"_s, cycle.messages},
                                  {u"peakRssKiB"_s, cycle.peakRssKiB},
                                  {u"notified"_s, cycle.notified},
                                  {u"queueRows"_s, cycle.queueRows},
                                  {u"issuesCreated"_s, cycle.issuesCreated},
                                  {u"issuesClosed"_s, cycle.issuesClosed},
                                  {u"failures"_s, QJsonArray::fromStringList(cycle.failures)}});
    }
    return QJsonObject{
        {u"records"_s, run.records},
        {u"seed"_s, run.seed},
        {u"generated"_s, run.generated},
        {u"cycles"_s, cycles},
        {u"renewed"_s, run.renewed},
        {u"renewedWithOpenIssue"_s, run.renewedWithOpenIssue},
        {u"sinkMessages"_s, run.sinkMessages},
        {u"reference"_s,
         QJsonObject{{u"milliseconds"_s, run.reference.milliseconds},
                     {u"statements"_s, run.reference.statements},
                     {u"queueRows"_s, run.reference.queueRows},
                     {u"logRows"_s, run.reference.logRows},
                     {u"issues"_s, run.reference.issues},
                     {u"differences"_s, QJsonArray::fromStringList(run.referenceDifferences)}}},
        {u"diagnosis"_s, DiagnosisJson(run.diagnosis)},
        {u"notifiedPerSecond"_s, NotifiedPerSecond(run)},
        {u"referenceRatio"_s, ReferenceRatio(run)},
        {u"peakRssKiB"_s, PeakRssKiB(run)},
    };
}

QJsonObject JsonForSmtp(const QList<SmtpRate> &rates)
{
    QJsonArray list;
    for (const SmtpRate &rate : rates)
        list.append(QJsonObject{{u"secure"_s, rate.secure},
                                {u"reuse"_s, rate.reuse},
                                {u"messages"_s, rate.messages},
                                {u"seconds"_s, rate.seconds},
                                {u"perSecond"_s, rate.perSecond()},
                                {u"sinkMessages"_s, rate.sinkMessages},
                                {u"sinkConnections"_s, rate.sinkConnections}});
    return QJsonObject{{u"rates"_s, list}};
}
