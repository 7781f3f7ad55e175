#pragma once

#include <QString>

class QWidget;

// The desktop's ways of telling the operator: modal message boxes with an OK
// button and no icon, and for a failed connection the "Unable to Connect"
// message followed by the settings window.
void InstallMessageBoxPresenter();
void InstallDesktopConnectionFailureHandler();

// The desktop reaction to a failed OpenDatabase.
void ReportConnectionFailureOnDesktop(const QString &reason);

// The exit status EndIfNoWindowLeft ends the program with: 1 once start-up
// failed (only the settings window was left), otherwise 0. Main sets it.
void SetStatusWhenNoWindowLeft(int exitStatus);

// Marks the main window: while it is open, the program goes on.
void KeepProgramWhileOpen(QWidget *window);

// Ends the program when neither the main window nor the settings window is
// left open besides `closing`, the one being closed from its title bar or
// Exit button.
void EndIfNoWindowLeft(const QWidget *closing);
