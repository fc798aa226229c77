// The program-wide state the rest of the system reaches: the interactive flag,
// the running main dialog, and the check-out name.
#pragma once

#include <string>

namespace dovrane::app {

// 1 at start; 0 in the dialog mode and for -checkout, -erase_y and -move_y.
// While 1, erasing asks first and -restore/-update end with a final notice.
extern int g_interactive;
// The running main dialog, set just before it runs; null on the command line.
extern void* g_main_dialog;
// The name the check-out comment dialog shows, at most 255 bytes (the
// check-out name buffer), kept per installation.
std::string CheckoutName();
void SetCheckoutName(const std::string& name);
// The folder the program was started in (native), before it changes to the
// CAD system's working folder: relative output files are named from there.
std::string StartFolder();
void SetStartFolder(const std::string& folder);

}  // namespace dovrane::app
