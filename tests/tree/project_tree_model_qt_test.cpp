#include "tree/project_tree_model_qt.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "services/ui_text_table.h"
#include "tree/item_kind.h"
#include "tree/tree_fixture.h"
#include "tree/tree_search.h"

namespace dovrane::tree {
namespace {

TEST(ProjectTreeModelTest, TesterWalksAFilledModelAndItsRefill) {
  TreeFixture fixture;
  ProjectTreeModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  model.SetTable(fixture.Build());
  ASSERT_EQ(model.rowCount(), 3);
  QModelIndex srv2 = model.index(1, 0);
  EXPECT_EQ(model.rowCount(srv2), 3);
  EXPECT_EQ(model.rowCount(model.index(0, 0, srv2)), 4);  // directory, owner, two members
  EXPECT_EQ(model.index(2, 0, model.index(0, 0, srv2)).data().toString(), "MUELLER");
  model.SetTable(fixture.Build());
}

TEST(ProjectTreeModelTest, PersistentIndexesFollowTheirItemsAcrossRefill) {
  TreeFixture fixture;
  ProjectTreeModel model;
  model.SetTable(fixture.Build());
  QModelIndex srv2 = model.HostIndex("SRV2");
  QPersistentModelIndex owner = model.index(1, 0, model.index(1, 0, srv2));  // Beta one's owner
  QPersistentModelIndex epsilon = model.index(2, 0, srv2);
  QPersistentModelIndex host = srv2;
  // Alpha is gone, Beta one moves up a row; Epsilon is gone.
  auto records = std::vector<extlib::PRJ>{testing::SmallInstallation::Record("Beta one", 2, "SRV2"),
                                          testing::SmallInstallation::Record("Gamma", 3, "SRV1")};
  fixture.small.WriteAdministration(records, 6);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
  model.SetTable(fixture.Build());
  EXPECT_EQ(inserted.count(), 0);
  EXPECT_EQ(layout.count(), 1);
  ASSERT_TRUE(owner.isValid());
  EXPECT_EQ(owner.parent().row(), 0);
  EXPECT_EQ(owner.parent().data().toString(), "Beta one");
  EXPECT_FALSE(epsilon.isValid());
  EXPECT_EQ(host.data().toString(), "SRV2");
}

TEST(ProjectTreeModelTest, StatusChangeEmitsDataChangedForThatRowOnly) {
  TreeFixture fixture;
  ProjectTreeModel model;
  model.SetTable(fixture.Build());
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  HostRecord* srv3 = model.table().FindHost("SRV3");
  srv3->kind = kKindDataHostDown;
  srv3->image = KindImage(srv3->kind);
  model.NodeChanged(srv3);
  ASSERT_EQ(changed.count(), 1);
  QModelIndex index = model.HostIndex("SRV3");
  EXPECT_EQ(changed[0][0].toModelIndex(), index);
  EXPECT_EQ(changed[0][1].toModelIndex(), index);
  EXPECT_EQ(index.data(ProjectTreeModel::kKindRole).toUInt(), kKindDataHostDown);
  EXPECT_EQ(index.data(ProjectTreeModel::kImageRole).toInt(), 16);
}

TEST(ProjectTreeModelTest, TooltipsAndIconsByKind) {
  TreeFixture fixture;
  ProjectTreeModel model;
  model.SetTable(fixture.Build());
  QModelIndex alpha = model.index(0, 0, model.HostIndex("SRV2"));
  auto tip = [](unsigned item) { return QString::fromStdString(services::UiText(1015, item)); };
  EXPECT_EQ(alpha.data(Qt::ToolTipRole).toString(), tip(4102));
  EXPECT_EQ(model.index(0, 0, alpha).data(Qt::ToolTipRole).toString(), tip(4112));
  EXPECT_EQ(model.HostIndex("SRV1").data(Qt::ToolTipRole).toString(), tip(4104));
  EXPECT_EQ(model.index(1, 0, alpha).data(ProjectTreeModel::kImageRole).toInt(), kImageOwner);
  EXPECT_EQ(ProjectTreeModel::IconPath(4), ":/icons/tree/04.svg");
  EXPECT_EQ(ProjectTreeModel::IconPath(18), ":/icons/tree/18.svg");
}

// SRV2 holds Alpha, Beta one and Epsilon; with batches of two, Epsilon is
// not given to the views until someone asks for it.
// (The model tester fetches every row it can, so it checks these models
// after the fact.)
TEST(ProjectTreeModelTest, AProjectShownLateHasItsTextKindAndChildren) {
  TreeFixture fixture;
  ProjectTreeModel model;
  model.SetFetchBatch(2);
  model.SetTable(fixture.Build({5}));
  const QModelIndex srv2 = model.HostIndex("SRV2");
  ASSERT_EQ(model.rowCount(srv2), 2);
  EXPECT_TRUE(model.canFetchMore(srv2));
  EXPECT_FALSE(model.canFetchMore(model.HostIndex("SRV3")));  // one project: all shown
  const HostRecord* host = model.table().FindHost("SRV2");
  const ProjectRecord* epsilon = &host->projects[2];
  EXPECT_FALSE(model.IndexOf({epsilon, -1}).isValid());
  // A change of a project not shown yet is drawn when it is shown.
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.NodeChanged(epsilon);
  EXPECT_EQ(changed.count(), 0);

  // The search walks the table, not the rows shown: it reaches Epsilon.
  SearchWalk walk(model.table(), {}, "epsilon", kMaskAllItems);
  const ItemRef found = walk.NextMatch();
  ASSERT_EQ(found.node, epsilon);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  const QModelIndex item = model.ShownIndex(found);
  ASSERT_TRUE(item.isValid());
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(model.rowCount(srv2), 3);
  EXPECT_FALSE(model.canFetchMore(srv2));
  EXPECT_EQ(item.row(), 2);
  EXPECT_EQ(item.parent(), srv2);
  EXPECT_EQ(item.data().toString(), "Epsilon");
  EXPECT_EQ(item.data(ProjectTreeModel::kKindRole).toUInt(), kKindProjectUnreachable);
  EXPECT_EQ(item.data(ProjectTreeModel::kImageRole).toInt(), kImageProjectUnreachable);
  // Its directory (not looked up yet) and its owner, the same user as Alpha's.
  ASSERT_EQ(model.rowCount(item), 2);
  EXPECT_EQ(model.index(0, 0, item).data(ProjectTreeModel::kKindRole).toUInt(), kKindDirectory);
  const QString owner = model.index(1, 0, model.index(0, 0, srv2)).data().toString();
  EXPECT_FALSE(owner.isEmpty());
  EXPECT_EQ(model.index(1, 0, item).data().toString(), owner);
  model.NodeChanged(epsilon);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed[0][0].toModelIndex(), item);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
}

TEST(ProjectTreeModelTest, ARefillKeepsSelectionAndExpansionPastTheFirstBatch) {
  TreeFixture fixture;
  ProjectTreeModel model;
  model.SetFetchBatch(2);
  model.SetTable(fixture.Build());
  QTreeView view;
  view.setModel(&model);
  const QModelIndex epsilon = model.ShownIndex({&model.table().FindHost("SRV2")->projects[2], -1});
  view.expand(model.HostIndex("SRV2"));
  view.expand(epsilon);
  view.selectionModel()->setCurrentIndex(model.index(1, 0, epsilon), QItemSelectionModel::ClearAndSelect);
  // Two projects come before Epsilon on SRV2 now: it moves to row 4, past
  // two batches of the new table.
  auto records = std::vector<extlib::PRJ>{testing::SmallInstallation::Record("Aa", 7, "SRV2"),
                                          testing::SmallInstallation::Record("Ab", 8, "SRV2"),
                                          testing::SmallInstallation::Record("Alpha", 1, "SRV2"),
                                          testing::SmallInstallation::Record("Beta one", 2, "SRV2"),
                                          testing::SmallInstallation::Record("Epsilon", 5, "SRV2")};
  fixture.small.WriteAdministration(records, 8);
  model.SetTable(fixture.Build());
  const QModelIndex srv2 = model.HostIndex("SRV2");
  ASSERT_EQ(model.rowCount(srv2), 5);
  const QModelIndex current = view.selectionModel()->currentIndex();
  ASSERT_TRUE(current.isValid());
  EXPECT_EQ(current.row(), 1);  // the owner
  EXPECT_EQ(current.parent().data().toString(), "Epsilon");
  EXPECT_EQ(current.parent().row(), 4);
  EXPECT_TRUE(view.selectionModel()->isSelected(current));
  EXPECT_TRUE(view.isExpanded(current.parent()));
  EXPECT_TRUE(view.isExpanded(srv2));
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
}

TEST(ProjectTreeModelTest, AViewFetchesTheRowsItShows) {
  TreeFixture fixture;
  ProjectTreeModel model;
  model.SetFetchBatch(1);
  model.SetTable(fixture.Build());
  const QModelIndex srv2 = model.HostIndex("SRV2");
  ASSERT_EQ(model.rowCount(srv2), 1);
  // A list with room for many rows asks for them until it is full or the host has no more.
  QTreeView projects;
  projects.setModel(&model);
  projects.setRootIndex(srv2);
  projects.resize(300, 400);
  projects.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&projects));
  QTRY_COMPARE(model.rowCount(srv2), 3);
  // Opening a host in the host tree gives it more rows.
  model.SetTable(fixture.Build());
  QTreeView hosts;
  hosts.setModel(&model);
  const QModelIndex srv1 = model.HostIndex("SRV1");
  ASSERT_EQ(model.rowCount(srv1), 1);
  hosts.doItemsLayout();  // as on its first paint
  hosts.expand(srv1);
  EXPECT_EQ(model.rowCount(srv1), 2);
}

}  // namespace
}  // namespace dovrane::tree
