// dovrane: the administration tool of the CAD system's network installation.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line_main.h"
#include "app/exception_report.h"
#include "platform/crash_signals.h"
#include "platform/fault_injection_env.h"
#include "platform/terminal.h"
#ifdef DOVRANE_WITH_GUI
#include "app/command_table.h"
#include "app/window_module.h"

namespace {
// The window's module, loaded only when the dialog mode runs.
int RunWindow() { return dovrane::app::RunWindowModule(DOVRANE_MODULE_FROM_BIN); }
}  // namespace
#endif

int main(int argc, char** argv) {
  using namespace dovrane;
  platform::Terminal::CaptureOriginalStreams();
  platform::InstallFaultInjectionFromEnvironment();
  platform::InstallCrashHandlers(app::ExceptionReport);
#ifdef DOVRANE_WITH_GUI
  app::SetDialogRunner(&RunWindow);
#endif
  std::vector<std::string> args(argv, argv + argc);
  std::exit(app::CommandLineMain(args));
}
