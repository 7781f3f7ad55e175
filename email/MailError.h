#pragma once

#include <QString>

#include <stdexcept>

// A message that could not be handed to the mail server, with what failed and
// the server's own words where it gave any. Never carries a password or a
// token.
class MailError : public std::runtime_error
{
public:
    // What a failure says about the next message and the next poll.
    enum class Kind {
        // The server or the way to it failed (connection, TLS, a 421 after
        // the one reconnect, no answer, unusable settings): every further
        // message of this cycle would fail the same way, so the cycle stops
        // sending.
        Server,
        // A temporary refusal of a recipient (4xx): tried again at the next
        // poll.
        Temporary,
        // A permanent refusal of this message (5xx, or an address or sender
        // that cannot be used): the same message would be refused again;
        // tried again only after a back-off or when an operator asks.
        Permanent,
        // The server refused this client, not this message (5.7.x: relay
        // denied, client host rejected, authentication required): the cycle
        // stops sending and no recipient list is held back for it.
        ClientRefused,
        // The login failed (wrong password, a mechanism the server refused, a
        // token the provider or the server refused): the cycle stops sending
        // and the next login waits (see MailLoginBackOff).
        LoginFailed,
        // The message is over the server's size limit (advertised in its
        // EHLO answer, or a 552 5.3.4): the queue sends it again in smaller
        // parts. sizeLimit() is the advertised limit in bytes, 0 if unknown.
        TooLarge,
    };

    explicit MailError(const QString &message, Kind kind = Kind::Server, bool timedOut = false, qint64 sizeLimit = 0)
        : std::runtime_error(message.toStdString()), m_message(message), m_kind(kind), m_timedOut(timedOut),
          m_sizeLimit(sizeLimit)
    {}
    QString message() const { return m_message; }
    Kind kind() const { return m_kind; }
    // The server did not answer within the time limits.
    bool timedOut() const { return m_timedOut; }
    // With TooLarge: the server's advertised SIZE limit in bytes, 0 if unknown.
    qint64 sizeLimit() const { return m_sizeLimit; }

private:
    QString m_message;
    Kind m_kind = Kind::Server;
    bool m_timedOut = false;
    qint64 m_sizeLimit = 0;
};
