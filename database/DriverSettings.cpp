#include "database/DriverSettings.h"

#include <QFileInfo>

namespace {

QString lower(const QString &value)
{
    return value.trimmed().toLower();
}

bool isYes(const QString &value)
{
    const QString v = lower(value);
    return v == u"yes" || v == u"true" || v == u"1" || v == u"mandatory";
}

} // namespace

bool PlanDriverConnection(const QList<ConnectionStringItem> &items, const QStringList &leaveOut, bool freeTds,
                          DriverConnectPlan *plan, QString *error)
{
    auto refuse = [&](const QString &why) {
        if (error != nullptr)
            *error = why;
        return false;
    };
    const QString encrypt = lower(ConnectionStringValue(items, QStringLiteral("Encrypt")));
    const QString encryption = lower(ConnectionStringValue(items, QStringLiteral("Encryption")));
    const bool trust = isYes(ConnectionStringValue(items, QStringLiteral("TrustServerCertificate")));
    const QString caFile = ConnectionStringValue(items, CaFileKey).trimmed();
    const bool strict = encrypt == u"strict" || encryption == u"strict";
    const bool required = isYes(encrypt) || encryption == u"require";

    QStringList dropped = leaveOut;
    dropped.append(CaFileKey);
    plan->freeTdsCaFile.clear();
    QStringList added;
    if (freeTds) {
        if (strict)
            return refuse(QStringLiteral(
                "Encrypt=strict cannot be used with the FreeTDS ODBC driver, which has no strict (TDS 8) "
                "encryption: use Microsoft's ODBC Driver 18 for SQL Server for it, or Encrypt=yes."));
        if (!caFile.isEmpty() && !required)
            return refuse(QStringLiteral("CAFile is used only with Encrypt=yes: add Encrypt=yes to the connection "
                                         "string, or remove CAFile."));
        if (required && !trust) {
            plan->freeTdsCaFile = caFile.isEmpty() ? QStringLiteral("system") : caFile;
            if (!caFile.isEmpty() && !QFileInfo(caFile).isReadable())
                return refuse(QStringLiteral("The CA file \"%1\" named by CAFile cannot be read, so the "
                                             "server's certificate could not be verified.")
                                  .arg(caFile));
        }
        // FreeTDS knows neither of these; it is told by Encryption= and
        // by the CA file in its configuration.
        dropped << QStringLiteral("Encrypt") << QStringLiteral("TrustServerCertificate")
                << QStringLiteral("Encryption");
        if (required)
            added.append(QStringLiteral("Encryption=require"));
        else if (!encryption.isEmpty())
            added.append(QStringLiteral("Encryption=") + encryption);
    } else if (!caFile.isEmpty()) {
        return refuse(QStringLiteral("CAFile is read only for the FreeTDS driver; for Microsoft's driver install "
                                     "the certificate authority in the system's certificate store."));
    }
    QString text = JoinRawItems(items, dropped);
    for (const QString &item : added)
        text += (text.isEmpty() ? QString() : QStringLiteral(";")) + item;
    plan->connectionString = text + QLatin1Char(';');
    return true;
}

QString FreeTdsConfigText(const QString &caFile, int loginTimeoutSeconds, int queryTimeoutSeconds,
                          const QString &operatorConfig, QString *error)
{
    QStringList lines{QStringLiteral("[global]"), QStringLiteral("\tclient charset = UTF-8"),
                      QStringLiteral("\tconnect timeout = %1").arg(loginTimeoutSeconds)};
    if (queryTimeoutSeconds > 0)
        lines.append(QStringLiteral("\ttimeout = %1").arg(queryTimeoutSeconds));
    if (!caFile.isEmpty()) {
        // FreeTDS ends a value at ";" or "#" and reads 256 bytes of a line.
        const QString line = QStringLiteral("\tca file = ") + caFile;
        if (caFile.contains(QLatin1Char(';')) || caFile.contains(QLatin1Char('#')) || line.toUtf8().size() > 250) {
            if (error != nullptr)
                *error = QStringLiteral("FreeTDS cannot be given the CA file \"%1\": its path is longer than 240 "
                                        "bytes or holds \";\" or \"#\". Copy it to a shorter, plain path.")
                             .arg(caFile);
            return QString();
        }
        lines << line << QStringLiteral("\tcheck certificate hostname = yes");
    }
    QString text = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    if (!operatorConfig.isEmpty())
        text += QLatin1Char('\n') + operatorConfig;
    return text;
}

bool IsFreeTdsLibrary(const QString &library)
{
    const QString name = QFileInfo(library.trimmed()).fileName().toLower();
    return name.startsWith(QLatin1String("libtdsodbc")) || name.startsWith(QLatin1String("tdsodbc"));
}
