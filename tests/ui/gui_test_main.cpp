// The window's tests run in one QApplication on the offscreen platform unless
// the caller chose another (the end-to-end run under a real X server).
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/popup_accessibility_qt.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  // As the program does: open popup menus are windows of the application.
  dovrane::ui::InstallPopupAccessibility();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
