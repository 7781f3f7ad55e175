#pragma once

#include <QString>
#include <stdexcept>

// A failure of the database layer, carrying the backend's own message.
// Thrown by every query and statement; only the task cycle and the windows
// decide how to show it.
class DbError : public std::runtime_error
{
public:
    explicit DbError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};
