#pragma once

#include "database/Clock.h"
#include "email/MailComponent.h"
#include "tests/support/SmtpServer.h"

#include <QtGlobal>

#include <gtest/gtest.h>

// Trusts the test authority (as an administrator would install one) and pins
// the clock, for every mail test.
class MailTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("CURL_CA_BUNDLE", SmtpServer::testAuthorityFile().toLocal8Bit());
        SetClockForTests([] { return QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9)); });
    }
    void TearDown() override
    {
        qunsetenv("CURL_CA_BUNDLE");
        SetClockForTests({});
    }
};

// Settings with short time limits, for servers that never answer.
inline MailSettings shortLimits(int connectMs, int replyMs)
{
    MailSettings settings;
    settings.options.timeouts = {std::chrono::milliseconds(connectMs), std::chrono::milliseconds(replyMs)};
    return settings;
}

// A component set up for a message from the test sender to the server.
inline void address(MailComponent &mail, const SmtpServer &server)
{
    mail.SetSenderAddress(QStringLiteral("alerts@velmar.test"));
    mail.SetSenderName(QStringLiteral("Velmar Services"));
    mail.SetSubject(QStringLiteral("Notification from Velmar"));
    mail.SetBody(QStringLiteral("Training expires soon.\r\n"));
    mail.SetServerHost(QStringLiteral("127.0.0.1"));
    mail.SetServerPort(server.port());
}

// The failure text of a send that must fail ("" when it did not fail).
template<typename Send> QString failureOf(Send send)
{
    try {
        send();
    } catch (const MailError &error) {
        return error.message();
    }
    return QString();
}
