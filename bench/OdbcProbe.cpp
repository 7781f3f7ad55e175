#include "bench/OdbcProbe.h"

#include "alerts/TrainingStatements.h"
#include "database/AdoToOdbc.h"
#include "database/DbConnection.h"
#include "database/DbError.h"
#include "database/OdbcBackend.h"

#include <QDir>
#include <QFile>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// "runs" or the driver's own message.
QString Outcome(const std::function<void()> &work)
{
    try {
        work();
        return u"runs"_s;
    } catch (const DbError &error) {
        return u"refused: "_s + error.message();
    }
}

} // namespace

QString ProbeSqliteOdbcDriver(const QString &workDir)
{
    QString md = u"### The SQLite ODBC driver (unixODBC driver manager, driver \"SQLite3\")\n\n"_s;
    if (!InstalledOdbcDrivers().contains(u"SQLite3"_s))
        return md + u"Not installed: nothing measured.\n\n"_s;
    md += u"| Connection string adds | Two INSERTs in one text | The queue row INSERT as the cycle writes it | "
          "Calls for ExecuteAll of 3 statements |\n|---|---|---|---:|\n"_s;
    const QString insert =
        QueueRowStatement(u"from@example.com"_s, u"Velmar"_s, u"to@example.com"_s, u"Subject"_s, u"Body"_s);
    for (const QString &option : {QString(), u"StepAPI=1"_s, u"StepAPI=0"_s}) {
        const QString file = QDir(workDir).filePath(u"odbc-probe.db"_s);
        QFile::remove(file);
        DbConnection connection;
        QString error;
        if (!connection.Open(u"Driver=SQLite3;Database="_s + file + u";"_s + option, &error))
            return md + u"| %1 | cannot connect: %2 | | |\n\n"_s.arg(option, error);
        connection.Execute(u"CREATE TABLE t (a TEXT)"_s);
        connection.Execute(u"CREATE TABLE AutomationServer_EmailsSent (ID INTEGER PRIMARY KEY, EmailFrom TEXT, "
                           "EmailFromName TEXT, EmailTo TEXT, EmailSubject TEXT, EmailBody TEXT, EmailSent INTEGER)"_s);
        const QString two = Outcome([&] {
            OdbcBackend::Execute(connection.database(), u"INSERT INTO t VALUES ('x');\nINSERT INTO t VALUES ('y')"_s);
        });
        const QString cycleText = Outcome([&] { OdbcBackend::Execute(connection.database(), insert); });
        connection.resetStatementCount();
        connection.ExecuteAll(
            {u"INSERT INTO t VALUES ('a')"_s, u"INSERT INTO t VALUES ('b')"_s, u"INSERT INTO t VALUES ('c')"_s});
        md += u"| %1 | %2 | %3 | %4 |\n"_s.arg(option.isEmpty() ? u"(nothing)"_s : option, two, cycleText)
                  .arg(connection.statementCount());
        connection.Close();
        QFile::remove(file);
    }
    return md + u"\n"_s;
}
