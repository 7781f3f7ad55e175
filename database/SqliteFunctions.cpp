#include "database/SqliteFunctions.h"

#include "database/DateArithmetic.h"
#include "database/DateValues.h"
#include "database/ServerDateText.h"
#include "database/UnreadableDates.h"

#include <sqlite3.h>

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>
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

const QString kDateConversionFailed =
    QStringLiteral("Conversion failed when converting date and/or time from character string.");

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

// Whether DATEADD's date is a column declared DATE ("T.C", as the rewrite
// names it): SQL Server's DATEADD returns the type of its date argument, so
// its result is then a date, without a time of day. Looked up once per
// statement (the name is a constant argument).
bool ofDateColumn(sqlite3_context *context, sqlite3_value *column)
{
    if (const auto *kept = static_cast<const bool *>(sqlite3_get_auxdata(context, 3)))
        return *kept;
    const QByteArray named = textOf(column).toUtf8();
    const qsizetype dot = named.indexOf('.');
    const char *declared = nullptr;
    const bool isDate = dot > 0 &&
        sqlite3_table_column_metadata(sqlite3_context_db_handle(context), nullptr, named.left(dot).constData(),
                                      named.mid(dot + 1).constData(), &declared, nullptr, nullptr, nullptr,
                                      nullptr) == SQLITE_OK &&
        declared != nullptr && sqlite3_stricmp(declared, "DATE") == 0;
    sqlite3_set_auxdata(context, 3, new bool(isDate), [](void *p) { delete static_cast<bool *>(p); });
    return isDate;
}

void dateAdd(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    if (argc != 3 && argc != 5) {
        resultError(context, QStringLiteral("DATEADD takes three arguments."));
        return;
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        resultError(context, QStringLiteral("DATEADD needs an interval (Month, Day, Year...)."));
        return;
    }
    const DateUnit unit =
        DateUnitOf(reinterpret_cast<const char *>(sqlite3_value_text(argv[0])), sqlite3_value_bytes(argv[0]));
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
        // A table's column (the rewrite hands over the column and the row):
        // only that row is left out, and the cycle names it. One bad row must
        // not stop every other certification from being notified.
        if (argc == 5) {
            NoteUnreadableDate(textOf(argv[3]), textOf(argv[4]), textOf(argv[2]));
            sqlite3_result_null(context);
        } else {
            resultError(context, kDateConversionFailed);
        }
        return;
    case DateArgument::OutOfRange:
        break;
    case DateArgument::Date:
        if (AddDateUnits(unit, qint64(number), date, &result)) {
            char text[MaxIsoDateTimeChars];
            const int written = WriteIsoDateTime(result, text);
            constexpr int kDateOnly = 10; // "YYYY-MM-DD"
            sqlite3_result_text(context, text, argc == 5 && ofDateColumn(context, argv[3]) ? kDateOnly : written,
                                SQLITE_TRANSIENT);
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

// The datetime a value stands for, as the server converts it: ISO or the
// system's text, the style-0 text, a number of days since 1900; rounded to
// datetime's 1/300 s.
DateArgument serverDate(sqlite3_value *value, DateFields *date)
{
    DateFields read;
    DateArgument kind = dateArgument(value, &read);
    if (kind == DateArgument::NoDate && ParseServerDateText(textOf(value), &read))
        kind = DateArgument::Date;
    if (kind == DateArgument::Date && !RoundToDatetime(read, date))
        return DateArgument::OutOfRange;
    return kind;
}

// SQL Server's text of a datetime: stored dates are exactly the full ISO
// form, so that form (and only that) is taken for a datetime.
void textOfValue(sqlite3_context *context, sqlite3_value *value, int style, int length)
{
    // A stored date-time (the common case) is converted on SQLite's bytes.
    if (style == 120 && sqlite3_value_type(value) == SQLITE_TEXT) {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_value_text(value));
        const int size = sqlite3_value_bytes(value);
        DateFields date;
        if (bytes != nullptr && IsFullIsoDateTime(bytes, size) && ParseIsoDateFields(bytes, size, &date)) {
            date.msec = 0;
            char text[MaxIsoDateTimeChars];
            const int written = WriteIsoDateTime(date, text);
            sqlite3_result_text(context, text, length > 0 ? std::min(written, length) : written, SQLITE_TRANSIENT);
            return;
        }
    }
    QString text = textOf(value);
    DateFields date;
    if (IsFullIsoDateTime(text) && ParseStoredDateFields(text, &date))
        text = style == 120 ? CanonicalStyleText(date) : DefaultStyleText(date);
    resultText(context, length > 0 ? text.left(length) : text);
}

// The length of "varchar(19)", 30 for a bare "varchar", 0 for "(max)".
bool textTypeLength(const QString &type, int *length)
{
    static const QRegularExpression shape(QRegularExpression::anchoredPattern(QStringLiteral(
                                              "\\s*n?(?:var)?char\\s*(?:\\(\\s*(\\d+|max)\\s*\\))?\\s*")),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = shape.match(type);
    if (!m.hasMatch())
        return false;
    const QString size = m.captured(1).toLower();
    *length = size.isEmpty() ? 30 : size == u"max" ? 0 : size.toInt();
    return true;
}

bool isDatetimeType(const QString &type)
{
    const QString t = type.trimmed().toLower();
    return t == u"datetime" || t == u"datetime2" || t == u"smalldatetime";
}

// CONVERT(type, value[, style]) and TRY_CONVERT: the rewrite hands the type
// over as text. To a text type a datetime becomes style 0 or 120 text; to a
// datetime the server's reading of the text (a failure is an error for
// CONVERT, Null for TRY_CONVERT).
struct ConversionType
{
    enum class Kind { Text, Datetime, Unsupported } kind = Kind::Unsupported;
    int length = 0; // of a text type, as textTypeLength gives it
};

ConversionType readConversionType(sqlite3_value *value)
{
    ConversionType type;
    const QString name = textOf(value);
    if (textTypeLength(name, &type.length))
        type.kind = ConversionType::Kind::Text;
    else if (isDatetimeType(name))
        type.kind = ConversionType::Kind::Datetime;
    return type;
}

// The type is read once per statement, not once per row: SQLite keeps it
// beside the argument for as long as the argument stays the same (and drops
// it at once for an argument that is not constant).
ConversionType conversionTypeOf(sqlite3_context *context, sqlite3_value *typeArgument)
{
    if (const auto *kept = static_cast<const ConversionType *>(sqlite3_get_auxdata(context, 0)))
        return *kept;
    const ConversionType type = readConversionType(typeArgument);
    sqlite3_set_auxdata(context, 0, new ConversionType(type), [](void *p) { delete static_cast<ConversionType *>(p); });
    return type;
}

void convert(sqlite3_context *context, int argc, sqlite3_value **argv, bool tryOnly)
{
    const ConversionType type = conversionTypeOf(context, argv[0]);
    const int style = argc > 2 ? sqlite3_value_int(argv[2]) : 0;
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || (argc > 2 && sqlite3_value_type(argv[2]) == SQLITE_NULL)) {
        sqlite3_result_null(context);
        return;
    }
    if (type.kind == ConversionType::Kind::Text) {
        textOfValue(context, argv[1], style, type.length);
        return;
    }
    if (type.kind == ConversionType::Kind::Unsupported) {
        resultError(context,
                    QStringLiteral("CONVERT to %1 is not supported by the embedded database.").arg(textOf(argv[0])));
        return;
    }
    DateFields date;
    if (serverDate(argv[1], &date) == DateArgument::Date) {
        char text[MaxIsoDateTimeChars];
        sqlite3_result_text(context, text, WriteIsoDateTime(date, text), SQLITE_TRANSIENT);
    } else if (tryOnly) {
        sqlite3_result_null(context);
    } else {
        resultError(context, kDateConversionFailed);
    }
}

void convertOrFail(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    convert(context, argc, argv, false);
}

void convertOrNull(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    convert(context, argc, argv, true);
}

// CAST(x AS VarChar(n)) as the rewrite hands it over: VARCHAR_OF(x, n).
void varcharOf(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    textOfValue(context, argv[0], 0, sqlite3_value_int(argv[1]));
}

// SQL Server pads the shorter of two texts with blanks before comparing.
int withoutTrailingBlanks(const unsigned char *text, int length)
{
    while (length > 0 && text[length - 1] == ' ')
        --length;
    return length;
}

// The schema's text columns say COLLATE NOCASE; on the system's connection
// that collation is SQL Server's default one: letter case is ignored (ASCII,
// as SQLite's own NOCASE) and so are trailing blanks, so that an EmailTo of
// blanks alone equals '' and 'Open ' equals 'Open'.
int compareAsSqlServer(void *, int leftLength, const void *left, int rightLength, const void *right)
{
    const auto *a = static_cast<const unsigned char *>(left);
    const auto *b = static_cast<const unsigned char *>(right);
    leftLength = withoutTrailingBlanks(a, leftLength);
    rightLength = withoutTrailingBlanks(b, rightLength);
    const int common = std::min(leftLength, rightLength);
    for (int i = 0; i < common; ++i) {
        const int x = (a[i] >= 'A' && a[i] <= 'Z') ? a[i] + 32 : a[i];
        const int y = (b[i] >= 'A' && b[i] <= 'Z') ? b[i] + 32 : b[i];
        if (x != y)
            return x - y;
    }
    return leftLength - rightLength;
}

// COLLATE Latin1_General_BIN2 as SQL Server applies it to Unicode text:
// Unicode code point order (UTF-8 bytes compare in that order), letter case
// counts, trailing blanks do not (SQL Server pads the shorter text).
int compareBinary(void *, int leftLength, const void *left, int rightLength, const void *right)
{
    const auto *a = static_cast<const unsigned char *>(left);
    const auto *b = static_cast<const unsigned char *>(right);
    leftLength = withoutTrailingBlanks(a, leftLength);
    rightLength = withoutTrailingBlanks(b, rightLength);
    const int common = std::min(leftLength, rightLength);
    const int order = common > 0 ? std::memcmp(a, b, size_t(common)) : 0;
    return order != 0 ? order : leftLength - rightLength;
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
    if (sqlite3_create_function_v2(handle, "DATEADD", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &dateAdd, nullptr,
                                   nullptr, nullptr) != SQLITE_OK ||
        sqlite3_create_function_v2(handle, "DATEADD", 5, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &dateAdd, nullptr,
                                   nullptr, nullptr) != SQLITE_OK)
        return QStringLiteral("Cannot register DATEADD: %1").arg(QString::fromUtf8(sqlite3_errmsg(handle)));
    if (sqlite3_create_function_v2(handle, "GETDATE", 0, SQLITE_UTF8, nullptr, &getDate, nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        return QStringLiteral("Cannot register GETDATE: %1").arg(QString::fromUtf8(sqlite3_errmsg(handle)));
    if (sqlite3_create_collation_v2(handle, "NOCASE", SQLITE_UTF8, nullptr, &compareAsSqlServer, nullptr) != SQLITE_OK)
        return QStringLiteral("Cannot register the NOCASE collation: %1")
            .arg(QString::fromUtf8(sqlite3_errmsg(handle)));
    if (sqlite3_create_collation_v2(handle, "Latin1_General_BIN2", SQLITE_UTF8, nullptr, &compareBinary, nullptr) !=
        SQLITE_OK)
        return QStringLiteral("Cannot register the Latin1_General_BIN2 collation: %1")
            .arg(QString::fromUtf8(sqlite3_errmsg(handle)));
    struct Function
    {
        const char *name;
        int arguments;
        void (*call)(sqlite3_context *, int, sqlite3_value **);
    };
    static constexpr Function kConversions[] = {
        {"CONVERT", 2, &convertOrFail},     {"CONVERT", 3, &convertOrFail}, {"TRY_CONVERT", 2, &convertOrNull},
        {"TRY_CONVERT", 3, &convertOrNull}, {"VARCHAR_OF", 2, &varcharOf},
    };
    for (const Function &f : kConversions) {
        if (sqlite3_create_function_v2(handle, f.name, f.arguments, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, f.call,
                                       nullptr, nullptr, nullptr) != SQLITE_OK)
            return QStringLiteral("Cannot register %1: %2")
                .arg(QLatin1String(f.name), QString::fromUtf8(sqlite3_errmsg(handle)));
    }
    return QString();
}
