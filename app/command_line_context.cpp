#include "app/command_line_context.h"

#include "services/console.h"

namespace dovrane::app {

extlib::OperationContext& CommandLineContext() {
  static services::ConsoleProgress console;
  static extlib::OperationContext context(nullptr, &console);
  return context;
}

}  // namespace dovrane::app
