#pragma once

#include "email/MailError.h"
#include "email/MailSettings.h"

#include <QList>
#include <QString>
#include <QStringList>

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

// One outgoing message and its delivery, on libcurl. Made from the mail
// settings; add the recipients and call Send once; a new component is made
// for every message. The server setters override the settings' values.
//
// EnableSecureConnection means implicit TLS on port 465 and STARTTLS required
// on any other port; a host given as "smtps://host" means implicit TLS on any
// port; port 465 without it is refused at once with a word about the setting.
// Without the secure connection STARTTLS is used when the server offers it,
// and a login is refused over an unencrypted session unless the options allow
// it. The server's certificate and host name are always verified against the
// system's store (or the bundle named by the CURL_CA_BUNDLE environment
// variable).
//
// The login, when there is a user name: with OAuth (settings.oauth) XOAUTH2
// with the provider's bearer token; else PLAIN or LOGIN, whichever the server
// offers (PLAIN first, LOGIN on a second connection when the server does not
// take PLAIN after offering it), never a mechanism a password alone cannot
// complete (GSSAPI, NTLM) however early the server offers it. A refused login
// names the mechanism and the server's reply. No password or token ever
// appears in an error.
//
// An address needing SMTPUTF8 (an international local part) goes with it
// when the server offers it. A reused connection that the server closed
// (421) is replaced by a new one, once. Replies are waited for as
// MailTimeouts says, and the whole delivery ends at the settings' sending
// deadline.
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

    explicit MailComponent(const MailSettings &settings = {}, MailSession *session = nullptr);
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
    // Spaces around the address are removed, and "Name <address>" is read as
    // its address; an address that is then empty is skipped and false
    // returned. An address that could not be written into
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
    // After a Send that succeeded: the server's reply to the message data.
    QString FinalReply() const { return m_finalReply; }

private:
    MailSettings m_settings;
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
    QString m_finalReply;
    QList<QByteArray> m_extraFields;
    MailSession *m_session;
};
