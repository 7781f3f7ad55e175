#include "database/SqlServerDialect.h"

#include "database/ServerDateText.h"

#include "database/DateValues.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <utility>

namespace {

using Kind = SqlTokenKind;

struct Token
{
    Kind kind;
    QString text;
    QString prefix; // inserted before the token by a rewrite
    QString suffix; // inserted after it
};

// "$" starts a word too: "$CAST" is one name (a parameter to SQLite), never
// the function CAST.
bool isWordStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#') ||
        c == QLatin1Char('$');
}

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#') ||
        c == QLatin1Char('$');
}

// Reads from the opening delimiter to the closing one; a doubled closing
// delimiter stands for one character. Unterminated: to the end, and
// `unterminated` is set.
qsizetype quotedEnd(const QString &sql, qsizetype start, QChar close, bool *unterminated)
{
    qsizetype i = start + 1;
    while (i < sql.size()) {
        if (sql.at(i) == close) {
            if (i + 1 < sql.size() && sql.at(i + 1) == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    *unterminated = true;
    return sql.size();
}

// `unterminated` is set when a literal or quoted name runs to the end.
QList<Token> tokenize(const QString &sql, bool *unterminated)
{
    QList<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    auto add = [&](Kind kind, qsizetype end) {
        tokens.append(Token{kind, sql.mid(i, end - i), QString(), QString()});
        i = end;
    };
    while (i < n) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < n ? sql.at(i + 1) : QChar();
        if (c.isSpace()) {
            qsizetype e = i;
            while (e < n && sql.at(e).isSpace())
                ++e;
            add(Kind::Space, e);
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            qsizetype e = sql.indexOf(QLatin1Char('\n'), i);
            add(Kind::Comment, e < 0 ? n : e);
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            const qsizetype e = sql.indexOf(QLatin1String("*/"), i + 2);
            add(Kind::Comment, e < 0 ? n : e + 2);
        } else if (c == QLatin1Char('\'')) {
            add(Kind::String, quotedEnd(sql, i, QLatin1Char('\''), unterminated));
        } else if ((c == QLatin1Char('N') || c == QLatin1Char('n')) && next == QLatin1Char('\'')) {
            // N'text': SQLite has no national literals; the text is the same.
            // Right after a literal, name or number the prefix was what kept
            // the two apart ('a'N'b'); a blank keeps them apart instead.
            const bool joined = !tokens.isEmpty() && tokens.constLast().kind != Kind::Space &&
                tokens.constLast().kind != Kind::Punct && tokens.constLast().kind != Kind::Comment;
            ++i;
            add(Kind::String, quotedEnd(sql, i, QLatin1Char('\''), unterminated));
            if (joined)
                tokens.last().prefix = QStringLiteral(" ");
        } else if (c == QLatin1Char('"')) {
            add(Kind::QuotedName, quotedEnd(sql, i, QLatin1Char('"'), unterminated));
        } else if (c == QLatin1Char('[')) {
            add(Kind::QuotedName, quotedEnd(sql, i, QLatin1Char(']'), unterminated));
        } else if (c == QLatin1Char('`')) {
            add(Kind::QuotedName, quotedEnd(sql, i, QLatin1Char('`'), unterminated));
        } else if (c.isDigit() || (c == QLatin1Char('.') && next.isDigit())) {
            qsizetype e = i;
            while (e < n && (sql.at(e).isDigit() || sql.at(e) == QLatin1Char('.')))
                ++e;
            if (e < n && (sql.at(e) == QLatin1Char('e') || sql.at(e) == QLatin1Char('E'))) {
                qsizetype f = e + 1;
                if (f < n && (sql.at(f) == QLatin1Char('+') || sql.at(f) == QLatin1Char('-')))
                    ++f;
                if (f < n && sql.at(f).isDigit()) {
                    e = f;
                    while (e < n && sql.at(e).isDigit())
                        ++e;
                }
            }
            // Letters run on to a number ("0CAST", "1C") make one token, as
            // SQLite reads it (and rejects it): never a number and a word.
            while (e < n && isWordChar(sql.at(e)))
                ++e;
            add(Kind::Number, e);
        } else if (isWordStart(c)) {
            qsizetype e = i;
            while (e < n && isWordChar(sql.at(e)))
                ++e;
            add(Kind::Word, e);
        } else {
            static const QStringList pairs = {QStringLiteral("<="), QStringLiteral(">="), QStringLiteral("<>"),
                                              QStringLiteral("!="), QStringLiteral("||"), QStringLiteral("!<"),
                                              QStringLiteral("!>")};
            const QString two = sql.mid(i, 2);
            add(Kind::Punct, pairs.contains(two) ? i + 2 : i + 1);
        }
    }
    return tokens;
}

bool isWord(const Token &t, QLatin1String word)
{
    return t.kind == Kind::Word && t.text.compare(word, Qt::CaseInsensitive) == 0;
}

bool isPunct(const Token &t, QLatin1String punct)
{
    return t.kind == Kind::Punct && t.text == punct;
}

// Words that can never be an operand of "+".
bool isKeyword(const Token &t)
{
    static const QSet<QString> keywords =
        {QStringLiteral("select"),   QStringLiteral("from"),   QStringLiteral("where"),   QStringLiteral("and"),
         QStringLiteral("or"),       QStringLiteral("not"),    QStringLiteral("on"),      QStringLiteral("as"),
         QStringLiteral("join"),     QStringLiteral("left"),   QStringLiteral("right"),   QStringLiteral("inner"),
         QStringLiteral("outer"),    QStringLiteral("cross"),  QStringLiteral("full"),    QStringLiteral("in"),
         QStringLiteral("is"),       QStringLiteral("like"),   QStringLiteral("between"), QStringLiteral("case"),
         QStringLiteral("when"),     QStringLiteral("then"),   QStringLiteral("else"),    QStringLiteral("end"),
         QStringLiteral("set"),      QStringLiteral("values"), QStringLiteral("by"),      QStringLiteral("order"),
         QStringLiteral("group"),    QStringLiteral("having"), QStringLiteral("union"),   QStringLiteral("all"),
         QStringLiteral("distinct"), QStringLiteral("top"),    QStringLiteral("into"),    QStringLiteral("insert"),
         QStringLiteral("update"),   QStringLiteral("delete"), QStringLiteral("exists"),  QStringLiteral("asc"),
         QStringLiteral("desc"),     QStringLiteral("limit"),  QStringLiteral("escape")};
    return t.kind == Kind::Word && keywords.contains(t.text.toLower());
}

class Rewriter
{
public:
    Rewriter(const QString &sql, const SchemaDateColumnsSource *schema)
        : m_original(sql), m_tokens(tokenize(sql, &m_unterminated)), m_schemaSource(schema)
    {
        for (int i = 0; i < m_tokens.size(); ++i) {
            if (m_tokens[i].kind != Kind::Space && m_tokens[i].kind != Kind::Comment)
                m_sig.append(i);
        }
        matchParens();
    }

    QString run()
    {
        // A literal or name that never closes swallows whatever a rewrite
        // would move behind it; such a statement goes to SQLite as written,
        // for it to reject with its own message.
        if (m_unterminated)
            return m_original;
        dateLiterals();
        functionNames();
        casts();
        concatenation();
        top();
        QString out;
        for (const Token &t : m_tokens)
            out += t.prefix + t.text + t.suffix;
        return out;
    }

private:
    Token &sig(int s) { return m_tokens[m_sig[s]]; }
    int count() const { return int(m_sig.size()); }

    void matchParens()
    {
        m_match.fill(-1, m_sig.size());
        QList<int> open;
        for (int s = 0; s < count(); ++s) {
            if (isPunct(sig(s), QLatin1String("("))) {
                open.append(s);
            } else if (isPunct(sig(s), QLatin1String(")")) && !open.isEmpty()) {
                const int o = open.takeLast();
                m_match[o] = s;
                m_match[s] = o;
            }
        }
    }

    // '1/5/2027' and '12/7/2026 2:05:09 PM' become ISO text where they stand
    // for a date, so that they compare with and are stored into date columns
    // as dates. Anywhere else such a literal is text (a subject, a name) and
    // is kept exactly as written.
    void dateLiterals()
    {
        QList<int> candidates;
        for (int s = 0; s < count(); ++s) {
            if (isSystemDateLiteral(sig(s)))
                candidates.append(s);
        }
        if (candidates.isEmpty())
            return;
        m_tablesCollected = true;
        collectTables();
        const QSet<int> inserted = insertedIntoDateColumns();
        for (int s : candidates) {
            if (inserted.contains(s) || comparedWithDate(s) || betweenDates(s) || inDateList(s) || dateArgument(s)) {
                Token &t = sig(s);
                DateFields date;
                DateFields rounded;
                if (!ParseStoredDateFields(literalContent(t), &date) || !RoundToDatetime(date, &rounded))
                    continue; // past 9999-12-31 once rounded: left for the conversion to refuse
                t.text = QLatin1Char('\'') + IsoDateTimeText(rounded) + QLatin1Char('\'');
            }
        }
    }

    static QStringView literalContent(const Token &t) { return QStringView(t.text).mid(1, t.text.size() - 2); }

    static bool isSystemDateLiteral(const Token &t)
    {
        if (t.kind != Kind::String || t.text.size() < 2 || !t.text.endsWith(QLatin1Char('\'')))
            return false;
        DateFields date;
        if (ParseSystemDateFields(literalContent(t), &date))
            return true;
        // An ISO literal with a fraction: datetime keeps 1/300 s, so
        // '... 09:30:41.999' is stored as 09:30:42.000, as on the server.
        const QStringView content = literalContent(t);
        return IsFullIsoDateTime(content) && content.size() > 19 && ParseStoredDateFields(content, &date);
    }

    static bool isName(const Token &t) { return (t.kind == Kind::Word && !isKeyword(t)) || t.kind == Kind::QuotedName; }

    // A name as the database knows it: without [ ], " " or ` `.
    static QString nameText(const Token &t)
    {
        if (t.kind != Kind::QuotedName || t.text.size() < 2)
            return t.text;
        const QChar close = t.text.at(0) == QLatin1Char('[') ? QLatin1Char(']') : t.text.at(0);
        QString inner = t.text.mid(1, t.text.size() - 2);
        return inner.replace(QString(2, close), QString(close));
    }

    // The end (one past) of a dotted name a.b.c starting at s, or -1.
    int dottedNameEnd(int s) const
    {
        if (s < 0 || s >= count() || !isName(m_tokens[m_sig[s]]))
            return -1;
        int e = s + 1;
        while (e + 1 < count() && isPunct(m_tokens[m_sig[e]], QLatin1String(".")) && isName(m_tokens[m_sig[e + 1]]))
            e += 2;
        return e;
    }

    // The tables a statement names (after FROM, JOIN, UPDATE, INTO and in a
    // FROM list) and the aliases given to them; a derived table's alias maps
    // to nothing.
    void collectTables()
    {
        for (int s = 0; s + 1 < count(); ++s) {
            const bool fromList = isWord(sig(s), QLatin1String("FROM"));
            if (!fromList && !isWord(sig(s), QLatin1String("JOIN")) && !isWord(sig(s), QLatin1String("UPDATE")) &&
                !isWord(sig(s), QLatin1String("INTO")))
                continue;
            int k = s + 1;
            while (k < count()) {
                QString table;
                int e = -1;
                if (isPunct(sig(k), QLatin1String("(")) && m_match[k] > 0) {
                    e = m_match[k] + 1; // a derived table
                } else if ((e = dottedNameEnd(k)) > 0) {
                    table = nameText(sig(e - 1));
                    m_tables.append(table);
                } else {
                    break;
                }
                if (e < count() && isWord(sig(e), QLatin1String("AS")))
                    ++e;
                if (e < count() && isName(sig(e)) && !(e + 1 < count() && isPunct(sig(e + 1), QLatin1String("(")))) {
                    m_aliases.insert(nameText(sig(e)).toLower(), table);
                    ++e;
                }
                if (!fromList || e >= count() || !isPunct(sig(e), QLatin1String(",")))
                    break;
                k = e + 1;
            }
        }
    }

    const SchemaDateColumns &schema()
    {
        if (!m_schemaLoaded) {
            m_schemaLoaded = true;
            if (m_schemaSource != nullptr && *m_schemaSource)
                m_schema = (*m_schemaSource)();
        }
        return m_schema;
    }

    // Whether [s, e), a dotted name, is a date column: of the table (or the
    // table of the alias) that qualifies it, or else of a table the statement
    // names (of any table when it names none).
    bool isDateColumn(int s, int e)
    {
        const QString column = nameText(sig(e - 1));
        if (e - s >= 3) {
            const QString qualifier = nameText(sig(e - 3));
            const auto alias = m_aliases.constFind(qualifier.toLower());
            if (alias != m_aliases.cend()) {
                if (!alias->isEmpty())
                    return schema().IsDateColumn(*alias, column);
            } else if (schema().HasTable(qualifier)) {
                return schema().IsDateColumn(qualifier, column);
            }
        }
        if (m_tables.isEmpty())
            return schema().IsDateColumnOfAnyTable(column);
        for (const QString &table : std::as_const(m_tables)) {
            if (schema().IsDateColumn(table, column))
                return true;
        }
        return false;
    }

    // The date type words of CAST.
    static bool isDateType(const Token &t)
    {
        static const QSet<QString> dateTypes = {QStringLiteral("datetime"), QStringLiteral("smalldatetime"),
                                                QStringLiteral("datetime2"), QStringLiteral("date")};
        return t.kind == Kind::Word && dateTypes.contains(t.text.toLower());
    }

    // CAST(... AS DATETIME) whose name is at f.
    bool isCastToDate(int f) const
    {
        const int open = f + 1;
        const int close = m_match[open];
        for (int k = open + 1; k + 1 < close; ++k) {
            if (isPunct(m_tokens[m_sig[k]], QLatin1String("(")) && m_match[k] > 0) {
                k = m_match[k];
                continue;
            }
            if (isWord(m_tokens[m_sig[k]], QLatin1String("AS")))
                return isDateType(m_tokens[m_sig[k + 1]]);
        }
        return false;
    }

    // A call whose name is at f and whose result is a date.
    bool isDateCall(int f) const
    {
        const Token &name = m_tokens[m_sig[f]];
        if (name.kind != Kind::Word || f + 1 >= count() || !isPunct(m_tokens[m_sig[f + 1]], QLatin1String("(")) ||
            m_match[f + 1] < 0)
            return false;
        if (isWord(name, QLatin1String("DATEADD")) || isWord(name, QLatin1String("GETDATE")))
            return true;
        return isWord(name, QLatin1String("CAST")) && isCastToDate(f);
    }

    static bool isArithmetic(const Token &t)
    {
        static const QStringList operators = {QStringLiteral("+"), QStringLiteral("-"), QStringLiteral("*"),
                                              QStringLiteral("/"), QStringLiteral("%"), QStringLiteral("||"),
                                              QStringLiteral("&"), QStringLiteral("|"), QStringLiteral("^")};
        return t.kind == Kind::Punct && operators.contains(t.text);
    }

    static bool isComparison(const Token &t)
    {
        static const QStringList operators = {QStringLiteral("="),  QStringLiteral("<>"), QStringLiteral("!="),
                                              QStringLiteral("<"),  QStringLiteral("<="), QStringLiteral(">"),
                                              QStringLiteral(">="), QStringLiteral("!<"), QStringLiteral("!>")};
        return t.kind == Kind::Punct && operators.contains(t.text);
    }

    // Whether the operand that ends just before `end` (a call or a dotted
    // name, standing alone) is a date.
    bool isDateOperandBefore(int end)
    {
        const int last = end - 1;
        if (last < 0)
            return false;
        int start;
        bool date;
        if (isPunct(sig(last), QLatin1String(")")) && m_match[last] > 0) {
            start = m_match[last] - 1;
            date = isDateCall(start);
        } else if (isName(sig(last))) {
            start = last;
            while (start >= 2 && isPunct(sig(start - 1), QLatin1String(".")) && isName(sig(start - 2)))
                start -= 2;
            date = isDateColumnIfAlone(start, end);
        } else {
            return false;
        }
        return date && (start == 0 || !isArithmetic(sig(start - 1)));
    }

    // Whether the operand that starts at `start` is a date.
    bool isDateOperandAt(int start)
    {
        if (start >= count())
            return false;
        int end;
        bool date;
        if (isDateCall(start)) {
            end = m_match[start + 1] + 1;
            date = true;
        } else if ((end = dottedNameEnd(start)) > 0) {
            if (end < count() && isPunct(sig(end), QLatin1String("(")))
                return false; // another function
            date = isDateColumnIfAlone(start, end);
        } else {
            return false;
        }
        return date && (end >= count() || !isArithmetic(sig(end)));
    }

    bool isDateColumnIfAlone(int start, int end)
    {
        if ((start > 0 && isArithmetic(sig(start - 1))) || (end < count() && isArithmetic(sig(end))))
            return false;
        return isDateColumn(start, end);
    }

    // The literal at s on one side of a comparison (or of the "=" of an
    // UPDATE's SET, the same shape) whose other side is a date.
    bool comparedWithDate(int s)
    {
        if (s + 1 < count() && isComparison(sig(s + 1)) && (s == 0 || !isArithmetic(sig(s - 1))))
            return isDateOperandAt(s + 2);
        if (s >= 1 && isComparison(sig(s - 1)) && (s + 1 >= count() || !isArithmetic(sig(s + 1))))
            return isDateOperandBefore(s - 1);
        return false;
    }

    // x [NOT] BETWEEN '...' AND '...' for a date x; each bound a literal
    // standing alone (the other may be any single operand).
    bool betweenDates(int s)
    {
        int between = -1;
        if (s >= 1 && isWord(sig(s - 1), QLatin1String("BETWEEN"))) {
            if (s + 1 >= count() || !isWord(sig(s + 1), QLatin1String("AND")))
                return false;
            between = s - 1;
        } else if (s >= 3 && isWord(sig(s - 1), QLatin1String("AND"))) {
            if (s + 1 < count() && isArithmetic(sig(s + 1)))
                return false;
            int low = s - 2;
            if (isPunct(sig(low), QLatin1String(")")) && m_match[low] > 0) {
                low = m_match[low];
                if (isName(sig(low - 1)))
                    --low; // a call, not a bracketed expression
            }
            if (low >= 1 && isWord(sig(low - 1), QLatin1String("BETWEEN")))
                between = low - 1;
        }
        if (between < 1)
            return false;
        const int operandEnd = isWord(sig(between - 1), QLatin1String("NOT")) ? between - 1 : between;
        return isDateOperandBefore(operandEnd);
    }

    // x [NOT] IN ('...', ...) for a date x, the list all single values.
    bool inDateList(int s)
    {
        if (s + 1 >= count() || !(isPunct(sig(s + 1), QLatin1String(",")) || isPunct(sig(s + 1), QLatin1String(")"))))
            return false;
        int k = s - 1;
        auto single = [this](int v) {
            return sig(v).kind == Kind::String || sig(v).kind == Kind::Number || isWord(sig(v), QLatin1String("NULL"));
        };
        while (k >= 1 && isPunct(sig(k), QLatin1String(",")) && single(k - 1))
            k -= 2;
        if (k < 1 || !isPunct(sig(k), QLatin1String("(")) || !isWord(sig(k - 1), QLatin1String("IN")))
            return false;
        const int in = k - 1;
        if (in < 1)
            return false;
        const int operandEnd = isWord(sig(in - 1), QLatin1String("NOT")) ? in - 1 : in;
        return isDateOperandBefore(operandEnd);
    }

    // DATEADD(interval, n, '...') and CAST('...' AS DATETIME).
    bool dateArgument(int s) const
    {
        if (s < 2 || s + 1 >= count())
            return false;
        const Token &before = m_tokens[m_sig[s - 1]];
        const Token &after = m_tokens[m_sig[s + 1]];
        if (isPunct(before, QLatin1String("(")) && isWord(m_tokens[m_sig[s - 2]], QLatin1String("CAST"))) {
            return isWord(after, QLatin1String("AS")) && s + 2 < count() && isDateType(m_tokens[m_sig[s + 2]]);
        }
        if (!isPunct(before, QLatin1String(",")) || !isPunct(after, QLatin1String(")")))
            return false;
        const int open = m_match[s + 1];
        if (open < 1 || !isWord(m_tokens[m_sig[open - 1]], QLatin1String("DATEADD")))
            return false;
        int commas = 0;
        for (int k = open + 1; k < s; ++k) {
            if (isPunct(m_tokens[m_sig[k]], QLatin1String("(")) && m_match[k] > 0)
                k = m_match[k];
            else if (isPunct(m_tokens[m_sig[k]], QLatin1String(",")))
                ++commas;
        }
        return commas == 2;
    }

    // The literals of INSERT INTO t (c1, ..., cn) VALUES (v1, ..., vn)[, (...)]
    // that are a whole value of a date column of t.
    QSet<int> insertedIntoDateColumns()
    {
        QSet<int> found;
        for (int s = 0; s + 1 < count(); ++s) {
            if (!isWord(sig(s), QLatin1String("INSERT")))
                continue;
            int k = s + 1;
            if (isWord(sig(k), QLatin1String("INTO")))
                ++k;
            const int tableEnd = dottedNameEnd(k);
            if (tableEnd < 0 || tableEnd >= count() || !isPunct(sig(tableEnd), QLatin1String("(")) ||
                m_match[tableEnd] < 0)
                continue;
            const QString table = nameText(sig(tableEnd - 1));
            QStringList columns;
            for (const auto &[first, last] : listItems(tableEnd))
                columns.append(last - first == 1 && isName(sig(first)) ? nameText(sig(first)) : QString());
            k = m_match[tableEnd] + 1;
            if (k >= count() || !isWord(sig(k), QLatin1String("VALUES")))
                continue;
            ++k;
            while (k < count() && isPunct(sig(k), QLatin1String("(")) && m_match[k] > 0) {
                const QList<QPair<int, int>> values = listItems(k);
                for (int i = 0; i < values.size() && i < columns.size(); ++i) {
                    const auto [first, last] = values.at(i);
                    if (last - first == 1 && isSystemDateLiteral(sig(first)) && !columns.at(i).isEmpty() &&
                        schema().IsDateColumn(table, columns.at(i)))
                        found.insert(first);
                }
                k = m_match[k] + 1;
                if (k + 1 < count() && isPunct(sig(k), QLatin1String(",")))
                    ++k;
                else
                    break;
            }
        }
        return found;
    }

    // The items [first, last) of the comma list in the brackets opened at open.
    QList<QPair<int, int>> listItems(int open) const
    {
        QList<QPair<int, int>> items;
        const int close = m_match[open];
        int first = open + 1;
        for (int k = open + 1; k <= close; ++k) {
            if (k < close && isPunct(m_tokens[m_sig[k]], QLatin1String("(")) && m_match[k] > 0) {
                k = m_match[k];
                continue;
            }
            if (k == close || isPunct(m_tokens[m_sig[k]], QLatin1String(","))) {
                items.append({first, k});
                first = k + 1;
            }
        }
        return items;
    }

    // ISNULL( -> ifnull( (ISNULL is an operator in SQLite); the bare interval
    // keyword of DATEADD becomes text for the registered function.
    void functionNames()
    {
        // Interval names are plain letters; anything else stays a name.
        static const QRegularExpression intervalWord(QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z]+")));
        for (int s = 0; s + 1 < count(); ++s) {
            if (!isPunct(sig(s + 1), QLatin1String("(")))
                continue;
            if (isWord(sig(s), QLatin1String("ISNULL"))) {
                sig(s).text = QStringLiteral("ifnull");
            } else if (isWord(sig(s), QLatin1String("CONVERT")) || isWord(sig(s), QLatin1String("TRY_CONVERT"))) {
                quoteTypeArgument(s + 1);
            } else if (isWord(sig(s), QLatin1String("DATEADD")) && s + 3 < count() && sig(s + 2).kind == Kind::Word &&
                       isPunct(sig(s + 3), QLatin1String(",")) && intervalWord.match(sig(s + 2).text).hasMatch()) {
                sig(s + 2).text = QLatin1Char('\'') + sig(s + 2).text + QLatin1Char('\'');
                nameTheRow(s + 1);
            }
        }
    }

    // DATEADD(i, n, T.C) of a table's column: the column and the row go along
    // (DATEADD(i, n, T.C, 'T.C', T.rowid)), so that text in it that is no
    // date names the record at fault, not only the conversion.
    void nameTheRow(int open)
    {
        const QList<QPair<int, int>> args = listItems(open);
        if (args.size() != 3 || args[2].second - args[2].first != 3 ||
            !isPunct(sig(args[2].first + 1), QLatin1String(".")))
            return;
        const int q = args[2].first;
        if (!isName(sig(q)) || !isName(sig(q + 2)))
            return;
        if (!m_tablesCollected) {
            m_tablesCollected = true;
            collectTables();
        }
        const QString qualifier = nameText(sig(q));
        QString table = m_aliases.value(qualifier.toLower());
        for (const QString &t : std::as_const(m_tables)) {
            if (table.isEmpty() && t.compare(qualifier, Qt::CaseInsensitive) == 0)
                table = t;
        }
        if (table.isEmpty())
            return; // a derived table's column: no row to name
        QString named = table + QLatin1Char('.') + nameText(sig(q + 2));
        named.replace(QLatin1Char('\''), QLatin1String("''"));
        sig(q + 2).suffix = QStringLiteral(",'%1',%2.rowid").arg(named, sig(q).text) + sig(q + 2).suffix;
    }

    // The data type that opens CONVERT( and TRY_CONVERT( ("VarChar(19)",
    // "datetime") becomes text for the registered function.
    void quoteTypeArgument(int open)
    {
        const int close = m_match[open];
        if (close < 0)
            return;
        int comma = open + 1;
        while (comma < close && !isPunct(sig(comma), QLatin1String(",")))
            ++comma;
        if (comma == close || comma == open + 1)
            return;
        // Only "type" and "type(n)": anything else is left for SQLite to reject.
        const int length = comma - open - 1;
        if (sig(open + 1).kind != Kind::Word ||
            !(length == 1 ||
              (length == 4 && isPunct(sig(open + 2), QLatin1String("(")) &&
               isPunct(sig(open + 4), QLatin1String(")")) &&
               (sig(open + 3).kind == Kind::Number || isWord(sig(open + 3), QLatin1String("MAX"))))))
            return;
        QString type;
        for (int k = open + 1; k < comma; ++k) {
            type += sig(k).text;
            if (k > open + 1)
                sig(k).text.clear();
        }
        sig(open + 1).text = QLatin1Char('\'') + type + QLatin1Char('\'');
    }

    // CAST(x AS VarChar[(n)]) -> VARCHAR_OF(CAST(x AS TEXT), n): SQL Server's
    // text of x cut to n (30 by default) characters; a date-time (the full ISO
    // form in which dates are stored) becomes the server's default style-0
    // text, "Jan  5 2027  2:05PM", as CAST gives it on the server.
    // Compared with a date column, that text is converted back to a
    // date-time the way the server converts it: CONVERT('datetime', ...), so
    // the seconds it lost stay lost.
    // CAST(x AS DATETIME) -> DATEADD('day',0,x): a normalised ISO date-time.
    void casts()
    {
        for (int s = 0; s + 1 < count(); ++s) {
            if (!isWord(sig(s), QLatin1String("CAST")) || !isPunct(sig(s + 1), QLatin1String("(")))
                continue;
            const int open = s + 1;
            const int close = m_match[open];
            if (close < 0)
                continue;
            int as = -1;
            for (int k = open + 1; k < close; ++k) {
                if (isPunct(sig(k), QLatin1String("(")) && m_match[k] > 0) {
                    k = m_match[k];
                    continue;
                }
                if (isWord(sig(k), QLatin1String("AS")))
                    as = k;
            }
            if (as < 0 || as + 1 >= close || sig(as + 1).kind != Kind::Word)
                continue;
            // Only the plain shapes "AS type)" and "AS type(n))" are
            // rewritten: anything else is left for SQLite to judge, so no
            // text of the statement is dropped.
            const bool sized = as + 5 == close && isPunct(sig(as + 2), QLatin1String("(")) &&
                isPunct(sig(as + 4), QLatin1String(")")) &&
                (sig(as + 3).kind == Kind::Number || isWord(sig(as + 3), QLatin1String("MAX")));
            if (as + 2 != close && !sized)
                continue;
            const QString type = sig(as + 1).text.toLower();
            static const QSet<QString> textTypes = {QStringLiteral("varchar"), QStringLiteral("nvarchar"),
                                                    QStringLiteral("char"),    QStringLiteral("nchar"),
                                                    QStringLiteral("text"),    QStringLiteral("ntext"),
                                                    QStringLiteral("sysname")};
            static const QSet<QString> dateTypes = {QStringLiteral("datetime"), QStringLiteral("smalldatetime"),
                                                    QStringLiteral("datetime2")};
            if (textTypes.contains(type)) {
                int length = (type == u"text" || type == u"ntext") ? 0 : 30;
                if (as + 2 < close && isPunct(sig(as + 2), QLatin1String("("))) {
                    const Token &size = sig(as + 3);
                    if (size.kind == Kind::Number)
                        length = size.text.toInt();
                    else if (isWord(size, QLatin1String("MAX")))
                        length = 0;
                }
                const bool meetsDate =
                    (close + 1 < count() && isComparison(sig(close + 1)) && isDateOperandAt(close + 2)) ||
                    (s >= 1 && isComparison(sig(s - 1)) && isDateOperandBefore(s - 1));
                sig(as + 1).text = QStringLiteral("TEXT");
                for (int k = as + 2; k < close; ++k)
                    sig(k).text.clear();
                sig(s).prefix +=
                    meetsDate ? QStringLiteral("CONVERT('datetime',VARCHAR_OF(") : QStringLiteral("VARCHAR_OF(");
                sig(close).suffix = QStringLiteral(",%1)").arg(length) + (meetsDate ? QStringLiteral(")") : QString()) +
                    sig(close).suffix;
            } else if (dateTypes.contains(type)) {
                sig(s).text = QStringLiteral("DATEADD");
                sig(open).suffix += QStringLiteral("'day',0,");
                for (int k = as; k < close; ++k)
                    sig(k).text.clear();
            }
        }
    }

    // The end (one past) of the operand starting at s, or -1: a literal, a
    // number, a (dotted) name, a function call or a bracketed expression.
    int operandEnd(int s) const
    {
        if (s >= count())
            return -1;
        const Token &t = m_tokens[m_sig[s]];
        if (t.kind == Kind::String || t.kind == Kind::Number)
            return s + 1;
        if (t.kind == Kind::Punct && t.text == QLatin1String("("))
            return m_match[s] < 0 ? -1 : m_match[s] + 1;
        if ((t.kind == Kind::Word && !isKeyword(t)) || t.kind == Kind::QuotedName) {
            int e = s + 1;
            while (e + 1 < count() && isPunct(m_tokens[m_sig[e]], QLatin1String(".")) &&
                   (m_tokens[m_sig[e + 1]].kind == Kind::Word || m_tokens[m_sig[e + 1]].kind == Kind::QuotedName ||
                    isPunct(m_tokens[m_sig[e + 1]], QLatin1String("*"))))
                e += 2;
            if (e < count() && isPunct(m_tokens[m_sig[e]], QLatin1String("(")) && m_match[e] > 0)
                e = m_match[e] + 1;
            return e;
        }
        return -1;
    }

    // In a chain a + b + c whose operands include a string literal, every
    // "+" joins text: "||" (Null || text is Null, as Null + text is on SQL
    // Server). Chains of numbers and names alone keep their "+".
    void concatenation()
    {
        for (int s = 0; s < count(); ++s) {
            int end = operandEnd(s);
            if (end < 0)
                continue;
            QList<int> pluses;
            bool text = sig(s).kind == Kind::String;
            while (end < count() && isPunct(sig(end), QLatin1String("+"))) {
                const int next = operandEnd(end + 1);
                if (next < 0)
                    break;
                pluses.append(end);
                if (sig(end + 1).kind == Kind::String)
                    text = true;
                end = next;
            }
            if (text) {
                for (int p : pluses)
                    sig(p).text = QStringLiteral("||");
            }
        }
    }

    // SELECT [DISTINCT|ALL] TOP n ... -> SELECT ... LIMIT n, at the end of
    // that query level (before its closing bracket, ";" or the end).
    void top()
    {
        for (int s = 1; s < count(); ++s) {
            if (!isWord(sig(s), QLatin1String("TOP")))
                continue;
            int before = s - 1;
            if (isWord(sig(before), QLatin1String("DISTINCT")) || isWord(sig(before), QLatin1String("ALL")))
                --before;
            if (before < 0 || !isWord(sig(before), QLatin1String("SELECT")))
                continue;
            int countEnd = -1;
            // Only a plain count moves; "TOP 1C" is left for SQLite to reject.
            static const QRegularExpression digits(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+")));
            if (s + 1 < count() && sig(s + 1).kind == Kind::Number && digits.match(sig(s + 1).text).hasMatch())
                countEnd = s + 2;
            else if (s + 1 < count() && isPunct(sig(s + 1), QLatin1String("(")) && m_match[s + 1] > 0)
                countEnd = m_match[s + 1] + 1;
            if (countEnd < 0 || (countEnd < count() && isWord(sig(countEnd), QLatin1String("PERCENT"))))
                continue; // left for SQLite to reject with its own message

            // The count moves as written, blanks and comments included:
            // "(5 - -1)" must not become "(5--1)".
            QString limit;
            for (int t = m_sig[s + 1]; t <= m_sig[countEnd - 1]; ++t)
                limit += m_tokens[t].prefix + m_tokens[t].text + m_tokens[t].suffix;
            // Remove "TOP n" and the blanks after it.
            for (int t = m_sig[s]; t < m_sig[countEnd - 1] + 1; ++t) {
                m_tokens[t].prefix.clear();
                m_tokens[t].text.clear();
                m_tokens[t].suffix.clear();
            }
            for (int t = m_sig[countEnd - 1] + 1; t < m_tokens.size() && m_tokens[t].kind == Kind::Space; ++t)
                m_tokens[t].text.clear();

            int depth = 0;
            int k = countEnd;
            for (; k < count(); ++k) {
                const Token &t = sig(k);
                if (isPunct(t, QLatin1String("(")))
                    ++depth;
                else if (isPunct(t, QLatin1String(")"))) {
                    if (depth == 0)
                        break;
                    --depth;
                } else if (depth == 0 && isPunct(t, QLatin1String(";")))
                    break;
            }
            if (k < count())
                sig(k).prefix = QStringLiteral(" LIMIT ") + limit + QLatin1Char(' ') + sig(k).prefix;
            else
                sig(count() - 1).suffix += QStringLiteral(" LIMIT ") + limit;
        }
    }

    QString m_original;
    bool m_unterminated = false;
    QList<Token> m_tokens;
    QList<int> m_sig;   // indexes of the tokens that are not blanks or comments
    QList<int> m_match; // per significant token: its matching bracket, or -1

    const SchemaDateColumnsSource *m_schemaSource = nullptr;
    SchemaDateColumns m_schema;
    bool m_schemaLoaded = false;
    bool m_tablesCollected = false;
    QStringList m_tables;              // the tables the statement names
    QHash<QString, QString> m_aliases; // lower-case alias -> its table ("" for a derived table)
};

} // namespace

QString RewriteSqlServerDialect(const QString &sql, const SchemaDateColumnsSource &schema)
{
    return Rewriter(sql, &schema).run();
}

QString RewriteSqlServerDialect(const QString &sql)
{
    return Rewriter(sql, nullptr).run();
}

QList<SqlToken> SqlTokens(const QString &sql, bool *unterminated)
{
    bool open = false;
    QList<SqlToken> tokens;
    for (const Token &token : tokenize(sql, &open))
        tokens.append(SqlToken{token.kind, token.text});
    if (unterminated != nullptr)
        *unterminated = open;
    return tokens;
}
