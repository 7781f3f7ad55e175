#include "mainwindow/LogLine.h"

#include "database/DateText.h"
#include "email/MailRedirect.h"
#include "mainwindow/CycleCounters.h"

namespace {
const QString &lineEnd()
{
    static const QString crlf = QStringLiteral("\r\n");
    return crlf;
}
} // namespace

QString CountLine(const QDateTime &when)
{
    return DateText(when) + QStringLiteral("  - Emails: ") + QString::number(CycleCounters.Emails) +
        QStringLiteral("  Issues Created: ") + QString::number(CycleCounters.IssuesCreated) +
        QStringLiteral("  Issues Closed: ") + QString::number(CycleCounters.IssuesClosed) + MailRedirectNote() +
        lineEnd();
}

QString ErrorLine(const QDateTime &when, const QString &text)
{
    // A database message may span lines; the log keeps one line per entry.
    QString oneLine = text;
    oneLine.replace(QLatin1String("\r\n"), QLatin1String(" "));
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    oneLine.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return DateText(when) + QStringLiteral("  - ") + oneLine + MailRedirectNote() + lineEnd();
}

QString CycleLogText(const CycleResult &result, const QDateTime &when)
{
    QString text;
    for (const QString &error : result.errors)
        text += ErrorLine(when, error);
    return text + CountLine(when);
}
