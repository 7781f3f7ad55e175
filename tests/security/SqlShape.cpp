#include "tests/security/SqlShape.h"

#include "database/SqlServerDialect.h"

namespace {

// Each token's shape, and the undoubled content of each string literal.
QList<QPair<QString, QString>> shaped(const QString &sql)
{
    bool unterminated = false;
    const QList<SqlToken> tokens = SqlTokens(sql, &unterminated);
    QList<QPair<QString, QString>> out;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const SqlToken &token = tokens.at(i);
        const bool last = i + 1 == tokens.size();
        switch (token.kind) {
        case SqlTokenKind::Space:
            break;
        case SqlTokenKind::Comment:
            out.append({QStringLiteral("<comment>"), QString()});
            break;
        case SqlTokenKind::String:
            if (unterminated && last) {
                out.append({QStringLiteral("<unterminated literal>"), QString()});
                break;
            }
            out.append({QStringLiteral("<text>"),
                        token.text.mid(1, token.text.size() - 2).replace(QLatin1String("''"), QLatin1String("'"))});
            break;
        case SqlTokenKind::QuotedName:
            out.append({unterminated && last ? QStringLiteral("<unterminated name>")
                                             : QStringLiteral("name:") + token.text.toUpper(),
                        QString()});
            break;
        case SqlTokenKind::Number:
            out.append({QStringLiteral("<number>"), QString()});
            break;
        case SqlTokenKind::Word:
            out.append({token.text.toUpper(), QString()});
            break;
        case SqlTokenKind::Punct:
            out.append({token.text, QString()});
            break;
        }
    }
    return out;
}

} // namespace

QStringList SqlShape(const QString &sql)
{
    QStringList shape;
    for (const auto &token : shaped(sql))
        shape.append(token.first);
    return shape;
}

QStringList SqlStringLiterals(const QString &sql)
{
    QStringList literals;
    for (const auto &token : shaped(sql)) {
        if (token.first == QLatin1String("<text>"))
            literals.append(token.second);
    }
    return literals;
}
