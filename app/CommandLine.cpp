#include "app/CommandLine.h"

CommandLine ParseCommandLine(const QStringList &arguments)
{
    CommandLine options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--headless")) {
            options.headless = true;
        } else if (argument == QLatin1String("--once")) {
            options.once = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (argument == QLatin1String("--version")) {
            options.version = true;
        } else if (argument == QLatin1String("--queue-status")) {
            options.queueStatus = true;
        } else if (argument == QLatin1String("--retry-now")) {
            options.retryNow = true;
        } else if (argument == QLatin1String("--allow-plain-auth")) {
            options.allowPlainAuth = true;
        } else if (argument == QLatin1String("--send-test-mail")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].trimmed().isEmpty()) {
                options.error = QStringLiteral("--send-test-mail needs an address");
                return options;
            }
            options.sendTestMail = arguments[++i].trimmed();
        } else if (argument == QLatin1String("--config")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                options.error = QStringLiteral("--config needs a file name");
                return options;
            }
            options.configFile = arguments[++i];
        } else if (argument.startsWith(QLatin1String("--config="))) {
            options.configFile = argument.mid(int(qstrlen("--config=")));
            if (options.configFile.isEmpty()) {
                options.error = QStringLiteral("--config needs a file name");
                return options;
            }
        } else if (argument == QLatin1String("--cycle-limit")) {
            bool number = false;
            options.cycleLimitSeconds = i + 1 < arguments.size() ? arguments[++i].toInt(&number) : 0;
            if (!number || options.cycleLimitSeconds <= 0) {
                options.error = QStringLiteral("--cycle-limit needs a whole number of seconds above 0");
                return options;
            }
        } else if (ParseOperatorOption(arguments, i, options.operatorOptions, options.error)) {
            if (!options.error.isEmpty())
                return options;
        } else {
            options.error = argument.startsWith(QLatin1Char('-'))
                ? QStringLiteral("unknown option %1").arg(argument)
                : QStringLiteral("unexpected argument %1").arg(argument);
            return options;
        }
    }
    return options;
}

QString UsageText()
{
    return QStringLiteral("Usage: velmar-automation-server [--headless | --once | --preview] [--config FILE]\n"
                          "       [--redirect-mail ADDRESS] [--notify-expired-within DAYS]\n"
                          "\n"
                          "Runs the training-expiry alerts and sends the queued emails of the\n"
                          "host database, once at start and then every AutomationServerPoll minutes.\n"
                          "\n"
                          "Options:\n"
                          "  --headless     run without windows: log lines on standard output,\n"
                          "                 messages on standard error; SIGTERM or SIGINT ends it\n"
                          "  --once         start up, run one cycle, print its log, and exit:\n"
                          "                 0 when the cycle completed, 1 when it failed, 3 when\n"
                          "                 another server was running a cycle on the database,\n"
                          "                 4 when its only failures were mail refused for good\n"
                          "  --queue-status print every unsent queued email with its recipient\n"
                          "                 list, attempts, the mail server's last reply and the\n"
                          "                 next try, and exit (no display needed)\n"
                          "  --retry-now    let the mail held back after a refusal be tried at\n"
                          "                 the next poll, and exit\n"
                          "  --allow-plain-auth  send the SMTP login even over a connection the\n"
                          "                 server does not encrypt (no STARTTLS offered)\n"
                          "  --send-test-mail ADDRESS\n"
                          "                 send one short message from the company sender to\n"
                          "                 ADDRESS with the current mail settings (password or\n"
                          "                 OAuth), print the mail server's final reply, and exit:\n"
                          "                 0 when it was accepted, 1 otherwise; runs no cycle and\n"
                          "                 touches no queued email\n"
                          "  --config FILE  read the connection string from FILE instead of\n"
                          "                 config.txt beside the executable\n"
                          "  --cycle-limit SECONDS  (--headless, --once) end the process with\n"
                          "                 status 1 when a cycle runs longer (default 1800)\n"
                          "  --help         show this text and exit\n"
                          "  --version      show the version and exit\n"
                          "%1"
                          "\n"
                          "Exit status: 0 ended normally, 1 a start-up or cycle failure,\n"
                          "2 a usage error, 3 another copy is already running, 4 (--once) mail\n"
                          "refused for good is held back.\n")
        .arg(OperatorOptionsUsage());
}

QString VersionText()
{
    return QStringLiteral("velmar-automation-server " VELMAR_VERSION "\n");
}
