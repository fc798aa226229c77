#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "checkout/checkout_comment_dlg.h"
#include "checkout/std_copy_dlg.h"
#include "extlib/installation/settings.h"
#include "platform/path_map.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace dovrane::checkout {
namespace {

class CheckoutDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set({{"DOVRANE_HKLM", dir_.Write("hklm.toml", "")},
              {"DOVRANE_HKCU", dir_.Write("hkcu.toml", "[Settings]\n")},
              {"DOVRANE_COMPUTERNAME", "WS01"}});
  }
  static QPushButton* Ok(QDialog& d) {
    for (QPushButton* b : d.findChildren<QPushButton*>())
      if (b->isDefault() || b->text().contains("OK", Qt::CaseInsensitive)) return b;
    return nullptr;
  }
  testing::TempDir dir_;
  testing::ScopedEnvironment env_;
};

TEST_F(CheckoutDialogsTest, CommentOkWaitsForAChangeAndAnEmptyCommentCanBeConfirmed) {
  CCheckoutCommentDlg dialog(0, "", nullptr);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.findChild<QLineEdit*>()->text(), QStringLiteral("WS01"));
  QPushButton* ok = Ok(dialog);
  ASSERT_NE(ok, nullptr);
  EXPECT_FALSE(ok->isEnabled());
  auto* edit = dialog.findChild<QPlainTextEdit*>();
  QTest::keyClicks(edit, "x");
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_TRUE(ok->isEnabled());
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Comment(), "");
}

TEST_F(CheckoutDialogsTest, CommentIsRememberedCutAndKeepsItsLines) {
  extlib::WriteProfileString("Settings", "LastCheckoutComment", "Baustelle\nM\xFCnchen");
  CCheckoutCommentDlg dialog(1, "Halle Nord 3", nullptr);
  EXPECT_EQ(dialog.findChild<QLineEdit*>()->text(), QStringLiteral("Halle Nord 3"));
  auto* edit = dialog.findChild<QPlainTextEdit*>();
  EXPECT_EQ(edit->toPlainText(), QString::fromUtf8("Baustelle\nM\xC3\xBCnchen"));
  ASSERT_TRUE(Ok(dialog)->isEnabled());
  edit->setPlainText(QString(1100, QChar('a')));
  EXPECT_EQ(edit->toPlainText().size(), kMaxCheckoutComment);
  edit->setPlainText(QStringLiteral("eins\nzwei"));
  dialog.accept();
  EXPECT_EQ(dialog.Comment(), "eins\nzwei");
  EXPECT_EQ(extlib::GetProfileString("Settings", "LastCheckoutComment", ""), "eins\nzwei");
}

class StdCopyDialogTest : public CheckoutDialogsTest {
 protected:
  void SetUp() override {
    CheckoutDialogsTest::SetUp();
    dir_.Write("unc/SRV1/cad/STD/Sym/a.sym", std::string(3 * 1048576, 's'));
    dir_.Write("unc/SRV1/cad/STD/design/t.tex", std::string(1048576, 't'));
    dir_.Write("unc/SRV1/cad/STD/std.cfg", std::string(524288, 'c'));
    dir_.Write("unc/SRV1/cad/STD/zsg001.dat", std::string(1048576, 'f'));
    platform::PathMap::Instance().SetUncRoot(dir_ / "unc");
  }
  void TearDown() override { platform::PathMap::Instance().SetUncRoot("/net"); }
  std::string DataPath() const { return "\\\\SRV1\\cad"; }
};

TEST_F(StdCopyDialogTest, SizesAreMeasuredAfterShowingAndOkWaitsForThem) {
  CDovraneStdCopyDlg dialog(DataPath(), nullptr);
  dialog.accept();  // before the measurement: refused
  EXPECT_FALSE(dialog.Measured());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Measured(); }, 10000));
  QStringList texts;
  for (QLabel* l : dialog.findChildren<QLabel*>()) texts << l->text();
  EXPECT_TRUE(texts.contains(QStringLiteral("3.00 MB")));  // symbols
  EXPECT_TRUE(texts.contains(QStringLiteral("6.50 MB")));  // every component counted, the files of \STD twice
  QList<QCheckBox*> boxes = dialog.findChildren<QCheckBox*>();
  ASSERT_EQ(boxes.size(), kStdComponentCount);
  EXPECT_FALSE(boxes[0]->isEnabled());  // the common office standard only shows the choice
  EXPECT_TRUE(boxes[1]->isEnabled());
}

TEST_F(StdCopyDialogTest, EnterNeverCancelsAndConfirmsOnceTheSizesAreIn) {
  CDovraneStdCopyDlg dialog(DataPath(), nullptr);
  QSignalSpy accepted(&dialog, &QDialog::accepted), rejected(&dialog, &QDialog::rejected);
  dialog.show();
  QPushButton* cancel = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel);
  ASSERT_NE(cancel, nullptr);
  // Enter on the focused Cancel, measured or not yet: never a cancel.
  QTest::keyClick(cancel, Qt::Key_Return);
  EXPECT_EQ(rejected.count(), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Measured(); }, 10000));
  QTest::keyClick(cancel, Qt::Key_Return);
  EXPECT_EQ(accepted.count(), 1);
  EXPECT_EQ(rejected.count(), 0);
}

TEST_F(StdCopyDialogTest, UncheckedTexturesAreNotCopiedAndTheChoiceIsStored) {
  CDovraneStdCopyDlg dialog(DataPath(), nullptr);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Measured(); }, 10000));
  QCheckBox* textures = dialog.findChildren<QCheckBox*>()[static_cast<int>(StdComponent::kTextures)];
  textures->click();
  ASSERT_FALSE(textures->isChecked());
  dialog.accept();
  EXPECT_EQ(dialog.Table()[4].size, 0);
  EXPECT_EQ(dialog.Table()[0].size, 3 * 1048576);
  EXPECT_EQ(dialog.Table()[5].size, 0);  // formwork is never copied
  EXPECT_EQ(dialog.Table()[kStdTableSize - 1].size, -1);
  EXPECT_EQ(extlib::GetProfileInt("Settings", "CopyStdText", 1), 0);
}

}  // namespace
}  // namespace dovrane::checkout
