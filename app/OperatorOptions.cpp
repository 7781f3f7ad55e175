#include "app/OperatorOptions.h"

#include "alerts/NotifyExpiredWithin.h"
#include "email/MailRedirect.h"

#include <QRegularExpression>

namespace {

// "--name VALUE" or "--name=VALUE"; false when the argument is another one.
bool optionValue(const QStringList &arguments, qsizetype &i, const QString &name, QString &value, bool &missing)
{
    const QString &argument = arguments.at(i);
    if (argument == name) {
        missing = i + 1 >= arguments.size();
        if (!missing)
            value = arguments.at(++i);
        return true;
    }
    if (argument.startsWith(name + QLatin1Char('='))) {
        value = argument.mid(name.size() + 1);
        missing = false;
        return true;
    }
    return false;
}

// One plain address: a list separator, blank or line break would let the
// mail reach someone else as well.
bool usableAddress(const QString &address)
{
    static const QRegularExpression plain(QStringLiteral("^[^\\s;,<>\"]+@[^\\s;,<>\"@]+$"));
    return plain.match(address).hasMatch();
}

} // namespace

bool ParseOperatorOption(const QStringList &arguments, qsizetype &i, OperatorOptions &options, QString &error)
{
    if (arguments.at(i) == QLatin1String("--preview")) {
        options.preview = true;
        return true;
    }
    QString value;
    bool missing = false;
    if (optionValue(arguments, i, QStringLiteral("--redirect-mail"), value, missing)) {
        if (missing || !usableAddress(value))
            error = QStringLiteral("--redirect-mail needs one email address (name@domain)");
        options.redirectMail = value;
        return true;
    }
    if (optionValue(arguments, i, QStringLiteral("--notify-expired-within"), value, missing)) {
        bool number = false;
        const int days = value.toInt(&number);
        if (missing || !number || days < 0 || days > 36500)
            error = QStringLiteral("--notify-expired-within needs a number of days from 0 to 36500");
        options.notifyExpiredWithinDays = days;
        return true;
    }
    return false;
}

QString OperatorOptionsUsage()
{
    return QStringLiteral("  --preview      run one cycle against the database and print what it\n"
                          "                 would do (digests per recipient list, automatic issues\n"
                          "                 opened and closed, totals); every change is rolled\n"
                          "                 back and no mail server is contacted; implies --once\n"
                          "  --redirect-mail ADDRESS\n"
                          "                 send every message to ADDRESS alone, naming the original\n"
                          "                 recipients in its first line and an X-Original-To field;\n"
                          "                 the window caption and every log line say so\n"
                          "  --notify-expired-within DAYS\n"
                          "                 leave certifications whose renewal date lies more than\n"
                          "                 DAYS before today without notification or issue\n"
                          "\n"

                          "First start on a production database: look first, then hold the backlog:\n"
                          "  velmar-automation-server --preview --notify-expired-within 30\n"
                          "  velmar-automation-server --headless --notify-expired-within 30\n"
                          "A restored copy on a test machine:\n"
                          "  velmar-automation-server --redirect-mail tester@example.test\n");
}

void ApplyOperatorOptions(const OperatorOptions &options)
{
    SetMailRedirect(options.redirectMail);
    SetNotifyExpiredWithinDays(options.notifyExpiredWithinDays);
}
