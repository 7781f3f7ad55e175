#include "database/SqlServerDialect.h"

#include "database/ServerDateText.h"

#include "database/DateValues.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

using Kind = SqlTokenKind;

// A token is a view of the statement's own text until a rewrite replaces
// it; what the rewrites write lives in Rewriter::m_written. Statements of a
// notification batch run to hundreds of KB, so no token copies its text.
struct Token
{
    Kind kind;
    QStringView text;
    QStringView prefix; // inserted before the token by a rewrite
    QStringView suffix; // inserted after it
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
    while (true) {
        const qsizetype at = sql.indexOf(close, i);
        if (at < 0)
            break;
        if (at + 1 < sql.size() && sql.at(at + 1) == close) {
            i = at + 2;
            continue;
        }
        return at + 1;
    }
    *unterminated = true;
    return sql.size();
}

// The operators of two characters: <= >= <> != || !< !>.
bool isTwoCharOperator(QChar c, QChar next)
{
    switch (c.unicode()) {
    case u'<':
        return next == u'=' || next == u'>';
    case u'>':
        return next == u'=';
    case u'!':
        return next == u'=' || next == u'<' || next == u'>';
    case u'|':
        return next == u'|';
    default:
        return false;
    }
}

// `unterminated` is set when a literal or quoted name runs to the end. The
// tokens are views of `sql`, which must outlive them.
std::vector<Token> tokenize(const QString &sql, bool *unterminated)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    auto add = [&](Kind kind, qsizetype end) {
        tokens.push_back(Token{kind, QStringView(sql).mid(i, end - i), {}, {}});
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
            const bool joined = !tokens.empty() && tokens.back().kind != Kind::Space &&
                tokens.back().kind != Kind::Punct && tokens.back().kind != Kind::Comment;
            ++i;
            add(Kind::String, quotedEnd(sql, i, QLatin1Char('\''), unterminated));
            if (joined)
                tokens.back().prefix = u" ";
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
            add(Kind::Punct, isTwoCharOperator(c, next) ? i + 2 : i + 1);
        }
    }
    return tokens;
}

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

char16_t asciiLower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

// ASCII text equal to an ASCII word in any letter case.
bool asciiEqualsIgnoringCase(QStringView text, QLatin1String word)
{
    if (text.size() != word.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (asciiLower(text[i].unicode()) != asciiLower(char16_t(uchar(word[i].toLatin1()))))
            return false;
    }
    return true;
}

// Whether `text` is `word` in any letter case. Qt's case folding takes some
// letters beyond ASCII for ASCII ones (the long s for "s", the Kelvin sign
// for "k"), so such text is left to it; plain ASCII is compared here.
bool equalsIgnoringCase(QStringView text, QLatin1String word)
{
    if (!isAscii(text))
        return text.compare(word, Qt::CaseInsensitive) == 0;
    return asciiEqualsIgnoringCase(text, word);
}

// Whether the lower-case form of `text` (as QString::toLower gives it) is
// one of `words`, all lower-case ASCII.
bool lowerIsOneOf(QStringView text, std::initializer_list<QLatin1String> words)
{
    if (!isAscii(text)) {
        const QString lower = text.toString().toLower();
        return std::any_of(words.begin(), words.end(), [&](QLatin1String word) { return lower == word; });
    }
    return std::any_of(words.begin(), words.end(),
                       [&](QLatin1String word) { return asciiEqualsIgnoringCase(text, word); });
}

bool isWord(const Token &t, QLatin1String word)
{
    return t.kind == Kind::Word && equalsIgnoringCase(t.text, word);
}

bool isPunct(const Token &t, char16_t punct)
{
    return t.kind == Kind::Punct && t.text.size() == 1 && t.text[0] == punct;
}

// Words that can never be an operand of "+".
bool isKeyword(const Token &t)
{
    // The longest is "distinct": anything longer in ASCII is no keyword.
    if (t.kind != Kind::Word || (t.text.size() > 8 && isAscii(t.text)))
        return false;
    return lowerIsOneOf(t.text, {QLatin1String("select"),  QLatin1String("from"),   QLatin1String("where"),
                                 QLatin1String("and"),     QLatin1String("or"),     QLatin1String("not"),
                                 QLatin1String("on"),      QLatin1String("as"),     QLatin1String("join"),
                                 QLatin1String("left"),    QLatin1String("right"),  QLatin1String("inner"),
                                 QLatin1String("outer"),   QLatin1String("cross"),  QLatin1String("full"),
                                 QLatin1String("in"),      QLatin1String("is"),     QLatin1String("like"),
                                 QLatin1String("between"), QLatin1String("case"),   QLatin1String("when"),
                                 QLatin1String("then"),    QLatin1String("else"),   QLatin1String("end"),
                                 QLatin1String("set"),     QLatin1String("values"), QLatin1String("by"),
                                 QLatin1String("order"),   QLatin1String("group"),  QLatin1String("having"),
                                 QLatin1String("union"),   QLatin1String("all"),    QLatin1String("distinct"),
                                 QLatin1String("top"),     QLatin1String("into"),   QLatin1String("insert"),
                                 QLatin1String("update"),  QLatin1String("delete"), QLatin1String("exists"),
                                 QLatin1String("asc"),     QLatin1String("desc"),   QLatin1String("limit"),
                                 QLatin1String("escape")});
}

// Text of ASCII letters only, at least one.
bool isAsciiLetters(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    });
}

bool isAsciiDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

class Rewriter
{
public:
    Rewriter(const QString &sql, const SchemaDateColumnsSource *schema)
        : m_original(sql), m_tokens(tokenize(m_original, &m_unterminated)), m_schemaSource(schema)
    {
        m_sig.reserve(m_tokens.size());
        for (int i = 0; i < int(m_tokens.size()); ++i) {
            if (m_tokens[i].kind != Kind::Space && m_tokens[i].kind != Kind::Comment)
                m_sig.push_back(i);
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
        catalogViews();
        dateLiterals();
        functionNames();
        casts();
        concatenation();
        top();
        return joined();
    }

private:
    Token &sig(int s) { return m_tokens[m_sig[s]]; }
    const Token &sig(int s) const { return m_tokens[m_sig[s]]; }
    int count() const { return int(m_sig.size()); }

    // Keeps text that a rewrite writes for as long as the tokens that view it.
    // A QString's characters stay where they are when the list grows.
    QStringView written(QString text)
    {
        m_written.append(std::move(text));
        return m_written.constLast();
    }

    static QString concatenated(QStringView a, QStringView b)
    {
        QString out;
        out.reserve(a.size() + b.size());
        out.append(a).append(b);
        return out;
    }

    // The tokens as text. When no rewrite changed anything and no N prefix
    // was dropped, the tokens still lie end to end in the statement, which
    // then is the result as it stands.
    QString joined() const
    {
        if (m_tokens.empty())
            return QString();
        qsizetype size = 0;
        const QChar *expected = m_original.constData();
        bool asWritten = true;
        for (const Token &t : m_tokens) {
            size += t.prefix.size() + t.text.size() + t.suffix.size();
            asWritten = asWritten && t.prefix.isEmpty() && t.suffix.isEmpty() && t.text.data() == expected;
            expected = t.text.data() + t.text.size();
        }
        if (asWritten && expected == m_original.constData() + m_original.size())
            return m_original;
        QString out;
        out.reserve(size);
        for (const Token &t : m_tokens)
            out.append(t.prefix).append(t.text).append(t.suffix);
        return out;
    }

    void matchParens()
    {
        m_match.assign(m_sig.size(), -1);
        std::vector<int> open;
        for (int s = 0; s < count(); ++s) {
            if (isPunct(sig(s), u'(')) {
                open.push_back(s);
            } else if (isPunct(sig(s), u')') && !open.empty()) {
                const int o = open.back();
                open.pop_back();
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
                t.text = written(QLatin1Char('\'') + IsoDateTimeText(rounded) + QLatin1Char('\''));
            }
        }
    }

    static QStringView literalContent(const Token &t) { return t.text.mid(1, t.text.size() - 2); }

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
            return t.text.toString();
        const QChar close = t.text.at(0) == QLatin1Char('[') ? QLatin1Char(']') : t.text.at(0);
        QString inner = t.text.mid(1, t.text.size() - 2).toString();
        return inner.replace(QString(2, close), QString(close));
    }

    // The end (one past) of a dotted name a.b.c starting at s, or -1.
    int dottedNameEnd(int s) const
    {
        if (s < 0 || s >= count() || !isName(sig(s)))
            return -1;
        int e = s + 1;
        while (e + 1 < count() && isPunct(sig(e), u'.') && isName(sig(e + 1)))
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
                if (isPunct(sig(k), u'(') && m_match[k] > 0) {
                    e = m_match[k] + 1; // a derived table
                } else if ((e = dottedNameEnd(k)) > 0) {
                    table = nameText(sig(e - 1));
                    m_tables.append(table);
                } else {
                    break;
                }
                if (e < count() && isWord(sig(e), QLatin1String("AS")))
                    ++e;
                if (e < count() && isName(sig(e)) && !(e + 1 < count() && isPunct(sig(e + 1), u'('))) {
                    m_aliases.insert(nameText(sig(e)).toLower(), table);
                    ++e;
                }
                if (!fromList || e >= count() || !isPunct(sig(e), u','))
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
        return t.kind == Kind::Word &&
            lowerIsOneOf(t.text,
                         {QLatin1String("datetime"), QLatin1String("smalldatetime"), QLatin1String("datetime2"),
                          QLatin1String("date")});
    }

    // CAST(... AS DATETIME) whose name is at f.
    bool isCastToDate(int f) const
    {
        const int open = f + 1;
        const int close = m_match[open];
        for (int k = open + 1; k + 1 < close; ++k) {
            if (isPunct(sig(k), u'(') && m_match[k] > 0) {
                k = m_match[k];
                continue;
            }
            if (isWord(sig(k), QLatin1String("AS")))
                return isDateType(sig(k + 1));
        }
        return false;
    }

    // A call whose name is at f and whose result is a date.
    bool isDateCall(int f) const
    {
        const Token &name = sig(f);
        if (name.kind != Kind::Word || f + 1 >= count() || !isPunct(sig(f + 1), u'(') || m_match[f + 1] < 0)
            return false;
        if (isWord(name, QLatin1String("DATEADD")) || isWord(name, QLatin1String("GETDATE")))
            return true;
        return isWord(name, QLatin1String("CAST")) && isCastToDate(f);
    }

    static bool isArithmetic(const Token &t)
    {
        if (t.kind != Kind::Punct)
            return false;
        if (t.text.size() == 2)
            return t.text == u"||";
        return t.text.size() == 1 && QStringView(u"+-*/%&|^").contains(t.text[0]);
    }

    static bool isComparison(const Token &t)
    {
        if (t.kind != Kind::Punct)
            return false;
        if (t.text.size() == 1)
            return t.text[0] == u'=' || t.text[0] == u'<' || t.text[0] == u'>';
        return t.text == u"<>" || t.text == u"!=" || t.text == u"<=" || t.text == u">=" || t.text == u"!<" ||
            t.text == u"!>";
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
        if (isPunct(sig(last), u')') && m_match[last] > 0) {
            start = m_match[last] - 1;
            date = isDateCall(start);
        } else if (isName(sig(last))) {
            start = last;
            while (start >= 2 && isPunct(sig(start - 1), u'.') && isName(sig(start - 2)))
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
            if (end < count() && isPunct(sig(end), u'('))
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
            if (isPunct(sig(low), u')') && m_match[low] > 0) {
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
        if (s + 1 >= count() || !(isPunct(sig(s + 1), u',') || isPunct(sig(s + 1), u')')))
            return false;
        int k = s - 1;
        auto single = [this](int v) {
            return sig(v).kind == Kind::String || sig(v).kind == Kind::Number || isWord(sig(v), QLatin1String("NULL"));
        };
        while (k >= 1 && isPunct(sig(k), u',') && single(k - 1))
            k -= 2;
        if (k < 1 || !isPunct(sig(k), u'(') || !isWord(sig(k - 1), QLatin1String("IN")))
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
        const Token &before = sig(s - 1);
        const Token &after = sig(s + 1);
        if (isPunct(before, u'(') && isWord(sig(s - 2), QLatin1String("CAST"))) {
            return isWord(after, QLatin1String("AS")) && s + 2 < count() && isDateType(sig(s + 2));
        }
        if (!isPunct(before, u',') || !isPunct(after, u')'))
            return false;
        const int open = m_match[s + 1];
        if (open < 1 || !isWord(sig(open - 1), QLatin1String("DATEADD")))
            return false;
        int commas = 0;
        for (int k = open + 1; k < s; ++k) {
            if (isPunct(sig(k), u'(') && m_match[k] > 0)
                k = m_match[k];
            else if (isPunct(sig(k), u','))
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
            if (tableEnd < 0 || tableEnd >= count() || !isPunct(sig(tableEnd), u'(') || m_match[tableEnd] < 0)
                continue;
            const QString table = nameText(sig(tableEnd - 1));
            QStringList columns;
            for (const auto &[first, last] : listItems(tableEnd))
                columns.append(last - first == 1 && isName(sig(first)) ? nameText(sig(first)) : QString());
            k = m_match[tableEnd] + 1;
            if (k >= count() || !isWord(sig(k), QLatin1String("VALUES")))
                continue;
            ++k;
            while (k < count() && isPunct(sig(k), u'(') && m_match[k] > 0) {
                const QList<QPair<int, int>> values = listItems(k);
                for (int i = 0; i < values.size() && i < columns.size(); ++i) {
                    const auto [first, last] = values.at(i);
                    if (last - first == 1 && isSystemDateLiteral(sig(first)) && !columns.at(i).isEmpty() &&
                        schema().IsDateColumn(table, columns.at(i)))
                        found.insert(first);
                }
                k = m_match[k] + 1;
                if (k + 1 < count() && isPunct(sig(k), u','))
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
            if (k < close && isPunct(sig(k), u'(') && m_match[k] > 0) {
                k = m_match[k];
                continue;
            }
            if (k == close || isPunct(sig(k), u',')) {
                items.append({first, k});
                first = k + 1;
            }
        }
        return items;
    }

    // INFORMATION_SCHEMA.COLUMNS -> the same columns read from SQLite's own
    // catalogue: a declared type as SQL Server's DATA_TYPE names it, in lower
    // case without its length ("NVARCHAR(50)" -> "nvarchar").
    void catalogViews()
    {
        for (int s = 0; s + 2 < count(); ++s) {
            if (!isWord(sig(s), QLatin1String("INFORMATION_SCHEMA")) || !isPunct(sig(s + 1), u'.') ||
                !isWord(sig(s + 2), QLatin1String("COLUMNS")))
                continue;
            sig(s).text = u"(SELECT m.name AS TABLE_NAME,p.name AS COLUMN_NAME,lower(trim(CASE WHEN "
                          u"instr(p.type,'(')>0 THEN substr(p.type,1,instr(p.type,'(')-1) ELSE p.type END)) AS "
                          u"DATA_TYPE FROM sqlite_master AS m JOIN pragma_table_info(m.name) AS p WHERE "
                          u"m.type='table')";
            sig(s + 1).text = {};
            sig(s + 2).text = {};
        }
    }

    // ISNULL( -> ifnull( (ISNULL is an operator in SQLite); the bare interval
    // keyword of DATEADD becomes text for the registered function.
    void functionNames()
    {
        for (int s = 0; s + 1 < count(); ++s) {
            if (!isPunct(sig(s + 1), u'('))
                continue;
            if (isWord(sig(s), QLatin1String("ISNULL"))) {
                sig(s).text = u"ifnull";
            } else if (isWord(sig(s), QLatin1String("CONVERT")) || isWord(sig(s), QLatin1String("TRY_CONVERT"))) {
                quoteTypeArgument(s + 1);
            } else if (isWord(sig(s), QLatin1String("DATEADD")) && s + 3 < count() && sig(s + 2).kind == Kind::Word &&
                       isPunct(sig(s + 3), u',') && isAsciiLetters(sig(s + 2).text)) {
                // Interval names are plain letters; anything else stays a name.
                sig(s + 2).text = written(QLatin1Char('\'') + sig(s + 2).text.toString() + QLatin1Char('\''));
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
        if (args.size() != 3 || args[2].second - args[2].first != 3 || !isPunct(sig(args[2].first + 1), u'.'))
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
        sig(q + 2).suffix = written(
            concatenated(QStringLiteral(",'%1',%2.rowid").arg(named, sig(q).text.toString()), sig(q + 2).suffix));
    }

    // The data type that opens CONVERT( and TRY_CONVERT( ("VarChar(19)",
    // "datetime") becomes text for the registered function.
    void quoteTypeArgument(int open)
    {
        const int close = m_match[open];
        if (close < 0)
            return;
        int comma = open + 1;
        while (comma < close && !isPunct(sig(comma), u','))
            ++comma;
        if (comma == close || comma == open + 1)
            return;
        // Only "type" and "type(n)": anything else is left for SQLite to reject.
        const int length = comma - open - 1;
        if (sig(open + 1).kind != Kind::Word ||
            !(length == 1 ||
              (length == 4 && isPunct(sig(open + 2), u'(') && isPunct(sig(open + 4), u')') &&
               (sig(open + 3).kind == Kind::Number || isWord(sig(open + 3), QLatin1String("MAX"))))))
            return;
        QString type;
        for (int k = open + 1; k < comma; ++k) {
            type += sig(k).text;
            if (k > open + 1)
                sig(k).text = {};
        }
        sig(open + 1).text = written(QLatin1Char('\'') + type + QLatin1Char('\''));
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
            if (!isWord(sig(s), QLatin1String("CAST")) || !isPunct(sig(s + 1), u'('))
                continue;
            const int open = s + 1;
            const int close = m_match[open];
            if (close < 0)
                continue;
            int as = -1;
            for (int k = open + 1; k < close; ++k) {
                if (isPunct(sig(k), u'(') && m_match[k] > 0) {
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
            const bool sized = as + 5 == close && isPunct(sig(as + 2), u'(') && isPunct(sig(as + 4), u')') &&
                (sig(as + 3).kind == Kind::Number || isWord(sig(as + 3), QLatin1String("MAX")));
            if (as + 2 != close && !sized)
                continue;
            const QStringView type = sig(as + 1).text;
            if (lowerIsOneOf(type,
                             {QLatin1String("varchar"), QLatin1String("nvarchar"), QLatin1String("char"),
                              QLatin1String("nchar"), QLatin1String("text"), QLatin1String("ntext"),
                              QLatin1String("sysname")})) {
                int length = lowerIsOneOf(type, {QLatin1String("text"), QLatin1String("ntext")}) ? 0 : 30;
                if (as + 2 < close && isPunct(sig(as + 2), u'(')) {
                    const Token &size = sig(as + 3);
                    if (size.kind == Kind::Number)
                        length = size.text.toInt();
                    else if (isWord(size, QLatin1String("MAX")))
                        length = 0;
                }
                const bool meetsDate =
                    (close + 1 < count() && isComparison(sig(close + 1)) && isDateOperandAt(close + 2)) ||
                    (s >= 1 && isComparison(sig(s - 1)) && isDateOperandBefore(s - 1));
                sig(as + 1).text = u"TEXT";
                for (int k = as + 2; k < close; ++k)
                    sig(k).text = {};
                sig(s).prefix =
                    written(concatenated(sig(s).prefix,
                                         meetsDate ? QStringView(u"CONVERT('datetime',VARCHAR_OF(") : u"VARCHAR_OF("));
                sig(close).suffix = written(
                    concatenated(QStringLiteral(",%1)").arg(length) + (meetsDate ? QStringLiteral(")") : QString()),
                                 sig(close).suffix));
            } else if (lowerIsOneOf(type,
                                    {QLatin1String("datetime"), QLatin1String("smalldatetime"),
                                     QLatin1String("datetime2")})) {
                sig(s).text = u"DATEADD";
                sig(open).suffix = written(concatenated(sig(open).suffix, u"'day',0,"));
                for (int k = as; k < close; ++k)
                    sig(k).text = {};
            }
        }
    }

    // The end (one past) of the operand starting at s, or -1: a literal, a
    // number, a (dotted) name, a function call or a bracketed expression.
    int operandEnd(int s) const
    {
        if (s >= count())
            return -1;
        const Token &t = sig(s);
        if (t.kind == Kind::String || t.kind == Kind::Number)
            return s + 1;
        if (isPunct(t, u'('))
            return m_match[s] < 0 ? -1 : m_match[s] + 1;
        if ((t.kind == Kind::Word && !isKeyword(t)) || t.kind == Kind::QuotedName) {
            int e = s + 1;
            while (e + 1 < count() && isPunct(sig(e), u'.') &&
                   (sig(e + 1).kind == Kind::Word || sig(e + 1).kind == Kind::QuotedName || isPunct(sig(e + 1), u'*')))
                e += 2;
            if (e < count() && isPunct(sig(e), u'(') && m_match[e] > 0)
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
            while (end < count() && isPunct(sig(end), u'+')) {
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
                    sig(p).text = u"||";
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
            if (s + 1 < count() && sig(s + 1).kind == Kind::Number && isAsciiDigits(sig(s + 1).text))
                countEnd = s + 2;
            else if (s + 1 < count() && isPunct(sig(s + 1), u'(') && m_match[s + 1] > 0)
                countEnd = m_match[s + 1] + 1;
            if (countEnd < 0 || (countEnd < count() && isWord(sig(countEnd), QLatin1String("PERCENT"))))
                continue; // left for SQLite to reject with its own message

            // The count moves as written, blanks and comments included:
            // "(5 - -1)" must not become "(5--1)".
            QString limit;
            for (int t = m_sig[s + 1]; t <= m_sig[countEnd - 1]; ++t)
                limit.append(m_tokens[t].prefix).append(m_tokens[t].text).append(m_tokens[t].suffix);
            // Remove "TOP n" and the blanks after it.
            for (int t = m_sig[s]; t < m_sig[countEnd - 1] + 1; ++t) {
                m_tokens[t].prefix = {};
                m_tokens[t].text = {};
                m_tokens[t].suffix = {};
            }
            for (int t = m_sig[countEnd - 1] + 1; t < int(m_tokens.size()) && m_tokens[t].kind == Kind::Space; ++t)
                m_tokens[t].text = {};

            int depth = 0;
            int k = countEnd;
            for (; k < count(); ++k) {
                const Token &t = sig(k);
                if (isPunct(t, u'('))
                    ++depth;
                else if (isPunct(t, u')')) {
                    if (depth == 0)
                        break;
                    --depth;
                } else if (depth == 0 && isPunct(t, u';'))
                    break;
            }
            if (k < count())
                sig(k).prefix =
                    written(concatenated(QStringLiteral(" LIMIT ") + limit + QLatin1Char(' '), sig(k).prefix));
            else
                sig(count() - 1).suffix =
                    written(concatenated(sig(count() - 1).suffix, QStringLiteral(" LIMIT ") + limit));
        }
    }

    const QString m_original; // viewed by the tokens: never changed
    bool m_unterminated = false;
    std::vector<Token> m_tokens;
    std::vector<int> m_sig;   // indexes of the tokens that are not blanks or comments
    std::vector<int> m_match; // per significant token: its matching bracket, or -1
    QStringList m_written;    // the texts the rewrites put in, viewed by the tokens

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
    const std::vector<Token> read = tokenize(sql, &open);
    QList<SqlToken> tokens;
    tokens.reserve(qsizetype(read.size()));
    for (const Token &token : read)
        tokens.append(SqlToken{token.kind, token.text.toString()});
    if (unterminated != nullptr)
        *unterminated = open;
    return tokens;
}
