#include "database/AdoToOdbc.h"

#include "database/ConnectionString.h"
#include "database/DriverSettings.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

bool isTrue(const QString &value)
{
    const QString v = value.trimmed().toLower();
    return v == u"sspi" || v == u"true" || v == u"yes" || v == u"1" || v == u"mandatory" || v == u"strict";
}

// An ODBC value that holds a separator, starts with a brace or has outer
// blanks goes in braces. Inside braces, standard ODBC doubles "}"; FreeTDS
// instead reads on to the first "}" followed by ";" or the end, and keeps a
// doubled "}}" as it stands, so for it the value goes in unchanged (and one
// holding "};" cannot be written at all: null). A "}" elsewhere needs no
// braces, which keeps it intact for either reading.
QString odbcValue(const QString &value, bool freeTds)
{
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('{')) && value.trimmed() == value)
        return value;
    if (freeTds)
        return value.contains(QLatin1String("};")) ? QString() : QLatin1Char('{') + value + QLatin1Char('}');
    QString braced = value;
    braced.replace(QLatin1String("}"), QLatin1String("}}"));
    return QLatin1Char('{') + braced + QLatin1Char('}');
}

// "(local)" and "." name this machine's default instance, which Windows
// reaches over shared memory; here it is TCP on the loopback address.
QString serverHost(const QString &host)
{
    const QString h = host.trimmed();
    if (h == u"." || h.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("127.0.0.1");
    return h;
}

int microsoftDriverVersion(const QString &driver)
{
    static const QRegularExpression name(QStringLiteral(R"(^ODBC Driver (\d+)(?:\.\d+)? for SQL Server$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = name.match(driver.trimmed());
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

bool isFreeTds(const QString &driver)
{
    return driver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive);
}

struct Output
{
    bool freeTds = false;
    QStringList items;
    QString unwritable; // the first key whose value cannot be written
    void add(const QString &key, const QString &value)
    {
        const QString written = odbcValue(value, freeTds);
        if (written.isNull() && unwritable.isEmpty())
            unwritable = key;
        items.append(key + QLatin1Char('=') + written);
    }
};

} // namespace

bool IsSqlServerOleDbProvider(const QString &provider)
{
    static const QRegularExpression providers(QStringLiteral(R"(^(SQLOLEDB|SQLNCLI\d*|MSOLEDBSQL\d*)(\.\d+)?$)"),
                                              QRegularExpression::CaseInsensitiveOption);
    return providers.match(provider.trimmed()).hasMatch();
}

QString BestSqlServerOdbcDriver(const QStringList &installedDrivers)
{
    QString best;
    int bestVersion = 0;
    for (const QString &driver : installedDrivers) {
        const int version = microsoftDriverVersion(driver);
        if (version > bestVersion) {
            bestVersion = version;
            best = driver.trimmed();
        }
    }
    if (!best.isEmpty())
        return best;
    const auto find = [&](auto predicate) -> QString {
        const auto it = std::find_if(installedDrivers.cbegin(), installedDrivers.cend(), predicate);
        return it == installedDrivers.cend() ? QString() : it->trimmed();
    };
    best = find([](const QString &d) {
        return d.trimmed().startsWith(QLatin1String("SQL Server Native Client"), Qt::CaseInsensitive);
    });
    if (best.isEmpty())
        best = find([](const QString &d) { return isFreeTds(d); });
    if (best.isEmpty())
        best = find([](const QString &d) {
            return d.trimmed().compare(QLatin1String("SQL Server"), Qt::CaseInsensitive) == 0;
        });
    return best;
}

QString AdoToOdbcConnectionString(const QString &adoConnectionString, const QStringList &installedDrivers,
                                  QString *error)
{
    const QString driver = BestSqlServerOdbcDriver(installedDrivers);
    if (driver.isEmpty()) {
        if (error != nullptr)
            *error = QStringLiteral("No SQL Server ODBC driver is installed (looked for \"ODBC Driver 18 for SQL "
                                    "Server\", \"ODBC Driver 17 for SQL Server\" and \"FreeTDS\"; installed: %1).")
                         .arg(installedDrivers.isEmpty() ? QStringLiteral("none")
                                                         : installedDrivers.join(QLatin1String(", ")));
        return QString();
    }
    const bool freeTds = isFreeTds(driver);
    const int msVersion = microsoftDriverVersion(driver);

    const QList<ConnectionStringItem> items = ParseConnectionString(adoConnectionString);
    const QString provider = ConnectionStringValue(items, QStringLiteral("Provider"));

    Output out;
    out.freeTds = freeTds;
    out.items.append(QStringLiteral("Driver={") + driver + QLatin1Char('}'));
    if (freeTds) {
        // 7.4 honours the login time-out ("auto" falls back to an old login
        // that can wait for ever on a silent server); UTF-8 whatever the
        // process locale, or names outside ASCII come back as "?".
        out.add(QStringLiteral("TDS_Version"), QStringLiteral("7.4"));
        out.add(QStringLiteral("ClientCharset"), QStringLiteral("UTF-8"));
    }
    auto refuse = [&](const ConnectionStringItem &item, const QString &why) {
        if (error != nullptr)
            *error =
                QStringLiteral("The connection string keyword \"%1\" cannot be used with the ODBC driver \"%2\": %3")
                    .arg(item.key.trimmed(), driver, why);
        return QString();
    };
    bool encryptGiven = false;
    for (const ConnectionStringItem &item : items) {
        const QString key = item.key.trimmed().toLower();
        const QString &value = item.value;
        if (key == u"provider" || key == u"persist security info" || key == u"connect timeout" ||
            key == u"connection timeout" || key == u"timeout" || key == u"auto translate" ||
            key == u"use procedure for prepare" || key == u"tag with column collation when possible" ||
            key == u"packet size" || key == u"locale identifier" || key == u"general timeout" ||
            (freeTds && (key == u"current language" || key == u"language"))) {
            // ADO/OLE DB only, or set by the connection itself (the login
            // time-out is 10 s, the session language is pinned after login).
            continue;
        }
        if (key == u"network library" || key == u"network") {
            if (value.trimmed().compare(QLatin1String("DBMSSOCN"), Qt::CaseInsensitive) == 0)
                continue; // TCP/IP, the only network here
            return refuse(item, QStringLiteral("only TCP/IP (DBMSSOCN) reaches SQL Server from this system."));
        }
        if (key == u"data source" || key == u"server" || key == u"address" || key == u"addr" ||
            key == u"network address") {
            QString server = value.trimmed();
            if (server.startsWith(QLatin1String("np:"), Qt::CaseInsensitive) ||
                server.startsWith(QLatin1String("lpc:"), Qt::CaseInsensitive))
                return refuse(item,
                              QStringLiteral("named pipes and shared memory exist only on Windows; "
                                             "give the server's host name (and port) for TCP/IP."));
            if (server.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
                server = server.mid(4); // FreeTDS rejects it; TCP is all there is here
            const qsizetype comma = server.indexOf(QLatin1Char(','));
            const QString port = comma >= 0 ? server.mid(comma + 1).trimmed() : QString();
            QString host = comma >= 0 ? server.left(comma).trimmed() : server;
            const qsizetype backslash = host.indexOf(QLatin1Char('\\'));
            const QString instance = backslash >= 0 ? host.mid(backslash) : QString();
            host = serverHost(backslash >= 0 ? host.left(backslash) : host);
            if (freeTds && !port.isEmpty()) {
                // FreeTDS wants either an instance or a port: the port decides.
                out.add(QStringLiteral("Server"), host);
                out.add(QStringLiteral("Port"), port);
            } else {
                out.add(QStringLiteral("Server"),
                        host + instance + (port.isEmpty() ? QString() : QLatin1Char(',') + port));
            }
        } else if (key == u"initial catalog" || key == u"database") {
            out.add(QStringLiteral("Database"), value);
        } else if (key == u"user id" || key == u"uid" || key == u"user") {
            out.add(QStringLiteral("UID"), value);
        } else if (key == u"password" || key == u"pwd") {
            out.add(QStringLiteral("PWD"), value);
        } else if (key == u"integrated security" || key == u"trusted_connection") {
            if (!isTrue(value))
                continue;
            if (freeTds)
                return refuse(item,
                              QStringLiteral("Windows authentication from Linux needs Kerberos (a ticket from "
                                             "kinit for a domain account), which this translation does not set "
                                             "up. Give User ID and Password of a SQL Server login instead, or "
                                             "write an ODBC string with Trusted_Connection=yes for Kerberos."));
            out.add(QStringLiteral("Trusted_Connection"), QStringLiteral("yes"));
        } else if (key == u"application name" || key == u"app") {
            out.add(QStringLiteral("APP"), value);
        } else if (key == u"workstation id" || key == u"wsid") {
            out.add(QStringLiteral("WSID"), value);
        } else if (key == u"encrypt" || key == u"use encryption for data") {
            encryptGiven = true;
            const bool strict = value.trimmed().compare(QLatin1String("strict"), Qt::CaseInsensitive) == 0;
            if (freeTds) {
                // Strict is refused when the connection opens, by the
                // driver actually loaded.
                if (isTrue(value))
                    out.add(QStringLiteral("Encryption"),
                            strict ? QStringLiteral("strict") : QStringLiteral("require"));
            } else {
                out.add(QStringLiteral("Encrypt"),
                        strict              ? QStringLiteral("strict")
                            : isTrue(value) ? QStringLiteral("yes")
                                            : QStringLiteral("no"));
            }
        } else if (key == u"trustservercertificate" || key == u"trust server certificate") {
            // Kept for every driver: for FreeTDS it decides whether the
            // connection names a CA file (DriverSettings.h).
            out.add(QStringLiteral("TrustServerCertificate"),
                    isTrue(value) ? QStringLiteral("yes") : QStringLiteral("no"));
        } else if (key == u"cafile") {
            out.add(CaFileKey, value);
        } else if (key == u"current language" || key == u"language") {
            out.add(QStringLiteral("Language"), value);
        } else if (key == u"command timeout") {
            out.add(QStringLiteral("Command Timeout"), value); // the statement time-out, read by the backend
        } else if (key == u"failover partner" && !freeTds) {
            out.add(QStringLiteral("Failover_Partner"), value);
        } else if ((key == u"multisubnetfailover" || key == u"applicationintent") && !freeTds) {
            out.add(item.key.trimmed(), value);
        } else {
            return refuse(item,
                          QStringLiteral("this translation has no ODBC keyword for it. Remove it, or write "
                                         "the ODBC connection string (Driver=...) yourself."));
        }
    }
    // Driver 18 encrypts by default and then refuses a server without a
    // trusted certificate; the OLE DB providers before MSOLEDBSQL 19 did not
    // encrypt unless asked, and the translated string should connect the same.
    static const QRegularExpression modernProvider(QStringLiteral(R"(^MSOLEDBSQL(19|[2-9]\d))"),
                                                   QRegularExpression::CaseInsensitiveOption);
    if (!encryptGiven && msVersion >= 18 && !modernProvider.match(provider.trimmed()).hasMatch())
        out.add(QStringLiteral("Encrypt"), QStringLiteral("no"));

    if (!out.unwritable.isEmpty()) {
        if (error != nullptr)
            *error = QStringLiteral("The value of %1 holds \"};\", which the ODBC driver \"%2\" cannot read in a "
                                    "connection string; change the value.")
                         .arg(out.unwritable, driver);
        return QString();
    }
    return out.items.join(QLatin1Char(';')) + QLatin1Char(';');
}
