// dovrane-window: dovrane with its main window. dovrane hands a run over to
// it when the window is wanted; it runs the same command line again, and its
// dialog mode is the window.
#include <cstdlib>

#include "app/command_line_main.h"
#include "ui/dialog_mode_qt.h"

int main(int argc, char** argv) {
  dovrane::ui::InstallDialogMode();
  std::exit(dovrane::app::ProgramMain(argc, argv));
}
