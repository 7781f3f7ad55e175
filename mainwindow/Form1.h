#pragma once

#include "mainwindow/DoTasks.h"
#include "mainwindow/PollSchedule.h"

#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class QTimer;

// The server's working window: runs a task cycle as it loads, then on the
// poll timer and on demand, and puts each cycle's log line at the top of
// txtResults.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);

    // The design caption; Main appends " - " and the caption suffix.
    static QString DesignCaption();

    // Event handlers, public so start-up and tests can drive them directly.
    void Form_Load();
    void Timer1_Timer();
    void bntDoTask_Click();
    void btnClear_Click();
    void btnExit_Click();

    // The most lines txtResults keeps; older ones are dropped from its bottom.
    static constexpr int MostResultLines = 10000;

    qint32 MinuteCount() const { return m_schedule.MinuteCount(); }
    // The outcome of the last cycle this window ran.
    const CycleResult &LastCycle() const { return m_lastCycle; }

    QPlainTextEdit *txtResults = nullptr;
    QPushButton *btnExit = nullptr;
    QPushButton *btnClear = nullptr;
    QPushButton *bntDoTask = nullptr;
    QTimer *Timer1 = nullptr;

signals:
    // Closed from its title bar (not emitted when the program ends at once).
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void runCycleAndLog();
    void dropOldestResultLines();

    PollSchedule m_schedule;
    CycleResult m_lastCycle;
};

// The main window as Main shows it: deleted when closed, ending the program
// then if no other window is left (EndIfNoWindowLeft); Form_Load has run.
Form1 *LoadForm1();
