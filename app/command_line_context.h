// The operation context of the command line: the terminal's messenger (the
// current one), the progress console, and the interactive flag, which is 1 at
// start and 0 in the dialog mode and for -checkout, -erase_y and -move_y.
// While it is 1, erasing asks first and -restore/-update end with a final notice.
#pragma once

#include "extlib/installation/operation_context.h"

namespace dovrane::app {

extlib::OperationContext& CommandLineContext();

}  // namespace dovrane::app
