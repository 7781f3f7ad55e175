// The cycle benchmark: generated host databases of the given sizes, three
// task cycles each against a local SMTP sink, every phase timed and counted,
// a set-based reference for the database work, and SMTP session reuse.
// Each size (and the SMTP measurement) runs in a child process of its own,
// so every peak-memory figure belongs to that run alone.
#include "bench/BenchReport.h"
#include "bench/BenchSqlite.h"
#include "bench/CycleRunner.h"
#include "bench/Diagnosis.h"
#include "bench/OdbcProbe.h"
#include "bench/SetBasedReference.h"
#include "bench/SmtpSink.h"
#include "bench/SmtpThroughput.h"

#include "database/Clock.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "database/SqliteDateColumns.h"
#include "startup/CompanySettings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <exception>

using namespace Qt::StringLiterals;

namespace {

struct Options
{
    QList<qint64> sizes;
    qint64 seed = 1;
    int smtpMessages = 500;
    QString workDir;
    bool keep = false;
    QString markdownFile;
    QString jsonFile;
    QString generator = QStringLiteral(VELMAR_BENCH_GENERATOR);
    QString sinkProgram = QStringLiteral(VELMAR_BENCH_SINK);
    qint64 childSize = 0; // internal: measure this size only
    int childSmtp = 0;    // internal: measure SMTP rates only
    bool rewriteOnly = false;
};

void Print(const QString &text)
{
    QTextStream out(stdout);
    out << text;
    out.flush();
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error(u"cannot write %1: %2"_s.arg(path, file.errorString()).toStdString());
}

QJsonObject ReadJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(u"cannot read %1: %2"_s.arg(path, file.errorString()).toStdString());
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        throw std::runtime_error(u"%1 is not a JSON object: %2"_s.arg(path, error.errorString()).toStdString());
    return document.object();
}

// Runs a program to its end; its standard error passes through.
QByteArray RunProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        throw std::runtime_error(u"cannot start %1: %2"_s.arg(program, process.errorString()).toStdString());
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        throw std::runtime_error(u"%1 did not finish in %2 s"_s.arg(program).arg(timeoutMs / 1000).toStdString());
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(u"%1 %2 failed with exit status %3"_s.arg(program, arguments.join(u' '))
                                     .arg(process.exitCode())
                                     .toStdString());
    return process.readAllStandardOutput();
}

// Renews up to `count` trainings (completed today), those with an open
// automatic issue first, so the next cycle has closing work. Returns how many.
qint64 RenewTrainings(BenchSqlite &db, qint64 count, qint64 *withOpenIssue)
{
    const QString today = u"'"_s + Today().toString(u"yyyy-MM-dd"_s) + u" 00:00:00'"_s;
    db.exec(u"UPDATE CustomerEmployeeTraining SET CompletedDate = %1, Completed = 1 WHERE ID IN "
            "(SELECT DISTINCT ItemID FROM Issues WHERE Status = 'Open' AND EnteredBy = 'AUTO SERVER' "
            "AND AUTO_Item = 'Training Expire' ORDER BY ItemID LIMIT %2)"_s.arg(today)
                .arg(count),
            u"renewing trainings with open issues"_s);
    *withOpenIssue = db.scalar(u"SELECT changes()"_s).toLongLong();
    qint64 renewed = *withOpenIssue;
    if (renewed < count) {
        db.exec(u"UPDATE CustomerEmployeeTraining SET CompletedDate = %1, Completed = 1 WHERE ID IN "
                "(SELECT ID FROM CustomerEmployeeTraining WHERE CompletedDate < %1 ORDER BY ID LIMIT %2)"_s.arg(today)
                    .arg(count - renewed),
                u"renewing further trainings"_s);
        renewed += db.scalar(u"SELECT changes()"_s).toLongLong();
    }
    return renewed;
}

SizeRun MeasureSize(const Options &options, qint64 records, const QString &workDir)
{
    SizeRun run;
    run.records = records;
    run.seed = options.seed;
    const QDir dir(workDir);
    const QString hostDb = dir.filePath(u"host-%1.db"_s.arg(records));
    const QString referenceDb = dir.filePath(u"host-%1-reference.db"_s.arg(records));
    const QString summary = dir.filePath(u"host-%1-summary.json"_s.arg(records));

    SmtpSink sink(options.sinkProgram);
    RunProgram(options.generator,
               {u"--records"_s, QString::number(records), u"--seed"_s, QString::number(options.seed), u"--out"_s,
                hostDb, u"--smtp-port"_s, QString::number(sink.port()), u"--today"_s, Today().toString(Qt::ISODate),
                u"--summary"_s, summary},
               600000);
    run.generated = ReadJson(summary);
    QFile::remove(referenceDb);
    if (!QFile::copy(hostDb, referenceDb))
        throw std::runtime_error(u"cannot copy %1 to %2"_s.arg(hostDb, referenceDb).toStdString());

    // Start-up as the server does it: the connection string, then the
    // company settings once.
    DBConnectionString = u"Provider=SQLite;Data Source="_s + QFileInfo(hostDb).absoluteFilePath();
    SetOpenDatabaseFailureHandler([](const QString &reason) {
        std::fprintf(stderr, "cycle_bench: OpenDatabase failed: %s\n", qUtf8Printable(reason));
    });
    if (!OpenDatabase())
        throw std::runtime_error(u"cannot open %1: %2"_s.arg(hostDb, LastOpenDatabaseError()).toStdString());
    LoadCompanySettings();
    CloseDatabase();

    {
        BenchSqlite probe(hostDb);
        const WrittenRowsBaseline baseline = ReadBaseline(probe);
        run.cycles << RunMeasuredCycle(u"first"_s, probe);
        run.cycles << RunMeasuredCycle(u"second"_s, probe);
        run.renewed = RenewTrainings(probe, std::max<qint64>(1, records / 100), &run.renewedWithOpenIssue);
        run.cycles << RunMeasuredCycle(u"after renewals"_s, probe);

        // The reference runs after the cycles, on the untouched copy, so it
        // adds nothing to the cycles' peak memory.
        BenchSqlite reference(referenceDb);
        const ReferenceSettings settings{Today(), CurrentDateTime(), CompanySettings.AutomationServerEmailFrom,
                                         CompanySettings.Name};
        run.reference = RunSetBasedReference(reference, settings);
        run.referenceDifferences = CompareWrittenRows(probe, QFileInfo(referenceDb).absoluteFilePath(), baseline);
    }
    run.sinkMessages = sink.stop().messages;
    run.diagnosis = DiagnoseCycleCosts(hostDb);
    return run;
}

QString MachineLine()
{
    QString cpu = QSysInfo::currentCpuArchitecture();
#ifdef Q_OS_LINUX
    // Linux only: the processor's model name.
    QFile info(u"/proc/cpuinfo"_s);
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : info.readAll().split('\n'))
            if (line.startsWith("model name")) {
                cpu = QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
    }
#endif
    return u"%1, %2 logical cores, %3, Qt %4"_s.arg(cpu)
        .arg(QThread::idealThreadCount())
        .arg(QSysInfo::prettyProductName(), QString::fromLatin1(qVersion()));
}

// The machine's load while the benchmark ran: other work on the same cores
// stretches wall times (CPU times much less).
QString LoadAverage()
{
#ifdef Q_OS_LINUX
    // Linux only.
    QFile load(u"/proc/loadavg"_s);
    if (load.open(QIODevice::ReadOnly))
        return QString::fromLatin1(load.readAll().split(' ').mid(0, 3).join(' '));
#endif
    return u"n/a"_s;
}

int RunChild(const Options &options)
{
    QTemporaryDir temporary;
    QString workDir = options.workDir;
    if (workDir.isEmpty()) {
        if (!temporary.isValid())
            throw std::runtime_error("cannot create a temporary directory");
        temporary.setAutoRemove(!options.keep);
        workDir = temporary.path();
    }
    QDir().mkpath(workDir);
    const BenchTargets targets;
    QJsonObject json;
    if (options.childSize > 0) {
        const SizeRun run = MeasureSize(options, options.childSize, workDir);
        Print(MarkdownForSize(run, targets));
        json = JsonForSize(run);
    } else {
        const QList<SmtpRate> rates = MeasureSmtpRates(options.sinkProgram, workDir, options.childSmtp);
        Print(
            u"### SMTP session reuse (%1 messages of about 2 KB each per row, median of 3 interleaved runs)\n\n"_s.arg(
                options.childSmtp) +
            MarkdownForSmtp(rates, targets));
        json = JsonForSmtp(rates);
    }
    if (!options.jsonFile.isEmpty())
        WriteFile(options.jsonFile, QJsonDocument(json).toJson());
    return 0;
}

// The dialect rewrite alone, with the date columns of an empty database made
// from the schema script: seconds instead of a whole size run.
int RunRewriteOnly()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        throw std::runtime_error("cannot create a temporary directory");
    QFile script(QStringLiteral(VELMAR_SOURCE_DIR "/schema/sqlite.sql"));
    if (!script.open(QIODevice::ReadOnly))
        throw std::runtime_error(u"cannot read %1: %2"_s.arg(script.fileName(), script.errorString()).toStdString());
    const BenchSqlite db(dir.filePath(u"schema.db"_s), false);
    db.exec(QString::fromUtf8(script.readAll()), u"the schema script"_s);
    Print(MarkdownForRewrite(MeasureNotificationBatchRewrite(ReadDateColumns(db.handle()))));
    return 0;
}

int RunParent(const Options &options, const QStringList &originalArguments)
{
    QTemporaryDir partsDir;
    if (!partsDir.isValid())
        throw std::runtime_error("cannot create a temporary directory");
    QString markdown =
        u"## Cycle benchmark\n\nMachine: %1. Date: %2. Command: `%3`. Build: %4. SMTP sink: %5. "
        "Load average at the start: %6.\n\n"_s.arg(MachineLine(), QDateTime::currentDateTime().toString(Qt::ISODate),
                                                   originalArguments.join(u' '), QStringLiteral(VELMAR_BUILD_TYPE),
                                                   QFileInfo(options.sinkProgram).fileName(), LoadAverage());
    Print(markdown);
    QJsonArray sizes;
    QJsonObject smtp;
    const auto child = [&](const QStringList &what, const QString &part) {
        QStringList arguments = what;
        arguments << u"--seed"_s << QString::number(options.seed) << u"--json"_s << part;
        if (!options.workDir.isEmpty())
            arguments << u"--work-dir"_s << options.workDir;
        if (options.keep)
            arguments << u"--keep"_s;
        if (options.sinkProgram.endsWith(u".py"_s))
            arguments << u"--python-sink"_s;
        const QString section =
            QString::fromUtf8(RunProgram(QCoreApplication::applicationFilePath(), arguments, 3600000));
        Print(section);
        markdown += section;
        return ReadJson(part);
    };
    const QString probe = ProbeSqliteOdbcDriver(partsDir.path());
    Print(probe);
    markdown += probe;
    for (qint64 size : options.sizes)
        sizes.append(child({u"--child-size"_s, QString::number(size)},
                           QDir(partsDir.path()).filePath(u"size-%1.json"_s.arg(size))));
    if (sizes.size() > 1) {
        // Memory must follow the largest message, not the size of the database.
        const QJsonObject smallest = sizes.first().toObject();
        const QJsonObject largest = sizes.last().toObject();
        const double growth = largest.value(u"peakRssKiB"_s).toDouble() / smallest.value(u"peakRssKiB"_s).toDouble();
        const QString line = u"### Peak memory across sizes\n\n| Figure | Value | Target | Met |\n|---|---:|---:|---|\n"
                             "| Peak RSS at N = %1 over N = %2 | %3x | <= %4x | %5 |\n\n"_s
                                 .arg(qint64(largest.value(u"records"_s).toDouble()))
                                 .arg(qint64(smallest.value(u"records"_s).toDouble()))
                                 .arg(growth, 0, 'f', 2)
                                 .arg(BenchTargets().peakRssGrowth, 0, 'f', 1)
                                 .arg(growth <= BenchTargets().peakRssGrowth ? u"yes"_s : u"**NO**"_s);
        Print(line);
        markdown += line;
    }
    if (options.smtpMessages > 0)
        smtp = child({u"--child-smtp"_s, QString::number(options.smtpMessages)},
                     QDir(partsDir.path()).filePath(u"smtp.json"_s));
    const QString end = u"Load average at the end: %1.\n"_s.arg(LoadAverage());
    Print(end);
    markdown += end;
    if (!options.markdownFile.isEmpty())
        WriteFile(options.markdownFile, markdown.toUtf8());
    if (!options.jsonFile.isEmpty())
        WriteFile(options.jsonFile, QJsonDocument(QJsonObject{{u"sizes"_s, sizes}, {u"smtp"_s, smtp}}).toJson());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Measures task cycles of the Velmar Automation Server on generated host databases."_s);
    parser.addHelpOption();
    parser.addOptions({
        {u"records"_s, u"Comma-separated sizes in training records (default 10000,100000)."_s, u"LIST"_s},
        {u"seed"_s, u"Generator seed (default 1)."_s, u"S"_s},
        {u"smtp-messages"_s, u"Messages per SMTP reuse measurement; 0 skips it (default 500)."_s, u"M"_s},
        {u"work-dir"_s, u"Where the databases go (default: a temporary directory)."_s, u"DIR"_s},
        {u"keep"_s, u"Keep the temporary databases."_s},
        {u"markdown"_s, u"Also write the report to this file."_s, u"FILE"_s},
        {u"json"_s, u"Write the figures as JSON to this file."_s, u"FILE"_s},
        {u"generator"_s, u"The generate_host_db program."_s, u"PATH"_s},
        {u"python-sink"_s, u"Use bench/smtp_null_sink.py (aiosmtpd) instead of the C++ sink."_s},
        {u"child-size"_s, u"Internal: measure one size in this process."_s, u"N"_s},
        {u"child-smtp"_s, u"Internal: measure SMTP rates in this process."_s, u"M"_s},
        {u"rewrite-only"_s, u"Only time the dialect rewrite of one notification batch."_s},
    });
    parser.process(app);

    Options options;
    bool ok = true;
    const auto number = [&](const QString &name, qint64 fallback) {
        if (!parser.isSet(name))
            return fallback;
        bool valid = false;
        const qint64 value = parser.value(name).toLongLong(&valid);
        ok = ok && valid && value >= 0;
        return value;
    };
    for (const QString &size : parser.value(u"records"_s).isEmpty() ? QStringList{u"10000"_s, u"100000"_s}
                                                                    : parser.value(u"records"_s).split(u',')) {
        bool valid = false;
        const qint64 value = size.trimmed().toLongLong(&valid);
        ok = ok && valid && value > 0;
        options.sizes << value;
    }
    options.seed = number(u"seed"_s, 1);
    options.smtpMessages = int(number(u"smtp-messages"_s, 500));
    options.childSize = number(u"child-size"_s, 0);
    options.childSmtp = int(number(u"child-smtp"_s, 0));
    options.workDir = parser.value(u"work-dir"_s);
    options.keep = parser.isSet(u"keep"_s);
    options.rewriteOnly = parser.isSet(u"rewrite-only"_s);
    options.markdownFile = parser.value(u"markdown"_s);
    options.jsonFile = parser.value(u"json"_s);
    if (parser.isSet(u"generator"_s))
        options.generator = parser.value(u"generator"_s);
    if (parser.isSet(u"python-sink"_s))
        options.sinkProgram = QStringLiteral(VELMAR_SOURCE_DIR "/bench/smtp_null_sink.py");
    if (!ok) {
        std::fprintf(stderr, "cycle_bench: sizes, seed and counts must be whole numbers\n");
        return 2;
    }

    try {
        if (options.rewriteOnly)
            return RunRewriteOnly();
        if (options.childSize > 0 || options.childSmtp > 0)
            return RunChild(options);
        return RunParent(options, app.arguments());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "cycle_bench: %s\n", error.what());
        return 1;
    }
}
