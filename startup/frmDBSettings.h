#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// The window for seeing, testing and saving the connection string. Opened
// only when the database cannot be reached; a saved string takes effect at
// the next start, so Save ends the program.
class frmDBSettings : public QWidget
{
    Q_OBJECT
public:
    explicit frmDBSettings(QWidget *parent = nullptr);

    // Event handlers, public so tests can drive them directly.
    void Form_Load();
    void btnTest_Click();
    void btnSave_Click();
    void btnExit_Click();

    QLabel *Label1 = nullptr;
    QLineEdit *txtDB = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnExit = nullptr;
    QPushButton *btnTest = nullptr;

signals:
    // Unloaded by Exit or its title bar (not when Save ends the program).
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
};

// The one loaded settings window: loads it (Form_Load) if it is not loaded,
// otherwise keeps it with the text as typed, then shows it and brings it
// forward. Unloading (Exit, title bar) deletes it; a later call loads afresh.
frmDBSettings *ShowDbSettingsWindow();
// The loaded window, or null.
frmDBSettings *LoadedDbSettingsWindow();
