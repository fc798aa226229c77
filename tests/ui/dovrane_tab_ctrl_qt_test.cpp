#include "ui/dovrane_tab_ctrl.h"

#include <gtest/gtest.h>


#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QWindow>

#include "support/mini_installation.h"
#include "tree/dovrane_tree_ctrl.h"
#include "ui/bm_button_ctrl.h"
#include "ui/divider_ctrl.h"
#include "ui/dovrane_dlg.h"

namespace dovrane::ui {
namespace {

class DovraneTabCtrlTest : public ::testing::Test {
 protected:
  DovraneTabCtrlTest() {
    installation_.Activate();
    dialog_ = std::make_unique<CDovraneDlg>();
    dialog_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    tab_ = dialog_->TabCtrl();
  }
  // Every page control lies inside the tab control, the tab control and the
  // bottom row inside the window.
  void ExpectEverythingInside() {
    const QRect page = tab_->rect();
    for (QWidget* child : tab_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      EXPECT_TRUE(page.contains(child->geometry())) << child->accessibleName().toStdString();
    const QRect window = dialog_->rect();
    for (QWidget* w : std::initializer_list<QWidget*>{tab_, dialog_->CloseButton(), dialog_->CheckOutButton(),
                                                      dialog_->RefreshCheckBox(), dialog_->PingCheckBox(),
                                                      dialog_->StatusBar()})
      EXPECT_TRUE(window.contains(w->geometry())) << w->accessibleName().toStdString();
  }

  testing::MiniInstallation installation_;
  std::unique_ptr<CDovraneDlg> dialog_;
  CDovraneTabCtrl* tab_ = nullptr;
};

TEST_F(DovraneTabCtrlTest, ShrunkToTheMinimumEverythingStaysInside) {
  dialog_->resize(300, 200);
  EXPECT_EQ(dialog_->size(), QSize(640, 400));
  ExpectEverythingInside();
  dialog_->resize(1000, 700);
  EXPECT_EQ(tab_->ProjectTree()->geometry().right() + 1, tab_->width() - 10);
  EXPECT_EQ(tab_->HostTree()->geometry().bottom() + 1, tab_->height() - 20);
  ExpectEverythingInside();
}

// As xdotool windowsize does without a window manager: the window system
// makes the window smaller than its minimum whatever the hint says.
TEST_F(DovraneTabCtrlTest, TheWindowKeepsItsMinimumWhenTheWindowSystemShrinksIt) {
  dialog_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
  // Where the close button is at the minimum size.
  const QSize start = dialog_->size();
  const QPoint close = dialog_->CloseButton()->pos() + QPoint(640 - start.width(), 400 - start.height());
  QWindow* window = dialog_->windowHandle();
  ASSERT_NE(window, nullptr);
  window->setMinimumSize(QSize(1, 1));
  window->resize(300, 200);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog_->size() == QSize(640, 400); }, 5000)) << dialog_->width();
  ExpectEverythingInside();
  EXPECT_EQ(dialog_->CloseButton()->pos(), close);
}

TEST_F(DovraneTabCtrlTest, ResizingMovesTheButtonsByTheChange) {
  const QPoint close = dialog_->CloseButton()->pos();
  const QPoint check_out = dialog_->CheckOutButton()->pos();
  dialog_->resize(dialog_->width() + 40, dialog_->height() + 30);
  EXPECT_EQ(dialog_->CloseButton()->pos(), close + QPoint(40, 30));
  EXPECT_EQ(dialog_->CheckOutButton()->pos(), check_out + QPoint(40, 30));
  EXPECT_EQ(dialog_->RefreshCheckBox()->y(), tab_->geometry().bottom() + 1 + 7);
}

TEST_F(DovraneTabCtrlTest, DividerStaysBetweenSearchButtonAndLabels) {
  const int search_right = tab_->Button(CDovraneTabCtrl::kSearchButton)->geometry().right() + 1;
  const int widest = tab_->width() - 10 - tab_->PathCaption()->width() - tab_->PathLabel()->width();
  struct Case {
    int x;
    bool accepted;
  };
  const Case cases[] = {{search_right - 1, false}, {search_right, true}, {search_right, false},  // a repeat
                        {300, true},               {widest, true},       {widest + 1, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(tab_->DragDivider(c.x), c.accepted) << c.x;
    if (!c.accepted) continue;
    EXPECT_EQ(tab_->HostTree()->geometry().right() + 1, c.x - 1);
    EXPECT_EQ(tab_->Divider()->x(), c.x);
    EXPECT_EQ(tab_->ProjectTree()->x(), c.x + 3);
    EXPECT_EQ(tab_->PathCaption()->x(), c.x + 3);
  }
}

TEST_F(DovraneTabCtrlTest, MouseDragsTheDividerAndANarrowerWindowPullsItBack) {
  CDivider* divider = tab_->Divider();
  QTest::mousePress(divider, Qt::LeftButton, {}, QPoint(1, 50));
  QTest::mouseMove(divider, QPoint(201, 50));
  QTest::mouseRelease(divider, Qt::LeftButton, {}, QPoint(201, 50));
  EXPECT_EQ(tab_->ProjectTree()->x(), divider->x() + 3);
  EXPECT_GT(divider->x(), 300);
  ASSERT_TRUE(tab_->DragDivider(tab_->width() - 10 - tab_->PathCaption()->width() - tab_->PathLabel()->width()));
  dialog_->resize(640, 400);
  ExpectEverythingInside();
  EXPECT_GE(tab_->ProjectTree()->width(), tab_->PathCaption()->width() + tab_->PathLabel()->width() - 4);
}

TEST_F(DovraneTabCtrlTest, DataPathLabelGrowsWithItsTextAndSwitchesNewProject) {
  const QString long_path(200, QLatin1Char('S'));
  tab_->SetDataPath(long_path, false);
  EXPECT_EQ(tab_->PathLabel()->width(), tab_->PathLabel()->fontMetrics().horizontalAdvance(long_path));
  EXPECT_FALSE(tab_->Button(CDovraneTabCtrl::kNewProjectButton)->isEnabled());
  tab_->SetDataPath(QStringLiteral("SRV2"), true);
  EXPECT_TRUE(tab_->Button(CDovraneTabCtrl::kNewProjectButton)->isEnabled());
  dialog_->ShowItemInStatusBar(nullptr, {});
  EXPECT_EQ(dialog_->StatusTexts().value(0), QStringLiteral("SRV2"));
}

TEST_F(DovraneTabCtrlTest, SearchRowButtonsRunTheirCommandsAndRefillIsQueued) {
  std::vector<int> ran;
  for (int id : {CDovraneTabCtrl::kSearchButton, CDovraneTabCtrl::kPathButton, CDovraneTabCtrl::kNewProjectButton})
    tab_->SetCommand(id, [&ran, id] { ran.push_back(id); });
  QTest::mouseClick(tab_->Button(CDovraneTabCtrl::kPathButton), Qt::LeftButton);
  QTest::mouseClick(tab_->Button(CDovraneTabCtrl::kSearchButton), Qt::LeftButton);
  EXPECT_EQ(ran, (std::vector<int>{CDovraneTabCtrl::kPathButton, CDovraneTabCtrl::kSearchButton}));
  EXPECT_FALSE(tab_->Button(CDovraneTabCtrl::kSearchButton)->toolTip().isEmpty());
  QSignalSpy filled(dialog_.get(), &CDovraneDlg::TreesFilled);
  tab_->RequestRefill();
  EXPECT_EQ(filled.count(), 0);  // not while the asking command still runs
  EXPECT_TRUE(filled.wait(5000));
}

}  // namespace
}  // namespace dovrane::ui
