// The entry of the window module the program loads in dialog mode.
#include "app/window_module.h"
#include "ui/dialog_mode_qt.h"

extern "C" __attribute__((visibility("default"))) int dovrane_run_dialog_mode() {
  return dovrane::ui::RunDialogMode();
}
