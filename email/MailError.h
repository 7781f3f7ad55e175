#pragma once

#include <QString>

#include <stdexcept>

// A message that could not be handed to the mail server, with what failed and
// the server's own words where it gave any. Never carries a password.
class MailError : public std::runtime_error
{
public:
    explicit MailError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};
