// A recipient list as the queue hands it over ("a@x;b@y;"): SendEmail splits
// it at every ";" and offers each piece to the mail component, which trims
// it, skips empty pieces and refuses any that could bend the SMTP dialogue or
// the To header or that cannot travel in 7 bits and 254 characters. Nothing
// here reaches the network: the message is stopped by an empty server name,
// after the recipients have been judged.

#include "email/MailComponent.h"
#include "email/MailHeaders.h"
#include "email/SendEmail.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/HeaderCheck.h"
#include "startup/CompanySettings.h"

#include <QUrl>

#include <cstddef>
#include <cstdint>

namespace {

// What the component may write between angle brackets.
bool writable(const QString &address)
{
    for (QChar c : address) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || c == u'<' || c == u'>' || c == u',' || c == u';')
            return false;
    }
    return true;
}

bool ascii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return false;
    }
    return true;
}

// The address as it may travel: a domain in international characters in
// its IDNA form (a local part in them goes as it is, for SMTPUTF8), at most
// 254 characters; empty if it cannot.
QString travelling(const QString &address)
{
    if (!writable(address))
        return QString();
    QString wire = address;
    const qsizetype at = address.lastIndexOf(u'@');
    if (at >= 0 && !ascii(QStringView(address).mid(at + 1))) {
        const QByteArray domain = QUrl::toAce(address.mid(at + 1));
        if (domain.isEmpty())
            return QString();
        wire = address.left(at + 1) + QString::fromLatin1(domain);
    }
    return wire.size() <= 254 ? wire : QString();
}

// "Name <address>": the address between the only pair of brackets.
QString unnamed(const QString &text)
{
    const qsizetype open = text.indexOf(u'<');
    if (!text.endsWith(u'>') || open < 0 || text.indexOf(u'<', open + 1) >= 0 || text.indexOf(u'>') != text.size() - 1)
        return text;
    return text.mid(open + 1, text.size() - open - 2).trimmed();
}

struct Judged
{
    QStringList usable; // in list order, as they travel
    QStringList unusable;
};

Judged judge(const QString &list)
{
    Judged judged;
    for (const QString &piece : list.split(u';')) {
        const QString address = unnamed(piece.trimmed());
        if (address.isEmpty())
            continue;
        const QString wire = travelling(address);
        if (wire.isEmpty())
            judged.unusable.append(address);
        else
            judged.usable.append(wire);
    }
    return judged;
}

QString sendFailure(const QString &list)
{
    try {
        MailSettings settings;
        settings.port = QStringLiteral("25");
        SendEmail(settings, QStringLiteral("alerts@velmar.test"), QStringLiteral("Velmar"), list, QStringLiteral("s"),
                  QStringLiteral("b"));
    } catch (const MailError &error) {
        return error.message();
    }
    return QString();
}

// SendEmail's own splitting, seen through the reason the message stops.
void checkSendEmail(const QString &list, const Judged &judged)
{
    const QString failure = sendFailure(list);
    const QString shown = QStringLiteral("list %1: %2").arg(Visible(list), Visible(failure));
    if (list.isEmpty())
        FUZZ_CHECK(failure.isEmpty(), shown);
    else if (!judged.usable.isEmpty())
        FUZZ_CHECK(failure == QLatin1String("The mail server name \"\" is not valid."), shown);
    else if (!judged.unusable.isEmpty())
        FUZZ_CHECK(failure ==
                       QLatin1String("The message has no usable recipient: ") +
                           judged.unusable.join(QLatin1String("; ")),
                   shown);
    else
        FUZZ_CHECK(failure == QLatin1String("The message has no recipient."), shown);
}

void checkComponent(const QString &list, const Judged &judged)
{
    MailComponent mail;
    for (const QString &piece : list.split(u';')) {
        const bool taken = mail.AddRecipient(piece, MailComponent::RecipientTo);
        FUZZ_CHECK(taken == !travelling(unnamed(piece.trimmed())).isEmpty(), Visible(piece));
    }
    const QStringList recipients = mail.Recipients();
    FUZZ_CHECK(recipients == judged.usable, Visible(recipients.join(u'|')));

    if (recipients.isEmpty())
        return;
    const QByteArray field = ToField(recipients);
    CheckFieldSyntax(field, "To", !ascii(recipients.join(QString())));
    FUZZ_CHECK(Unfolded(field) == "To: " + recipients.join(QLatin1String(", ")).toUtf8(),
               Visible(QString::fromUtf8(field)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool settingsReady = [] {
        // No server: every message stops before the network.
        CompanySettings.AutomationServerEmailServer.clear();
        CompanySettings.AutomationServerEmailServerPort = QStringLiteral("25");
        return true;
    }();
    (void)settingsReady;

    const QString list = FuzzText(data, size);
    const Judged judged = judge(list);
    checkSendEmail(list, judged);
    checkComponent(list, judged);
    return 0;
}
