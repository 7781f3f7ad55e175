#include "AdoToOdbc.h"

#include "ConnectionString.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

bool isTrue(const QString &value)
{
    const QString v = value.trimmed().toLower();
    return v == u"sspi" || v == u"true" || v == u"yes" || v == u"1" || v == u"mandatory" || v == u"strict";
}

// An ODBC value that holds a separator, a brace or outer blanks goes in braces.
QString odbcValue(const QString &value)
{
    if (value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('{')) || value.contains(QLatin1Char('}'))
        || value.trimmed() != value) {
        QString braced = value;
        braced.replace(QLatin1String("}"), QLatin1String("}}"));
        return QLatin1Char('{') + braced + QLatin1Char('}');
    }
    return value;
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
    QStringList items;
    void add(const QString &key, const QString &value) { items.append(key + QLatin1Char('=') + odbcValue(value)); }
};

} // namespace

bool IsSqlServerOleDbProvider(const QString &provider)
{
    static const QRegularExpression providers(
        QStringLiteral(R"(^(SQLOLEDB|SQLNCLI\d*|MSOLEDBSQL\d*)(\.\d+)?$)"), QRegularExpression::CaseInsensitiveOption);
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
    best = find([](const QString &d) { return d.trimmed().startsWith(QLatin1String("SQL Server Native Client"), Qt::CaseInsensitive); });
    if (best.isEmpty())
        best = find([](const QString &d) { return isFreeTds(d); });
    if (best.isEmpty())
        best = find([](const QString &d) { return d.trimmed().compare(QLatin1String("SQL Server"), Qt::CaseInsensitive) == 0; });
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
    out.items.append(QStringLiteral("Driver={") + driver + QLatin1Char('}'));
    bool encryptGiven = false;
    for (const ConnectionStringItem &item : items) {
        const QString key = item.key.trimmed().toLower();
        const QString &value = item.value;
        if (key == u"provider" || key == u"persist security info" || key == u"connect timeout"
            || key == u"connection timeout" || key == u"timeout" || key == u"auto translate"
            || key == u"use procedure for prepare" || key == u"tag with column collation when possible"
            || key == u"network library" || key == u"network" || key == u"packet size"
            || key == u"locale identifier" || key == u"general timeout") {
            continue;   // ADO/OLE DB only, or set by the connection itself
        }
        if (key == u"data source" || key == u"server" || key == u"address" || key == u"addr"
            || key == u"network address") {
            QString server = value.trimmed();
            if (freeTds) {
                // FreeTDS rejects "tcp:" and wants either an instance or a
                // port: a port, when given, decides where to connect.
                if (server.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
                    server = server.mid(4);
                const qsizetype comma = server.indexOf(QLatin1Char(','));
                if (comma >= 0) {
                    const QString port = server.mid(comma + 1).trimmed();
                    QString host = server.left(comma).trimmed();
                    const qsizetype backslash = host.indexOf(QLatin1Char('\\'));
                    if (backslash >= 0)
                        host = host.left(backslash);
                    out.add(QStringLiteral("Server"), host);
                    out.add(QStringLiteral("Port"), port);
                    continue;
                }
            }
            out.add(QStringLiteral("Server"), server);
        } else if (key == u"initial catalog" || key == u"database") {
            out.add(QStringLiteral("Database"), value);
        } else if (key == u"user id" || key == u"uid" || key == u"user") {
            out.add(QStringLiteral("UID"), value);
        } else if (key == u"password" || key == u"pwd") {
            out.add(QStringLiteral("PWD"), value);
        } else if (key == u"integrated security" || key == u"trusted_connection") {
            if (isTrue(value))
                out.add(QStringLiteral("Trusted_Connection"), QStringLiteral("yes"));
        } else if (key == u"application name" || key == u"app") {
            out.add(QStringLiteral("APP"), value);
        } else if (key == u"workstation id" || key == u"wsid") {
            out.add(QStringLiteral("WSID"), value);
        } else if (key == u"encrypt" || key == u"use encryption for data") {
            encryptGiven = true;
            if (freeTds) {
                if (isTrue(value))
                    out.add(QStringLiteral("Encryption"), QStringLiteral("require"));
            } else {
                out.add(QStringLiteral("Encrypt"), isTrue(value) ? QStringLiteral("yes") : QStringLiteral("no"));
            }
        } else if (key == u"trustservercertificate" || key == u"trust server certificate") {
            if (!freeTds)
                out.add(QStringLiteral("TrustServerCertificate"), isTrue(value) ? QStringLiteral("yes") : QStringLiteral("no"));
        } else if (key == u"current language" || key == u"language") {
            if (!freeTds)
                out.add(QStringLiteral("Language"), value);
        } else if (key == u"failover partner") {
            if (!freeTds)
                out.add(QStringLiteral("Failover_Partner"), value);
        } else {
            out.add(item.key.trimmed(), value);   // a keyword both sides know (MultiSubnetFailover...)
        }
    }
    // Driver 18 encrypts by default and then refuses a server without a
    // trusted certificate; the OLE DB providers before MSOLEDBSQL 19 did not
    // encrypt unless asked, and the translated string should connect the same.
    static const QRegularExpression modernProvider(QStringLiteral(R"(^MSOLEDBSQL(19|[2-9]\d))"),
                                                   QRegularExpression::CaseInsensitiveOption);
    if (!encryptGiven && msVersion >= 18 && !modernProvider.match(provider.trimmed()).hasMatch())
        out.add(QStringLiteral("Encrypt"), QStringLiteral("no"));

    return out.items.join(QLatin1Char(';')) + QLatin1Char(';');
}
