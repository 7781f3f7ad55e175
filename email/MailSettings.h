#pragma once

#include <QDeadlineTimer>
#include <QString>

#include <chrono>
#include <memory>

class MailTokenSource;

// How long the mail dialogue may wait. The connection, the greeting and the
// login get `connect`; every later reply gets `reply`. RFC 5321 (4.5.3.2)
// asks a client to wait at least 5 minutes for the replies to MAIL and RCPT
// and 10 minutes for the one after the message data; libcurl has one limit
// for every reply, so it is the longer one.
struct MailTimeouts
{
    std::chrono::milliseconds connect{30000};
    std::chrono::milliseconds reply{600000};
};

// The operator's choices that the Company row does not hold.
struct MailOptions
{
    bool plainTextLoginAllowed = false; // --allow-plain-auth: the login may cross an unencrypted session
    MailTimeouts timeouts;
};

// Everything the mail component needs to reach the mail server and sign in,
// built once per cycle (or per --send-test-mail) and handed down; nothing in
// the mail code reads a setting anywhere else.
struct MailSettings
{
    QString server;      // host name or address; "smtps://host" asks for implicit TLS on any port
    QString port;        // as stored; a whole number only when a message is sent (MailPortNumber)
    bool secure = false; // implicit TLS on port 465, STARTTLS required on any other
    QString userName;    // the mailbox signed in as; empty: no login
    QString password;    // used unless oauth is set
    // Set when AutomationServer_MailOAuth2 has a row: the login is XOAUTH2
    // for userName with a bearer token from the provider.
    std::shared_ptr<MailTokenSource> oauth;
    QString senderAddress; // the company's sender (AutomationServerEmailFrom)
    QString senderName;    // the company's name
    MailOptions options;
    // The end of the cycle's time for sending: a message in flight is given
    // up then (but never sooner than the connect limit after it started).
    QDeadlineTimer sendingDeadline{QDeadlineTimer::Forever};
};

// The settings of the Company row (CompanySettings) and of
// AutomationServer_MailOAuth2 (read now: the database must be open; the
// table is created when missing) with the operator's options.
MailSettings CompanyMailSettings(const MailOptions &options);
