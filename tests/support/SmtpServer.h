#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A message as the test SMTP server received it.
struct ReceivedMail
{
    QString mailFrom;                       // envelope sender
    QStringList recipients;                 // envelope recipients, in order
    QList<QPair<QString, QString>> headers; // decoded, in order
    QStringList defects;                    // what the mail parser found wrong
    QString contentType;                    // of the text part
    QString charset;
    QString transferEncoding;
    QByteArray raw;  // the message as received
    QByteArray body; // the text part, decoded

    // The decoded value of the first field of that name ("" if none).
    QString header(const QString &name) const;
    int headerCount(const QString &name) const;
};

// A real SMTP server (Debian's aiosmtpd) on 127.0.0.1 and a free port,
// started by the constructor and stopped by the destructor. Messages it
// accepts are read back with messages().
class SmtpServer
{
public:
    enum class Tls { None, StartTls, Implicit };
    enum class Behaviour {
        Accept,       // every recipient but "refuse...@" (550), "defer...@" (450) and, the
                      // first time only, "later...@" (450) addresses
        AcceptAll,    // every recipient, whatever its name
        RejectData,   // 554 after the message data
        DeferData,    // 451 after the message data
        Unavailable,  // 421 as its greeting, then closes
        RejectSender, // 553 to MAIL FROM
        DropInData,   // closes the connection after 354
        Silent,       // accepts connections, never says a word
        NotListening, // nothing listens on the port
        EchoLogin,    // offers AUTH without TLS, refuses every login repeating what it got
    };
    struct Options
    {
        Tls tls = Tls::None;
        Behaviour behaviour = Behaviour::Accept;
        QString user; // non-empty: AUTH required
        QString password;
        bool wrongNameCertificate = false; // certificate for another host
        double idleTimeoutSeconds = 300;
        double dataDelaySeconds = 0; // the wait before each message's acceptance
        int port = 0;                // 0: any free port
    };

    SmtpServer();
    explicit SmtpServer(const Options &options);
    ~SmtpServer();
    SmtpServer(const SmtpServer &) = delete;
    SmtpServer &operator=(const SmtpServer &) = delete;

    // False when the requested port could not be bound (then port() is 0).
    bool available() const { return m_port != 0; }
    int port() const { return m_port; }
    QList<ReceivedMail> messages() const; // in order of arrival
    int connectionCount() const;          // connections accepted so far
    // "ehlo <name>", "auth" and "auth-clear" (AUTH on a session not
    // encrypted) events so far, in order.
    QStringList sessionEvents(const QString &prefix) const;
    // Waits up to timeoutMs for the count of connections ended to reach
    // count; returns the count seen last.
    int waitForClosedConnections(int count, int timeoutMs) const;

    // The test certificate authority that signed the servers' certificates,
    // for CURL_CA_BUNDLE; and an authority that signed nothing here.
    static QString testAuthorityFile();
    static QString strangerAuthorityFile();

private:
    Options m_options;
    QTemporaryDir m_folder;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
};
