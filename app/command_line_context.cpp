#include "app/command_line_context.h"

#include "extlib/installation/installation.h"
#include "services/console.h"

namespace dovrane::app {

extlib::OperationContext& CommandLineContext() {
  static services::ConsoleProgress console;
  // The command line's main works on the process default installation.
  static extlib::OperationContext context(extlib::ProcessInstallation(), nullptr, &console);
  return context;
}

}  // namespace dovrane::app
