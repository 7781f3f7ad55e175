#pragma once

#include <QString>

#include <functional>

// Every message the system shows goes through here: an OK button only, no
// icon. The desktop installs a QMessageBox presenter, headless mode writes to
// standard error, and tests install a recorder so nothing blocks.
void ShowMessage(const QString &text, const QString &title);

using MessagePresenter = std::function<void(const QString &text, const QString &title)>;
// Returns the previous presenter.
MessagePresenter SetMessagePresenter(MessagePresenter presenter);
