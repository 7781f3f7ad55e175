#pragma once

#include "database/DbConnection.h"

#include <QString>

#include <optional>

// The OAuth 2.0 sign-in of the mail server, kept in the server's own table
// AutomationServer_MailOAuth2 (one row; no row: password sign-in).
struct MailOAuth2Row
{
    QString tokenEndpoint; // the provider's token URL (https)
    QString clientId;
    QString clientSecret; // may be empty with a refresh token
    QString scope;
    QString refreshToken; // empty: the client-credentials grant
};

QString CreateMailOAuth2Sql(DbConnection::Backend backend);
QString MailOAuth2Sql();
// Replaces the stored refresh token with the one the provider issued in its place.
QString SaveMailRefreshTokenSql(const QString &oldToken, const QString &newToken);

// The row, creating the table first when it is missing; nullopt without a row.
std::optional<MailOAuth2Row> LoadMailOAuth2Row();
// One short statement on the open connection, committed at once.
void SaveMailRefreshToken(const QString &oldToken, const QString &newToken);
