#include "tree/properties_dlg.h"

#include <gtest/gtest.h>

#include <QTest>

namespace dovrane::tree {
namespace {

PropertiesInfo Project(const std::string& path) {
  PropertiesInfo info;
  info.caption = "Varnholtek Dovranix";
  info.type_text = "Projekt";
  info.first_count_label = "Dateien:";
  info.name = "Bau \xE4";  // Windows-1252, shown as UTF-8
  info.path = path;
  info.number = 12;
  info.first_count = 7;
  info.size = 1.5;
  return info;
}

TEST(PropertiesDlgTest, ShowsTheLinesAndOkCloses) {
  const PropertiesInfo info = Project("/tmp");
  CDlgProperties dialog(&info, "1024 MB (1.00 GB)");
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Varnholtek Dovranix"));
  EXPECT_EQ(dialog.Text(1031), QStringLiteral("Projekt [12]"));
  EXPECT_EQ(dialog.Text(1032), QString::fromUtf8("Bau \xC3\xA4"));
  EXPECT_EQ(dialog.Text(1035), QStringLiteral("Dateien: 7  (1.50 MB)"));
  EXPECT_EQ(dialog.Text(1036), QStringLiteral("1024 MB (1.00 GB)"));
  QTest::keyClick(&dialog, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(PropertiesDlgTest, ALongPathWidensTheDialog) {
  const PropertiesInfo short_path = Project("/tmp"), long_path = Project("/tmp/" + std::string(300, 'p'));
  CDlgProperties narrow(&short_path, "0 MB (0.00 GB)"), wide(&long_path, "0 MB (0.00 GB)");
  narrow.show();
  wide.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wide));
  EXPECT_GT(wide.width(), narrow.width() + 200);
  EXPECT_EQ(wide.Text(1034).size(), 305);  // the whole path, not cut
}

}  // namespace
}  // namespace dovrane::tree
