#include "ui/dialog_mode_qt.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QSocketNotifier>
#include <QTimer>
#include <QtGlobal>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/projects/app_state.h"
#include "app/command_table.h"
#include "platform/env.h"
#include "platform/termination_signals.h"
#include "platform/terminal.h"
#include "tree/app_icons_qt.h"
#include "ui/dovrane_dlg.h"
#include "ui/main_window_qt.h"
#include "ui/popup_accessibility_qt.h"
#include "ui/qt_translations_qt.h"

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

// What Qt said while it looked for a display. Qt's message handler is one per
// process and takes no context, so its notes have to live here; only the
// thread that makes the application writes them, before any other thread runs.
std::string g_display_notes;

// Qt ends the process with an abort when no display can be opened, and its
// reason would go only to the trace file. The person at the terminal is told
// instead, with what was tried, and the run ends with status 1.
void DisplayMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtFatalMsg) {
    g_display_notes += "  " + text.toStdString() + "\n";
    return;
  }
  platform::Env* env = platform::CurrentEnv();
  const std::string display = env->GetEnv("DISPLAY"), wayland = env->GetEnv("WAYLAND_DISPLAY"),
                    platform_name = env->GetEnv("QT_QPA_PLATFORM");
  std::string message = "cannot open the main window: no display could be opened (";
  message += display.empty() ? "DISPLAY is not set" : "DISPLAY=" + display;
  if (!wayland.empty()) message += ", WAYLAND_DISPLAY=" + wayland;
  if (!platform_name.empty()) message += ", QT_QPA_PLATFORM=" + platform_name;
  message += ").\n" + g_display_notes + "  " + text.toStdString() + "\n";
  platform::Terminal::WriteErr(message);
  std::_Exit(1);
}

// SIGTERM, SIGHUP or SIGINT closes the window as its close button does: its
// settings are saved and the workers still stuck on a share are left behind,
// instead of the process being cut off where it stands. Boxes and dialogs
// open over it are dismissed first.
std::unique_ptr<QSocketNotifier> CloseOnTerminationSignals(CDovraneDlg* dialog) {
  const int fd = platform::WatchTerminationSignals();
  if (fd < 0) return nullptr;
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, dialog, [dialog, fd] {
    if (platform::TakeTerminationSignals(fd) == 0 || dialog->closing) return;
    platform::EndOnNextTerminationSignal();
    // An open menu runs a loop of its own: it goes first, or the close waits for it.
    for (int i = 0; i < 16 && QApplication::activePopupWidget(); ++i) QApplication::activePopupWidget()->close();
    for (int i = 0; i < 16; ++i) {
      auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!modal || modal == dialog) break;
      modal->reject();
    }
    dialog->OnClose();
  });
  return notifier;
}

}  // namespace

void InstallDialogMode() { app::SetDialogRunner(&RunDialogMode); }

int RunDialogMode() {
  // The command line has taken the process's arguments; Qt gets none of them.
  static int argc = 1;
  static char name[] = "dovrane";
  static char* argv[] = {name, nullptr};
  std::unique_ptr<QApplication> own;
  // Before the application: the accessibility bridge asks for its interface at once.
  InstallPopupAccessibility();
  if (!QApplication::instance()) {
    const QtMessageHandler previous = qInstallMessageHandler(&DisplayMessageHandler);
    own = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    g_display_notes.clear();
  }
  QApplication::setWindowIcon(tree::ApplicationIcon());
  // Without Qt's translations the window still works, with Qt's buttons in English.
  InstallQtTranslations();
  MainWindow window;
  CDovraneDlg& dialog = window.dialog();
  SetMainDialog(&dialog);
  ArmScreenshot(&dialog);
  const std::unique_ptr<QSocketNotifier> ending = CloseOnTerminationSignals(&dialog);
  dialog.exec();
  SetMainDialog(nullptr);
  return 0;
}

}  // namespace dovrane::ui
