#include "mainwindow/Form1.h"

#include "database/Clock.h"
#include "mainwindow/HeadlessServer.h"
#include "mainwindow/LogLine.h"
#include "startup/CompanySettings.h"
#include "startup/DesktopFrontEnd.h"
#include "startup/ProgramEnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace {
// The hourglass over every window of the program while a handler runs.
class BusyPointer
{
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;
};
} // namespace

QString Form1::DesignCaption()
{
    return QStringLiteral("Velmar Automation Server " VELMAR_VERSION_SHORT);
}

Form1::Form1(QWidget *parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(DesignCaption());
    setFixedSize(729, 466);

    txtResults = new QPlainTextEdit(this);
    txtResults->setObjectName(QStringLiteral("txtResults"));
    txtResults->setGeometry(8, 8, 713, 417);
    txtResults->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtResults->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtResults->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtResults->setTabChangesFocus(true);
    // A server left running for months writes a line a minute: an undo record
    // per line would grow without end.
    txtResults->setUndoRedoEnabled(false);

    btnExit = new QPushButton(QStringLiteral("Exit"), this);
    btnExit->setObjectName(QStringLiteral("btnExit"));
    btnExit->setGeometry(640, 432, 81, 25);

    btnClear = new QPushButton(QStringLiteral("Clear"), this);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    btnClear->setGeometry(552, 432, 81, 25);

    bntDoTask = new QPushButton(QStringLiteral("Do Tasks"), this);
    bntDoTask->setObjectName(QStringLiteral("bntDoTask"));
    bntDoTask->setGeometry(464, 432, 81, 25);

    setTabOrder(txtResults, btnExit);
    setTabOrder(btnExit, btnClear);
    setTabOrder(btnClear, bntDoTask);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    // Re-armed by each handler, so the next tick comes a full interval after
    // the handler ended, however long its cycle took.
    Timer1->setSingleShot(true);
    Timer1->setInterval(PollSchedule::FirstTickMs);

    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(bntDoTask, &QPushButton::clicked, this, &Form1::bntDoTask_Click);
    connect(btnClear, &QPushButton::clicked, this, &Form1::btnClear_Click);
    connect(btnExit, &QPushButton::clicked, this, &Form1::btnExit_Click);
}

void Form1::runCycleAndLog()
{
    m_lastCycle = DoTasks();
    // Newest first; whatever the box held, typed text included, moves down.
    QTextCursor cursor(txtResults->document());
    cursor.movePosition(QTextCursor::Start);
    const QString logText = CycleLogText(m_lastCycle, CurrentDateTime());
    cursor.insertText(logText);
    dropOldestResultLines();
    // A terminal (or a check) that started the window sees the same lines.
    WriteLogToStandardOutput(logText);
}

// Keeps the newest MostResultLines lines (about a week at a line a minute);
// the oldest are at the bottom.
void Form1::dropOldestResultLines()
{
    QTextDocument *document = txtResults->document();
    if (document->blockCount() <= MostResultLines)
        return;
    QTextCursor cursor(document->findBlockByNumber(MostResultLines));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void Form1::Form_Load()
{
    runCycleAndLog();
    Timer1->start(PollSchedule::FirstTickMs);
    m_schedule.Restart();
}

Form1 *LoadForm1()
{
    auto *form = new Form1;
    form->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(form, &Form1::closed, form, [form] { EndIfNoWindowLeft(form); });
    form->Form_Load();
    return form;
}

void Form1::Timer1_Timer()
{
    BusyPointer busy;
    RunPollTick(*Timer1, m_schedule, [this] { runCycleAndLog(); });
}

void Form1::bntDoTask_Click()
{
    BusyPointer busy;
    Timer1->stop();
    runCycleAndLog();
    // The count towards the next timed cycle goes on where it was.
    Timer1->start(PollSchedule::TickMs);
}

void Form1::btnClear_Click()
{
    txtResults->clear();
}

void Form1::btnExit_Click()
{
    ExitApplication();
}

void Form1::closeEvent(QCloseEvent *event)
{
    // Closed from the title bar: polling stops with the window.
    Timer1->stop();
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}
