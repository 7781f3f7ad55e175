#include "email/MailRecorder.h"

namespace {
MailRecorder *active = nullptr;
}

MailRecorder::MailRecorder()
{
    active = this;
}

MailRecorder::~MailRecorder()
{
    if (active == this)
        active = nullptr;
}

bool RecordInsteadOfSending(const RecordedMail &mail)
{
    if (active == nullptr)
        return false;
    active->m_messages.append(mail);
    return true;
}
