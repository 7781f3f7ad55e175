#pragma once

#include <QString>

#include <stdexcept>

// A message that could not be handed to the mail server, with what failed and
// the server's own words where it gave any. Never carries a password.
class MailError : public std::runtime_error
{
public:
    explicit MailError(const QString &message, bool timedOut = false)
        : std::runtime_error(message.toStdString()), m_message(message), m_timedOut(timedOut) {}
    QString message() const { return m_message; }
    // The server did not answer within the time limits: the next message to
    // it would most likely wait as long for nothing.
    bool timedOut() const { return m_timedOut; }

private:
    QString m_message;
    bool m_timedOut = false;
};
