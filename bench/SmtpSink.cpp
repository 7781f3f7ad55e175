#include "bench/SmtpSink.h"

#include <QHostAddress>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace {
const char kPython[] = "/usr/bin/python3";
}

SmtpSink::SmtpSink(const QString &program, const QString &certFile, const QString &keyFile)
{
    const bool python = program.endsWith(u".py"_s);
    QStringList arguments;
    if (python)
        arguments << program;
    if (!certFile.isEmpty())
        arguments << u"--cert"_s << certFile << u"--key"_s << keyFile;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(python ? QString::fromLatin1(kPython) : program, arguments);
    if (!m_process.waitForStarted(10000))
        throw SmtpSinkError(u"cannot start the SMTP sink %1: %2"_s.arg(program, m_process.errorString()));
    QByteArray line;
    while (!line.endsWith('\n')) {
        if (!m_process.waitForReadyRead(15000))
            throw SmtpSinkError(
                u"the SMTP sink %1 did not report its port: %2"_s.arg(program, m_process.errorString()));
        line += m_process.readLine();
    }
    const QList<QByteArray> words = line.trimmed().split(' ');
    bool ok = false;
    if (words.size() == 2 && words.at(0) == "READY")
        m_port = words.at(1).toInt(&ok);
    if (!ok)
        throw SmtpSinkError(
            u"the SMTP sink said \"%1\" instead of READY <port>"_s.arg(QString::fromUtf8(line.trimmed())));
}

SmtpSink::~SmtpSink()
{
    if (!m_stopped) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

SmtpSink::Counts SmtpSink::stop()
{
    m_stopped = true;
    // Asked over SMTP, so stopping works the same everywhere; a sink that
    // refuses the command (STARTTLS required first) gets SIGTERM instead.
    QTcpSocket control;
    control.connectToHost(QHostAddress::LocalHost, quint16(m_port));
    bool asked = false;
    const bool connected = control.waitForConnected(5000);
    if (connected && control.waitForReadyRead(5000)) {
        control.readAll(); // the greeting
        control.write("XSTOP\r\n");
        while (control.waitForReadyRead(5000)) {
            if (control.peek(4) == "221 ") {
                asked = true;
                break;
            }
            if (control.canReadLine())
                break;
        }
    }
    control.abort();
    if (!asked)
        m_process.terminate();
    if (!m_process.waitForFinished(15000)) {
        m_process.kill();
        throw SmtpSinkError(u"the SMTP sink did not stop"_s);
    }
    const QList<QByteArray> lines = m_process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.size() == 5 && words.at(0) == "COUNT")
            // A refused XSTOP left its connection in the sink's count.
            return Counts{words.at(1).toLongLong(), words.at(2).toLongLong() - (!asked && connected ? 1 : 0),
                          words.at(3).toLongLong(), words.at(4).toLongLong()};
    }
    throw SmtpSinkError(u"the SMTP sink ended without its counts (exit status %1)"_s.arg(m_process.exitCode()));
}

void MakeLoopbackCertificate(const QString &certFile, const QString &keyFile)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(u"openssl"_s,
                  {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-keyout"_s, keyFile, u"-out"_s,
                   certFile, u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=127.0.0.1"_s, u"-addext"_s,
                   u"subjectAltName=IP:127.0.0.1"_s});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        throw SmtpSinkError(
            u"openssl could not make a test certificate: %1 %2"_s.arg(openssl.errorString(),
                                                                      QString::fromUtf8(openssl.readAll())));
}
