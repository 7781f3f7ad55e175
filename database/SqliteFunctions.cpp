#include "SqliteFunctions.h"

#include "DateArithmetic.h"
#include "DateValues.h"

#include <sqlite3.h>

#include <cmath>
#include <limits>

namespace {

void resultText(sqlite3_context *context, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(context, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void resultError(sqlite3_context *context, const QString &message)
{
    const QByteArray utf8 = message.toUtf8();
    sqlite3_result_error(context, utf8.constData(), int(utf8.size()));
}

QString textOf(sqlite3_value *value)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(value)), sqlite3_value_bytes(value));
}

enum class DateArgument { Date, NoDate, OutOfRange };

// A date argument: ISO or the system's text form; a number counts days from
// 1 January 1900, as SQL Server reads a number given as a datetime.
DateArgument dateArgument(sqlite3_value *value, DateFields *date)
{
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
        const double days = sqlite3_value_double(value);
        // Far outside the calendar: no date the step could bring back.
        if (!(std::fabs(days) < 1e9))
            return DateArgument::OutOfRange;
        const qint64 msecs = qint64(std::llround(days * 86400000.0));
        const DateFields base{1900, 1, 1, 0, 0, 0, 0};
        return AddDateUnits(DateUnit::Millisecond, msecs, base, date) ? DateArgument::Date : DateArgument::OutOfRange;
    }
    default: {
        // Stored dates are ISO text: read straight from SQLite's bytes.
        const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(value));
        if (text != nullptr && ParseIsoDateFields(text, sqlite3_value_bytes(value), date))
            return DateArgument::Date;
        return ParseStoredDateFields(textOf(value), date) ? DateArgument::Date : DateArgument::NoDate;
    }
    }
}

void dateAdd(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    if (argc != 3) {
        resultError(context, QStringLiteral("DATEADD takes three arguments."));
        return;
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        resultError(context, QStringLiteral("DATEADD needs an interval (Month, Day, Year...)."));
        return;
    }
    const DateUnit unit = DateUnitOf(reinterpret_cast<const char *>(sqlite3_value_text(argv[0])),
                                     sqlite3_value_bytes(argv[0]));
    if (unit == DateUnit::Unknown) {
        resultError(context, QStringLiteral("'%1' is not a recognized dateadd option.").arg(textOf(argv[0])));
        return;
    }
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const double number = std::trunc(sqlite3_value_double(argv[1]));
    if (number > double(std::numeric_limits<int>::max()) || number < double(std::numeric_limits<int>::min())) {
        resultError(context, QStringLiteral("Arithmetic overflow error converting expression to data type int."));
        return;
    }
    DateFields date;
    DateFields result;
    switch (dateArgument(argv[2], &date)) {
    case DateArgument::NoDate:
        resultError(context, QStringLiteral("Conversion failed when converting date and/or time from character string."));
        return;
    case DateArgument::OutOfRange:
        break;
    case DateArgument::Date:
        if (AddDateUnits(unit, qint64(number), date, &result)) {
            char text[MaxIsoDateTimeChars];
            sqlite3_result_text(context, text, WriteIsoDateTime(result, text), SQLITE_TRANSIENT);
            return;
        }
        break;
    }
    resultError(context, QStringLiteral("Adding a value to a 'datetime' column caused an overflow."));
}

void getDate(sqlite3_context *context, int, sqlite3_value **)
{
    // The one place a date is taken from the local clock: the host's
    // GETDATE() is the server's local time too.
    resultText(context, IsoDateTimeText(QDateTime::currentDateTime()));
}

} // namespace

QDateTime AddDateInterval(const QString &interval, qint64 number, const QDateTime &date, bool *knownInterval)
{
    const DateUnit unit = DateUnitOf(interval);
    if (knownInterval != nullptr)
        *knownInterval = unit != DateUnit::Unknown;
    DateFields result;
    if (!date.isValid() || !AddDateUnits(unit, number, FieldsOf(date), &result))
        return QDateTime();
    return NaiveDateTime(result);
}

QString RegisterSqlServerFunctions(sqlite3 *handle)
{
    if (sqlite3_create_function_v2(handle, "DATEADD", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   &dateAdd, nullptr, nullptr, nullptr) != SQLITE_OK)
        return QStringLiteral("Cannot register DATEADD: %1").arg(QString::fromUtf8(sqlite3_errmsg(handle)));
    if (sqlite3_create_function_v2(handle, "GETDATE", 0, SQLITE_UTF8, nullptr, &getDate, nullptr, nullptr,
                                   nullptr) != SQLITE_OK)
        return QStringLiteral("Cannot register GETDATE: %1").arg(QString::fromUtf8(sqlite3_errmsg(handle)));
    return QString();
}
