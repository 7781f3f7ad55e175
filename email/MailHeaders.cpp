#include "email/MailHeaders.h"

#include <QRandomGenerator>
#include <QTimeZone>

namespace {

constexpr int FoldWidth = 78;
// "=?UTF-8?B?" + base64 + "?=" with 36 bytes of text is 60 characters, so a
// field name and an encoded word still fit on one line.
constexpr int EncodedWordBytes = 36;

// A header value never carries a line break or other control character: they
// would end the field (or the whole header) early.
QString singleLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    return line;
}

bool isPlainPrintable(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    // Text that looks like an encoded word would be decoded by the reader.
    return !text.contains(QLatin1String("=?"));
}

// Encoded words, each of whole UTF-8 characters.
QList<QByteArray> encodedWords(const QString &text)
{
    QList<QByteArray> words;
    QByteArray chunk;
    const QList<uint> codePoints = text.toUcs4();
    for (uint cp : codePoints) {
        const QByteArray bytes = QString::fromUcs4(reinterpret_cast<const char32_t *>(&cp), 1).toUtf8();
        if (chunk.size() + bytes.size() > EncodedWordBytes) {
            words.append("=?UTF-8?B?" + chunk.toBase64() + "?=");
            chunk.clear();
        }
        chunk += bytes;
    }
    if (!chunk.isEmpty())
        words.append("=?UTF-8?B?" + chunk.toBase64() + "?=");
    return words;
}

// Joins the pieces of a field with a space, or with a fold (CR LF, space)
// where the line would pass the fold width.
QByteArray fold(const QByteArray &name, const QList<QByteArray> &pieces, const QByteArray &separator = " ")
{
    QByteArray field = name + ":";
    qsizetype lineLength = field.size();
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QByteArray &piece = pieces.at(i);
        const QByteArray joint = i == 0 ? QByteArray(" ") : separator;
        if (i > 0 && lineLength + joint.size() + piece.size() > FoldWidth) {
            field += joint.trimmed() + "\r\n ";
            lineLength = 1;
        } else {
            field += joint;
            lineLength += joint.size();
        }
        field += piece;
        lineLength += piece.size();
    }
    return field;
}

// Unstructured text: plain words when it is printable ASCII, encoded words
// otherwise.
QList<QByteArray> textPieces(const QString &text)
{
    if (!isPlainPrintable(text))
        return encodedWords(text);
    // Runs of spaces survive: the spaces past the first of a run lead the
    // next word (or trail the last one), so a fold never leaves a line of
    // blanks only.
    QList<QByteArray> words;
    QByteArray blanks;
    for (const QByteArray &word : text.toLatin1().split(' ')) {
        if (word.isEmpty()) {
            blanks += ' ';
            continue;
        }
        words.append(blanks + word);
        blanks.clear();
    }
    if (words.isEmpty())
        words.append(blanks.chopped(1));
    else if (!blanks.isEmpty())
        words.last() += blanks;
    for (const QByteArray &word : std::as_const(words)) {
        // A word that no fold can shorten would break the line limit.
        if (word.size() > 900)
            return encodedWords(text);
    }
    return words;
}

QByteArray quotedPhrase(const QString &name)
{
    QByteArray quoted = "\"";
    for (char c : name.toLatin1()) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace

QByteArray FromField(const QString &name, const QString &address)
{
    const QString displayName = singleLine(name).trimmed();
    const QByteArray mailbox = "<" + address.toUtf8() + ">";
    if (displayName.isEmpty())
        return fold("From", {mailbox});
    QList<QByteArray> pieces;
    // A quoted name is one piece that no fold can shorten: past the line
    // limit it travels as encoded words, which fold between them.
    const QByteArray quoted = isPlainPrintable(displayName) ? quotedPhrase(displayName) : QByteArray();
    if (!quoted.isEmpty() && quoted.size() <= 900)
        pieces.append(quoted);
    else
        pieces = encodedWords(displayName);
    pieces.append(mailbox);
    return fold("From", pieces);
}

QByteArray ToField(const QStringList &addresses)
{
    QList<QByteArray> pieces;
    for (const QString &address : addresses)
        pieces.append(address.toUtf8());
    return fold("To", pieces, ", ");
}

QByteArray SubjectField(const QString &subject)
{
    const QString text = singleLine(subject);
    if (text.isEmpty())
        return "Subject: ";
    return fold("Subject", textPieces(text));
}

QByteArray TextField(const QByteArray &name, const QString &text)
{
    const QString line = singleLine(text);
    if (line.isEmpty())
        return name + ": ";
    return fold(name, textPieces(line));
}

QByteArray DateField(const QDateTime &when)
{
    // Qt writes this form with the C locale's names and a numeric offset
    // ("+0100"), whatever the machine's language.
    return "Date: " + when.toString(Qt::RFC2822Date).toLatin1();
}

QByteArray MessageIdField(const QString &domain)
{
    quint64 random[2];
    QRandomGenerator::system()->fillRange(random);
    const QByteArray unique = QByteArray::number(random[0], 16) + QByteArray::number(random[1], 16) + "." +
        QByteArray::number(QDateTime::currentMSecsSinceEpoch());
    return "Message-ID: <" + unique + "@" + domain.toLatin1() + ">";
}

QByteArray MailBodyText(const QString &body)
{
    const QByteArray utf8 = body.toUtf8();
    QByteArray text;
    text.reserve(utf8.size() + utf8.size() / 32);
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8.at(i);
        if (c == '\r') {
            text += "\r\n";
            if (i + 1 < utf8.size() && utf8.at(i + 1) == '\n')
                ++i;
        } else if (c == '\n') {
            text += "\r\n";
        } else {
            text += c;
        }
    }
    return text;
}

QByteArray QuotedPrintable(const QByteArray &crlfText)
{
    // Lines of at most 76 characters; a soft break ("=" at the end) splits
    // longer ones, and a space or tab before a line break is encoded so that
    // no relay strips it.
    constexpr qsizetype MostCharacters = 76;
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(crlfText.size() + crlfText.size() / 8);
    const QList<QByteArray> lines = crlfText.split('\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        QByteArray line = lines.at(l);
        if (l + 1 < lines.size() && line.endsWith('\r'))
            line.chop(1);
        qsizetype width = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line.at(i));
            const bool last = i + 1 == line.size();
            // Built in place: a body is encoded character by character.
            char token[3] = {char(c), 0, 0};
            qsizetype length = 1;
            if (!((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))) {
                token[0] = '=';
                token[1] = hex[c >> 4];
                token[2] = hex[c & 0xf];
                length = 3;
            }
            if (width + length > MostCharacters - (last ? 0 : 1)) {
                out += "=\r\n";
                width = 0;
            }
            out.append(token, length);
            width += length;
        }
        if (l + 1 < lines.size())
            out += "\r\n";
    }
    return out;
}
