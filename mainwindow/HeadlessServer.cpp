#include "mainwindow/HeadlessServer.h"

#include "database/Clock.h"
#include "database/OpenDatabase.h"
#include "mainwindow/LogLine.h"

#include <cstdio>

HeadlessServer::HeadlessServer(LogWriter writer, QObject *parent) : QObject(parent), m_writer(std::move(writer))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HeadlessServer::Tick);
}

void HeadlessServer::runCycle()
{
    const CycleResult result = DoTasks();
    m_writer(CycleLogText(result, CurrentDateTime()));
}

void HeadlessServer::Start()
{
    runCycle();
    m_timer.start(PollSchedule::FirstTickMs);
    m_schedule.Restart();
}

void HeadlessServer::Stop()
{
    m_timer.stop();
    CloseDatabase();
}

void HeadlessServer::Tick()
{
    RunPollTick(m_timer, m_schedule, [this] { runCycle(); });
}

void WriteLogToStandardOutput(const QString &logText)
{
    QString text = logText;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
