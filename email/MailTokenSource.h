#pragma once

#include "email/MailError.h"
#include "email/MailOAuth2Table.h"
#include "email/MailSettings.h"

#include <QString>

#include <functional>
#include <optional>

// The bearer tokens of the OAuth 2.0 mail sign-in, from the provider's token
// endpoint over HTTPS (certificate verified; CURL_CA_BUNDLE honoured).
// Without a refresh token it asks with the client-credentials grant (RFC 6749
// 4.4), with one the refresh-token grant; a new refresh token in the answer
// is handed to storeRefreshToken at once, before the token is used.
//
// A token is kept in memory, for every source of the same provider and
// client, until shortly before it expires, so one cycle asks at most once;
// a refusal is remembered for the life of this source (one cycle), so a
// cycle never asks twice either. The client secret, the refresh token and
// the access token never appear in an error.
class MailTokenSource
{
public:
    using RefreshTokenStore = std::function<void(const QString &oldToken, const QString &newToken)>;
    MailTokenSource(MailOAuth2Row row, MailTimeouts timeouts, RefreshTokenStore storeRefreshToken);

    // Throws MailError: LoginFailed when the provider refused the request
    // (with its error and error_description), Server when it could not be
    // reached or gave no usable answer.
    QString AccessToken();
    // The secrets an error text must never carry.
    QStringList Secrets() const;

private:
    MailOAuth2Row m_row;
    MailTimeouts m_timeouts;
    RefreshTokenStore m_store;
    std::optional<MailError> m_refusal;
    QString m_lastToken;
};
