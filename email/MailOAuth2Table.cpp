#include "email/MailOAuth2Table.h"

#include "database/DbError.h"
#include "database/Recordset.h"
#include "database/SqlText.h"
#include "database/ValueConversion.h"
#include "email/MailQueueState.h"

QString CreateMailOAuth2Sql(DbConnection::Backend backend)
{
    // As in schema/: the identifiers compare as the host's texts do; the
    // secrets and tokens are long (a refresh token can pass 1,000 characters).
    if (backend == DbConnection::Backend::Sqlite)
        return QStringLiteral("CREATE TABLE AutomationServer_MailOAuth2 (TokenEndpoint TEXT COLLATE NOCASE NOT NULL, "
                              "ClientId TEXT COLLATE NOCASE NOT NULL, ClientSecret TEXT COLLATE NOCASE NULL, "
                              "Scope TEXT COLLATE NOCASE NULL, RefreshToken TEXT COLLATE NOCASE NULL)");
    return QStringLiteral("CREATE TABLE AutomationServer_MailOAuth2 (TokenEndpoint NVARCHAR(2048) NOT NULL, "
                          "ClientId NVARCHAR(255) NOT NULL, ClientSecret NVARCHAR(MAX) NULL, "
                          "Scope NVARCHAR(1024) NULL, RefreshToken NVARCHAR(MAX) NULL)");
}

QString MailOAuth2Sql()
{
    return QStringLiteral("SELECT TokenEndpoint,ClientId,ClientSecret,Scope,RefreshToken FROM "
                          "AutomationServer_MailOAuth2");
}

QString SaveMailRefreshTokenSql(const QString &oldToken, const QString &newToken)
{
    return QStringLiteral("UPDATE AutomationServer_MailOAuth2 SET RefreshToken=N'") + SqlText(newToken) +
        QStringLiteral("' WHERE RefreshToken=N'") + SqlText(oldToken) + QLatin1Char('\'');
}

std::optional<MailOAuth2Row> LoadMailOAuth2Row()
{
    DbConnection &connection = DatabaseConnection();
    EnsureOwnTable(connection, QStringLiteral("AutomationServer_MailOAuth2"),
                   CreateMailOAuth2Sql(connection.backend()));
    Recordset rows;
    rows.Open(MailOAuth2Sql(), connection);
    const ClosesRecordset closeAtEnd(rows);
    if (rows.Eof())
        return std::nullopt;
    MailOAuth2Row row;
    row.tokenEndpoint = FieldText(rows.Field(QStringLiteral("TokenEndpoint"))).trimmed();
    row.clientId = FieldText(rows.Field(QStringLiteral("ClientId"))).trimmed();
    row.clientSecret = FieldText(rows.Field(QStringLiteral("ClientSecret")));
    row.scope = FieldText(rows.Field(QStringLiteral("Scope"))).trimmed();
    row.refreshToken = FieldText(rows.Field(QStringLiteral("RefreshToken"))).trimmed();
    return row;
}

void SaveMailRefreshToken(const QString &oldToken, const QString &newToken)
{
    DatabaseConnection().Execute(SaveMailRefreshTokenSql(oldToken, newToken));
}
