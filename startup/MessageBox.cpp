#include "startup/MessageBox.h"

#include <cstdio>

namespace {
void writeToStandardError(const QString &text, const QString &title)
{
    const QByteArray line = (title + QStringLiteral(": ") + text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

MessagePresenter &presenter()
{
    static MessagePresenter current = writeToStandardError;
    return current;
}
} // namespace

void ShowMessage(const QString &text, const QString &title)
{
    // A copy: the presenter may replace itself while it runs.
    const MessagePresenter show = presenter();
    show(text, title);
}

MessagePresenter SetMessagePresenter(MessagePresenter newPresenter)
{
    MessagePresenter previous = presenter();
    presenter() = newPresenter ? std::move(newPresenter) : MessagePresenter(writeToStandardError);
    return previous;
}

MessageRecorder::MessageRecorder()
{
    m_previous = SetMessagePresenter([this](const QString &text, const QString &title) {
        const Message message{text, title};
        messages.append(message);
        if (onMessage)
            onMessage(message);
    });
}

MessageRecorder::~MessageRecorder()
{
    SetMessagePresenter(std::move(m_previous));
}
