#include "email/MailSettings.h"

#include "database/DbError.h"
#include "email/MailError.h"
#include "email/MailOAuth2Table.h"
#include "email/MailTokenSource.h"
#include "startup/CompanySettings.h"

MailSettings CompanyMailSettings(const MailOptions &options)
{
    MailSettings settings;
    settings.server = CompanySettings.AutomationServerEmailServer;
    settings.port = CompanySettings.AutomationServerEmailServerPort;
    settings.secure = CompanySettings.AutomationServerEmailUseSSLTLS;
    settings.userName = CompanySettings.AutomationServerEmailUser;
    settings.password = CompanySettings.AutomationServerEmailPassword;
    settings.senderAddress = CompanySettings.AutomationServerEmailFrom;
    settings.senderName = CompanySettings.Name;
    settings.options = options;
    if (const std::optional<MailOAuth2Row> row = LoadMailOAuth2Row()) {
        settings.oauth = std::make_shared<MailTokenSource>(
            *row, options.timeouts, [](const QString &oldToken, const QString &newToken) {
                try {
                    SaveMailRefreshToken(oldToken, newToken);
                } catch (const DbError &error) {
                    // The database's words may quote the statement.
                    QString said = error.message();
                    said.replace(oldToken, QLatin1String("********")).replace(newToken, QLatin1String("********"));
                    throw MailError(QStringLiteral("The refresh token the provider issued could not be stored in "
                                                   "AutomationServer_MailOAuth2: %1")
                                        .arg(said));
                }
            });
    }
    return settings;
}
