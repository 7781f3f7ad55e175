#include "SqliteFunctions.h"

#include "DateValues.h"

#include <sqlite3.h>

#include <cmath>
#include <limits>

namespace {

enum class Unit { Unknown, Year, Quarter, Month, Day, Week, Hour, Minute, Second, Millisecond };

Unit unitOf(const QString &interval)
{
    const QString i = interval.trimmed().toLower();
    if (i == u"year" || i == u"yy" || i == u"yyyy")
        return Unit::Year;
    if (i == u"quarter" || i == u"qq" || i == u"q")
        return Unit::Quarter;
    if (i == u"month" || i == u"mm" || i == u"m")
        return Unit::Month;
    if (i == u"day" || i == u"dd" || i == u"d" || i == u"dayofyear" || i == u"dy" || i == u"y"
        || i == u"weekday" || i == u"dw" || i == u"w")
        return Unit::Day;
    if (i == u"week" || i == u"wk" || i == u"ww")
        return Unit::Week;
    if (i == u"hour" || i == u"hh")
        return Unit::Hour;
    if (i == u"minute" || i == u"mi" || i == u"n")
        return Unit::Minute;
    if (i == u"second" || i == u"ss" || i == u"s")
        return Unit::Second;
    if (i == u"millisecond" || i == u"ms")
        return Unit::Millisecond;
    return Unit::Unknown;
}

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

// A date argument: ISO or the system's text form; a number counts days from
// 1 January 1900, as SQL Server reads a number given as a datetime.
QDateTime dateArgument(sqlite3_value *value, bool *ok)
{
    *ok = true;
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
        const double days = sqlite3_value_double(value);
        const QDateTime base(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC);
        return base.addMSecs(qint64(std::llround(days * 86400000.0)));
    }
    default: {
        const QString text = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(value)));
        const QDateTime local = ParseStoredDate(text);
        if (!local.isValid()) {
            *ok = false;
            return QDateTime();
        }
        // Calendar arithmetic without daylight-saving jumps.
        return QDateTime(local.date(), local.time(), Qt::UTC);
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
    const QString interval = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(argv[0])));
    if (unitOf(interval) == Unit::Unknown) {
        resultError(context, QStringLiteral("'%1' is not a recognized dateadd option.").arg(interval));
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
    bool ok = false;
    const QDateTime date = dateArgument(argv[2], &ok);
    if (!ok) {
        resultError(context, QStringLiteral("Conversion failed when converting date and/or time from character string."));
        return;
    }
    const QDateTime result = AddDateInterval(interval, qint64(number), date);
    if (!result.isValid()) {
        resultError(context, QStringLiteral("Adding a value to a 'datetime' column caused an overflow."));
        return;
    }
    resultText(context, IsoDateTimeText(result));
}

void getDate(sqlite3_context *context, int, sqlite3_value **)
{
    const QDateTime now = QDateTime::currentDateTime();
    resultText(context, IsoDateTimeText(QDateTime(now.date(), now.time())));
}

} // namespace

QDateTime AddDateInterval(const QString &interval, qint64 number, const QDateTime &date, bool *knownInterval)
{
    const Unit unit = unitOf(interval);
    if (knownInterval != nullptr)
        *knownInterval = unit != Unit::Unknown;
    if (!date.isValid())
        return QDateTime();
    const QDateTime utc(date.date(), date.time(), Qt::UTC);
    QDateTime result;
    switch (unit) {
    case Unit::Unknown:
        return QDateTime();
    case Unit::Year:
        // QDate clamps 29 February to 28 February in a common year.
        result = QDateTime(utc.date().addYears(int(number)), utc.time(), Qt::UTC);
        break;
    case Unit::Quarter:
        result = QDateTime(utc.date().addMonths(int(number * 3)), utc.time(), Qt::UTC);
        break;
    case Unit::Month:
        // QDate keeps the day and clamps it to the last day of a shorter
        // month, as SQL Server does.
        result = QDateTime(utc.date().addMonths(int(number)), utc.time(), Qt::UTC);
        break;
    case Unit::Day:
        result = utc.addDays(number);
        break;
    case Unit::Week:
        result = utc.addDays(number * 7);
        break;
    case Unit::Hour:
        result = utc.addSecs(number * 3600);
        break;
    case Unit::Minute:
        result = utc.addSecs(number * 60);
        break;
    case Unit::Second:
        result = utc.addSecs(number);
        break;
    case Unit::Millisecond:
        result = utc.addMSecs(number);
        break;
    }
    if (!result.isValid() || result.date().year() < 1 || result.date().year() > 9999)
        return QDateTime();
    return QDateTime(result.date(), result.time());
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
