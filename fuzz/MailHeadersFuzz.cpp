// The header encoder over arbitrary names, subjects and bodies: every field
// is 7-bit text in lines the wire accepts, and a reader decoding it gets the
// text back (control characters as spaces, as the encoder promises).

#include "email/MailHeaders.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/HeaderCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

QString withoutControls(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return text;
}

// "=?UTF-8?B?...?=" words, blanks between them ignored (RFC 2047).
bool decodeEncodedWords(const QByteArray &value, QByteArray *utf8)
{
    const QList<QByteArray> words = value.split(' ');
    for (const QByteArray &word : words) {
        if (!word.startsWith("=?UTF-8?B?") || !word.endsWith("?=") || word.size() < 12)
            return false;
        FUZZ_CHECK(word.size() <= 75, QStringLiteral("encoded word longer than 75: ") + QString::fromLatin1(word));
        const QByteArray::FromBase64Result decoded =
            QByteArray::fromBase64Encoding(word.mid(10, word.size() - 12), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        // Each word holds whole characters, so each decodes alone.
        FUZZ_CHECK(QString::fromUtf8(*decoded).toUtf8() == *decoded,
                   QStringLiteral("encoded word splits a character: ") + QString::fromLatin1(word));
        *utf8 += *decoded;
    }
    return true;
}

// The unstructured text of a value: plain text as it stands, or encoded
// words when it holds any.
QString decodeText(const QByteArray &value)
{
    if (!value.contains("=?"))
        return QString::fromLatin1(value);
    QByteArray utf8;
    FUZZ_CHECK(decodeEncodedWords(value, &utf8), QStringLiteral("undecodable: ") + QString::fromLatin1(value));
    return QString::fromUtf8(utf8);
}

void checkSubject(const QString &subject, bool roundTrip)
{
    const QByteArray field = SubjectField(subject);
    CheckFieldSyntax(field, "Subject");
    if (!roundTrip)
        return;
    const QByteArray value = Unfolded(field).mid(9);
    const QString expected = withoutControls(subject);
    const QString decoded = decodeText(value);
    FUZZ_CHECK(decoded == expected,
               QStringLiteral("subject %1 read back as %2").arg(Visible(expected), Visible(decoded)));
}

void checkFrom(const QString &name, bool roundTrip)
{
    const QString address = QStringLiteral("alerts@velmar.test");
    const QByteArray field = FromField(name, address);
    CheckFieldSyntax(field, "From");
    const QByteArray line = Unfolded(field);
    const QByteArray mailbox = "<" + address.toUtf8() + ">";
    FUZZ_CHECK(line.endsWith(mailbox), Visible(QString::fromUtf8(field)));
    if (!roundTrip)
        return;
    const QString expected = withoutControls(name).trimmed();
    if (expected.isEmpty()) {
        FUZZ_CHECK(line == "From: " + mailbox, Visible(QString::fromUtf8(field)));
        return;
    }
    FUZZ_CHECK(line.startsWith("From: ") && line.endsWith(" " + mailbox), Visible(QString::fromUtf8(field)));
    const QByteArray phrase = line.mid(6, line.size() - 6 - mailbox.size() - 1);
    QString decoded;
    if (phrase.startsWith('"')) {
        FUZZ_CHECK(phrase.size() >= 2 && phrase.endsWith('"'), QString::fromLatin1(phrase));
        QByteArray unquoted;
        for (qsizetype i = 1; i + 1 < phrase.size(); ++i) {
            char c = phrase.at(i);
            FUZZ_CHECK(c != '"', QStringLiteral("unescaped quote: ") + QString::fromLatin1(phrase));
            if (c == '\\') {
                ++i;
                FUZZ_CHECK(i + 1 < phrase.size(), QStringLiteral("escape at the end: ") + QString::fromLatin1(phrase));
                c = phrase.at(i);
            }
            unquoted += c;
        }
        decoded = QString::fromLatin1(unquoted);
    } else {
        QByteArray utf8;
        FUZZ_CHECK(decodeEncodedWords(phrase, &utf8), QStringLiteral("undecodable: ") + QString::fromLatin1(phrase));
        decoded = QString::fromUtf8(utf8);
    }
    FUZZ_CHECK(decoded == expected, QStringLiteral("name %1 read back as %2").arg(Visible(expected), Visible(decoded)));
}

// Line breaks of every kind become CR LF; nothing else changes.
void checkBody(const QString &body)
{
    const QByteArray wire = MailBodyText(body);
    for (qsizetype i = 0; i < wire.size(); ++i) {
        if (wire.at(i) == '\r')
            FUZZ_CHECK(i + 1 < wire.size() && wire.at(i + 1) == '\n', QStringLiteral("bare CR at %1").arg(i));
        else if (wire.at(i) == '\n')
            FUZZ_CHECK(i > 0 && wire.at(i - 1) == '\r', QStringLiteral("bare LF at %1").arg(i));
    }
    QByteArray expected = body.toUtf8();
    expected.replace("\r\n", "\n").replace('\r', '\n');
    QByteArray got = wire;
    got.replace("\r\n", "\n");
    FUZZ_CHECK(got == expected, Visible(body));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // UTF-8 text decodes to exactly what the database would hand over; raw
    // UTF-16 reaches lone surrogates, for which only the syntax is checked.
    const bool utf16 = input.ConsumeBool();
    const auto text = [&](std::size_t most) {
        const std::string bytes = input.ConsumeRandomLengthString(most);
        if (!utf16)
            return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        QString result(qsizetype(bytes.size() / 2), Qt::Uninitialized);
        std::memcpy(result.data(), bytes.data(), size_t(result.size()) * sizeof(QChar));
        return result;
    };
    const QString subject = text(4096);
    const QString name = text(4096);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QString body = QString::fromUtf8(rest.data(), qsizetype(rest.size()));

    checkSubject(subject, !utf16);
    checkFrom(name, !utf16);
    checkBody(subject + QLatin1Char('\n') + body + QLatin1Char('\r') + name);
    return 0;
}
