#pragma once

#include "fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QList>

// Checks shared by the header and recipient targets: a header field as it
// must go on the wire.

// The lines of a field: CR LF followed by a space or tab folds it; any other
// CR or LF, any control character, and a line over 998 bytes (RFC 5322's
// limit) break it, and so does any byte above 0x7f: a field is 7-bit, unless
// it names an address in international characters, which travels only with
// SMTPUTF8 and then as UTF-8 in the header too (RFC 6532).
inline void CheckFieldSyntax(const QByteArray &field, const QByteArray &name, bool utf8 = false)
{
    const auto shown = [&] { return Visible(QString::fromUtf8(field)); };
    FUZZ_CHECK(field.startsWith(name + ':'), shown());
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(field.at(i));
        if (c == '\r') {
            FUZZ_CHECK(i + 2 < field.size() && field.at(i + 1) == '\n' &&
                           (field.at(i + 2) == ' ' || field.at(i + 2) == '\t'),
                       QStringLiteral("CR not starting a fold at %1: ").arg(i) + shown());
            FUZZ_CHECK(i - lineStart <= 998, QStringLiteral("line of %1 bytes: ").arg(i - lineStart) + shown());
            lineStart = i + 2;
            ++i;
            continue;
        }
        FUZZ_CHECK(c != '\n', QStringLiteral("bare LF at %1: ").arg(i) + shown());
        FUZZ_CHECK(c >= 0x20 && c != 0x7f, QStringLiteral("control byte at %1: ").arg(i) + shown());
        FUZZ_CHECK(utf8 || c <= 0x7f, QStringLiteral("8-bit byte at %1: ").arg(i) + shown());
    }
    FUZZ_CHECK(field.size() - lineStart <= 998,
               QStringLiteral("last line of %1 bytes: ").arg(field.size() - lineStart) + shown());
    // A continuation line of nothing but blanks is not allowed either.
    const QList<QByteArray> lines = field.split('\n');
    for (qsizetype l = 1; l < lines.size(); ++l)
        FUZZ_CHECK(!lines.at(l).trimmed().isEmpty(), QStringLiteral("blank continuation line: ") + shown());
}

// A folded field as one line (RFC 5322 unfolding: CR LF before a blank goes).
inline QByteArray Unfolded(const QByteArray &field)
{
    QByteArray out = field;
    out.replace("\r\n", "");
    return out;
}
