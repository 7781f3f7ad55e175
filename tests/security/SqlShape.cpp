#include "SqlShape.h"

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// One past the closing delimiter (a doubled one stands for itself), or -1.
qsizetype quotedEnd(const QString &sql, qsizetype open, QChar close)
{
    for (qsizetype i = open + 1; i < sql.size(); ++i) {
        if (sql.at(i) != close)
            continue;
        if (i + 1 < sql.size() && sql.at(i + 1) == close) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return -1;
}

struct Token
{
    QString shape;
    QString literal;   // the undoubled content of a string literal
};

QList<Token> tokens(const QString &sql)
{
    QList<Token> out;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < n ? sql.at(i + 1) : QChar();
        if (c.isSpace()) {
            ++i;
        } else if ((c == u'-' && next == u'-') || (c == u'/' && next == u'*')) {
            out.append({QStringLiteral("<comment>"), QString()});
            break;   // whatever follows is hidden from the parser or broken
        } else if (c == u'\'' || ((c == u'N' || c == u'n') && next == u'\'')) {
            const qsizetype open = c == u'\'' ? i : i + 1;
            const qsizetype end = quotedEnd(sql, open, u'\'');
            if (end < 0) {
                out.append({QStringLiteral("<unterminated literal>"), QString()});
                break;
            }
            QString content = sql.mid(open + 1, end - open - 2);
            content.replace(QLatin1String("''"), QLatin1String("'"));
            out.append({QStringLiteral("<text>"), content});
            i = end;
        } else if (c == u'[' || c == u'"') {
            const qsizetype end = quotedEnd(sql, i, c == u'[' ? QChar(u']') : c);
            if (end < 0) {
                out.append({QStringLiteral("<unterminated name>"), QString()});
                break;
            }
            out.append({QStringLiteral("name:") + sql.mid(i, end - i).toUpper(), QString()});
            i = end;
        } else if (c.isDigit()) {
            qsizetype end = i;
            while (end < n && (sql.at(end).isDigit() || sql.at(end) == u'.'))
                ++end;
            out.append({QStringLiteral("<number>"), QString()});
            i = end;
        } else if (isWordChar(c)) {
            qsizetype end = i;
            while (end < n && isWordChar(sql.at(end)))
                ++end;
            out.append({sql.mid(i, end - i).toUpper(), QString()});
            i = end;
        } else {
            static const QStringList pairs = {QStringLiteral("<="), QStringLiteral(">="), QStringLiteral("<>"),
                                              QStringLiteral("!="), QStringLiteral("||")};
            const QString two = sql.mid(i, 2);
            const qsizetype length = pairs.contains(two) ? 2 : 1;
            out.append({sql.mid(i, length), QString()});
            i += length;
        }
    }
    return out;
}

} // namespace

QStringList SqlShape(const QString &sql)
{
    QStringList shape;
    for (const Token &token : tokens(sql))
        shape.append(token.shape);
    return shape;
}

QStringList SqlStringLiterals(const QString &sql)
{
    QStringList literals;
    for (const Token &token : tokens(sql)) {
        if (token.shape == QLatin1String("<text>"))
            literals.append(token.literal);
    }
    return literals;
}
