#pragma once

#include "tests/support/SmtpServer.h"

#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The server's executable as a service manager or cron runs it, and what the
// mail that reached a test server holds, notification by notification.

struct ServerExit
{
    bool finished = false; // false: still running at the deadline, then killed
    bool crashed = false;  // ended by a signal
    int exitCode = -1;
    QString out;
    QString err;
};

// The environment of a server process: the system's, with the single-instance
// lock moved into lockDir (each test, or each simulated machine, its own).
QProcessEnvironment ServerEnvironment(const QString &lockDir);

// Reads the process's standard output onto `output` until it holds `needle`,
// the process ends or timeoutMs pass; true when it holds it.
bool WaitForOutput(QProcess &process, const QString &needle, QString &output, int timeoutMs = 30000);

// Runs the executable with arguments and waits up to timeoutMs.
ServerExit RunServer(const QStringList &arguments, const QString &lockDir, int timeoutMs = 60000);
ServerExit RunServer(const QStringList &arguments, const QProcessEnvironment &env, int timeoutMs = 60000);

// "--once --config <configPath>".
QStringList OnceArguments(const QString &configPath);

// The notifications of one digest body: each block ends with the line of 54
// asterisks; the footer after the last is not one.
QStringList DigestEntries(const QByteArray &body);

// How often each notification reached each recipient: key "recipient\n" +
// notification text.
QHash<QString, int> DeliveredNotifications(const QList<ReceivedMail> &mails);

// Received messages that repeat a notification a recipient had already got.
int DuplicateMessages(const QList<ReceivedMail> &mails);
