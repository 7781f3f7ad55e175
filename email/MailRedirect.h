#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// --redirect-mail ADDRESS: every message goes to ADDRESS alone, whatever its
// recipient list, so a restored copy of a production database on a test
// machine mails nobody real. The original recipients travel in the body's
// first line and in an X-Original-To field; the queue is marked as usual.
// Set once at start-up; empty (the default) sends as addressed.
void SetMailRedirect(const QString &address);
QString MailRedirectAddress();

// Where one message goes and what it carries.
struct RoutedMail
{
    QString recipientList; // ";"-separated, as SendEmail takes it
    QString body;
    QList<QByteArray> extraFields; // complete header fields
};
RoutedMail RouteMail(const QString &recipientList, const QString &body);

// "Original recipients: a@x, b@y": the addresses of a stored recipient list.
QString OriginalRecipientsLine(const QString &recipientList);

// What the caption and every log line carry while mail is redirected
// (" - MAIL REDIRECTED TO <address>"); empty otherwise.
QString MailRedirectNote();
