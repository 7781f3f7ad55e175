#pragma once

#include "email/MailError.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

// The SMTP sessions of one run of the queue. A message to the server and
// account that an earlier message of the run used goes over the same SMTP
// session instead of a new connection; every session still open is ended
// (QUIT) when the MailSession is destroyed. Not thread-safe: one run, one
// thread.
class MailSession
{
public:
    MailSession();
    ~MailSession();
    MailSession(const MailSession &) = delete;
    MailSession &operator=(const MailSession &) = delete;

    void *handle() const { return m_share; } // the CURLSH the messages share

private:
    void *m_share = nullptr;
};

// One outgoing message and its delivery, on libcurl. Configure it with the
// setters, add the recipients and call Send once; a new component is made for
// every message.
//
// EnableSecureConnection means implicit TLS on port 465 and STARTTLS required
// on any other port; a host given as "smtps://host" means implicit TLS on any
// port. Without the secure connection STARTTLS is used when the server offers
// it, and a login is refused over an unencrypted session unless
// SetPlainTextLoginAllowed(true). The server's certificate and host name are always
// verified against the system's store (or the bundle named by the
// CURL_CA_BUNDLE environment variable). The credentials are used only when
// the user name is not empty and never appear in an error.
//
// Send throws MailError (with its Kind) when the message cannot be handed
// over: no usable recipient, the server unreachable or silent, a TLS or login failure, every
// recipient refused, or the message refused. A message that at least one
// recipient accepted counts as sent; the recipients it did not reach are
// then listed by RefusedRecipients().
struct RefusedRecipient
{
    QString address;
    QString reason; // the server's reply ("450 4.2.1 Mailbox busy"), or why it was not sent to
};

class MailComponent
{
public:
    // Recipients are always direct addressees: AddRecipient's second argument
    // is 0.
    static constexpr int RecipientTo = 0;

    explicit MailComponent(MailSession *session = nullptr);
    ~MailComponent();
    MailComponent(const MailComponent &) = delete;
    MailComponent &operator=(const MailComponent &) = delete;

    void SetSenderAddress(const QString &address);
    void SetSenderName(const QString &name);
    void SetSubject(const QString &subject);
    void SetBody(const QString &body);
    void SetServerHost(const QString &host);
    void SetServerPort(int port);
    void EnableSecureConnection();
    void SetUserName(const QString &userName);
    void SetPassword(const QString &password);
    // Spaces around the address are removed; an address that is then empty is
    // skipped and false returned. An address that could not be written into
    // the SMTP dialogue safely (line breaks, angle brackets, inner spaces) is
    // not sent to and is named in the error if no recipient remains.
    bool AddRecipient(const QString &address, int kind);
    // A complete header field ("Name: value", see MailHeaders.h) after the others.
    void AddHeaderField(const QByteArray &field) { m_extraFields.append(field); }
    void Send();

    QStringList Recipients() const { return m_recipients; }
    // After a Send that succeeded: the addresses that could not be used, then
    // the recipients the server refused, each with the reason.
    QList<RefusedRecipient> RefusedRecipients() const { return m_refused; }

private:
    QString m_senderAddress;
    QString m_senderName;
    QString m_subject;
    QString m_body;
    QString m_host;
    int m_port = 25;
    bool m_secure = false;
    bool m_implicitTls = false; // "smtps://" in the host setting
    QString m_userName;
    QString m_password;
    QStringList m_recipients;
    QStringList m_unusable;
    QList<RefusedRecipient> m_refused;
    QList<QByteArray> m_extraFields;
    MailSession *m_session;
};

// The operator's explicit permission (--allow-plain-auth) to log in over a
// session that is not encrypted.
void SetPlainTextLoginAllowed(bool allowed);

// How long a delivery may take: connecting, and the whole SMTP dialogue.
struct MailTimeouts
{
    std::chrono::milliseconds connect{30000};
    std::chrono::milliseconds total{120000};
};
MailTimeouts CurrentMailTimeouts();
// Tests only: short limits for servers that never answer. {} restores the
// defaults.
void SetMailTimeoutsForTests(MailTimeouts timeouts);
