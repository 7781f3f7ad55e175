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

// The server of a Server= (or Address=) item and Port=, as FreeTDS reads
// them: "host", "host,port", "host\instance"; a port decides over an
// instance. False when the string names no server of its own.
bool serverOf(const QList<ConnectionStringItem> &items, FreeTdsServer *server)
{
    QString text = ConnectionStringValue(items, QStringLiteral("Server")).trimmed();
    if (text.isEmpty())
        text = ConnectionStringValue(items, QStringLiteral("Address")).trimmed();
    if (text.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        text = text.mid(4);
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    server->port = comma >= 0 ? text.mid(comma + 1).trimmed() : QString();
    text = comma >= 0 ? text.left(comma).trimmed() : text;
    const qsizetype backslash = text.indexOf(QLatin1Char('\\'));
    server->instance = backslash >= 0 ? text.mid(backslash + 1).trimmed() : QString();
    server->host = backslash >= 0 ? text.left(backslash).trimmed() : text;
    const QString port = ConnectionStringValue(items, QStringLiteral("Port")).trimmed();
    if (!port.isEmpty())
        server->port = port;
    if (!server->port.isEmpty())
        server->instance.clear();
    return !server->host.isEmpty();
}

// FreeTDS ends a value at ";" or "#" and reads 256 bytes of a line.
bool fitsFreeTdsConfig(const QString &line)
{
    return !line.contains(QLatin1Char(';')) && !line.contains(QLatin1Char('#')) && line.toUtf8().size() <= 250;
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
    plan->freeTdsServer = FreeTdsServer();
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
            if (HasConnectionStringKey(items, QStringLiteral("DSN")) ||
                HasConnectionStringKey(items, QStringLiteral("Servername")))
                return refuse(QStringLiteral(
                    "Encrypt=yes cannot be verified for a FreeTDS data source (DSN= or Servername=): its server "
                    "is named in odbc.ini or freetds.conf, where this system cannot name the CA file for it, so "
                    "the server's certificate would go unchecked. Write the server in the connection string "
                    "instead (Driver=FreeTDS;Server=host,port;Encrypt=yes;CAFile=/path/ca.pem, or without "
                    "CAFile for the system's certificate store), or use Microsoft's ODBC Driver 18 for SQL "
                    "Server, or add TrustServerCertificate=yes to accept the certificate unverified."));
            if (!serverOf(items, &plan->freeTdsServer))
                return refuse(QStringLiteral("Encrypt=yes through FreeTDS needs the server in the connection "
                                             "string (Server=host,port) to verify its certificate."));
            const FreeTdsServer &server = plan->freeTdsServer;
            bool numeric = true;
            if (!server.port.isEmpty())
                server.port.toUShort(&numeric);
            if (!numeric || !fitsFreeTdsConfig(server.host) || !fitsFreeTdsConfig(server.instance))
                return refuse(
                    QStringLiteral("FreeTDS cannot be told the server \"%1\" to verify: give a host "
                                   "name without \";\" or \"#\" and a numeric port.")
                        .arg(server.host + (server.port.isEmpty() ? QString() : QLatin1Char(',') + server.port)));
            // The server goes to the section that holds its CA file.
            dropped << QStringLiteral("Server") << QStringLiteral("Port") << QStringLiteral("Address");
            added.append(QStringLiteral("Servername=") + FreeTdsVerifiedSection);
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

QString FreeTdsConfigText(const QString &caFile, const FreeTdsServer &server, int loginTimeoutSeconds,
                          int queryTimeoutSeconds, const QString &operatorConfig, QString *error)
{
    QStringList lines{QStringLiteral("[global]"), QStringLiteral("\tclient charset = UTF-8"),
                      QStringLiteral("\tconnect timeout = %1").arg(loginTimeoutSeconds)};
    if (queryTimeoutSeconds > 0)
        lines.append(QStringLiteral("\ttimeout = %1").arg(queryTimeoutSeconds));
    if (!caFile.isEmpty()) {
        const QString line = QStringLiteral("\tca file = ") + caFile;
        if (!fitsFreeTdsConfig(line)) {
            if (error != nullptr)
                *error = QStringLiteral("FreeTDS cannot be given the CA file \"%1\": its path is longer than 240 "
                                        "bytes or holds \";\" or \"#\". Copy it to a shorter, plain path.")
                             .arg(caFile);
            return QString();
        }
        lines << QString() << QLatin1Char('[') + FreeTdsVerifiedSection + QLatin1Char(']')
              << QStringLiteral("\thost = ") + server.host;
        if (!server.port.isEmpty())
            lines.append(QStringLiteral("\tport = ") + server.port);
        else if (!server.instance.isEmpty())
            lines.append(QStringLiteral("\tinstance = ") + server.instance);
        lines << QStringLiteral("\tencryption = require") << line
              << QStringLiteral("\tcheck certificate hostname = yes");
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
