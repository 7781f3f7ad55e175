// A fast SMTP sink for the benchmark, on 127.0.0.1: it accepts every message
// and keeps only counts, so the figures measure the server's mail path, not
// the sink. Plain or STARTTLS (required before MAIL when --cert is given).
//
// Prints "READY <port>" once listening. A client that sends "XSTOP" gets
// "221 COUNT <messages> <connections> <recipients> <bytes>", the same line
// goes to standard output as "COUNT ...", and the sink exits. The stopping
// connection is not counted.
#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

struct Counts
{
    qint64 messages = 0;
    qint64 connections = 0;
    qint64 recipients = 0;
    qint64 bytes = 0;
};

class Session : public QObject
{
public:
    Session(QSslSocket *socket, const QSslConfiguration *tls, Counts &counts)
        : QObject(socket), m_socket(socket), m_tls(tls), m_counts(counts)
    {
        connect(socket, &QSslSocket::readyRead, this, [this] { onReadyRead(); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QSslSocket::sslErrors, socket, [socket](const QList<QSslError> &) { socket->abort(); });
        reply("220 bench-sink ESMTP\r\n");
    }

private:
    void reply(const QByteArray &text) { m_socket->write(text); }

    void onReadyRead()
    {
        m_buffer += m_socket->readAll();
        while (!m_buffer.isEmpty()) {
            if (m_inData) {
                // The message ends at a line holding a single ".".
                qsizetype end = -1;
                if (m_buffer.startsWith(".\r\n"))
                    end = 0;
                else {
                    end = m_buffer.indexOf("\r\n.\r\n", std::max<qsizetype>(0, m_scanFrom - 4));
                    if (end >= 0)
                        end += 2;
                }
                if (end < 0) {
                    m_scanFrom = m_buffer.size();
                    return;
                }
                m_counts.bytes += end;
                ++m_counts.messages;
                m_counts.recipients += m_recipients;
                m_buffer.remove(0, end + 3);
                m_inData = false;
                m_scanFrom = 0;
                m_recipients = 0;
                reply("250 2.0.0 Accepted\r\n");
                continue;
            }
            const qsizetype eol = m_buffer.indexOf("\r\n");
            if (eol < 0)
                return;
            const QByteArray line = m_buffer.left(eol);
            m_buffer.remove(0, eol + 2);
            if (!command(line))
                return;
        }
    }

    // False when the session stops reading (TLS starting, closing).
    bool command(const QByteArray &line)
    {
        const qsizetype space = line.indexOf(' ');
        const QByteArray verb = (space < 0 ? line : line.left(space)).toUpper();
        const bool encrypted = m_socket->isEncrypted();
        if (verb == "EHLO") {
            QByteArray text = "250-bench-sink\r\n250-SIZE 67108864\r\n250-8BITMIME\r\n250-SMTPUTF8\r\n";
            if (m_tls && !encrypted)
                text += "250-STARTTLS\r\n";
            reply(text + "250 HELP\r\n");
        } else if (verb == "HELO" || verb == "NOOP") {
            reply("250 OK\r\n");
        } else if (verb == "STARTTLS" && m_tls && !encrypted) {
            reply("220 2.0.0 Ready to start TLS\r\n");
            m_buffer.clear();
            m_socket->setSslConfiguration(*m_tls);
            m_socket->startServerEncryption();
            return false;
        } else if (verb == "MAIL") {
            if (m_tls && !encrypted) {
                reply("530 5.7.0 Must issue a STARTTLS command first\r\n");
            } else {
                m_recipients = 0;
                reply("250 OK\r\n");
            }
        } else if (verb == "RCPT") {
            ++m_recipients;
            reply("250 OK\r\n");
        } else if (verb == "DATA") {
            if (m_recipients == 0) {
                reply("503 5.5.1 No recipients\r\n");
            } else {
                m_inData = true;
                reply("354 End data with <CR><LF>.<CR><LF>\r\n");
            }
        } else if (verb == "RSET") {
            m_recipients = 0;
            reply("250 OK\r\n");
        } else if (verb == "QUIT") {
            reply("221 2.0.0 Bye\r\n");
            m_socket->disconnectFromHost();
            return false;
        } else if (verb == "XSTOP") {
            --m_counts.connections;
            const QByteArray counts = "COUNT " + QByteArray::number(m_counts.messages) + ' ' +
                QByteArray::number(m_counts.connections) + ' ' + QByteArray::number(m_counts.recipients) + ' ' +
                QByteArray::number(m_counts.bytes);
            std::printf("%s\n", counts.constData());
            std::fflush(stdout);
            reply("221 " + counts + "\r\n");
            m_socket->flush();
            m_socket->waitForBytesWritten(2000);
            QCoreApplication::exit(0);
            return false;
        } else {
            std::fprintf(stderr, "smtp_sink: unrecognized [%s]\n", line.left(60).constData());
            reply("500 5.5.2 Command not recognized\r\n");
        }
        return true;
    }

    QSslSocket *m_socket;
    const QSslConfiguration *m_tls;
    Counts &m_counts;
    QByteArray m_buffer;
    bool m_inData = false;
    qsizetype m_scanFrom = 0;
    qint64 m_recipients = 0;
};

class SinkServer : public QTcpServer
{
public:
    explicit SinkServer(const QSslConfiguration *tls) : m_tls(tls) {}
    Counts counts;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // Replies go out at once: no waiting on Nagle's rule.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        ++counts.connections;
        new Session(socket, m_tls, counts);
    }

private:
    const QSslConfiguration *m_tls;
};

int Fail(const QString &message)
{
    std::fprintf(stderr, "smtp_sink: %s\n", qUtf8Printable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Counting SMTP sink for the benchmark."_s);
    parser.addHelpOption();
    parser.addOptions({
        {u"port"_s, u"Port to listen on (default: any free port)."_s, u"P"_s},
        {u"cert"_s, u"PEM certificate: offer and require STARTTLS."_s, u"FILE"_s},
        {u"key"_s, u"PEM private key of the certificate."_s, u"FILE"_s},
    });
    parser.process(app);

    QSslConfiguration tls;
    const bool secure = parser.isSet(u"cert"_s);
    if (secure) {
        QFile certFile(parser.value(u"cert"_s));
        QFile keyFile(parser.value(u"key"_s));
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
            return Fail(u"cannot read the certificate or key"_s);
        const QSslCertificate certificate(&certFile, QSsl::Pem);
        const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
        if (certificate.isNull() || key.isNull())
            return Fail(u"the certificate or key is not valid PEM"_s);
        tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(certificate);
        tls.setPrivateKey(key);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    SinkServer server(secure ? &tls : nullptr);
    if (!server.listen(QHostAddress::LocalHost, quint16(parser.value(u"port"_s).toUInt())))
        return Fail(u"cannot listen: "_s + server.errorString());
    std::printf("READY %d\n", int(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
