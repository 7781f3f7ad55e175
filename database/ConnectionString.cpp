#include "database/ConnectionString.h"

#include <QRegularExpression>

namespace {

// Reads a quoted value starting at text[pos] (the opening quote); returns the
// value and leaves pos after the closing quote.
QString readQuoted(const QString &text, qsizetype &pos, QChar close)
{
    QString value;
    ++pos;
    while (pos < text.size()) {
        const QChar c = text.at(pos);
        if (c == close) {
            if (pos + 1 < text.size() && text.at(pos + 1) == close) {
                value += close;
                pos += 2;
                continue;
            }
            ++pos;
            return value;
        }
        value += c;
        ++pos;
    }
    return value; // unterminated: the rest of the text
}

} // namespace

QList<ConnectionStringItem> ParseConnectionString(const QString &text)
{
    QList<ConnectionStringItem> items;
    qsizetype pos = 0;
    const qsizetype size = text.size();
    while (pos < size) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), pos);
        const qsizetype semicolon = text.indexOf(QLatin1Char(';'), pos);
        if (equals < 0 || (semicolon >= 0 && semicolon < equals)) {
            // An item without "=": keep it as a key with an empty value so
            // that the caller can say what it did not understand.
            const qsizetype end = semicolon < 0 ? size : semicolon;
            const QString key = text.mid(pos, end - pos).trimmed();
            if (!key.isEmpty())
                items.append({key, QString(), key});
            pos = end + 1;
            continue;
        }
        const qsizetype itemBegin = pos;
        const QString key = text.mid(pos, equals - pos).trimmed();
        pos = equals + 1;
        while (pos < size && text.at(pos).isSpace())
            ++pos;
        QString value;
        if (pos < size && (text.at(pos) == QLatin1Char('"') || text.at(pos) == QLatin1Char('\''))) {
            const QChar quote = text.at(pos);
            value = readQuoted(text, pos, quote);
            const qsizetype end = text.indexOf(QLatin1Char(';'), pos);
            pos = end < 0 ? size : end + 1;
        } else if (pos < size && text.at(pos) == QLatin1Char('{')) {
            value = readQuoted(text, pos, QLatin1Char('}'));
            const qsizetype end = text.indexOf(QLatin1Char(';'), pos);
            pos = end < 0 ? size : end + 1;
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), pos);
            value = text.mid(pos, (end < 0 ? size : end) - pos).trimmed();
            pos = end < 0 ? size : end + 1;
        }
        if (!key.isEmpty()) {
            const qsizetype itemEnd = text.at(pos - 1) == QLatin1Char(';') ? pos - 1 : pos;
            items.append({key, value, text.mid(itemBegin, itemEnd - itemBegin).trimmed()});
        }
    }
    return items;
}

QString ConnectionStringValue(const QList<ConnectionStringItem> &items, const QString &key)
{
    QString found;
    for (const ConnectionStringItem &item : items) {
        if (item.key.compare(key, Qt::CaseInsensitive) == 0)
            found = item.value.isNull() ? QString(QLatin1String("")) : item.value;
    }
    return found;
}

bool HasConnectionStringKey(const QList<ConnectionStringItem> &items, const QString &key)
{
    for (const ConnectionStringItem &item : items) {
        if (item.key.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString JoinRawItems(const QList<ConnectionStringItem> &items, const QStringList &leaveOut)
{
    QStringList kept;
    for (const ConnectionStringItem &item : items) {
        if (!leaveOut.contains(item.key, Qt::CaseInsensitive))
            kept.append(item.raw);
    }
    return kept.join(QLatin1Char(';'));
}

QString MaskPasswords(const QString &text)
{
    // A quote or brace that never closes runs to the end of the text, as the
    // reader takes it, so all of it is masked.
    static const QRegularExpression password(
        QStringLiteral(
            R"(((?:^|[;\s])(?:Password|PWD)\s*=\s*)("(?:[^"]|"")*"?|'(?:[^']|'')*'?|\{(?:[^}]|\}\})*\}?|[^;]*))"),
        QRegularExpression::CaseInsensitiveOption);
    QString masked = text;
    masked.replace(password, QStringLiteral("\\1***"));
    return masked;
}

QString QodbcDriverManagerText(const QString &databaseName)
{
    if (databaseName.contains(QLatin1String(".dsn"), Qt::CaseInsensitive))
        return QStringLiteral("FILEDSN=") + databaseName;
    if (databaseName.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive) ||
        databaseName.contains(QLatin1String("SERVER="), Qt::CaseInsensitive))
        return databaseName;
    return QStringLiteral("DSN=") + databaseName;
}

QString QodbcDatabaseName(const QString &odbcConnectionString, QString *error)
{
    const QString text = odbcConnectionString;
    if (QodbcDriverManagerText(text) == text)
        return text;
    const QList<ConnectionStringItem> items = ParseConnectionString(text);
    const QString prefix =
        text.contains(QLatin1String(".dsn"), Qt::CaseInsensitive) ? QStringLiteral("FILEDSN") : QStringLiteral("DSN");
    // The value of the first item of that key as written (quotes, braces),
    // then every other item in its order.
    QString name;
    bool named = false;
    QStringList rest;
    for (const ConnectionStringItem &item : items) {
        // A bare first word is a data source name, as Qt has always read it.
        const bool bareName = rest.isEmpty() && !item.raw.contains(QLatin1Char('='));
        if (!named && (bareName || item.key.compare(prefix, Qt::CaseInsensitive) == 0)) {
            name = item.raw.mid(item.raw.indexOf(QLatin1Char('=')) + 1).trimmed();
            named = true;
        } else {
            rest.append(item.raw);
        }
    }
    QString result = name;
    for (const QString &raw : rest)
        result += QLatin1Char(';') + raw;
    if (text.endsWith(QLatin1Char(';')))
        result += QLatin1Char(';');
    if ((prefix == u"FILEDSN" && !named) || QodbcDriverManagerText(result) != prefix + QLatin1Char('=') + result) {
        if (error != nullptr)
            *error = QStringLiteral("Qt's ODBC driver would read this connection string as a file data source "
                                    "(it holds \".dsn\"); write it as FILEDSN=path;... or without \".dsn\".");
        return QString();
    }
    return result;
}
