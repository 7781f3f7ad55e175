// The embedded backend's rewrite of the SQL Server dialect over arbitrary
// text, with the date columns of the host's tables. Whatever it does to the
// statement around them, string literals and quoted names come out as they
// went in (a literal in the system's date form may become the same date in
// ISO form), and no comment or run-together word appears that was not there:
// either would change what the statement says.

#include "database/DateValues.h"
#include "database/ServerDateText.h"
#include "database/SqlServerDialect.h"
#include "fuzz/FuzzCheck.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QSet>

#include <cstddef>
#include <cstdint>

namespace {

// What this check needs of a statement, read by the tokenizer again from the
// rewrite's text: terminated string literals and quoted names (raw text
// between the delimiters, doubled delimiters kept), the words and numbers
// outside them and the number of comments.
struct Lexed
{
    QStringList literals;
    QStringList names;
    QSet<QString> words; // outside literals, names and comments, lower case
    int comments = 0;
};

Lexed lex(const QString &sql)
{
    Lexed out;
    bool unterminated = false;
    const QList<SqlToken> tokens = SqlTokens(sql, &unterminated);
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const SqlToken &token = tokens.at(i);
        const QString content = token.text.mid(1, token.text.size() - 2);
        if (unterminated && i + 1 == tokens.size())
            break; // unterminated: the rest is one broken token
        if (token.kind == SqlTokenKind::Comment)
            ++out.comments;
        else if (token.kind == SqlTokenKind::String)
            out.literals.append(content);
        else if (token.kind == SqlTokenKind::QuotedName)
            out.names.append(content);
        else if (token.kind == SqlTokenKind::Word || token.kind == SqlTokenKind::Number)
            out.words.insert(token.text.toLower());
    }
    return out;
}

bool digitsAt(const QString &text, qsizetype &pos, int least, int most)
{
    int count = 0;
    while (pos < text.size() && count < most && text.at(pos) >= u'0' && text.at(pos) <= u'9') {
        ++pos;
        ++count;
    }
    return count >= least;
}

bool charAt(const QString &text, qsizetype &pos, QChar c)
{
    if (pos < text.size() && text.at(pos) == c) {
        ++pos;
        return true;
    }
    return false;
}

// "M/d/yyyy" or "M/d/yyyy h:mm:ss AM", and nothing else around it.
bool isSystemDateForm(const QString &text)
{
    qsizetype p = 0;
    if (!(digitsAt(text, p, 1, 2) && charAt(text, p, u'/') && digitsAt(text, p, 1, 2) && charAt(text, p, u'/') &&
          digitsAt(text, p, 4, 4)))
        return false;
    if (p == text.size())
        return true;
    if (!(charAt(text, p, u' ') && digitsAt(text, p, 1, 2) && charAt(text, p, u':') && digitsAt(text, p, 2, 2) &&
          charAt(text, p, u':') && digitsAt(text, p, 2, 2) && charAt(text, p, u' ')))
        return false;
    if (p + 2 != text.size())
        return false;
    const QString half = text.mid(p).toUpper();
    return half == QLatin1String("AM") || half == QLatin1String("PM");
}

// The ISO form a literal may take where it stands for a date; empty when it
// is not in the system's date form.
QString isoForm(const QString &content)
{
    if (!isSystemDateForm(content))
        return QString();
    const QDateTime date = ParseSystemDateText(content);
    return date.isValid() ? IsoDateTimeText(date) : QString();
}

// An ISO date-time literal with a fraction, as datetime keeps it.
QString roundedIsoForm(const QString &content)
{
    DateFields date;
    DateFields rounded;
    if (!IsFullIsoDateTime(content) || !ParseStoredDateFields(content, &date) || !RoundToDatetime(date, &rounded))
        return QString();
    return IsoDateTimeText(rounded);
}

// Literals the rewrite writes itself: the data type of CONVERT,
// the column named along with DATEADD ("Table.Column").
bool isOwnLiteral(const QString &content)
{
    static const QRegularExpression own(QRegularExpression::anchoredPattern(
                                            QStringLiteral("[A-Za-z_][A-Za-z0-9_]*(\\((\\d+|max)\\))?|.+\\..+")),
                                        QRegularExpression::CaseInsensitiveOption);
    return own.match(content).hasMatch();
}

// Some of the host's tables, with their date columns, as the embedded
// backend reads them from the database.
SchemaDateColumns hostSchema()
{
    SchemaDateColumns schema;
    const QList<QPair<QString, QStringList>> tables = {
        {QStringLiteral("Issues"),
         {QStringLiteral("IssueDate"), QStringLiteral("DueDate"), QStringLiteral("EnteredDate"),
          QStringLiteral("EditedDate"), QStringLiteral("AUTO_Date")}},
        {QStringLiteral("AutomationServer_Emails"), {QStringLiteral("EmailDate"), QStringLiteral("ItemKey")}},
        {QStringLiteral("AutomationServer_EmailsSent"), {QStringLiteral("DateSent")}},
        {QStringLiteral("CustomerEmployeeTraining"), {QStringLiteral("CompletedDate")}},
    };
    for (const auto &[table, dates] : tables) {
        for (const QString &column : dates)
            schema.AddColumn(table, column, true);
        for (const char *text : {"ID", "Description", "Category", "Status", "EmailSubject", "EmailBody"})
            schema.AddColumn(table, QLatin1String(text), false);
    }
    return schema;
}

// A word the rewrite may turn into a literal: DATEADD's interval keyword.
bool isWord(const QString &text)
{
    if (text.isEmpty() || !(text.at(0).isLetter() || text.at(0) == u'_' || text.at(0) == u'@' || text.at(0) == u'#'))
        return false;
    for (QChar c : text) {
        if (!(c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$'))
            return false;
    }
    return true;
}

QHash<QString, int> counted(const QStringList &items)
{
    QHash<QString, int> counts;
    for (const QString &item : items)
        ++counts[item];
    return counts;
}

QString context(const QString &sql, const QString &rewritten)
{
    return QStringLiteral("in:  %1\nout: %2").arg(Visible(sql), Visible(rewritten));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString sql = FuzzText(data, size);
    static const SchemaDateColumns schema = hostSchema();
    const QString rewritten = RewriteSqlServerDialect(sql, [] { return schema; });
    const Lexed before = lex(sql);
    const Lexed after = lex(rewritten);

    QHash<QString, int> literals = counted(after.literals);
    // Literals that came out as they were first, then the dates among the
    // rest in ISO form (an ISO text is never in the date form, so the two
    // cannot claim the same output).
    QStringList changed;
    for (const QString &literal : before.literals) {
        if (literals.value(literal) > 0)
            --literals[literal];
        else
            changed.append(literal);
    }
    for (const QString &literal : changed) {
        // A date becomes ISO text (rounded to 1/300 s).
        QString kept = isoForm(literal);
        if (kept.isEmpty() || literals.value(kept) == 0)
            kept = roundedIsoForm(literal);
        FUZZ_CHECK(!kept.isEmpty() && literals.value(kept) > 0,
                   QStringLiteral("literal '%1' lost\n").arg(Visible(literal)) + context(sql, rewritten));
        --literals[kept];
    }
    for (auto it = literals.cbegin(); it != literals.cend(); ++it) {
        FUZZ_CHECK(it.value() == 0 || isWord(it.key()) || isOwnLiteral(it.key()),
                   QStringLiteral("literal '%1' appeared\n").arg(Visible(it.key())) + context(sql, rewritten));
    }
    FUZZ_CHECK(counted(before.names) == counted(after.names), context(sql, rewritten));
    FUZZ_CHECK(after.comments <= before.comments, context(sql, rewritten));
    // Words the rewrite writes itself; any other new word is two of the
    // statement's tokens run together.
    static const QSet<QString> ownWords = {QStringLiteral("limit"),   QStringLiteral("varchar_of"),
                                           QStringLiteral("text"),    QStringLiteral("ifnull"),
                                           QStringLiteral("dateadd"), QStringLiteral("convert"),
                                           QStringLiteral("rowid")};
    for (const QString &word : after.words) {
        bool digits = true;
        for (QChar c : word)
            digits = digits && c >= u'0' && c <= u'9';
        FUZZ_CHECK(digits || ownWords.contains(word) || before.words.contains(word),
                   QStringLiteral("word %1 appeared\n").arg(Visible(word)) + context(sql, rewritten));
    }
    return 0;
}
