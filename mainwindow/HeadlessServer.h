#pragma once

#include "mainwindow/DoTasks.h"
#include "mainwindow/PollSchedule.h"

#include <QObject>
#include <QTimer>

#include <functional>

// The task cycle without windows: the same first cycle at start, the same
// timer (one second, then one minute after each tick's handler ends) and the
// same schedule as the main window, each cycle's log text handed to a writer.
class HeadlessServer : public QObject
{
    Q_OBJECT
public:
    using LogWriter = std::function<void(const QString &logText)>;

    explicit HeadlessServer(LogWriter writer, QObject *parent = nullptr);

    // Runs the first cycle, writes its log text and arms the timer.
    void Start();
    // Stops polling and closes the connection; a cycle is never running
    // when this is called (everything runs on one thread).
    void Stop();

    // One tick of the timer, callable directly.
    void Tick();

    const PollSchedule &Schedule() const { return m_schedule; }
    const QTimer &Timer() const { return m_timer; }

private:
    void runCycle();

    LogWriter m_writer;
    QTimer m_timer;
    PollSchedule m_schedule;
};

// Writes log text to standard output, one line per entry with the system's
// own line end, flushed at once (a service manager's journal reads it).
void WriteLogToStandardOutput(const QString &logText);
