#include "ui/dialog_mode_qt.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTimer>
#include <memory>

#include "app/app_state.h"
#include "app/command_table.h"
#include "platform/env.h"
#include "ui/app_icons_qt.h"
#include "ui/dovrane_dlg.h"
#include "ui/main_window_qt.h"

namespace dovrane::ui {

namespace {

// DOVRANE_SCREENSHOT=<file>: the window saves a picture of itself once its
// trees are filled; with DOVRANE_SCREENSHOT_CLOSE=1 it then closes as by its
// close button (the screenshot script).
void ArmScreenshot(CDovraneDlg* dialog) {
  platform::Env* env = platform::CurrentEnv();
  std::string name = env->GetEnv("DOVRANE_SCREENSHOT");
  if (name.empty()) return;
  // A relative name is the caller's: the program works in the CAD working folder.
  if (name[0] != '/' && !app::StartFolder().empty()) name = app::StartFolder() + "/" + name;
  const QString file = QString::fromStdString(name);
  const bool close = env->GetEnv("DOVRANE_SCREENSHOT_CLOSE") == "1";
  auto taken = std::make_shared<bool>(false);
  QObject::connect(dialog, &CDovraneDlg::TreesFilled, dialog, [dialog, file, close, taken] {
    if (*taken) return;
    *taken = true;
    // After the fill's own repaints have been handled.
    QTimer::singleShot(0, dialog, [dialog, file, close] {
      dialog->grab().save(file);
      if (close) dialog->OnClose();
    });
  });
}

}  // namespace

void InstallDialogMode() { app::SetDialogRunner(&RunDialogMode); }

int RunDialogMode() {
  // The command line has taken the process's arguments; Qt gets none of them.
  static int argc = 1;
  static char name[] = "dovrane";
  static char* argv[] = {name, nullptr};
  std::unique_ptr<QApplication> own;
  if (!QApplication::instance()) own = std::make_unique<QApplication>(argc, argv);
  QApplication::setWindowIcon(ApplicationIcon());
  MainWindow window;
  CDovraneDlg& dialog = window.dialog();
  SetMainDialog(&dialog);
  ArmScreenshot(&dialog);
  dialog.exec();
  SetMainDialog(nullptr);
  return 0;
}

}  // namespace dovrane::ui
