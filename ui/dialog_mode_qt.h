// The dialog mode: the main window in a Qt application of its own.
#pragma once

namespace dovrane::ui {

// Makes the main window the program's dialog mode (the command line's runner).
void InstallDialogMode();
// Runs the main window modally; 0 when it was closed.
int RunDialogMode();

}  // namespace dovrane::ui
