#include "ui/search_dlg.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_kind.h"
#include "tree/project_tree_model_qt.h"
#include "tree/tree_fixture.h"

namespace dovrane::ui {
namespace {

class SearchDlgTest : public ::testing::Test {
 protected:
  SearchDlgTest() : host_tree(1) {
    model.SetTable(fixture.Build());
    host_tree.setModel(&model);
  }
  std::string Selected() { return host_tree.GetItemText(host_tree.GetSelectedItem()); }

  tree::TreeFixture fixture;
  tree::ProjectTreeModel model;
  tree::CDovraneTreeCtrl host_tree;
  TreeSearch search{&host_tree, nullptr};
  QSignalSpy finished{&search, &TreeSearch::finished};
};

TEST_F(SearchDlgTest, ContinueStepsThroughEveryMatchAndEndsWithTheBeep) {
  search.Start("*TA*", tree::kMaskAllItems);
  EXPECT_EQ(Selected(), "Delta");
  EXPECT_TRUE(search.Box()->isVisible());
  QTest::mouseClick(search.Box()->ContinueButton(), Qt::LeftButton);
  EXPECT_EQ(Selected(), "Beta one");
  EXPECT_TRUE(host_tree.isExpanded(host_tree.GetSelectedItem().parent()));
  QTest::mouseClick(search.Box()->ContinueButton(), Qt::LeftButton);
  EXPECT_EQ(Selected(), "Zeta");
  QTest::mouseClick(search.Box()->ContinueButton(), Qt::LeftButton);
  ASSERT_EQ(finished.count(), 1);
  EXPECT_FALSE(finished[0][0].toModelIndex().isValid());
  EXPECT_TRUE(finished[0][1].toBool());
  EXPECT_EQ(Selected(), "Zeta");  // where the last match put it
  EXPECT_FALSE(search.Box()->isVisible());
}

TEST_F(SearchDlgTest, EscapeStopsAtTheCurrentMatchWithoutBeep) {
  search.Start("n?ta", tree::kMaskAllItems);  // no match: "?" needs a character
  ASSERT_EQ(finished.count(), 1);
  EXPECT_TRUE(finished[0][1].toBool());
  search.Start("gamma", tree::kMaskAllItems);
  QTest::keyClick(search.Box(), Qt::Key_Escape);
  ASSERT_EQ(finished.count(), 2);
  EXPECT_EQ(finished[1][0].toModelIndex().data().toString(), "Gamma");
  EXPECT_FALSE(finished[1][1].toBool());
  EXPECT_EQ(Selected(), "Gamma");
}

TEST_F(SearchDlgTest, EmptyTextOnlyBeepsAndARefillEndsTheWalk) {
  host_tree.SelectItem(model.HostIndex("SRV2"));
  search.Start("", tree::kMaskAllItems);
  ASSERT_EQ(finished.count(), 1);
  EXPECT_TRUE(finished[0][1].toBool());
  EXPECT_EQ(Selected(), "SRV2");
  search.Start("a", tree::kMaskAllItems);
  ASSERT_TRUE(search.Running());
  model.SetTable(fixture.Build());  // the walk must not read the old records
  EXPECT_FALSE(search.Running());
  EXPECT_EQ(finished.count(), 2);
}

}  // namespace
}  // namespace dovrane::ui
