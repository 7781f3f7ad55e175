#include "email/MailRedirect.h"

#include "email/MailHeaders.h"

#include <QStringList>

namespace {
QString &redirectAddress()
{
    static QString address;
    return address;
}

QStringList addressesOf(const QString &recipientList)
{
    QStringList addresses;
    for (const QString &piece : recipientList.split(QLatin1Char(';'))) {
        // One line whatever the stored list holds: a line break would end
        // the header field, or push the body's first line down.
        const QString address = piece.simplified();
        if (!address.isEmpty())
            addresses.append(address);
    }
    return addresses;
}
} // namespace

void SetMailRedirect(const QString &address)
{
    redirectAddress() = address.trimmed();
}

QString MailRedirectAddress()
{
    return redirectAddress();
}

QString OriginalRecipientsLine(const QString &recipientList)
{
    return QStringLiteral("Original recipients: ") + addressesOf(recipientList).join(QStringLiteral(", "));
}

RoutedMail RouteMail(const QString &recipientList, const QString &body)
{
    if (redirectAddress().isEmpty())
        return {recipientList, body, {}};
    return {redirectAddress(),
            OriginalRecipientsLine(recipientList) + QStringLiteral("\r\n\r\n") + body,
            {TextField("X-Original-To", addressesOf(recipientList).join(QStringLiteral(", ")))}};
}

QString MailRedirectNote()
{
    return redirectAddress().isEmpty() ? QString() : QStringLiteral(" - MAIL REDIRECTED TO ") + redirectAddress();
}
