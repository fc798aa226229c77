#include "ui/dialog_mode_qt.h"

#include <QApplication>
#include <memory>

#include "app/command_table.h"
#include "ui/dovrane_dlg.h"

namespace dovrane::ui {

void InstallDialogMode() { app::SetDialogRunner(&RunDialogMode); }

int RunDialogMode() {
  // The command line has taken the process's arguments; Qt gets none of them.
  static int argc = 1;
  static char name[] = "dovrane";
  static char* argv[] = {name, nullptr};
  std::unique_ptr<QApplication> own;
  if (!QApplication::instance()) own = std::make_unique<QApplication>(argc, argv);
  CDovraneDlg dialog;
  dialog.exec();
  return 0;
}

}  // namespace dovrane::ui
