// Dates as plain calendar fields: the parsers, DATEADD's calendar steps
// checked against QDate's own calendar, and stored dates read back through
// the system's connection and written as the system writes them, whatever
// the machine's time zone.
#include "database/DateValues.h"
#include "database/DateArithmetic.h"
#include "database/Recordset.h"
#include "database/ValueText.h"
#include "tests/database/EmbeddedFixture.h"

#include <QDateTime>

#include <limits>

#ifdef Q_OS_UNIX
#include <time.h>
#endif

namespace {

DateFields fields(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0, int ms = 0)
{
    return DateFields{y, m, d, hh, mm, ss, ms};
}

std::string show(const DateFields &f)
{
    return IsoDateTimeText(f).toStdString();
}

bool same(const DateFields &a, const DateFields &b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
        a.second == b.second && a.msec == b.msec;
}

class StoredDates : public EmbeddedFixture
{
protected:
    // The value of one date column of one Issues row, through the system's connection.
    QVariant readBack(const QString &column, const QString &stored)
    {
        db.exec(QStringLiteral("DELETE FROM Issues; INSERT INTO Issues (ID, %1) VALUES (1, '%2')").arg(column, stored));
        Recordset rs;
        rs.Open(QStringLiteral("SELECT %1 FROM Issues").arg(column), connection);
        return rs.Field(column);
    }

    // The text DATEADD(arguments) gives, as SQLite holds it.
    QString dateAdd(const QString &arguments)
    {
        return scalar(QStringLiteral("SELECT 'x' || DATEADD(%1)").arg(arguments)).toString().mid(1);
    }
};

#ifdef Q_OS_UNIX
// A POSIX time-zone rule for the process while it lives (Unix only: TZ rule
// strings and tzset() are POSIX).
class ProcessTimeZone
{
public:
    explicit ProcessTimeZone(const char *rule) : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ"))
    {
        qputenv("TZ", rule);
        tzset();
    }
    ~ProcessTimeZone()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }
    ProcessTimeZone(const ProcessTimeZone &) = delete;
    ProcessTimeZone &operator=(const ProcessTimeZone &) = delete;

private:
    bool m_had;
    QByteArray m_old;
};
#endif

} // namespace

TEST(DateParsing, isoForms_readWithOrWithoutTimeAndFraction)
{
    struct Case
    {
        const char *text;
        DateFields expected;
    } cases[] = {
        {"2027-01-05", fields(2027, 1, 5)},
        {"2027-01-05 14:30", fields(2027, 1, 5, 14, 30)},
        {"2027-01-05T14:30:15", fields(2027, 1, 5, 14, 30, 15)},
        {"2027-01-05 14:30:15.5", fields(2027, 1, 5, 14, 30, 15, 500)},
        {"2027-01-05 14:30:15.0421987", fields(2027, 1, 5, 14, 30, 15, 42)},
        {"  2024-02-29 23:59:59\t", fields(2024, 2, 29, 23, 59, 59)},
        {"0001-01-01 00:00:00", fields(1, 1, 1)},
        {"9999-12-31 23:59:59.999", fields(9999, 12, 31, 23, 59, 59, 999)},
        {"1/5/2027", fields(2027, 1, 5)},
        {"12/7/2026 2:05:09 PM", fields(2026, 12, 7, 14, 5, 9)},
        {"12/7/2026 12:00:00 am", fields(2026, 12, 7)},
        {"12/7/2026 12:00:01 pM", fields(2026, 12, 7, 12, 0, 1)},
        {"02/29/2028 11:59:59 PM", fields(2028, 2, 29, 23, 59, 59)},
    };
    for (const Case &c : cases) {
        DateFields parsed;
        ASSERT_TRUE(ParseStoredDateFields(QString::fromUtf8(c.text), &parsed)) << c.text;
        EXPECT_TRUE(same(parsed, c.expected)) << c.text << " read as " << show(parsed);
    }
    DateFields parsed;
    const QByteArray bytes("2026-12-07 14:05:09");
    ASSERT_TRUE(ParseIsoDateFields(bytes.constData(), bytes.size(), &parsed));
    EXPECT_TRUE(same(parsed, fields(2026, 12, 7, 14, 5, 9)));
}

TEST(DateParsing, noDateOrNoRealDay_refused)
{
    const char *refused[] = {
        "",
        "soon",
        "2027-1-05",
        "2027-01-05 14",
        "2027-01-05 14:3",
        "2027-01-05 14:30:1",
        "2027-01-05 14:30:15.",
        "2027-01-05 14:30:15.x",
        "2027-01-05X14:30",
        "2025-02-29",
        "2027-04-31",
        "2027-13-01",
        "2027-00-10",
        "0000-01-01",
        "2027-01-05 24:00:00",
        "2027-01-05 23:60:00",
        "2027-01-05 23:59:60",
        "１２/7/2026",
        "2027-01-0５",
        "13/1/2027",
        "0/5/2027",
        "1/0/2027",
        "2/30/2027",
        "1/5/27",
        "1/5/2027 0:05:09 AM",
        "1/5/2027 13:05:09 PM",
        "1/5/2027 2:5:09 PM",
        "1/5/2027 2:05:09",
        "1/5/2027 2:05:09 XM",
        "1/5/2027 2:05:09 PMX",
        "1/5/2027  2:05:09 PM",
        "1/5/2027 is not a date",
    };
    for (const char *text : refused) {
        DateFields parsed;
        EXPECT_FALSE(ParseStoredDateFields(QString::fromUtf8(text), &parsed)) << text << " read as " << show(parsed);
        EXPECT_FALSE(ParseStoredDate(QString::fromUtf8(text)).isValid()) << text;
    }
    DateFields parsed;
    EXPECT_FALSE(ParseIsoDateFields(nullptr, 0, &parsed));
    // The system form only exactly as written: the dialect reads text literals with it.
    EXPECT_FALSE(ParseSystemDateFields(u" 1/5/2027", &parsed));
    EXPECT_FALSE(ParseSystemDateFields(u"2027-01-05", &parsed));
}

TEST(DateParsing, fullIsoForm_isWhatDateAddWrites)
{
    EXPECT_TRUE(IsFullIsoDateTime(u"2027-01-05 00:00:00"));
    EXPECT_TRUE(IsFullIsoDateTime(u"2027-01-05 00:00:00.5"));
    EXPECT_TRUE(IsFullIsoDateTime(u"2027-01-05 00:00:00.123"));
    EXPECT_FALSE(IsFullIsoDateTime(u"2027-01-05 00:00:00.1234"));
    EXPECT_FALSE(IsFullIsoDateTime(u"2027-01-05 00:00:00."));
    EXPECT_FALSE(IsFullIsoDateTime(u"2027-01-05"));
    EXPECT_FALSE(IsFullIsoDateTime(u"2027-01-05T00:00:00"));
    EXPECT_FALSE(IsFullIsoDateTime(u"Ann Lee, 2027"));
}

TEST(DateWriting, isoText_millisecondsOnlyWhenThere)
{
    EXPECT_EQ(IsoDateTimeText(fields(2027, 1, 5)), QStringLiteral("2027-01-05 00:00:00"));
    EXPECT_EQ(IsoDateTimeText(fields(1, 2, 3, 4, 5, 6, 7)), QStringLiteral("0001-02-03 04:05:06.007"));
    EXPECT_EQ(IsoDateTimeText(fields(9999, 12, 31, 23, 59, 59, 990)), QStringLiteral("9999-12-31 23:59:59.990"));
    EXPECT_EQ(IsoDateTimeText(QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9))), QStringLiteral("2026-12-07 14:05:09"));
    const QDateTime naive = NaiveDateTime(fields(2026, 12, 7, 14, 5, 9));
    EXPECT_EQ(naive.date(), QDate(2026, 12, 7));
    EXPECT_EQ(naive.time(), QTime(14, 5, 9));
    EXPECT_FALSE(NaiveDateTime(fields(2026, 2, 29)).isValid());
}

// Qt's own calendar is the reference: every day from 1890 to 2110, and
// every 97th day (all weekdays, all days of the month) over years 1 to 9999.
TEST(DateArithmetic, dayNumbers_matchQtsCalendar)
{
    constexpr qint64 UnixEpochJulianDay = 2440588;
    const qint64 first = QDate(1, 1, 1).toJulianDay();
    const qint64 last = QDate(9999, 12, 31).toJulianDay();
    const auto check = [&](qint64 julian) {
        const QDate date = QDate::fromJulianDay(julian);
        const qint64 number = DayNumber(date.year(), date.month(), date.day());
        int y = 0;
        int m = 0;
        int d = 0;
        DateOfDayNumber(number, &y, &m, &d);
        EXPECT_EQ(number, julian - UnixEpochJulianDay) << date.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(QDate(y, m, d), date) << number;
        return !::testing::Test::HasFailure();
    };
    for (qint64 julian = QDate(1890, 1, 1).toJulianDay(); julian <= QDate(2110, 12, 31).toJulianDay(); ++julian)
        ASSERT_TRUE(check(julian));
    for (qint64 julian = first; julian <= last; julian += 97)
        ASSERT_TRUE(check(julian));
    ASSERT_TRUE(check(first));
    ASSERT_TRUE(check(last));
}

// SQL Server's month step keeps the day and clamps it to a shorter month's
// end, as QDate::addMonths does; so do quarters and years.
TEST(DateArithmetic, monthQuarterYearSteps_clampLikeQtsCalendarOverSevenYears)
{
    const int steps[] = {-49, -25, -13, -12, -1, 0, 1, 2, 3, 11, 12, 13, 24, 48};
    for (QDate date(2023, 1, 1); date <= QDate(2029, 12, 31); date = date.addDays(1)) {
        const DateFields from = fields(date.year(), date.month(), date.day(), 9, 15, 30, 250);
        for (const int n : steps) {
            DateFields months;
            DateFields quarters;
            DateFields years;
            ASSERT_TRUE(AddDateUnits(DateUnit::Month, n, from, &months));
            ASSERT_TRUE(AddDateUnits(DateUnit::Quarter, n, from, &quarters));
            ASSERT_TRUE(AddDateUnits(DateUnit::Year, n, from, &years));
            const auto expect = [&](const DateFields &got, const QDate &want, const char *unit) {
                EXPECT_TRUE(same(got, fields(want.year(), want.month(), want.day(), 9, 15, 30, 250)))
                    << date.toString(Qt::ISODate).toStdString() << " + " << n << ' ' << unit << " = " << show(got)
                    << ", Qt says " << want.toString(Qt::ISODate).toStdString();
            };
            expect(months, date.addMonths(n), "months");
            expect(quarters, date.addMonths(3 * n), "quarters");
            expect(years, date.addYears(n), "years");
            if (HasFailure())
                return;
        }
    }
}

TEST(DateArithmetic, dayAndTimeSteps_crossMonthsYearsAndLeapDaysExactly)
{
    DateFields got;
    ASSERT_TRUE(AddDateUnits(DateUnit::Day, 1, fields(2024, 2, 28, 23), &got));
    EXPECT_TRUE(same(got, fields(2024, 2, 29, 23))) << show(got);
    ASSERT_TRUE(AddDateUnits(DateUnit::Day, -30, fields(2027, 3, 1), &got));
    EXPECT_TRUE(same(got, fields(2027, 1, 30))) << show(got);
    ASSERT_TRUE(AddDateUnits(DateUnit::Week, 2, fields(2026, 12, 25, 8), &got));
    EXPECT_TRUE(same(got, fields(2027, 1, 8, 8))) << show(got);
    ASSERT_TRUE(AddDateUnits(DateUnit::Hour, -1, fields(2027, 1, 1), &got));
    EXPECT_TRUE(same(got, fields(2026, 12, 31, 23))) << show(got);
    ASSERT_TRUE(AddDateUnits(DateUnit::Minute, 1441, fields(2028, 2, 28, 23, 59), &got));
    EXPECT_TRUE(same(got, fields(2028, 3, 1, 0, 0))) << show(got);
    ASSERT_TRUE(AddDateUnits(DateUnit::Second, -1, fields(2027, 1, 1), &got));
    EXPECT_TRUE(same(got, fields(2026, 12, 31, 23, 59, 59))) << show(got);
    ASSERT_TRUE(AddDateUnits(DateUnit::Millisecond, 1500, fields(2026, 12, 31, 23, 59, 59), &got));
    EXPECT_TRUE(same(got, fields(2027, 1, 1, 0, 0, 0, 500))) << show(got);
    ASSERT_TRUE(AddDateUnits(DateUnit::Millisecond, -1, fields(2027, 1, 1), &got));
    EXPECT_TRUE(same(got, fields(2026, 12, 31, 23, 59, 59, 999))) << show(got);
    // Against Qt's calendar over a span of days in both directions.
    for (int n = -1500; n <= 1500; n += 7) {
        ASSERT_TRUE(AddDateUnits(DateUnit::Day, n, fields(2026, 12, 7, 14, 5, 9), &got));
        const QDate want = QDate(2026, 12, 7).addDays(n);
        EXPECT_TRUE(same(got, fields(want.year(), want.month(), want.day(), 14, 5, 9))) << n << ": " << show(got);
    }
}

TEST(DateArithmetic, resultsOutsideYearsOneTo9999OrUnknownUnits_refused)
{
    DateFields got;
    EXPECT_FALSE(AddDateUnits(DateUnit::Year, 1, fields(9999, 6, 1), &got));
    EXPECT_FALSE(AddDateUnits(DateUnit::Month, -1, fields(1, 1, 31), &got));
    EXPECT_FALSE(AddDateUnits(DateUnit::Day, 1, fields(9999, 12, 31), &got));
    EXPECT_FALSE(AddDateUnits(DateUnit::Millisecond, -1, fields(1, 1, 1), &got));
    EXPECT_FALSE(AddDateUnits(DateUnit::Week, std::numeric_limits<qint64>::max(), fields(2027, 1, 1), &got));
    EXPECT_FALSE(AddDateUnits(DateUnit::Quarter, std::numeric_limits<qint64>::min(), fields(2027, 1, 1), &got));
    EXPECT_FALSE(AddDateUnits(DateUnit::Unknown, 1, fields(2027, 1, 1), &got));
    EXPECT_FALSE(AddDateUnits(DateUnit::Day, 1, fields(2027, 2, 30), &got));
    ASSERT_TRUE(AddDateUnits(DateUnit::Year, -2026, fields(2027, 1, 1), &got));
    EXPECT_TRUE(same(got, fields(1, 1, 1))) << show(got);
}

TEST(DateArithmetic, intervalKeywords_anyLetterCaseAndAllSynonyms)
{
    EXPECT_EQ(DateUnitOf(u"Month"), DateUnit::Month);
    EXPECT_EQ(DateUnitOf(u" MM "), DateUnit::Month);
    EXPECT_EQ(DateUnitOf(u"m"), DateUnit::Month);
    EXPECT_EQ(DateUnitOf(u"yyyy"), DateUnit::Year);
    EXPECT_EQ(DateUnitOf(u"y"), DateUnit::Day); // day of year
    EXPECT_EQ(DateUnitOf(u"WeekDay"), DateUnit::Day);
    EXPECT_EQ(DateUnitOf(u"wk"), DateUnit::Week);
    EXPECT_EQ(DateUnitOf(u"n"), DateUnit::Minute);
    EXPECT_EQ(DateUnitOf(u"MS"), DateUnit::Millisecond);
    EXPECT_EQ(DateUnitOf(u"qq"), DateUnit::Quarter);
    EXPECT_EQ(DateUnitOf(u"months"), DateUnit::Unknown);
    EXPECT_EQ(DateUnitOf(u"mont"), DateUnit::Unknown);
    EXPECT_EQ(DateUnitOf(u""), DateUnit::Unknown);
    EXPECT_EQ(DateUnitOf(u"Mönth"), DateUnit::Unknown);
    const QByteArray bytes("dAy");
    EXPECT_EQ(DateUnitOf(bytes.constData(), bytes.size()), DateUnit::Day);
    EXPECT_EQ(DateUnitOf(nullptr, 0), DateUnit::Unknown);
}

TEST_F(StoredDates, midnightAndAfternoon_readBackAndWriteAsTheSystemWritesDates)
{
    const QVariant midnight = readBack(QStringLiteral("IssueDate"), QStringLiteral("2027-01-05 00:00:00"));
    ASSERT_EQ(midnight.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(ValueText(midnight), QStringLiteral("1/5/2027"));
    const QVariant afternoon = readBack(QStringLiteral("EnteredDate"), QStringLiteral("2026-12-07 14:05:09"));
    ASSERT_EQ(afternoon.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(ValueText(afternoon), QStringLiteral("12/7/2026 2:05:09 PM"));
    EXPECT_EQ(ValueText(readBack(QStringLiteral("EditedDate"), QStringLiteral("2026-12-07 00:00:01"))),
              QStringLiteral("12/7/2026 12:00:01 AM"));
    EXPECT_EQ(ValueText(readBack(QStringLiteral("DueDate"), QStringLiteral("2028-02-29"))),
              QStringLiteral("2/29/2028"));
    // Text in a date column that is no date stays text (a host column
    // without the embedded schema's check).
    db.exec(QStringLiteral("PRAGMA ignore_check_constraints = ON"));
    const QVariant word = readBack(QStringLiteral("DueDate"), QStringLiteral("soon"));
    EXPECT_EQ(word.typeId(), QMetaType::QString);
    EXPECT_EQ(ValueText(word), QStringLiteral("soon"));

    // A computed date (the renewal date of the system's queries) reads the same.
    const QVariant renewal = scalar(QStringLiteral("SELECT DATEADD(Month, 12, '2026-01-05')"));
    ASSERT_EQ(renewal.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(ValueText(renewal), QStringLiteral("1/5/2027"));
    EXPECT_EQ(ValueText(scalar(QStringLiteral("SELECT DATEADD(Month, 12, '12/7/2025 2:05:09 PM')"))),
              QStringLiteral("12/7/2026 2:05:09 PM"));
}

TEST_F(StoredDates, dateAdd_numbersMillisecondsAndBlankedIntervals)
{
    // A number is days from 1 January 1900, as SQL Server reads it.
    EXPECT_EQ(dateAdd(QStringLiteral("Day, 1, 0")), QStringLiteral("1900-01-02 00:00:00"));
    EXPECT_EQ(dateAdd(QStringLiteral("Hour, 0, 1.5")), QStringLiteral("1900-01-02 12:00:00"));
    EXPECT_EQ(dateAdd(QStringLiteral("Millisecond, 1500, '2026-12-31 23:59:59'")),
              QStringLiteral("2027-01-01 00:00:00.500"));
    EXPECT_EQ(dateAdd(QStringLiteral("Month, -1, '  2025-03-31 '")), QStringLiteral("2025-02-28 00:00:00"));
    try {
        scalar(QStringLiteral("SELECT DATEADD(Day, 1, 1e300)"));
        FAIL() << "a date far outside the calendar went unnoticed";
    } catch (const DbError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("overflow"))) << e.what();
    }
    try {
        scalar(QStringLiteral("SELECT DATEADD('fortnight', 1, '2025-01-05')"));
        FAIL() << "an unknown interval went unnoticed";
    } catch (const DbError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("'fortnight' is not a recognized dateadd option"))) << e.what();
    }
}

#ifdef Q_OS_UNIX
// In a zone whose clocks spring forward at midnight, that midnight never
// happens on the local clock; a stored date still means that day. Read as
// local time, 3/8/2026 came back as text, and a renewal date computed onto it
// failed the whole query.
TEST_F(StoredDates, zoneSkippingMidnight_datesReadAndStepAsStored)
{
    const ProcessTimeZone zone("EST5EDT,M3.2.0/0,M11.1.0");
    ASSERT_FALSE(QDateTime(QDate(2026, 3, 8), QTime(0, 0)).isValid()) << "the zone rule did not take";

    const QVariant skipped = readBack(QStringLiteral("IssueDate"), QStringLiteral("2026-03-08 00:00:00"));
    ASSERT_EQ(skipped.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(ValueText(skipped), QStringLiteral("3/8/2026"));
    const QVariant renewal = scalar(QStringLiteral("SELECT DATEADD(Month, 12, '2025-03-08')"));
    ASSERT_EQ(renewal.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(ValueText(renewal), QStringLiteral("3/8/2026"));
    EXPECT_EQ(ValueText(scalar(QStringLiteral("SELECT DATEADD(Minute, 30, '3/8/2026')"))),
              QStringLiteral("3/8/2026 12:30:00 AM"));
    connection.Execute(QStringLiteral("UPDATE Issues SET DueDate = '3/8/2026 12:30:00 AM'"));
    EXPECT_EQ(db.queryValue(QStringLiteral("SELECT DueDate FROM Issues")).toString(),
              QStringLiteral("2026-03-08 00:30:00"));
}
#endif
