#pragma once

#include <functional>

// Ends the program at once with `exitCode`: no further events are handled and
// no window-closing handler runs. Used by the settings window's Save, by
// ExitApplication and by the end of the last window. The default leaves the
// event loop (every nested one too); tests install a recorder.
void EndProgram(int exitCode);

using ProgramEndHandler = std::function<void(int exitCode)>;
// Returns the previous handler; an empty handler restores the default.
ProgramEndHandler SetProgramEndHandler(ProgramEndHandler handler);

// The main window's Exit: closes the connection, then ends the program.
void ExitApplication();
