#pragma once

#include "email/MailComponent.h"
#include "email/MailError.h"
#include "email/MailSettings.h"

#include <QList>
#include <QString>

// Sends one message through a new MailComponent made from the mail settings
// (the port text becomes a number here). An empty recipient list sends nothing. The list is split
// at every ";" (a trailing ";" is allowed); the component skips empty pieces
// and trims the others. Throws MailError when the port setting is not a
// number or the message cannot be handed over. With a session, the SMTP
// connection of an earlier message to the same server is reused. With
// refused, a message that went out to some recipients but not to others
// lists those others there.
void SendEmail(const MailSettings &settings, const QString &senderAddress, const QString &senderName,
               const QString &recipientList, const QString &subject, const QString &body,
               MailSession *session = nullptr, QList<RefusedRecipient> *refused = nullptr);

// Sends one short message from the settings' sender to the address, as
// --send-test-mail does; returns the server's final reply. Throws MailError.
QString SendTestEmail(const MailSettings &settings, const QString &address);

// The port setting as a 32-bit whole number: decimal text (spaces around it
// ignored), a fraction rounded half to even. Throws MailError for empty or
// non-numeric text and for numbers beyond 32 bits.
int MailPortNumber(const QString &portText);
