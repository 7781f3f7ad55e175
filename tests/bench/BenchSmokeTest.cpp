#include "bench/BenchSqlite.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct ProgramRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ProgramRun RunProgram(const QString &program, const QStringList &arguments, int timeoutMs = 100000)
{
    QProcess process;
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(10000)) {
        run.err = process.errorString().toUtf8();
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        run.err = "timed out";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject ReadJson(const QString &path)
{
    return QJsonDocument::fromJson(ReadAll(path)).object();
}

qint64 Int(const QJsonValue &value)
{
    return qint64(value.toDouble(-1));
}

class GeneratorSmoke : public ::testing::Test
{
protected:
    QString file(const QString &name) const { return m_dir.filePath(name); }

    ProgramRun generate(const QString &stem, qint64 records, qint64 seed, const QStringList &extra = {})
    {
        return RunProgram(QStringLiteral(VELMAR_GENERATOR),
                          QStringList{u"--records"_s, QString::number(records), u"--seed"_s, QString::number(seed),
                                      u"--today"_s, u"2026-12-08"_s, u"--smtp-port"_s, u"2626"_s, u"--out"_s,
                                      file(stem + u".db"_s), u"--tsql"_s, file(stem + u".sql"_s), u"--summary"_s,
                                      file(stem + u".json"_s)} +
                              extra);
    }

    QTemporaryDir m_dir;
};

TEST_F(GeneratorSmoke, thousandRecords_layOutTheRequestedShape)
{
    const ProgramRun run = generate(u"a"_s, 1000, 3);
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    BenchSqlite db(file(u"a.db"_s));

    EXPECT_EQ(db.count(u"CustomerEmployeeTraining"_s), 1000);
    EXPECT_EQ(db.count(u"CustomerEmployee"_s), 200);
    EXPECT_EQ(db.count(u"ServiceContract"_s), 500);
    EXPECT_EQ(db.count(u"TrainingItem"_s), 5);
    EXPECT_GT(db.scalar(u"SELECT COUNT(*) FROM TrainingItem WHERE Optional = 1"_s).toInt(), 0);
    EXPECT_GT(db.scalar(u"SELECT COUNT(*) FROM TrainingItem WHERE Optional = 0"_s).toInt(), 0);
    EXPECT_GT(db.scalar(u"SELECT COUNT(*) FROM ServiceContract WHERE Status <> 'Active'"_s).toInt(), 0);
    EXPECT_LT(db.scalar(u"SELECT COUNT(*) FROM ServiceContract WHERE Status <> 'Active'"_s).toInt(), 50);
    EXPECT_GT(db.scalar(u"SELECT COUNT(*) FROM CustomerEmployee WHERE Suspended = 1"_s).toInt(), 0);
    EXPECT_GT(db.scalar(u"SELECT COUNT(*) FROM CustomerEmployee WHERE Terminated = 1"_s).toInt(), 0);
    // Specialists: 0 to 3 per contract, and both ends occur.
    EXPECT_EQ(db.scalar(u"SELECT max(n) FROM (SELECT COUNT(*) AS n FROM ServiceContractSpecialist "
                        "GROUP BY ServiceContractID)"_s)
                  .toInt(),
              3);
    EXPECT_GT(db.scalar(u"SELECT COUNT(*) FROM ServiceContract WHERE ID NOT IN "
                        "(SELECT ServiceContractID FROM ServiceContractSpecialist)"_s)
                  .toInt(),
              0);
    // Every contract's manager exists and has an address.
    EXPECT_EQ(db.scalar(u"SELECT COUNT(*) FROM ServiceContract c LEFT JOIN Employee m ON c.ContractManagerID = m.ID "
                        "WHERE m.Email IS NULL OR m.Email = ''"_s)
                  .toInt(),
              0);

    EXPECT_EQ(db.scalar(u"SELECT AutomationServerEmailServer || ':' || AutomationServerEmailServerPort || ':' || "
                        "AutomationServerEmailUseSSLTLS FROM Company"_s)
                  .toString(),
              u"127.0.0.1:2626:0"_s);
    EXPECT_EQ(
        db.scalar(u"SELECT Category || '|' || EmailContractManager || EmailContractSpecialist || EmailClient || '|' "
                  "|| DaysInAdvance || '|' || CreateIssue || '|' || CreateIssueDaysInAdvance || '|' || AutoCloseIssue "
                  "FROM AutomationServer_Alert WHERE Item = 'Training Expire'"_s)
            .toString(),
        u"Contract|111|30|1|14|1"_s);
    // Dates are ISO text, as the embedded backend keeps them.
    EXPECT_EQ(db.scalar(u"SELECT COUNT(*) FROM CustomerEmployeeTraining WHERE CompletedDate IS NOT NULL "
                        "AND CompletedDate NOT GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] 00:00:00'"_s)
                  .toInt(),
              0);

    // About 10 % due or overdue and 5 % inside the issue window, before the
    // filters (optional item, inactive contract, suspended or terminated).
    const qint64 due = db.scalar(u"SELECT COUNT(*) FROM CustomerEmployeeTraining t JOIN TrainingItem i "
                                 "ON t.TrainingItemID = i.ID WHERE date(t.CompletedDate, '+' || i.Renews || ' months') "
                                 "<= '2027-01-07'"_s)
                           .toLongLong();
    EXPECT_GT(due, 60);
    EXPECT_LT(due, 150);
    const QJsonObject expected = ReadJson(file(u"a.json"_s)).value(u"expected"_s).toObject();
    EXPECT_GT(Int(expected.value(u"notified"_s)), 40);
    EXPECT_LT(Int(expected.value(u"notified"_s)), due);
    EXPECT_GT(Int(expected.value(u"issues"_s)), 10);
    EXPECT_LT(Int(expected.value(u"issues"_s)), Int(expected.value(u"notified"_s)));
    EXPECT_EQ(Int(expected.value(u"clientRows"_s)), Int(expected.value(u"notified"_s)));
}

TEST_F(GeneratorSmoke, tsqlScript_holdsTheSameRowsWithExplicitIdentities)
{
    const ProgramRun run = generate(u"a"_s, 1000, 3);
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    const QByteArray script = ReadAll(file(u"a.sql"_s));
    ASSERT_FALSE(script.isEmpty());

    const qsizetype start = script.indexOf("INSERT INTO CustomerEmployeeTraining (");
    const qsizetype end = script.indexOf("SET IDENTITY_INSERT CustomerEmployeeTraining OFF;");
    ASSERT_GT(start, 0);
    ASSERT_GT(end, start);
    EXPECT_TRUE(script.contains("SET IDENTITY_INSERT CustomerEmployeeTraining ON;"));
    EXPECT_EQ(script.mid(start, end - start).count("\r\n("), 1000);
    // Every table's explicit identities switched on and off again.
    int on = 0, off = 0;
    for (const QByteArray &line : script.split('\n')) {
        if (line.startsWith("SET IDENTITY_INSERT "))
            (line.trimmed().endsWith(" ON;") ? on : off) += 1;
    }
    EXPECT_EQ(on, 9);
    EXPECT_EQ(off, 9);
    // Apostrophes doubled inside N'...' literals; dates unambiguous ISO.
    EXPECT_TRUE(script.contains("N'O''Brien'"));
    EXPECT_FALSE(script.contains("N'O'Brien'"));
    EXPECT_TRUE(script.contains("T00:00:00'"));

    BenchSqlite db(file(u"a.db"_s));
    const QString firstTraining =
        db.scalar(u"SELECT '(' || ID || ',' || Completed || ',''' || replace(CompletedDate, ' ', 'T') "
                  "|| ''',' || TrainingItemID || ',' || EmployeeID || ',' || ContractID || ')' "
                  "FROM CustomerEmployeeTraining WHERE CompletedDate IS NOT NULL ORDER BY ID LIMIT 1"_s)
            .toString();
    EXPECT_TRUE(script.contains(firstTraining.toUtf8())) << qPrintable(firstTraining);
}

// The script read back: with the T-SQL-only syntax turned into SQLite's
// (batch separators, N'' literals, the "T" of ISO dates), it loads into a
// database from the SQLite schema with exactly the rows the generator wrote.
TEST_F(GeneratorSmoke, tsqlScript_loadsToTheSameRowsAsTheDatabase)
{
    const ProgramRun run = generate(u"a"_s, 800, 4);
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    QStringList kept;
    for (const QString &line : QString::fromUtf8(ReadAll(file(u"a.sql"_s))).split(u"\r\n"_s)) {
        if (!line.startsWith(u"SET "_s) && line != u"GO"_s && !line.startsWith(u"--"_s))
            kept << line;
    }
    QString script = kept.join(u"\r\n"_s);
    script.replace(QRegularExpression(u"([(,])N'"_s), u"\\1'"_s);
    script.replace(QRegularExpression(u"'(\\d{4}-\\d\\d-\\d\\d)T(\\d\\d:\\d\\d:\\d\\d)'"_s), u"'\\1 \\2'"_s);

    const QString loaded = file(u"loaded.db"_s);
    BenchSqlite db(loaded, false);
    db.exec(QString::fromUtf8(ReadAll(QStringLiteral(VELMAR_SOURCE_DIR "/schema/sqlite.sql"))), u"schema"_s);
    db.exec(script, u"the T-SQL script"_s);
    db.exec(u"ATTACH DATABASE '%1' AS generated"_s.arg(file(u"a.db"_s)), u"ATTACH"_s);
    for (const QString &table :
         {u"Company"_s, u"AutomationServer_Alert"_s, u"Employee"_s, u"TrainingItem"_s, u"ServiceContract"_s,
          u"ServiceContractSpecialist"_s, u"CustomerEmployee"_s, u"CustomerEmployeeTraining"_s,
          u"AutomationServer_Emails"_s, u"AutomationServer_EmailsSent"_s, u"Issues"_s}) {
        EXPECT_GT(db.count(table), 0) << qPrintable(table);
        EXPECT_EQ(db.count(table), db.count(u"generated."_s + table)) << qPrintable(table);
        EXPECT_EQ(db.scalar(
                        u"SELECT COUNT(*) FROM (SELECT * FROM main.%1 EXCEPT SELECT * FROM generated.%1)"_s.arg(table))
                      .toLongLong(),
                  0)
            << qPrintable(table);
    }
}

TEST_F(GeneratorSmoke, sameSeed_sameData_otherSeed_otherData)
{
    ASSERT_EQ(generate(u"a"_s, 500, 11).exitCode, 0);
    ASSERT_EQ(generate(u"b"_s, 500, 11).exitCode, 0);
    ASSERT_EQ(generate(u"c"_s, 500, 12).exitCode, 0);
    const QByteArray a = ReadAll(file(u"a.sql"_s));
    EXPECT_FALSE(a.isEmpty());
    EXPECT_EQ(a, ReadAll(file(u"b.sql"_s)));
    EXPECT_NE(a, ReadAll(file(u"c.sql"_s)));
}

TEST_F(GeneratorSmoke, badArguments_failWithTheReason)
{
    ProgramRun run = generate(u"a"_s, 0, 1);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("--records")) << run.err.constData();

    run = generate(u"a"_s, 10, 1, {u"--schema"_s, file(u"missing.sql"_s)});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("missing.sql")) << run.err.constData();

    run = RunProgram(QStringLiteral(VELMAR_GENERATOR), {u"--records"_s, u"10"_s});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("--out")) << run.err.constData();
}

// The benchmark at N = 1,000 against the counting sink, run end to end. The
// figures it reports must agree with what the generator says the data holds.
TEST(CycleBenchSmoke, thousandRecords_threeCyclesReferenceAndSmtpRates)
{
    QTemporaryDir dir;
    const QString json = dir.filePath(u"bench.json"_s);
    const QString markdown = dir.filePath(u"bench.md"_s);
    const ProgramRun run = RunProgram(QStringLiteral(VELMAR_CYCLE_BENCH),
                                      {u"--records"_s, u"1000"_s, u"--seed"_s, u"5"_s, u"--smtp-messages"_s, u"5"_s,
                                       u"--json"_s, json, u"--markdown"_s, markdown});
    ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_TRUE(ReadAll(markdown).contains("| first | **whole cycle** |"));

    const QJsonObject report = ReadJson(json);
    const QJsonArray sizes = report.value(u"sizes"_s).toArray();
    ASSERT_EQ(sizes.size(), 1);
    const QJsonObject size = sizes.at(0).toObject();
    const QJsonObject expected = size.value(u"generated"_s).toObject().value(u"expected"_s).toObject();
    const QJsonArray cycles = size.value(u"cycles"_s).toArray();
    ASSERT_EQ(cycles.size(), 3);
    const QJsonObject first = cycles.at(0).toObject();
    const QJsonObject second = cycles.at(1).toObject();
    const QJsonObject third = cycles.at(2).toObject();

    // First cycle: everything due notified, issues opened, every digest sent.
    EXPECT_GT(Int(first.value(u"notified"_s)), 0);
    EXPECT_EQ(Int(first.value(u"notified"_s)), Int(expected.value(u"notified"_s)));
    EXPECT_EQ(Int(first.value(u"queueRows"_s)),
              Int(expected.value(u"managerRows"_s)) + Int(expected.value(u"specialistRows"_s)) +
                  Int(expected.value(u"clientRows"_s)));
    EXPECT_EQ(Int(first.value(u"issuesCreated"_s)), Int(expected.value(u"issues"_s)));
    EXPECT_EQ(Int(first.value(u"messages"_s)), Int(expected.value(u"digests"_s)));
    EXPECT_TRUE(first.value(u"failures"_s).toArray().isEmpty());
    EXPECT_GT(Int(first.value(u"statements"_s)), Int(first.value(u"notified"_s)));
    const QJsonArray phases = first.value(u"phases"_s).toArray();
    ASSERT_EQ(phases.size(), 5);
    qint64 phaseStatements = 0;
    for (const QJsonValue &phase : phases) {
        EXPECT_TRUE(phase.toObject().value(u"ran"_s).toBool());
        phaseStatements += Int(phase.toObject().value(u"statements"_s));
    }
    EXPECT_EQ(phaseStatements, Int(first.value(u"statements"_s)));
    EXPECT_EQ(Int(phases.at(4).toObject().value(u"messages"_s)), Int(first.value(u"messages"_s)));
    EXPECT_GT(Int(first.value(u"peakRssKiB"_s)), 0);

    // Second cycle: nothing new.
    EXPECT_EQ(Int(second.value(u"notified"_s)), 0);
    EXPECT_EQ(Int(second.value(u"queueRows"_s)), 0);
    EXPECT_EQ(Int(second.value(u"messages"_s)), 0);
    EXPECT_EQ(Int(second.value(u"issuesCreated"_s)), 0);
    EXPECT_EQ(Int(second.value(u"issuesClosed"_s)), 0);

    // After 1 % renewed: exactly the renewed trainings' open issues close.
    EXPECT_EQ(Int(size.value(u"renewed"_s)), 10);
    EXPECT_GT(Int(size.value(u"renewedWithOpenIssue"_s)), 0);
    EXPECT_EQ(Int(third.value(u"issuesClosed"_s)), Int(size.value(u"renewedWithOpenIssue"_s)));
    EXPECT_EQ(Int(third.value(u"notified"_s)), 0);
    EXPECT_EQ(Int(third.value(u"issuesCreated"_s)), 0);

    EXPECT_EQ(Int(size.value(u"sinkMessages"_s)), Int(first.value(u"messages"_s)));

    // The set-based reference wrote exactly what the cycles wrote.
    const QJsonObject reference = size.value(u"reference"_s).toObject();
    EXPECT_TRUE(reference.value(u"differences"_s).toArray().isEmpty())
        << QJsonDocument(reference.value(u"differences"_s).toArray()).toJson().constData();
    EXPECT_EQ(Int(reference.value(u"logRows"_s)), Int(first.value(u"notified"_s)));
    EXPECT_EQ(Int(reference.value(u"queueRows"_s)), Int(first.value(u"queueRows"_s)));
    EXPECT_EQ(Int(reference.value(u"issues"_s)), Int(first.value(u"issuesCreated"_s)));
    EXPECT_GT(reference.value(u"milliseconds"_s).toDouble(), 0.0);

    // The diagnosis ran the task's three selection queries, and the
    // integer-only DATEADD it compares with gave the very same rows.
    const QJsonArray diagnosed = size.value(u"diagnosis"_s).toObject().value(u"queries"_s).toArray();
    ASSERT_EQ(diagnosed.size(), 3);
    for (const QJsonValue &query : diagnosed) {
        EXPECT_TRUE(query.toObject().value(u"sameResults"_s).toBool())
            << qPrintable(query.toObject().value(u"name"_s).toString());
        EXPECT_FALSE(query.toObject().value(u"plan"_s).toArray().isEmpty());
    }

    // SMTP: four runs, every message arrived, one connection with reuse and
    // one per message without.
    const QJsonArray rates = report.value(u"smtp"_s).toObject().value(u"rates"_s).toArray();
    ASSERT_EQ(rates.size(), 4);
    int secureRuns = 0;
    for (const QJsonValue &value : rates) {
        const QJsonObject rate = value.toObject();
        EXPECT_EQ(Int(rate.value(u"sinkMessages"_s)), 5);
        EXPECT_EQ(Int(rate.value(u"sinkConnections"_s)), rate.value(u"reuse"_s).toBool() ? 1 : 5);
        secureRuns += rate.value(u"secure"_s).toBool() ? 1 : 0;
    }
    EXPECT_EQ(secureRuns, 2);
}

TEST(CycleBenchSmoke, badSize_failsWithUsageStatus)
{
    const ProgramRun run = RunProgram(QStringLiteral(VELMAR_CYCLE_BENCH), {u"--records"_s, u"ten"_s});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("whole numbers")) << run.err.constData();
}

} // namespace
