#include "email/MailTokenSource.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <curl/curl.h>

#include <memory>

namespace {

// A token is given up this long before the provider said it expires, so
// that it does not run out between the request and the login.
constexpr qint64 ExpiryMarginMs = 120000;
// The most a token answer may be: a few kilobytes in practice.
constexpr qsizetype MostAnswerBytes = 1 << 20;

struct CachedToken
{
    QString token;
    QDeadlineTimer validUntil;
};

QHash<QString, CachedToken> &tokenCache()
{
    static QHash<QString, CachedToken> cache;
    return cache;
}

QString cacheKey(const MailOAuth2Row &row)
{
    return row.tokenEndpoint + QLatin1Char('\n') + row.clientId + QLatin1Char('\n') + row.scope;
}

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};

size_t collect(char *data, size_t size, size_t count, void *self)
{
    auto *answer = static_cast<QByteArray *>(self);
    const size_t length = size * count;
    if (answer->size() + qsizetype(length) > MostAnswerBytes)
        return 0; // ends the transfer
    answer->append(data, qsizetype(length));
    return length;
}

template<typename Value> void set(CURL *curl, CURLoption option, Value value)
{
    if (curl_easy_setopt(curl, option, value) != CURLE_OK)
        throw MailError(QStringLiteral("The mail library refused option %1 for the token request.").arg(int(option)));
}

QByteArray formField(const char *name, const QString &value)
{
    return QByteArray(name) + '=' + QUrl::toPercentEncoding(value);
}

} // namespace

MailTokenSource::MailTokenSource(MailOAuth2Row row, MailTimeouts timeouts, RefreshTokenStore storeRefreshToken)
    : m_row(std::move(row)), m_timeouts(timeouts), m_store(std::move(storeRefreshToken))
{}

QStringList MailTokenSource::Secrets() const
{
    QStringList secrets;
    for (const QString &secret : {m_row.clientSecret, m_row.refreshToken, m_lastToken}) {
        if (!secret.isEmpty())
            secrets.append(secret);
    }
    return secrets;
}

QString MailTokenSource::AccessToken()
{
    if (m_refusal)
        throw *m_refusal;
    const QString key = cacheKey(m_row);
    const auto cached = tokenCache().constFind(key);
    if (cached != tokenCache().constEnd() && !cached->validUntil.hasExpired()) {
        m_lastToken = cached->token;
        return cached->token;
    }

    const QString endpoint = m_row.tokenEndpoint;
    auto fail = [&](const QString &why, MailError::Kind kind) {
        QString message = QStringLiteral("The OAuth token request to %1 failed: %2").arg(endpoint, why);
        for (const QString &secret : Secrets())
            message.replace(secret, QLatin1String("********"));
        m_refusal = MailError(message.simplified(), kind);
        throw *m_refusal;
    };
    const QUrl url(endpoint);
    if (!url.isValid() || url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        fail(QStringLiteral("TokenEndpoint in AutomationServer_MailOAuth2 must be an https:// address"),
             MailError::Kind::LoginFailed);

    QByteArray form;
    if (m_row.refreshToken.isEmpty()) {
        form = "grant_type=client_credentials&" + formField("client_id", m_row.clientId) + '&' +
            formField("client_secret", m_row.clientSecret);
    } else {
        form = "grant_type=refresh_token&" + formField("refresh_token", m_row.refreshToken) + '&' +
            formField("client_id", m_row.clientId);
        if (!m_row.clientSecret.isEmpty())
            form += '&' + formField("client_secret", m_row.clientSecret);
    }
    if (!m_row.scope.isEmpty())
        form += '&' + formField("scope", m_row.scope);

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        fail(QStringLiteral("the mail library could not start a transfer"), MailError::Kind::Server);
    CURL *curl = easy.get();
    const QByteArray urlBytes = url.toEncoded();
    const QByteArray caBundle = qgetenv("CURL_CA_BUNDLE");
    QByteArray answer;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    set(curl, CURLOPT_URL, urlBytes.constData());
#if LIBCURL_VERSION_NUM >= 0x075500
    set(curl, CURLOPT_PROTOCOLS_STR, "https");
#endif
    set(curl, CURLOPT_NOSIGNAL, 1L);
    set(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    set(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caBundle.isEmpty())
        set(curl, CURLOPT_CAINFO, caBundle.constData());
    set(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_timeouts.connect.count()));
    // A token answer is small: twice the connect limit is plenty.
    set(curl, CURLOPT_TIMEOUT_MS, long(2 * m_timeouts.connect.count()));
    set(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    set(curl, CURLOPT_POSTFIELDS, form.constData());
    set(curl, CURLOPT_POSTFIELDSIZE, long(form.size()));
    set(curl, CURLOPT_WRITEFUNCTION, &collect);
    set(curl, CURLOPT_WRITEDATA, &answer);

    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        const QString reason = QString::fromUtf8(errorBuffer).trimmed();
        fail(reason.isEmpty() ? QString::fromUtf8(curl_easy_strerror(result)) : reason, MailError::Kind::Server);
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    const QJsonObject json = QJsonDocument::fromJson(answer).object();
    const QString error = json.value(QLatin1String("error")).toString();
    if (status != 200 || !error.isEmpty()) {
        // RFC 6749 5.2: a refused request says why in error and
        // error_description; a provider in trouble (5xx) is not a refusal.
        const QString description = json.value(QLatin1String("error_description")).toString();
        const QString said = error.isEmpty()
            ? QStringLiteral("HTTP status %1").arg(status)
            : QStringLiteral("%1%2 (HTTP status %3)")
                  .arg(error, description.isEmpty() ? QString() : QStringLiteral(": ") + description)
                  .arg(status);
        fail(QStringLiteral("the provider said %1").arg(said),
             status >= 500 || (error.isEmpty() && status != 400 && status != 401) ? MailError::Kind::Server
                                                                                  : MailError::Kind::LoginFailed);
    }
    const QString token = json.value(QLatin1String("access_token")).toString();
    if (token.isEmpty())
        fail(QStringLiteral("the answer holds no access_token"), MailError::Kind::Server);
    m_lastToken = token;

    // expires_in is RECOMMENDED only; without it the token serves this cycle
    // and the next few minutes.
    const qint64 lifetimeMs = json.contains(QLatin1String("expires_in"))
        ? qint64(json.value(QLatin1String("expires_in")).toVariant().toDouble() * 1000)
        : 5 * 60000;
    const qint64 keepMs =
        lifetimeMs > 2 * ExpiryMarginMs ? lifetimeMs - ExpiryMarginMs : std::max<qint64>(0, lifetimeMs / 2);
    tokenCache().insert(key, {token, QDeadlineTimer(keepMs)});

    const QString newRefreshToken = json.value(QLatin1String("refresh_token")).toString();
    if (!m_row.refreshToken.isEmpty() && !newRefreshToken.isEmpty() && newRefreshToken != m_row.refreshToken) {
        if (m_store)
            m_store(m_row.refreshToken, newRefreshToken);
        m_row.refreshToken = newRefreshToken;
    }
    return token;
}
