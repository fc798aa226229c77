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
#include "ui/dialog_mode_qt.h"
#endif

int main(int argc, char** argv) {
  using namespace dovrane;
  platform::Terminal::CaptureOriginalStreams();
  platform::InstallFaultInjectionFromEnvironment();
  platform::InstallCrashHandlers(app::ExceptionReport);
#ifdef DOVRANE_WITH_GUI
  ui::InstallDialogMode();
#endif
  std::vector<std::string> args(argv, argv + argc);
  std::exit(app::CommandLineMain(args));
}
