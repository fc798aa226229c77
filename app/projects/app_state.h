// The program-wide state the rest of the system reaches: the interactive flag,
// the running main dialog, and the check-out name.
#pragma once

#include <string>

namespace dovrane::app {

// The running main dialog, set just before it runs; null on the command line.
extern void* g_main_dialog;
// The name the check-out comment dialog shows, at most 255 bytes (the
// check-out name buffer), set by the command-line main for -checkout.
std::string CheckoutName();
void SetCheckoutName(const std::string& name);
// The folder the program was started in (native), before it changes to the
// CAD system's working folder: relative output files are named from there.
std::string StartFolder();
void SetStartFolder(const std::string& folder);

}  // namespace dovrane::app
