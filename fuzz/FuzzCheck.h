#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A broken invariant: say which and with what, then abort so that libFuzzer
// keeps the input as a crash file.
[[noreturn]] inline void FuzzFailure(const char *invariant, const QString &detail = QString())
{
    std::fprintf(stderr, "\nINVARIANT BROKEN: %s\n%s\n", invariant, detail.left(2000).toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                                                                  \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            FuzzFailure(#condition, (detail));                                                                         \
    } while (false)

// Text from fuzz bytes. The first byte picks the decoding: UTF-8 (what the
// database and files usually give) or raw UTF-16, which also reaches lone
// surrogates that no UTF-8 decoder produces.
inline QString FuzzText(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return QString();
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const qsizetype length = qsizetype(size - 1);
    if (data[0] & 1) {
        QString text(length / 2, Qt::Uninitialized);
        std::memcpy(text.data(), bytes, size_t(text.size()) * sizeof(QChar)); // the bytes need not be aligned
        return text;
    }
    return QString::fromUtf8(bytes, length);
}

// The text shown in a failure: non-printable characters as \uXXXX.
inline QString Visible(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}
