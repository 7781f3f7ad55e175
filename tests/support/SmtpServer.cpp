#include "tests/support/SmtpServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <stdexcept>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void run(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error((program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QLatin1String(": ") +
                                  QString::fromLocal8Bit(process.readAll()))
                                     .toStdString());
}

// A test authority, a server certificate for 127.0.0.1/localhost and one for
// another host signed by it, and an unrelated authority. Made once per test
// program with openssl; EC keys keep it fast.
struct Certificates
{
    QTemporaryDir folder;

    Certificates()
    {
        if (!folder.isValid())
            throw std::runtime_error("no temporary folder for certificates");
        const QString dir = folder.path();
        const QString openssl = QStringLiteral("openssl");
        const QStringList ecKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        auto authority = [&](const QString &name, const QString &subject) {
            run(openssl,
                QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey +
                    QStringList{QStringLiteral("-keyout"), name + QLatin1String(".key"), QStringLiteral("-out"),
                                name + QLatin1String(".pem"), QStringLiteral("-days"), QStringLiteral("2"),
                                QStringLiteral("-subj"), subject, QStringLiteral("-addext"),
                                QStringLiteral("basicConstraints=critical,CA:TRUE"), QStringLiteral("-addext"),
                                QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")},
                dir);
        };
        auto server = [&](const QString &name, const QString &altNames) {
            QFile extensions(dir + QLatin1Char('/') + name + QLatin1String(".ext"));
            if (!extensions.open(QIODevice::WriteOnly))
                throw std::runtime_error("cannot write certificate extensions");
            extensions.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                             "extendedKeyUsage=serverAuth\nsubjectAltName=" +
                             altNames.toLatin1() + "\n");
            extensions.close();
            run(openssl,
                QStringList{QStringLiteral("req")} + ecKey +
                    QStringList{QStringLiteral("-keyout"), name + QLatin1String(".key"), QStringLiteral("-out"),
                                name + QLatin1String(".csr"), QStringLiteral("-subj"), QStringLiteral("/CN=") + name},
                dir);
            run(openssl,
                {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), name + QLatin1String(".csr"),
                 QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                 QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                 QStringLiteral("-extfile"), name + QLatin1String(".ext"), QStringLiteral("-out"),
                 name + QLatin1String(".pem")},
                dir);
        };
        authority(QStringLiteral("ca"), QStringLiteral("/CN=Velmar Test Authority"));
        authority(QStringLiteral("stranger"), QStringLiteral("/CN=Unrelated Authority"));
        server(QStringLiteral("localhost"), QStringLiteral("IP:127.0.0.1,DNS:localhost"));
        server(QStringLiteral("elsewhere"), QStringLiteral("DNS:mail.elsewhere.test"));
    }

    QString file(const QString &name) const { return folder.filePath(name); }
};

const Certificates &certificates()
{
    static const Certificates made;
    return made;
}

QString behaviourName(SmtpServer::Behaviour behaviour)
{
    switch (behaviour) {
    case SmtpServer::Behaviour::Accept:
        return QStringLiteral("accept");
    case SmtpServer::Behaviour::AcceptAll:
        return QStringLiteral("accept-all");
    case SmtpServer::Behaviour::RejectData:
        return QStringLiteral("reject-data");
    case SmtpServer::Behaviour::DeferData:
        return QStringLiteral("defer-data");
    case SmtpServer::Behaviour::Unavailable:
        return QStringLiteral("greet-421");
    case SmtpServer::Behaviour::RejectSender:
        return QStringLiteral("reject-sender");
    case SmtpServer::Behaviour::DropInData:
        return QStringLiteral("drop-data");
    case SmtpServer::Behaviour::Silent:
        return QStringLiteral("silent");
    case SmtpServer::Behaviour::NotListening:
        return QStringLiteral("closed");
    case SmtpServer::Behaviour::EchoLogin:
        return QStringLiteral("echo-login");
    }
    return QString();
}

} // namespace

QString ReceivedMail::header(const QString &name) const
{
    for (const auto &field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return QString();
}

int ReceivedMail::headerCount(const QString &name) const
{
    int count = 0;
    for (const auto &field : headers)
        count += field.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
    return count;
}

QString SmtpServer::testAuthorityFile()
{
    return certificates().file(QStringLiteral("ca.pem"));
}

QString SmtpServer::strangerAuthorityFile()
{
    return certificates().file(QStringLiteral("stranger.pem"));
}

SmtpServer::SmtpServer() : SmtpServer(Options{}) {}

SmtpServer::SmtpServer(const Options &options) : m_options(options)
{
    if (!m_folder.isValid())
        throw std::runtime_error("no temporary folder for the SMTP server");
    QStringList arguments = {QStringLiteral(VELMAR_SOURCE_DIR "/tests/support/smtp_server.py"),
                             QStringLiteral("--dir"),
                             m_folder.path(),
                             QStringLiteral("--behaviour"),
                             behaviourName(options.behaviour),
                             QStringLiteral("--idle-timeout"),
                             QString::number(options.idleTimeoutSeconds),
                             QStringLiteral("--port"),
                             QString::number(options.port),
                             QStringLiteral("--data-delay"),
                             QString::number(options.dataDelaySeconds)};
    if (options.tls != Tls::None) {
        const QString name = options.wrongNameCertificate ? QStringLiteral("elsewhere") : QStringLiteral("localhost");
        arguments << QStringLiteral("--tls")
                  << (options.tls == Tls::StartTls ? QStringLiteral("starttls") : QStringLiteral("implicit"))
                  << QStringLiteral("--cert") << certificates().file(name + QLatin1String(".pem"))
                  << QStringLiteral("--key") << certificates().file(name + QLatin1String(".key"));
    }
    if (!options.user.isEmpty())
        arguments << QStringLiteral("--user") << options.user << QStringLiteral("--password") << options.password;

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!m_process->waitForStarted(10000))
        throw std::runtime_error("cannot start /usr/bin/python3: " + m_process->errorString().toStdString());

    QByteArray output;
    const QDeadlineTimer deadline(20000);
    while (!output.contains('\n')) {
        if (deadline.hasExpired() || !m_process->waitForReadyRead(int(deadline.remainingTime())))
            throw std::runtime_error("the test SMTP server did not start: " + output.toStdString());
        output += m_process->readAllStandardOutput();
    }
    const QList<QByteArray> words = output.left(output.indexOf('\n')).split(' ');
    if (words.at(0) == "UNAVAILABLE")
        return;
    if (words.size() != 2 || words.at(0) != "READY")
        throw std::runtime_error("unexpected output from the test SMTP server: " + output.toStdString());
    m_port = words.at(1).toInt();
}

SmtpServer::~SmtpServer()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
}

QList<ReceivedMail> SmtpServer::messages() const
{
    QList<ReceivedMail> mails;
    const QDir dir(m_folder.path());
    const QStringList infos = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &info : infos) {
        const QString stem = dir.filePath(info.chopped(5));
        const QJsonObject json = QJsonDocument::fromJson(readAll(dir.filePath(info))).object();
        ReceivedMail mail;
        mail.mailFrom = json.value(QLatin1String("mail_from")).toString();
        for (const QJsonValue &to : json.value(QLatin1String("rcpt_tos")).toArray())
            mail.recipients.append(to.toString());
        for (const QJsonValue &field : json.value(QLatin1String("headers")).toArray()) {
            const QJsonArray pair = field.toArray();
            mail.headers.append({pair.at(0).toString(), pair.at(1).toString()});
        }
        for (const QJsonValue &defect : json.value(QLatin1String("defects")).toArray())
            mail.defects.append(defect.toString());
        mail.contentType = json.value(QLatin1String("content_type")).toString();
        mail.charset = json.value(QLatin1String("charset")).toString();
        mail.transferEncoding = json.value(QLatin1String("transfer_encoding")).toString();
        mail.raw = readAll(stem + QLatin1String(".eml"));
        mail.body = readAll(stem + QLatin1String(".body"));
        mails.append(mail);
    }
    return mails;
}

namespace {
int countEvents(const QString &folder, const QByteArray &event)
{
    QFile log(QDir(folder).filePath(QStringLiteral("connections.log")));
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return int(log.readAll().split('\n').count(event));
}
} // namespace

QStringList SmtpServer::sessionEvents(const QString &prefix) const
{
    QFile log(QDir(m_folder.path()).filePath(QStringLiteral("connections.log")));
    QStringList events;
    if (log.open(QIODevice::ReadOnly)) {
        for (const QString &line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n')))
            if (line.startsWith(prefix))
                events.append(line);
    }
    return events;
}

int SmtpServer::connectionCount() const
{
    return countEvents(m_folder.path(), "open");
}

int SmtpServer::waitForClosedConnections(int count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    int closed = countEvents(m_folder.path(), "closed");
    while (closed < count && !deadline.hasExpired()) {
        QThread::msleep(20);
        closed = countEvents(m_folder.path(), "closed");
    }
    return closed;
}
