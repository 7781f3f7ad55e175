#include "email/SendEmail.h"

#include "email/MailComponent.h"
#include "email/MailRecorder.h"
#include "email/MailRedirect.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

int MailPortNumber(const QString &portText)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    const QString text = portText.trimmed();
    if (!number.match(text).hasMatch())
        throw MailError(QStringLiteral("The mail server port \"%1\" is not a number.").arg(portText));
    bool ok = false;
    const double value = text.toDouble(&ok);
    // Half-way fractions go to the even neighbour (the default rounding mode).
    const double rounded = ok ? std::nearbyint(value) : 0.0;
    if (!ok || !std::isfinite(rounded) || rounded < double(std::numeric_limits<qint32>::min()) ||
        rounded > double(std::numeric_limits<qint32>::max()))
        throw MailError(QStringLiteral("The mail server port \"%1\" is out of range.").arg(portText));
    return int(rounded);
}

void SendEmail(const MailSettings &settings, const QString &senderAddress, const QString &senderName,
               const QString &recipientList, const QString &subject, const QString &body, MailSession *session,
               QList<RefusedRecipient> *refused)
{
    if (recipientList.isEmpty())
        return;
    if (RecordInsteadOfSending({senderAddress, senderName, recipientList, subject, body}))
        return; // a preview: shown, never sent
    const RoutedMail routed = RouteMail(recipientList, body);

    MailComponent mail(settings, session);
    mail.SetSenderAddress(senderAddress);
    mail.SetSenderName(senderName);
    mail.SetSubject(subject);
    mail.SetBody(routed.body);
    for (const QByteArray &field : routed.extraFields)
        mail.AddHeaderField(field);
    mail.SetServerPort(MailPortNumber(settings.port));

    QString list = routed.recipientList;
    if (!list.endsWith(QLatin1Char(';')))
        list += QLatin1Char(';');
    const QStringList pieces = list.split(QLatin1Char(';'));
    // The piece after the final ";" is always empty.
    for (qsizetype i = 0; i + 1 < pieces.size(); ++i)
        mail.AddRecipient(pieces.at(i), MailComponent::RecipientTo);

    mail.Send();
    if (refused != nullptr)
        *refused = mail.RefusedRecipients();
}

QString SendTestEmail(const MailSettings &settings, const QString &address)
{
    MailComponent mail(settings);
    mail.SetSenderAddress(settings.senderAddress);
    mail.SetSenderName(settings.senderName);
    mail.SetSubject(QStringLiteral("Test message from the automation server"));
    mail.SetBody(QStringLiteral("This message tests the mail settings of the automation server of %1.\r\n"
                                "It was sent on request (--send-test-mail); no reply is needed.\r\n")
                     .arg(settings.senderName));
    mail.SetServerPort(MailPortNumber(settings.port));
    if (!mail.AddRecipient(address, MailComponent::RecipientTo))
        throw MailError(QStringLiteral("\"%1\" is not a usable address.").arg(address), MailError::Kind::Permanent);
    mail.Send();
    const QList<RefusedRecipient> refused = mail.RefusedRecipients();
    if (!refused.isEmpty())
        throw MailError(QStringLiteral("The mail server refused %1: %2")
                            .arg(refused.first().address, refused.first().reason),
                        MailError::Kind::Permanent);
    return mail.FinalReply();
}
