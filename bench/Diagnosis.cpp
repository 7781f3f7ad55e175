#include "bench/Diagnosis.h"

#include "bench/BenchSqlite.h"

#include "alerts/TrainingExpireRule.h"
#include "alerts/TrainingStatements.h"
#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "database/SqlServerDialect.h"
#include "database/SqliteConnection.h"
#include "database/SqliteDateColumns.h"
#include "database/SqliteFunctions.h"

#include <QElapsedTimer>
#include <QLocale>

#include <algorithm>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Platform-specific: TZ and tzset() are POSIX; the effect measured is
// glibc's, which stats /etc/localtime on every conversion when TZ is unset.
#ifdef Q_OS_UNIX
#include <time.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
qint64 DaysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

void CivilFromDays(qint64 z, qint64 *y, unsigned *m, unsigned *d)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = qint64(yoe) + era * 400 + (*m <= 2);
}

unsigned DaysInMonth(qint64 y, unsigned m)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

int Digits(const unsigned char *text, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The what-if DATEADD: month, day and year steps on ISO text with integer
// arithmetic only, month ends clamped as the server does. Enough for the
// task's queries, which use Month only.
void IntegerDateAdd(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL ||
        sqlite3_value_type(argv[2]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const char *interval = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
    const qint64 number = sqlite3_value_int64(argv[1]);
    const unsigned char *date = sqlite3_value_text(argv[2]);
    const int length = sqlite3_value_bytes(argv[2]);
    qint64 y = length >= 10 ? Digits(date, 4) : -1;
    int m = length >= 10 && date[4] == '-' ? Digits(date + 5, 2) : -1;
    int d = length >= 10 && date[7] == '-' ? Digits(date + 8, 2) : -1;
    int hh = 0, mi = 0, ss = 0;
    if (length >= 19) {
        hh = Digits(date + 11, 2);
        mi = Digits(date + 14, 2);
        ss = Digits(date + 17, 2);
    }
    if (y < 0 || m < 1 || m > 12 || d < 1 || d > 31 || hh < 0 || mi < 0 || ss < 0) {
        sqlite3_result_error(context, "integer DATEADD: not an ISO date", -1);
        return;
    }
    unsigned um = unsigned(m), ud = unsigned(d);
    const bool months = !qstricmp(interval, "month") || !qstricmp(interval, "mm") || !qstricmp(interval, "m");
    const bool years = !qstricmp(interval, "year") || !qstricmp(interval, "yy") || !qstricmp(interval, "yyyy");
    const bool days = !qstricmp(interval, "day") || !qstricmp(interval, "dd") || !qstricmp(interval, "d");
    if (months || years) {
        const qint64 total = y * 12 + (um - 1) + (years ? number * 12 : number);
        y = total >= 0 ? total / 12 : (total - 11) / 12;
        um = unsigned(total - y * 12) + 1;
        ud = std::min(ud, DaysInMonth(y, um));
    } else if (days) {
        CivilFromDays(DaysFromCivil(y, um, ud) + number, &y, &um, &ud);
    } else {
        sqlite3_result_error(context, "integer DATEADD: month, day and year only", -1);
        return;
    }
    char out[32];
    const int n = std::snprintf(out, sizeof out, "%04lld-%02u-%02u %02d:%02d:%02d", static_cast<long long>(y), um, ud,
                                hh, mi, ss);
    sqlite3_result_text(context, out, n, SQLITE_TRANSIENT);
}

struct QueryRun
{
    qint64 rows = 0;
    quint64 checksum = 1469598103934665603ULL;
    double ms = 0;
};

// Steps through every row, best of two runs; the checksum covers every value.
QueryRun RunQuery(sqlite3 *handle, const QByteArray &sql)
{
    QueryRun best;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QueryRun run;
        QElapsedTimer timer;
        timer.start();
        SqliteStatement prepared;
        if (!prepared.Prepare(handle, sql.constData(), int(sql.size())))
            throw BenchDbError(
                u"preparing a diagnosed query failed: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(handle))));
        sqlite3_stmt *const stmt = prepared.get();
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            ++run.rows;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const unsigned char *text = sqlite3_column_text(stmt, c);
                const int bytes = sqlite3_column_bytes(stmt, c);
                for (int i = 0; i < bytes; ++i)
                    run.checksum = (run.checksum ^ text[i]) * 1099511628211ULL;
                run.checksum = (run.checksum ^ 0xff) * 1099511628211ULL;
            }
        }
        if (rc != SQLITE_DONE)
            throw BenchDbError(u"a diagnosed query failed: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(handle))));
        run.ms = double(timer.nsecsElapsed()) / 1e6;
        if (attempt == 0 || run.ms < best.ms)
            best = run;
    }
    return best;
}

QStringList QueryPlan(BenchSqlite &db, const QByteArray &sql)
{
    QStringList plan;
    SqliteStatement stmt;
    const QByteArray explain = "EXPLAIN QUERY PLAN " + sql;
    if (!stmt.Prepare(db.handle(), explain.constData()))
        return {QString::fromUtf8(sqlite3_errmsg(db.handle()))};
    while (sqlite3_step(stmt.get()) == SQLITE_ROW)
        plan << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt.get(), 3)));
    return plan;
}

// TZ set for the lifetime of the object, restored after.
class TzSet
{
public:
    TzSet() : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ"))
    {
#ifdef Q_OS_UNIX
        qputenv("TZ", ":/etc/localtime");
        tzset();
#endif
    }
    ~TzSet()
    {
#ifdef Q_OS_UNIX
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
#endif
    }

private:
    bool m_had;
    QByteArray m_old;
};

double DateAddCallMicroseconds(sqlite3 *handle)
{
    // 20,000 calls on distinct dates, as a scan of training records makes.
    const QByteArray sql = "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 19999) "
                           "SELECT COUNT(DATEADD('Month', 24, date('2020-01-31', '+' || i || ' days'))) FROM n";
    const QByteArray baseline = "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 19999) "
                                "SELECT COUNT(date('2020-01-31', '+' || i || ' days')) FROM n";
    return std::max(0.0, (RunQuery(handle, sql).ms - RunQuery(handle, baseline).ms) * 1000.0 / 20000.0);
}

// The statements of `count` certifications as the notification stretch
// builds them, with names, quotes and dates that vary from one to the next.
QList<QStringList> NotificationBatch(int count)
{
    static const QStringList lastNames = {u"Doe"_s, u"O'Brien"_s, u"Nguyen"_s, u"Müller"_s, u"Smith-Jones"_s};
    static const QStringList items = {u"First Aid"_s, u"Forklift (Class 2)"_s, u"Fire Warden's Course"_s};
    QList<QStringList> batch;
    for (int i = 0; i < count; ++i) {
        const QDate renewDate = QDate(2027, 1 + i % 12, 1 + i % 28);
        const QString customer = u"Customer %1 Pty Ltd"_s.arg(i % 37);
        const QString description =
            ItemDescription(items.at(i % items.size()), lastNames.at(i % lastNames.size()), u"Jane"_s,
                            i % 2 ? QVariant(u"Q"_s) : QVariant(), QVariant(), renewDate);
        const QString subject = NotificationSubject(customer, description);
        const QString body = NotificationBody(customer, qlonglong(100000 + i), description);
        QStringList statements;
        for (int r = 0; r <= i % 3; ++r)
            statements << QueueRowStatement(u"alerts@velmar.example"_s, u"Velmar Services"_s,
                                            u"recipient%1.%2@client.example"_s.arg(i).arg(r), subject, body);
        NotificationLogValues log;
        log.EmailDate = QDateTime(QDate(2026, 12, 7), QTime(14, 5, i % 60));
        log.Category = u"Contract"_s;
        log.ItemID = qlonglong(100000 + i);
        log.RenewDate = renewDate;
        log.ContractManager = true;
        log.ContractSpecialist = i % 2 == 0;
        log.Client = true;
        statements << LogRowStatement(log);
        batch << statements;
    }
    return batch;
}

} // namespace

RewriteTiming MeasureNotificationBatchRewrite(const SchemaDateColumns &schema)
{
    RewriteTiming timing;
    const QList<QStringList> batch = NotificationBatch(200);
    timing.certifications = batch.size();
    for (const QStringList &statements : batch) {
        timing.statements += statements.size();
        for (const QString &statement : statements)
            timing.utf8Bytes += statement.toUtf8().size();
    }
    const SchemaDateColumnsSource source = [&schema] { return schema; };
    QList<double> runs;
    qsizetype written = 0; // keeps the rewrites from being optimised away
    for (int run = 0; run < 21; ++run) {
        QElapsedTimer timer;
        timer.start();
        for (const QStringList &statements : batch) {
            for (const QString &statement : statements)
                written += RewriteSqlServerDialect(statement, source).size();
        }
        runs << double(timer.nsecsElapsed()) / 1e6;
    }
    std::sort(runs.begin(), runs.end());
    timing.ms = runs.at(runs.size() / 2);
    if (written == 0)
        throw BenchDbError(u"the rewrite of the notification batch gave no text"_s);
    return timing;
}

QString MarkdownForRewrite(const RewriteTiming &timing)
{
    const QLocale english(QLocale::English);
    return u"Rewriting one notification batch of %1 certifications (%2 statements, %3 KB): %4 ms (%5 MB/s), "
           "median of 21.\n\n"_s.arg(english.toString(timing.certifications), english.toString(timing.statements),
                                     english.toString(double(timing.utf8Bytes) / 1000.0, 'f', 0),
                                     english.toString(timing.ms, 'f', 2),
                                     english.toString(timing.MegabytesPerSecond(), 'f', 1));
}

Diagnosis DiagnoseCycleCosts(const QString &databaseFile)
{
    Diagnosis diagnosis;
    const QList<QPair<QString, QString>> queries = {
        // The generated schema's keys are datetime columns, as the cycle reads them.
        {u"notification candidates"_s,
         NotificationCandidateQuery(TrainingExpireRule.Category, NotificationWindowDate(),
                                    {RenewalKeyType::DateTime, RenewalKeyType::DateTime})},
        {u"issue selection"_s, AutomaticIssueSelectQuery(IssueWindowDate(), RenewalKeyType::DateTime)},
        {u"auto-close selection"_s, AutoCloseSelectQuery(IssueWindowDate())},
    };

    BenchSqlite db(databaseFile);
    sqlite3 *handle = db.handle();
    const QString registered = RegisterSqlServerFunctions(handle);
    if (!registered.isEmpty())
        throw BenchDbError(registered);
    QList<QueryRun> system;
    for (const auto &[name, query] : queries) {
        const QByteArray sql = RewriteSqlServerDialect(query).toUtf8();
        QueryTiming timing;
        timing.name = name;
        const QueryRun run = RunQuery(handle, sql);
        system << run;
        timing.rows = run.rows;
        timing.systemMs = run.ms;
        timing.plan = QueryPlan(db, sql);
#ifdef Q_OS_UNIX
        {
            const TzSet tz;
            timing.tzSetMs = RunQuery(handle, sql).ms;
        }
#endif
        diagnosis.queries << timing;
    }
    diagnosis.dateAddMicroseconds = DateAddCallMicroseconds(handle);

    if (sqlite3_create_function_v2(handle, "DATEADD", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &IntegerDateAdd,
                                   nullptr, nullptr, nullptr) != SQLITE_OK)
        throw BenchDbError(
            u"registering the integer DATEADD failed: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(handle))));
    for (qsizetype i = 0; i < queries.size(); ++i) {
        const QueryRun run = RunQuery(handle, RewriteSqlServerDialect(queries.at(i).second).toUtf8());
        diagnosis.queries[i].integerMs = run.ms;
        diagnosis.queries[i].sameResults = run.rows == system.at(i).rows && run.checksum == system.at(i).checksum;
    }
    diagnosis.integerDateAddMicroseconds = DateAddCallMicroseconds(handle);
    diagnosis.rewrite = MeasureNotificationBatchRewrite(ReadDateColumns(handle));

    // The fixed cost of one statement: a no-op UPDATE through the server's
    // connection (rewrite, prepare, step) against a reused prepared one.
    const int count = 2000;
    const QString noOp = u"UPDATE Company SET Name = Name WHERE ID = -1"_s;
    if (!OpenDatabase())
        throw BenchDbError(u"OpenDatabase failed: "_s + LastOpenDatabaseError());
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        DatabaseConnection().Execute(noOp);
    diagnosis.executeMicroseconds = double(timer.nsecsElapsed()) / 1e3 / count;
    CloseDatabase();

    SqliteStatement stmt;
    const QByteArray noOpUtf8 = noOp.toUtf8();
    if (!stmt.Prepare(handle, noOpUtf8.constData()))
        throw BenchDbError(QString::fromUtf8(sqlite3_errmsg(handle)));
    timer.restart();
    for (int i = 0; i < count; ++i) {
        sqlite3_step(stmt.get());
        sqlite3_reset(stmt.get());
    }
    diagnosis.preparedMicroseconds = double(timer.nsecsElapsed()) / 1e3 / count;
    return diagnosis;
}

QString MarkdownForDiagnosis(const Diagnosis &diagnosis)
{
    const QLocale english(QLocale::English);
    const auto ms = [&](double value) { return value < 0 ? u"n/a"_s : english.toString(value, 'f', 1); };
    QString md = u"Where the time goes (each query alone, best of two, after the cycles):\n\n"
                 "| Query | Rows | As built, ms | With TZ set, ms | Integer DATEADD, ms | Same rows | Plan |\n"
                 "|---|---:|---:|---:|---:|---|---|\n"_s;
    for (const QueryTiming &q : diagnosis.queries)
        md += u"| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n"_s.arg(q.name, english.toString(q.rows), ms(q.systemMs),
                                                              ms(q.tzSetMs), ms(q.integerMs),
                                                              q.sameResults ? u"yes"_s : u"**NO**"_s,
                                                              q.plan.join(u"; "_s));
    md += u"\nOne DATEADD call: %1 µs as built, %2 µs integer-only. One no-op statement through "
          "DbConnection::Execute (rewrite, prepare, step): %3 µs; as a reused prepared statement: %4 µs.\n\n"_s
              .arg(english.toString(diagnosis.dateAddMicroseconds, 'f', 2),
                   english.toString(diagnosis.integerDateAddMicroseconds, 'f', 2),
                   english.toString(diagnosis.executeMicroseconds, 'f', 1),
                   english.toString(diagnosis.preparedMicroseconds, 'f', 1));
    md += MarkdownForRewrite(diagnosis.rewrite);
    return md;
}
