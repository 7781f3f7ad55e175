#pragma once

#include <QList>
#include <QString>

// Messages per second to the local sink through SendEmail, with the SMTP
// session of the run reused across messages and with a fresh session per
// message, in plain text and over STARTTLS.
struct SmtpRate
{
    bool secure = false;
    bool reuse = false;
    int messages = 0;
    double seconds = 0;         // the median of the repetitions
    qint64 sinkMessages = 0;    // what the sink counted: must equal `messages`
    qint64 sinkConnections = 0; // 1 with reuse, `messages` without
    double perSecond() const { return seconds > 0 ? messages / seconds : 0; }
};

// Runs the four measurements with `messages` messages each (a digest-sized
// body), each against a sink of its own, `repeat` times interleaved, and
// keeps the median time of each. Sets and restores CompanySettings and
// CURL_CA_BUNDLE. Throws on a send failure or a sink that miscounts.
QList<SmtpRate> MeasureSmtpRates(const QString &sinkProgram, const QString &workDir, int messages, int repeat = 3);
