#include "startup/frmDBSettings.h"

#include "database/DbConnection.h"
#include "database/OpenDatabase.h"
#include "startup/ConfigFile.h"
#include "startup/MessageBox.h"
#include "startup/ProgramEnd.h"

#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {
// The controls keep their designed places; a platform font too wide for the
// label is made smaller until its whole caption fits.
void FitFontToWidth(QLabel *label)
{
    QFont font = label->font();
    const int room = label->contentsRect().width();
    auto tooWide = [&] { return QFontMetrics(font).horizontalAdvance(label->text()) > room; };
    while (tooWide()) {
        if (font.pixelSize() > 1)
            font.setPixelSize(font.pixelSize() - 1);
        else if (font.pointSizeF() > 1.0)
            font.setPointSizeF(font.pointSizeF() - 0.5);
        else
            break;
    }
    label->setFont(font);
}

QPointer<frmDBSettings> &loadedWindow()
{
    static QPointer<frmDBSettings> window;
    return window;
}
} // namespace

frmDBSettings::frmDBSettings(QWidget *parent)
    // A tool window stays out of the taskbar; fixed size, no minimize or
    // maximize button.
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmDBSettings"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Database Settings"));
    setFixedSize(782, 80);

    Label1 = new QLabel(QStringLiteral("Database Connection String:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 16, 145, 17);
    FitFontToWidth(Label1);

    txtDB = new QLineEdit(this);
    txtDB->setObjectName(QStringLiteral("txtDB"));
    txtDB->setGeometry(160, 16, 617, 19);

    btnSave = new QPushButton(QStringLiteral("Save"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setGeometry(608, 48, 81, 25);

    btnExit = new QPushButton(QStringLiteral("Exit"), this);
    btnExit->setObjectName(QStringLiteral("btnExit"));
    btnExit->setGeometry(696, 48, 81, 25);

    btnTest = new QPushButton(QStringLiteral("Test"), this);
    btnTest->setObjectName(QStringLiteral("btnTest"));
    btnTest->setGeometry(520, 48, 81, 25);

    setTabOrder(txtDB, btnSave);
    setTabOrder(btnSave, btnExit);
    setTabOrder(btnExit, btnTest);

    connect(btnTest, &QPushButton::clicked, this, &frmDBSettings::btnTest_Click);
    connect(btnSave, &QPushButton::clicked, this, &frmDBSettings::btnSave_Click);
    connect(btnExit, &QPushButton::clicked, this, &frmDBSettings::btnExit_Click);
}

void frmDBSettings::Form_Load()
{
    // The string read at start-up, not one tested or saved since.
    txtDB->setText(DBConnectionString);
}

void frmDBSettings::btnTest_Click()
{
    // Neither DBConnectionString nor the file changes; a successful test
    // leaves the connection open until the next OpenDatabase reopens it.
    DbConnection &connection = DatabaseConnection();
    if (connection.IsOpen())
        connection.Close();
    QString error;
    bool opened = false;
    try {
        opened = connection.Open(TrimSpaces(txtDB->text()), &error);
    } catch (const std::exception &) {
        opened = false;
    }
    if (opened)
        ShowMessage(QStringLiteral("Connection Successful!"), QStringLiteral("Connection Successful."));
    else
        ShowMessage(QStringLiteral("Unable to connect using this connection string."),
                    QStringLiteral("Unable to Connect"));
}

void frmDBSettings::btnSave_Click()
{
    QString error;
    if (!WriteConfigFile(txtDB->text(), &error)) {
        // The old file is intact; the operator can fix the cause and save
        // again.
        ShowMessage(QStringLiteral("The settings could not be saved.\n%1").arg(error),
                    QStringLiteral("Unable to Save"));
        return;
    }
    ShowMessage(QStringLiteral("The application will exit now, once it has exited, you may restart and log in."),
                QStringLiteral("Application Restart"));
    EndProgram(0);
}

void frmDBSettings::btnExit_Click()
{
    close();
}

void frmDBSettings::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    // Unloaded now, though deleted only later: the next failure loads a
    // fresh window.
    if (loadedWindow() == this)
        loadedWindow().clear();
    emit closed();
}

frmDBSettings *LoadedDbSettingsWindow()
{
    return loadedWindow().data();
}

frmDBSettings *ShowDbSettingsWindow()
{
    if (!loadedWindow()) {
        loadedWindow() = new frmDBSettings;
        loadedWindow()->Form_Load();
    }
    frmDBSettings *window = loadedWindow().data();
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
