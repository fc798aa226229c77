#include "ui/dovrane_dlg.h"

#include <gtest/gtest.h>

#include <QTest>

namespace dovrane::ui {
namespace {

TEST(DovraneDlgTest, EscapeLeavesTheWindowOpen) {
  CDovraneDlg dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Varnholtek Dovranix"));
}

}  // namespace
}  // namespace dovrane::ui
