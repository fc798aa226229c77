// dovrane: the administration tool of the CAD system's network installation.
#include <cstdlib>

#include "app/command_line_main.h"
#include "platform/threads_at_large.h"
#ifdef DOVRANE_WITH_GUI
#include "app/command_table.h"
#include "app/window_program.h"

namespace {
char** g_argv = nullptr;
// The main window is a program of its own: the run is handed over to it.
int RunWindow() { return dovrane::app::RunWindowProgram(DOVRANE_WINDOW_FROM_BIN, g_argv); }
}  // namespace
#endif

int main(int argc, char** argv) {
#ifdef DOVRANE_WITH_GUI
  g_argv = argv;
  dovrane::app::SetDialogRunner(&RunWindow);
#endif
  // A name look-up left alone after its time limit may still run.
  dovrane::platform::EndProcess(dovrane::app::ProgramMain(argc, argv));
}
