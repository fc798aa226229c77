// The window's tests run in one QApplication on the offscreen platform unless
// the caller chose another (the end-to-end run under a real X server).
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/popup_accessibility_qt.h"

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: queued calls and thread-pool tasks
// hand their objects from one thread to another through Qt's own queues,
// which it cannot see. Reports with a Qt frame are left out here only; the
// core's threads are tested without Qt in the other test program.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6Widgets.so\n"
         "race:libQt6Test.so\n"
         "race:libglib-2.0.so\n"
         "race:libdbus-1.so\n";
}
#endif

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  // As the program does: open popup menus are windows of the application.
  dovrane::ui::InstallPopupAccessibility();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
