#pragma once

#include "bench/CycleRunner.h"
#include "bench/Diagnosis.h"
#include "bench/SetBasedReference.h"
#include "bench/SmtpThroughput.h"

#include <QJsonObject>
#include <QList>
#include <QString>

// Everything measured for one database size.
struct SizeRun
{
    qint64 records = 0;
    qint64 seed = 0;
    QJsonObject generated;           // the generator's summary
    QList<MeasuredCycle> cycles;     // first, second, after renewals
    qint64 renewed = 0;              // trainings renewed before the third cycle
    qint64 renewedWithOpenIssue = 0; // of those, trainings whose automatic issue was open
    ReferenceResult reference;
    QStringList referenceDifferences; // rows the cycles and the reference wrote differently
    qint64 sinkMessages = 0;          // messages the sink received during the cycles
    Diagnosis diagnosis;
};

// The targets the figures are held against.
struct BenchTargets
{
    double notifiedPerSecond = 4000;
    double referenceRatio = 1.5;
    double secondCycleMs = 1000;
    double peakRssMiB = 150;
    double roundTripsPerNotified = 1.5;
    double peakRssGrowth = 1.3;  // largest size over the smallest
    double msPerRoundTrip = 0.5; // network time assumed per round trip
    double smtpReuseGain = 5;
};

// Notified certifications per second over the whole first cycle.
double NotifiedPerSecond(const SizeRun &run);
// The notification and issue stretches of the first cycle over the reference.
double ReferenceRatio(const SizeRun &run);
qint64 PeakRssKiB(const SizeRun &run);

QString MarkdownForSize(const SizeRun &run, const BenchTargets &targets);
QString MarkdownForSmtp(const QList<SmtpRate> &rates, const BenchTargets &targets);
QJsonObject JsonForSize(const SizeRun &run);
QJsonObject JsonForSmtp(const QList<SmtpRate> &rates);
