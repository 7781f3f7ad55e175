#include "bench/SmtpThroughput.h"

#include "bench/SmtpSink.h"

#include "email/MailComponent.h"
#include "email/SendEmail.h"
#include "startup/CompanySettings.h"

#include <QDir>
#include <QElapsedTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// A body the size of a digest of about ten notifications.
QString DigestBody()
{
    QString body;
    for (int n = 0; n < 10; ++n)
        body +=
            u"Client: Harbour Logistics %1 Ltd\r\nItem ID: %2\r\nFirst Aid: O'Brien, Zoë Q  - Expires 1/5/2027\r\n\r\n"
            "******************************************************\r\n"_s.arg(n)
                .arg(1000 + n);
    return body + u"\r\n\r\n\r\nVelmar Bench Training - automatic notification, do not reply."_s;
}

class RestoreSettings
{
public:
    RestoreSettings()
        : m_settings(CompanySettings), m_bundle(qgetenv("CURL_CA_BUNDLE")),
          m_hadBundle(qEnvironmentVariableIsSet("CURL_CA_BUNDLE"))
    {}
    ~RestoreSettings()
    {
        CompanySettings = m_settings;
        if (m_hadBundle)
            qputenv("CURL_CA_BUNDLE", m_bundle);
        else
            qunsetenv("CURL_CA_BUNDLE");
    }

private:
    CompanySettingsValues m_settings;
    QByteArray m_bundle;
    bool m_hadBundle;
};

SmtpRate Measure(const QString &sinkProgram, const QString &cert, const QString &key, bool reuse, int messages)
{
    const bool secure = !cert.isEmpty();
    SmtpSink sink(sinkProgram, cert, key);
    MailSettings settings;
    settings.server = u"127.0.0.1"_s;
    settings.port = QString::number(sink.port());
    settings.secure = secure;
    const QString body = DigestBody();

    SmtpRate rate;
    rate.secure = secure;
    rate.reuse = reuse;
    rate.messages = messages;
    QElapsedTimer timer;
    timer.start();
    if (reuse) {
        MailSession session; // ends with QUIT inside the timed span
        for (int n = 0; n < messages; ++n)
            SendEmail(settings, u"alerts@velmar-bench.example"_s, u"Velmar Bench Training"_s,
                      u"manager.%1@velmar-bench.example;"_s.arg(n % 40), u"Notification from Velmar Bench Training"_s,
                      body, &session);
    } else {
        for (int n = 0; n < messages; ++n)
            SendEmail(settings, u"alerts@velmar-bench.example"_s, u"Velmar Bench Training"_s,
                      u"manager.%1@velmar-bench.example;"_s.arg(n % 40), u"Notification from Velmar Bench Training"_s,
                      body, nullptr);
    }
    rate.seconds = double(timer.nsecsElapsed()) / 1e9;
    const SmtpSink::Counts counts = sink.stop();
    rate.sinkMessages = counts.messages;
    rate.sinkConnections = counts.connections;
    if (counts.messages != messages)
        throw SmtpSinkError(u"the sink counted %1 messages of %2 sent"_s.arg(counts.messages).arg(messages));
    return rate;
}

} // namespace

QList<SmtpRate> MeasureSmtpRates(const QString &sinkProgram, const QString &workDir, int messages, int repeat)
{
    RestoreSettings restore;
    const QString cert = QDir(workDir).filePath(u"sink-cert.pem"_s);
    const QString key = QDir(workDir).filePath(u"sink-key.pem"_s);
    MakeLoopbackCertificate(cert, key);
    qputenv("CURL_CA_BUNDLE", cert.toLocal8Bit());

    // Interleaved, so a burst of load on the machine hits every mode alike.
    QList<QList<SmtpRate>> samples(4);
    for (int round = 0; round < std::max(1, repeat); ++round) {
        samples[0] << Measure(sinkProgram, {}, {}, true, messages);
        samples[1] << Measure(sinkProgram, {}, {}, false, messages);
        samples[2] << Measure(sinkProgram, cert, key, true, messages);
        samples[3] << Measure(sinkProgram, cert, key, false, messages);
    }
    QList<SmtpRate> rates;
    for (QList<SmtpRate> &mode : samples) {
        std::sort(mode.begin(), mode.end(), [](const SmtpRate &a, const SmtpRate &b) { return a.seconds < b.seconds; });
        rates << mode.at(mode.size() / 2);
    }
    return rates;
}
