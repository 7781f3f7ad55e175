#pragma once

#include <QList>
#include <QString>

// A message as SendEmail was asked to send it.
struct RecordedMail
{
    QString senderAddress;
    QString senderName;
    QString recipientList;
    QString subject;
    QString body;
};

// While a recorder exists, SendEmail hands every message to it instead of to
// a mail server (a preview shows what a cycle would send and contacts no
// one). One at a time, on the cycle's thread.
class MailRecorder
{
public:
    MailRecorder();
    ~MailRecorder();
    MailRecorder(const MailRecorder &) = delete;
    MailRecorder &operator=(const MailRecorder &) = delete;

    const QList<RecordedMail> &Messages() const { return m_messages; }

private:
    friend bool RecordInsteadOfSending(const RecordedMail &mail);
    QList<RecordedMail> m_messages;
};

// True when a recorder took the message: it must not be sent.
bool RecordInsteadOfSending(const RecordedMail &mail);
