#pragma once

#include <QString>

#include <functional>

class QWidget;

// Creates the main window and runs its Form_Load (the first task cycle)
// without showing it. The window ends the program through EndIfNoWindowLeft
// when it is closed.
using MainWindowLoader = std::function<QWidget *()>;

// The program's start: reads the configuration, proves the database can be
// reached, refuses a second copy, loads the company settings, then loads the
// main window (which runs the first cycle) and shows it with its caption
// extended by " - ", CaptionSuffix and captionNote.
struct MainResult
{
    // True: windows are open (the main window, or the settings window alone
    // after a failed connection) and the event loop should run.
    bool keepRunning = false;
    // The exit status when keepRunning is false.
    int exitCode = 0;
    QWidget *mainWindow = nullptr;
};

// Needs a QApplication, a message presenter and the desktop connection
// failure handler (DesktopFrontEnd.h).
MainResult Main(const MainWindowLoader &loadMainWindow, const QString &captionNote);
