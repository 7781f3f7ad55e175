#include "tests/support/ServerRun.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSet>

QProcessEnvironment ServerEnvironment(const QString &lockDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMAR_INSTANCE_LOCK_DIR"), lockDir);
    return env;
}

bool WaitForOutput(QProcess &process, const QString &needle, QString &output, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!output.contains(needle) && !deadline.hasExpired()) {
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        output += QString::fromLocal8Bit(process.readAllStandardOutput());
        if (process.state() == QProcess::NotRunning)
            break;
    }
    output += QString::fromLocal8Bit(process.readAllStandardOutput());
    return output.contains(needle);
}

ServerExit RunServer(const QStringList &arguments, const QString &lockDir, int timeoutMs)
{
    return RunServer(arguments, ServerEnvironment(lockDir), timeoutMs);
}

ServerExit RunServer(const QStringList &arguments, const QProcessEnvironment &env, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VELMAR_SERVER_BINARY), arguments);
    ServerExit result;
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString();
        return result;
    }
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(10000);
    }
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = result.finished && !result.crashed ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

QStringList OnceArguments(const QString &configPath)
{
    return {QStringLiteral("--once"), QStringLiteral("--config"), configPath};
}

QStringList DigestEntries(const QByteArray &body)
{
    static const QString rule = QString(54, QLatin1Char('*')) + QStringLiteral("\r\n");
    const QString text = QString::fromUtf8(body);
    QStringList entries;
    qsizetype start = 0;
    for (qsizetype end = text.indexOf(rule, start); end >= 0; end = text.indexOf(rule, start)) {
        QString entry = text.mid(start, end + rule.size() - start);
        // Bodies are joined with a line break between them.
        while (entry.startsWith(QLatin1String("\r\n")))
            entry.remove(0, 2);
        entries.append(entry);
        start = end + rule.size();
    }
    return entries;
}

QHash<QString, int> DeliveredNotifications(const QList<ReceivedMail> &mails)
{
    QHash<QString, int> delivered;
    for (const ReceivedMail &mail : mails) {
        const QStringList entries = DigestEntries(mail.body);
        for (const QString &recipient : mail.recipients) {
            for (const QString &entry : entries)
                ++delivered[recipient + QLatin1Char('\n') + entry];
        }
    }
    return delivered;
}

int DuplicateMessages(const QList<ReceivedMail> &mails)
{
    QSet<QString> seen;
    int duplicates = 0;
    for (const ReceivedMail &mail : mails) {
        bool repeats = false;
        const QStringList entries = DigestEntries(mail.body);
        for (const QString &recipient : mail.recipients) {
            for (const QString &entry : entries) {
                const QString key = recipient + QLatin1Char('\n') + entry;
                if (seen.contains(key))
                    repeats = true;
                seen.insert(key);
            }
        }
        duplicates += repeats ? 1 : 0;
    }
    return duplicates;
}
