#include "email/MailComponent.h"

#include "database/Clock.h"
#include "email/LocalDomainName.h"
#include "email/MailHeaders.h"
#include "email/MailTokenSource.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw MailError(QStringLiteral("The mail library could not be initialised."));
    });
}

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

void append(List &list, const QByteArray &item)
{
    curl_slist *grown = curl_slist_append(list.get(), item.constData());
    if (!grown)
        throw std::bad_alloc();
    (void)list.release();
    list.reset(grown);
}

// Every option is checked: a library that cannot honour one (say, the
// certificate check) must not send anyway.
template<typename Value> void set(CURL *curl, CURLoption option, Value value)
{
    const CURLcode result = curl_easy_setopt(curl, option, value);
    if (result != CURLE_OK)
        throw MailError(QStringLiteral("The mail library refused option %1: %2")
                            .arg(int(option))
                            .arg(QString::fromUtf8(curl_easy_strerror(result))));
}

// An address goes between angle brackets in MAIL FROM / RCPT TO and into the
// header: anything that could end or bend those lines is refused.
bool isSafeAddress(const QString &address)
{
    for (QChar c : address) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || c == QLatin1Char('<') || c == QLatin1Char('>') ||
            c == QLatin1Char(','))
            return false;
    }
    return true;
}

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return false;
    }
    return true;
}

// The form in which an address travels, in the envelope and in the header
// alike, or an empty text when it cannot travel: a domain in international
// characters goes in its ASCII (IDNA) form; a local part in international
// characters stays as it is (libcurl then asks for SMTPUTF8 when the server
// offers it); and an address of over 254 characters is longer than any
// server accepts.
QString wireAddress(const QString &address)
{
    constexpr qsizetype MostAddressCharacters = 254;
    if (!isSafeAddress(address))
        return QString();
    QString wire = address;
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    if (at >= 0 && !isAscii(QStringView(address).mid(at + 1))) {
        const QByteArray domain = QUrl::toAce(address.mid(at + 1));
        if (domain.isEmpty())
            return QString();
        wire = address.left(at + 1) + QString::fromLatin1(domain);
    }
    return wire.size() <= MostAddressCharacters ? wire : QString();
}

// "Named Person <named@x.test>" (as other programs write a recipient): the
// address between the brackets; any other text as it is.
QString bareAddress(const QString &recipient)
{
    static const QRegularExpression named(QStringLiteral("^[^<>]*<([^<>]*)>$"));
    const QRegularExpressionMatch match = named.match(recipient);
    return match.hasMatch() ? match.captured(1).trimmed() : recipient;
}

bool isSafeHost(const QString &host)
{
    static const QRegularExpression pattern(QStringLiteral("^([A-Za-z0-9._-]+|\\[?[0-9A-Fa-f:.]+\\]?)$"));
    return pattern.match(host).hasMatch();
}

QString domainOf(const QString &address)
{
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    const QString domain = at < 0 ? QString() : address.mid(at + 1);
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9.-]+$"));
    return pattern.match(domain).hasMatch() ? domain : QString();
}

// The name this machine gives in EHLO: fully qualified, as servers that
// check it require. The machine's own name with its DNS domain when it has
// one, else the domain of the sender address.
QString clientName(const QString &senderDomain)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$"));
    QString name = QSysInfo::machineHostName();
    if (!name.contains(QLatin1Char('.')) && !name.isEmpty()) {
        const QString domain = LocalDomainName();
        if (!domain.isEmpty())
            name += QLatin1Char('.') + domain;
    }
    if (pattern.match(name).hasMatch())
        return name;
    return pattern.match(senderDomain).hasMatch() ? senderDomain : QStringLiteral("localhost.localdomain");
}

// The message as it goes to the server, handed to libcurl piece by piece.
struct Upload
{
    QByteArray data;
    qsizetype sent = 0;

    static size_t read(char *buffer, size_t size, size_t count, void *self)
    {
        auto *upload = static_cast<Upload *>(self);
        const size_t length = std::min(size * count, size_t(upload->data.size() - upload->sent));
        std::memcpy(buffer, upload->data.constData() + upload->sent, length);
        upload->sent += qsizetype(length);
        return length;
    }
};

// What the dialogue showed of the server beyond its replies: the SIZE limit
// of its EHLO answer and the command the last reply answered.
struct DialogueFacts
{
    qint64 sizeLimit = 0;   // 0: not advertised (or a session reused without EHLO)
    QByteArray lastCommand; // "MAIL", "RCPT", "DATA"... (never the AUTH data)
};

// An enhanced status code of class 5.7 (RFC 3463: security or policy): the
// server refuses this client, not this message.
bool isPolicyRefusal(const QByteArray &reply)
{
    return reply.size() > 8 && reply.at(0) == '5' && reply.mid(3, 5) == " 5.7.";
}

// Where a failure leaves the next message: see MailError::Kind.
MailError::Kind failureKind(CURLcode result, const QByteArray &reply,
                            const QList<QPair<QByteArray, QByteArray>> &refused, const DialogueFacts &facts)
{
    switch (result) {
    case CURLE_LOGIN_DENIED:
        return MailError::Kind::LoginFailed;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_GOT_NOTHING:
        return MailError::Kind::Server;
    default:
        break;
    }
    const QByteArray code = reply.left(3);
    // 535 (credentials), 534 (mechanism too weak / web sign-in needed), 538:
    // the login itself. 530 5.7.0 (authentication required) is the server's
    // refusal of this client, below.
    if (code == "534" || code == "535" || code == "538")
        return MailError::Kind::LoginFailed;
    if (code.size() < 3 || code == "421")
        return MailError::Kind::Server;
    // 552 is also a full mailbox (5.2.2) at RCPT: only the size code, or a
    // bare 552 to the sender or the data of a server that set a limit.
    const bool bareCode = reply.size() < 6 || !QByteArrayView(reply).sliced(4).startsWith("5.");
    if (code == "552" && (reply.contains(" 5.3.4") || (bareCode && facts.sizeLimit > 0 && facts.lastCommand != "RCPT")))
        return MailError::Kind::TooLarge;
    // A 5.7.x refusal of the greeting, the sender or the recipients is about
    // this client (relay, policy, authentication); one of the message data is
    // about its content.
    const bool content = facts.lastCommand == "DATA";
    if (code == "530" || (!content && isPolicyRefusal(reply)))
        return MailError::Kind::ClientRefused;
    if (!refused.isEmpty()) {
        for (const auto &recipient : refused) {
            if (isPolicyRefusal(recipient.second))
                return MailError::Kind::ClientRefused;
        }
        for (const auto &recipient : refused) {
            if (recipient.second.startsWith('4'))
                return MailError::Kind::Temporary;
        }
        return MailError::Kind::Permanent;
    }
    // A temporary refusal of the sender or of the data is the server's
    // trouble (load, a rate limit), not one message's: the next would meet it.
    return code.startsWith('4') ? MailError::Kind::Server : MailError::Kind::Permanent;
}

// The server's last error reply (the QUIT after a failure must not hide the
// reason).
struct ServerReplies
{
    QByteArray current;
    QByteArray last; // the last whole reply
    QByteArray lastError;

    static size_t collect(char *data, size_t size, size_t count, void *self)
    {
        auto *replies = static_cast<ServerReplies *>(self);
        const size_t length = size * count;
        const QByteArray line = QByteArray(data, qsizetype(length)).trimmed();
        if (line.isEmpty())
            return length;
        if (!replies->current.isEmpty())
            replies->current += ' ';
        replies->current += line.size() > 4 && line.at(3) == '-' ? line.mid(4) : line;
        // "250-..." continues a reply; "250 ..." (or a bare code) ends it.
        if (line.size() < 4 || line.at(3) != '-') {
            if (line.at(0) == '4' || line.at(0) == '5')
                replies->lastError = replies->current;
            replies->last = replies->current;
            replies->current.clear();
        }
        return length;
    }

    QString reason() const { return QString::fromUtf8(lastError).simplified(); }
};

// Pairs each RCPT TO command with the server's reply to it, so that a
// recipient refused while others were accepted is known by name; and notes
// the login mechanisms the server offers and its reply to the AUTH command.
// Of what the client sends only the RCPT addresses and the AUTH mechanism
// name are kept; nothing else (credentials) is stored.
struct RecipientReplies
{
    QByteArray pendingRecipient; // the address of the RCPT awaiting its reply
    QByteArray current;
    QList<QPair<QByteArray, QByteArray>> refused; // address, reply
    QByteArray offeredLogins;                     // the EHLO answer's AUTH line
    QByteArray loginMechanism;                    // of the AUTH command sent
    QByteArray loginRefusal;                      // the server's reply refusing it
    bool awaitingLogin = false;
    bool anyReply = false;
    DialogueFacts facts;

    // "250-SIZE 20000" (or "250 SIZE 20000") in the EHLO answer.
    void noteSizeLimit(const QByteArray &line)
    {
        if (line.size() > 9 && line.startsWith("250") && line.mid(4, 5).toUpper() == "SIZE ")
            facts.sizeLimit = line.mid(9).trimmed().toLongLong();
    }

    static int observe(CURL *, curl_infotype type, char *data, size_t size, void *self)
    {
        auto *replies = static_cast<RecipientReplies *>(self);
        const QByteArray text(data, qsizetype(size));
        if (type == CURLINFO_HEADER_OUT) {
            replies->pendingRecipient.clear();
            replies->current.clear();
            const QByteArray command = text.trimmed();
            // Only the verb: the AUTH exchange's data must not be kept.
            const QByteArray verb = command.left(4).toUpper();
            if (verb == "MAIL" || verb == "RCPT" || verb == "DATA" || verb == "EHLO" || verb == "HELO")
                replies->facts.lastCommand = verb;
            if (command.left(8).toUpper() == "RCPT TO:") {
                const qsizetype open = command.indexOf('<');
                const qsizetype close = command.indexOf('>', open + 1);
                replies->pendingRecipient =
                    open >= 0 && close > open ? command.mid(open + 1, close - open - 1) : command.mid(8).trimmed();
            } else if (command.left(5).toUpper() == "AUTH ") {
                replies->loginMechanism = command.mid(5).split(' ').value(0).toUpper();
                replies->loginRefusal.clear();
                replies->awaitingLogin = true;
            }
        } else if (type == CURLINFO_HEADER_IN) {
            replies->anyReply = true;
            for (const QByteArray &raw : text.split('\n')) {
                const QByteArray line = raw.trimmed();
                if (line.isEmpty())
                    continue;
                if (replies->pendingRecipient.isEmpty())
                    replies->noteSizeLimit(line);
                if (line.size() > 9 && line.mid(4, 5).toUpper() == "AUTH ")
                    replies->offeredLogins = line.mid(9).trimmed();
                if (!replies->current.isEmpty())
                    replies->current += ' ';
                replies->current += line.size() > 4 && line.at(3) == '-' ? line.mid(4) : line;
                if (line.size() >= 4 && line.at(3) == '-')
                    continue;
                const bool failure = line.at(0) == '4' || line.at(0) == '5';
                if (replies->awaitingLogin && !line.startsWith("334")) {
                    replies->awaitingLogin = false;
                    if (failure)
                        replies->loginRefusal = replies->current;
                }
                if (failure && !replies->pendingRecipient.isEmpty())
                    replies->refused.append({replies->pendingRecipient, replies->current});
                replies->pendingRecipient.clear();
                replies->current.clear();
            }
        }
        return 0;
    }
};

// Every form in which a password or token could come back in a reply: as
// is, in base64, and in the PLAIN and XOAUTH2 initial responses.
QString withoutSecrets(QString text, const QString &userName, const QStringList &secrets)
{
    QStringList forms;
    for (const QString &secret : secrets) {
        if (secret.isEmpty())
            continue;
        const QByteArray plain = QByteArray(1, '\0') + userName.toUtf8() + QByteArray(1, '\0') + secret.toUtf8();
        const QByteArray bearer = "user=" + userName.toUtf8() + "\1auth=Bearer " + secret.toUtf8() + "\1\1";
        forms << secret << QString::fromLatin1(secret.toUtf8().toBase64()) << QString::fromLatin1(plain.toBase64())
              << QString::fromLatin1(bearer.toBase64());
    }
    for (const QString &form : std::as_const(forms))
        text.replace(form, QLatin1String("********"));
    return text;
}

} // namespace

MailSession::MailSession()
{
    initialiseCurl();
    CURLSH *share = curl_share_init();
    if (!share)
        throw MailError(QStringLiteral("The mail session could not be created."));
    for (curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
        if (curl_share_setopt(share, CURLSHOPT_SHARE, data) != CURLSHE_OK) {
            curl_share_cleanup(share);
            throw MailError(QStringLiteral("The mail session could not be set up."));
        }
    }
    m_share = share;
}

MailSession::~MailSession()
{
    // Ends every session still open with QUIT.
    curl_share_cleanup(static_cast<CURLSH *>(m_share));
}

MailComponent::MailComponent(const MailSettings &settings, MailSession *session)
    : m_settings(settings), m_secure(settings.secure), m_userName(settings.userName), m_password(settings.password),
      m_session(session)
{
    SetServerHost(settings.server);
}

MailComponent::~MailComponent() = default;

void MailComponent::SetSenderAddress(const QString &address)
{
    m_senderAddress = address.trimmed();
}

void MailComponent::SetSenderName(const QString &name)
{
    m_senderName = name;
}

void MailComponent::SetSubject(const QString &subject)
{
    m_subject = subject;
}

void MailComponent::SetBody(const QString &body)
{
    m_body = body;
}

void MailComponent::SetServerHost(const QString &host)
{
    // "smtps://host" asks for implicit TLS on whatever port is set;
    // "smtp://host" is the plain host name.
    m_host = host.trimmed();
    m_implicitTls = false;
    if (m_host.startsWith(QLatin1String("smtps://"), Qt::CaseInsensitive)) {
        m_implicitTls = true;
        m_host = m_host.mid(8);
    } else if (m_host.startsWith(QLatin1String("smtp://"), Qt::CaseInsensitive)) {
        m_host = m_host.mid(7);
    }
    if (m_host.endsWith(QLatin1Char('/')))
        m_host.chop(1);
}

void MailComponent::SetServerPort(int port)
{
    m_port = port;
}

void MailComponent::EnableSecureConnection()
{
    m_secure = true;
}

void MailComponent::SetUserName(const QString &userName)
{
    m_userName = userName;
}

void MailComponent::SetPassword(const QString &password)
{
    m_password = password;
}

bool MailComponent::AddRecipient(const QString &address, int kind)
{
    if (kind != RecipientTo)
        throw MailError(QStringLiteral("Unknown recipient kind %1 for %2.").arg(kind).arg(address));
    const QString trimmed = bareAddress(address.trimmed());
    if (trimmed.isEmpty())
        return false;
    const QString wire = wireAddress(trimmed);
    if (wire.isEmpty()) {
        m_unusable.append(trimmed);
        return false;
    }
    m_recipients.append(wire);
    return true;
}

void MailComponent::Send()
{
    const QString server = QStringLiteral("%1:%2").arg(m_host).arg(m_port);
    if (m_recipients.isEmpty()) {
        if (m_unusable.isEmpty())
            throw MailError(QStringLiteral("The message has no recipient."), MailError::Kind::Permanent);
        throw MailError(QStringLiteral("The message has no usable recipient: %1")
                            .arg(m_unusable.join(QLatin1String("; "))),
                        MailError::Kind::Permanent);
    }
    if (m_host.isEmpty() || !isSafeHost(m_host))
        throw MailError(QStringLiteral("The mail server name \"%1\" is not valid.").arg(m_host));
    if (m_port < 1 || m_port > 65535)
        throw MailError(QStringLiteral("The mail server port %1 is not valid.").arg(m_port));
    const QString senderAddress = wireAddress(m_senderAddress);
    if (!m_senderAddress.isEmpty() && senderAddress.isEmpty())
        throw MailError(QStringLiteral("The sender address \"%1\" is not valid.").arg(m_senderAddress),
                        MailError::Kind::Permanent);

    const bool implicitTls = m_implicitTls || (m_secure && m_port == 465);
    if (!implicitTls && m_port == 465)
        throw MailError(QStringLiteral("Mail through %1 failed: port 465 expects TLS from the first byte (implicit "
                                       "TLS), but the secure connection setting (AutomationServerEmailUseSSLTLS) "
                                       "is off; turn it on, or use the server's port 587 with STARTTLS")
                            .arg(server));
    const bool oauth = m_settings.oauth && !m_userName.isEmpty();
    // Before any connection: a refused token request reaches no mail server.
    const QByteArray bearer = oauth ? m_settings.oauth->AccessToken().toUtf8() : QByteArray();
    QStringList secrets = {m_password};
    if (oauth)
        secrets << m_settings.oauth->Secrets() << QString::fromUtf8(bearer);

    QString host = m_host;
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const QString senderDomain = domainOf(senderAddress);
    // The path of the URL is the name the client gives in EHLO.
    const QByteArray url = QStringLiteral("%1://%2:%3/%4")
                               .arg(implicitTls ? QLatin1String("smtps") : QLatin1String("smtp"), host)
                               .arg(m_port)
                               .arg(clientName(senderDomain))
                               .toUtf8();
    const QByteArray sender = senderAddress.toUtf8();
    const QByteArray userName = m_userName.toUtf8();
    const QByteArray password = m_password.toUtf8();
    const QByteArray caBundle = qgetenv("CURL_CA_BUNDLE");

    List recipients;
    for (const QString &recipient : std::as_const(m_recipients))
        append(recipients, recipient.toUtf8());

    // One text part: a plain text/plain message, no multipart wrapping.
    Upload upload;
    upload.data = DateField(CurrentDateTime()) + "\r\n" + FromField(m_senderName, senderAddress) + "\r\n" +
        ToField(m_recipients) + "\r\n" + SubjectField(m_subject) + "\r\n" +
        MessageIdField(senderDomain.isEmpty() ? clientName(senderDomain) : senderDomain) + "\r\nMIME-Version: 1.0\r\n";
    for (const QByteArray &field : std::as_const(m_extraFields))
        upload.data += field + "\r\n";
    upload.data += "Content-Type: text/plain; charset=UTF-8\r\n"
                   "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
        QuotedPrintable(MailBodyText(m_body));
    // A body that does not end with a line break ends with a soft one, so
    // the line break before the final "." adds nothing to it.
    if (!upload.data.endsWith('\n'))
        upload.data += "=\r\n";

    const MailTimeouts timeouts = m_settings.options.timeouts;
    // Without the secure connection STARTTLS is still used when offered; a
    // password, though, crosses only an encrypted session unless the operator
    // allowed plain-text logins.
    const bool guardPassword =
        !m_secure && !implicitTls && !m_userName.isEmpty() && !m_settings.options.plainTextLoginAllowed;

    char errorBuffer[CURL_ERROR_SIZE] = {};
    ServerReplies replies;
    RecipientReplies recipientReplies;
    long newConnections = 0;
    // One delivery on a new easy handle. A password signs in with PLAIN or
    // LOGIN only: libcurl would otherwise pick GSSAPI or NTLM, which no
    // password alone completes, whenever the server offers them.
    auto attempt = [&](const char *loginOptions, bool freshConnection) -> CURLcode {
        upload.sent = 0;
        replies = {};
        recipientReplies = {};
        errorBuffer[0] = '\0';
        Easy easy(curl_easy_init());
        if (!easy)
            throw MailError(QStringLiteral("The mail library could not start a transfer."));
        CURL *curl = easy.get();
        set(curl, CURLOPT_URL, url.constData());
#if LIBCURL_VERSION_NUM >= 0x075500
        set(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
#endif
        set(curl, CURLOPT_NOSIGNAL, 1L);
        // The connection, the greeting and the login; then each reply.
        set(curl, CURLOPT_CONNECTTIMEOUT_MS, long(timeouts.connect.count()));
        set(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(std::max<qint64>(1, (timeouts.reply.count() + 999) / 1000)));
        if (!m_settings.sendingDeadline.isForever())
            set(curl, CURLOPT_TIMEOUT_MS,
                long(std::max<qint64>(m_settings.sendingDeadline.remainingTime(), timeouts.connect.count())));
        set(curl, CURLOPT_ERRORBUFFER, errorBuffer);
        set(curl, CURLOPT_HEADERFUNCTION, &ServerReplies::collect);
        set(curl, CURLOPT_HEADERDATA, &replies);
        // The dialogue goes to RecipientReplies only, never to standard error.
        set(curl, CURLOPT_DEBUGFUNCTION, &RecipientReplies::observe);
        set(curl, CURLOPT_DEBUGDATA, &recipientReplies);
        set(curl, CURLOPT_VERBOSE, 1L);
        if (!implicitTls)
            set(curl, CURLOPT_USE_SSL, long(m_secure || guardPassword ? CURLUSESSL_ALL : CURLUSESSL_TRY));
        set(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        set(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!caBundle.isEmpty())
            set(curl, CURLOPT_CAINFO, caBundle.constData());
        if (!m_userName.isEmpty()) {
            set(curl, CURLOPT_USERNAME, userName.constData());
            set(curl, CURLOPT_LOGIN_OPTIONS, loginOptions);
            if (oauth)
                set(curl, CURLOPT_XOAUTH2_BEARER, bearer.constData());
            else
                set(curl, CURLOPT_PASSWORD, password.constData());
        }
        set(curl, CURLOPT_MAIL_FROM, sender.constData());
        set(curl, CURLOPT_MAIL_RCPT, recipients.get());
        // Deliver to the recipients the server accepts; fail only when it
        // accepts none.
#if LIBCURL_VERSION_NUM >= 0x080200
        set(curl, CURLOPT_MAIL_RCPT_ALLOWFAILS, 1L);
#else
        set(curl, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
#endif
        set(curl, CURLOPT_UPLOAD, 1L);
        set(curl, CURLOPT_READFUNCTION, &Upload::read);
        set(curl, CURLOPT_READDATA, &upload);
        set(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(upload.data.size()));
        if (m_session)
            set(curl, CURLOPT_SHARE, static_cast<CURLSH *>(m_session->handle()));
        if (freshConnection)
            set(curl, CURLOPT_FRESH_CONNECT, 1L);
        const CURLcode result = curl_easy_perform(curl);
        // Before the handle goes: its QUIT must not pass for the final reply.
        m_finalReply = QString::fromUtf8(replies.last).simplified();
        newConnections = 0;
        curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &newConnections);
        return result;
    };

    const char *loginOptions = oauth ? "AUTH=XOAUTH2" : "AUTH=PLAIN;AUTH=LOGIN";
    CURLcode result = attempt(loginOptions, false);
    // A session the server ended while it lay idle (421, or closed without a
    // word) is no fault of this message: once more on a new connection.
    const QByteArray closing = replies.lastError.left(3);
    if (result != CURLE_OK && newConnections == 0 && m_session != nullptr &&
        (closing == "421" ||
         (!recipientReplies.anyReply &&
          (result == CURLE_GOT_NOTHING || result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR))))
        result = attempt(loginOptions, true);
    // A server that offers PLAIN but does not take it (504: not supported
    // here after all; 534: too weak) may still take LOGIN. A plain refusal of
    // the password (535) is not tried again: that would double the failed
    // logins an account lock-out counts.
    if (result == CURLE_LOGIN_DENIED && !oauth && recipientReplies.loginMechanism == "PLAIN" &&
        (recipientReplies.loginRefusal.startsWith("504") || recipientReplies.loginRefusal.startsWith("534")))
        result = attempt("AUTH=LOGIN", true);

    m_refused.clear();
    if (result == CURLE_OK) {
        for (const QString &unusable : std::as_const(m_unusable))
            m_refused.append({unusable, QStringLiteral("not a usable address")});
        for (const auto &refused : std::as_const(recipientReplies.refused))
            m_refused.append({QString::fromUtf8(refused.first), QString::fromUtf8(refused.second).simplified()});
        return;
    }

    QString reason = QString::fromUtf8(errorBuffer).trimmed();
    if (reason.isEmpty())
        reason = QString::fromUtf8(curl_easy_strerror(result));
    MailError::Kind kind = failureKind(result, replies.lastError, recipientReplies.refused, recipientReplies.facts);
    if (result == CURLE_USE_SSL_FAILED && guardPassword)
        reason = QStringLiteral("the server does not offer STARTTLS, and the password is not sent over an "
                                "unencrypted connection (turn the secure connection on, or start the server "
                                "with --allow-plain-auth to allow it)");
    if (!recipientReplies.loginRefusal.isEmpty()) {
        reason = QStringLiteral("the server refused the %1 login for %2: %3")
                     .arg(QString::fromLatin1(recipientReplies.loginMechanism), m_userName,
                          QString::fromUtf8(recipientReplies.loginRefusal).simplified());
        kind = MailError::Kind::LoginFailed;
    } else if (result == CURLE_LOGIN_DENIED) {
        reason =
            QStringLiteral("the server offers no login this server can complete with %1 (it offers: %2)")
                .arg(oauth ? QStringLiteral("an OAuth token (XOAUTH2)") : QStringLiteral("a password (PLAIN, LOGIN)"),
                     recipientReplies.offeredLogins.isEmpty() ? QStringLiteral("none")
                                                              : QString::fromUtf8(recipientReplies.offeredLogins));
        kind = MailError::Kind::LoginFailed;
    } else if (result == CURLE_OPERATION_TIMEDOUT && !recipientReplies.anyReply && !implicitTls) {
        reason += QStringLiteral(" (the server sent no greeting: if it expects TLS from the first byte, turn the "
                                 "secure connection setting on)");
    }
    const QString said = replies.reason();
    QString message = QStringLiteral("Mail through %1 failed: %2").arg(server, reason);
    if (!said.isEmpty() && recipientReplies.loginRefusal.isEmpty())
        message += QStringLiteral(" (server said: %1)").arg(said);
    throw MailError(withoutSecrets(message.simplified(), m_userName, secrets), kind, result == CURLE_OPERATION_TIMEDOUT,
                    recipientReplies.facts.sizeLimit);
}
