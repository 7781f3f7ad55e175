#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// The Internet-message header fields of an outgoing message. Every function
// returns a complete field ("Name: value") in 7-bit ASCII, folded with CR LF
// and a space where a line would grow long; text that is not plain printable
// ASCII travels as RFC 2047 encoded words (UTF-8, base64).

// From with the display name (quoted or encoded as needed) and the address.
QByteArray FromField(const QString &name, const QString &address);
QByteArray ToField(const QStringList &addresses);
QByteArray SubjectField(const QString &subject);
// Any field of free text ("X-Original-To"), single-line and encoded like the subject.
QByteArray TextField(const QByteArray &name, const QString &text);
// RFC 5322 date in English with the offset from UTC: "07 Dec 2026 14:05:09 +0100".
QByteArray DateField(const QDateTime &when);
// A unique identifier: random part and the given domain.
QByteArray MessageIdField(const QString &domain);

// Line breaks of any kind (CR LF, LF, CR) become CR LF, as the wire needs.
QByteArray MailBodyText(const QString &body);

// The quoted-printable form of CR LF text (RFC 2045): line breaks stay, other
// bytes beyond printable ASCII become "=XX", long lines get soft breaks.
QByteArray QuotedPrintable(const QByteArray &crlfText);
