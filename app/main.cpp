// dovrane: the administration tool of the CAD system's network installation.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line_main.h"
#include "app/exception_report.h"
#include "platform/crash_signals.h"
#include "platform/fault_injection_env.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  using namespace dovrane;
  platform::Terminal::CaptureOriginalStreams();
  platform::InstallFaultInjectionFromEnvironment();
  platform::InstallCrashHandlers(app::ExceptionReport);
  std::vector<std::string> args(argv, argv + argc);
  std::exit(app::CommandLineMain(args));
}
