#pragma once

#include <QList>
#include <QString>

#include <functional>

// Every message the system shows goes through here: an OK button only, no
// icon. The desktop installs a QMessageBox presenter, headless mode writes to
// standard error, and tests install a recorder so nothing blocks.
void ShowMessage(const QString &text, const QString &title);

using MessagePresenter = std::function<void(const QString &text, const QString &title)>;
// Returns the previous presenter. An empty presenter restores the default,
// which writes "title: text" to standard error.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// For tests: while alive, records every message instead of showing it, and
// can run an action when a message arrives (as a user would react to it).
class MessageRecorder
{
public:
    struct Message
    {
        QString text;
        QString title;
    };

    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    QList<Message> messages;
    std::function<void(const Message &)> onMessage;

private:
    MessagePresenter m_previous;
};
