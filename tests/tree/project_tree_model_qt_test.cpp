#include "tree/project_tree_model_qt.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "services/ui_text_table.h"
#include "tree/item_kind.h"
#include "tree/tree_fixture.h"

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

}  // namespace
}  // namespace dovrane::tree
