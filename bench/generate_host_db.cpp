// Lays out a host database of a given size for the benchmark and the smoke
// test, and optionally the same rows as a T-SQL script.
#include "bench/HostDataGenerator.h"
#include "bench/HostDbWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

int Fail(const QString &message)
{
    std::fprintf(stderr, "generate_host_db: %s\n", qUtf8Printable(message));
    return 1;
}

bool ReadNumber(const QCommandLineParser &parser, const QString &option, qint64 minimum, qint64 *value)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const qint64 parsed = parser.value(option).toLongLong(&ok);
    if (!ok || parsed < minimum)
        return false;
    *value = parsed;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Generates a host database for the Velmar Automation Server benchmark."_s);
    parser.addHelpOption();
    parser.addOptions({
        {u"records"_s, u"Training records to generate (default 10000)."_s, u"N"_s},
        {u"seed"_s, u"Random seed (default 1)."_s, u"S"_s},
        {u"out"_s, u"The SQLite database file to create (replaced if it exists)."_s, u"FILE"_s},
        {u"tsql"_s, u"Also write the rows as a T-SQL script."_s, u"FILE"_s},
        {u"schema"_s, u"SQLite schema script (default schema/sqlite.sql of the source tree)."_s, u"FILE"_s},
        {u"smtp-port"_s, u"Port of the SMTP server in the Company row (default 2525)."_s, u"P"_s},
        {u"smtp-tls"_s, u"Turn AutomationServerEmailUseSSLTLS on in the Company row."_s},
        {u"today"_s, u"Date the data is relative to, YYYY-MM-DD (default: today)."_s, u"DATE"_s},
        {u"summary"_s, u"Write the row counts and the expected first-cycle figures as JSON."_s, u"FILE"_s},
    });
    parser.process(app);

    GeneratedHostDataOptions options;
    qint64 seed = 1;
    qint64 port = 2525;
    if (!ReadNumber(parser, u"records"_s, 1, &options.records))
        return Fail(u"--records wants a whole number of at least 1"_s);
    if (!ReadNumber(parser, u"seed"_s, 0, &seed))
        return Fail(u"--seed wants a whole number"_s);
    if (!ReadNumber(parser, u"smtp-port"_s, 1, &port) || port > 65535)
        return Fail(u"--smtp-port wants a port number"_s);
    options.seed = quint64(seed);
    options.smtpPort = int(port);
    options.smtpSecure = parser.isSet(u"smtp-tls"_s);
    if (parser.isSet(u"today"_s)) {
        options.today = QDate::fromString(parser.value(u"today"_s), Qt::ISODate);
        if (!options.today.isValid())
            return Fail(u"--today wants a date as YYYY-MM-DD"_s);
    } else {
        options.today = QDate::currentDate();
    }
    if (!parser.isSet(u"out"_s))
        return Fail(u"--out FILE is required"_s);
    const QString out = parser.value(u"out"_s);
    const QString schema =
        parser.isSet(u"schema"_s) ? parser.value(u"schema"_s) : QStringLiteral(VELMAR_SOURCE_DIR "/schema/sqlite.sql");

    QElapsedTimer timer;
    timer.start();
    const GeneratedHostData data = GenerateHostData(options);
    QStringList tables;
    for (const HostTable &table : data.tables)
        tables.append(table.name);
    QList<QPair<QString, qint64>> counts;
    try {
        WriteSqliteDatabase(data, schema, out);
        if (parser.isSet(u"tsql"_s))
            WriteTsqlScript(data, parser.value(u"tsql"_s));
        counts = CountSqliteRows(out, tables);
    } catch (const HostDbWriteError &error) {
        return Fail(QString::fromUtf8(error.what()));
    }
    const qint64 elapsed = timer.elapsed();

    QJsonObject rows;
    QTextStream stdOut(stdout);
    stdOut << "Generated " << QFileInfo(out).absoluteFilePath() << " in " << elapsed << " ms (seed " << seed
           << ", today " << options.today.toString(Qt::ISODate) << ")\n";
    for (const auto &[table, count] : counts) {
        stdOut << "  " << table << ": " << count << "\n";
        rows.insert(table, count);
    }
    const GeneratedHostDataExpectation &e = data.expected;
    stdOut << "Expected first cycle: " << e.notifiable << " notified, " << e.issueWindow << " issues, "
           << (e.managerRows + e.specialistRows + e.clientRows) << " queue rows (" << e.managerRows << " manager, "
           << e.specialistRows << " specialists, " << e.clientRows << " client), " << e.recipientLists << " digests\n";
    stdOut.flush();

    if (parser.isSet(u"summary"_s)) {
        QJsonObject summary{
            {u"records"_s, options.records},
            {u"seed"_s, seed},
            {u"today"_s, options.today.toString(Qt::ISODate)},
            {u"milliseconds"_s, elapsed},
            {u"rows"_s, rows},
            {u"expected"_s,
             QJsonObject{{u"notified"_s, e.notifiable},
                         {u"issues"_s, e.issueWindow},
                         {u"managerRows"_s, e.managerRows},
                         {u"specialistRows"_s, e.specialistRows},
                         {u"clientRows"_s, e.clientRows},
                         {u"digests"_s, e.recipientLists}}},
        };
        QFile file(parser.value(u"summary"_s));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(QJsonDocument(summary).toJson()) < 0)
            return Fail(u"cannot write the summary %1: %2"_s.arg(file.fileName(), file.errorString()));
    }
    return 0;
}
