#pragma once

#include <QString>

#include <stdexcept>

// A message that could not be handed to the mail server, with what failed and
// the server's own words where it gave any. Never carries a password.
class MailError : public std::runtime_error
{
public:
    // What a failure says about the next message and the next poll.
    enum class Kind {
        // The server or the way to it failed (connection, TLS, login, a 421,
        // no answer, unusable settings): every further message of this cycle
        // would fail the same way, so the cycle stops sending.
        Server,
        // A temporary refusal of a recipient (4xx): tried again at the next
        // poll.
        Temporary,
        // A permanent refusal (5xx, or an address or sender that cannot be
        // used): the same message would be refused again; tried again only
        // after a back-off or when an operator asks.
        Permanent,
    };

    explicit MailError(const QString &message, Kind kind = Kind::Server, bool timedOut = false)
        : std::runtime_error(message.toStdString()), m_message(message), m_kind(kind), m_timedOut(timedOut)
    {}
    QString message() const { return m_message; }
    Kind kind() const { return m_kind; }
    // The server did not answer within the time limits.
    bool timedOut() const { return m_timedOut; }

private:
    QString m_message;
    Kind m_kind = Kind::Server;
    bool m_timedOut = false;
};
