#pragma once

#include <QProcess>
#include <QString>

#include <stdexcept>

class SmtpSinkError : public std::runtime_error
{
public:
    explicit SmtpSinkError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// A counting SMTP sink on 127.0.0.1 as a child process: the benchmark's own
// smtp_sink program, or bench/smtp_null_sink.py (run by /usr/bin/python3)
// when `program` ends in ".py". Stopped, and its counts read, by stop();
// killed by the destructor otherwise.
class SmtpSink
{
public:
    struct Counts
    {
        qint64 messages = 0;
        qint64 connections = 0;
        qint64 recipients = 0;
        qint64 bytes = 0;
    };

    // With a certificate and key the sink requires STARTTLS.
    explicit SmtpSink(const QString &program, const QString &certFile = {}, const QString &keyFile = {});
    ~SmtpSink();
    SmtpSink(const SmtpSink &) = delete;
    SmtpSink &operator=(const SmtpSink &) = delete;

    int port() const { return m_port; }
    Counts stop();

private:
    QProcess m_process;
    int m_port = 0;
    bool m_stopped = false;
};

// A self-signed certificate for 127.0.0.1 made with the openssl tool, for
// the STARTTLS sink; the client trusts it through CURL_CA_BUNDLE.
void MakeLoopbackCertificate(const QString &certFile, const QString &keyFile);
