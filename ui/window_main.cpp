// dovrane-window: dovrane with its main window. dovrane hands a run over to
// it when the window is wanted; it runs the same command line again, and its
// dialog mode is the window.
#include "app/command_line_main.h"
#include "platform/threads_at_large.h"
#include "ui/dialog_mode_qt.h"

int main(int argc, char** argv) {
  dovrane::ui::InstallDialogMode();
  // A look-up left behind on a hanging share may still run: no static
  // object is destroyed under it.
  dovrane::platform::EndProcess(dovrane::app::ProgramMain(argc, argv));
}
