#include "tree/project_trees_qt.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <QAccessible>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "platform/fault_injection_env.h"
#include "platform/threads_at_large.h"
#include "support/stall_bound.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_kind.h"
#include "tree/tree_fixture.h"

namespace dovrane::tree {
namespace {

// The longest gap between two turns of the event loop while it runs.
class StallMeter {
 public:
  StallMeter() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (clock_.isValid()) longest_ = std::max(longest_, clock_.restart());
      else clock_.start();
    });
    timer_.start(0);
  }
  qint64 LongestMs() const { return longest_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

class ProjectTreesTest : public ::testing::Test {
 protected:
  ProjectTreesTest() : host_tree(1), project_tree(0) {
    // Neither SRV3 (projects, so not pinged) nor SRV4 (data.cfg only) answers.
    trees.SetChecks([](const std::string& host, int) { return host == "SRV3" || host == "SRV4" ? 10060 : 0; }, 300);
    trees.AttachViews(&host_tree, &project_tree);
    trees.SetPingPublisher([this](std::vector<std::string> names) {
      published = std::move(names);
      return true;
    });
  }
  // Refills and waits (bounded) until the fill and every host's checks have arrived.
  void RefillAndWait(const std::string& data_path, int hosts = 3) {
    QSignalSpy checked(&trees, &ProjectTrees::hostChecked);
    QSignalSpy filled(&trees, &ProjectTrees::refilled);
    trees.Refill(data_path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() == 1 && checked.count() == hosts; }, 5000));
  }
  uint32_t KindOf(const QModelIndex& index) { return host_tree.GetItemData(index); }

  TreeFixture fixture;
  ProjectTrees trees;
  CDovraneTreeCtrl host_tree, project_tree;
  std::vector<std::string> published;
};

TEST_F(ProjectTreesTest, FillShowsTheCurrentHostAndTheChecksUpdateTheItems) {
  fixture.small.dir.Write("SRV1/cad/Net/SRV2.out", "out");
  fixture.small.dir.Write("SRV1/cad/Net/data.cfg", "SRV1 \\cad\nSRV2 \\cad\nSRV4 \\cad\n");
  fixture.HoldLockFile();
  RefillAndWait("", 4);
  EXPECT_EQ(trees.CurrentHost(), "SRV2");  // this computer
  EXPECT_EQ(project_tree.GetItemText(project_tree.GetRootItem()), "Alpha");
  EXPECT_EQ(KindOf(trees.model()->HostIndex("SRV2")), kKindDataHostOut);
  EXPECT_EQ(KindOf(trees.model()->HostIndex("SRV3")), kKindDataHost);
  EXPECT_EQ(KindOf(trees.model()->index(0, 0, trees.model()->HostIndex("SRV3"))), kKindProject);
  EXPECT_EQ(KindOf(trees.model()->HostIndex("SRV4")), kKindDataHostDown);
  EXPECT_EQ(KindOf(trees.model()->index(1, 0, trees.model()->HostIndex("SRV1"))), kKindProjectInUse);
  // The checked-out host is not pinged.
  EXPECT_EQ(published, (std::vector<std::string>{"SRV1", "SRV3", "SRV4"}));
}

TEST_F(ProjectTreesTest, FirstFillShowsTheHostItSelectedInTheStatusBar) {
  QSignalSpy shown(&trees, &ProjectTrees::statusBarTextsChanged);
  RefillAndWait("");
  ASSERT_GE(shown.count(), 1);
  QStringList parts = shown.last().at(0).toStringList();
  ASSERT_EQ(parts.size(), 3);  // the host, its project count, its project directory
  EXPECT_EQ(parts, trees.StatusBarTexts(host_tree.GetSelectedItem()));
  EXPECT_EQ(parts[0], QStringLiteral("SRV2"));
  EXPECT_TRUE(parts[1].startsWith(QStringLiteral("3 ")));
}

// A refill asked for while one runs (the window's own change, seen by a check
// whose fill had already read the administration) is not lost: it follows.
TEST_F(ProjectTreesTest, ARefillAskedForWhileOneRunsFollowsIt) {
  QSignalSpy filled(&trees, &ProjectTrees::refilled);
  trees.Refill("SRV2");
  // The fill above may have read the administration already.
  fixture.small.WriteAdministration({testing::SmallInstallation::Record("Alpha", 1, "SRV2"),
                                     testing::SmallInstallation::Record("Late", 7, "SRV2")},
                                    7);
  trees.Refill("SRV2");
  ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 2; }, 5000)) << filled.count();
  const QModelIndex srv2 = trees.model()->HostIndex("SRV2");
  ASSERT_EQ(trees.model()->rowCount(srv2), 2);
  EXPECT_EQ(trees.model()->index(1, 0, srv2).data().toString().trimmed(), QStringLiteral("Late"));
}

// After a fill for another host (this computer's, after a check-out) both
// trees show that host: the host tree does not stay on the one before.
TEST_F(ProjectTreesTest, AFillForAnotherHostSelectsItInTheHostTree) {
  RefillAndWait("SRV1");
  ASSERT_EQ(host_tree.GetSelectedItem(), trees.model()->HostIndex("SRV1"));
  RefillAndWait("SRV2");
  EXPECT_EQ(project_tree.rootIndex(), trees.model()->HostIndex("SRV2"));
  EXPECT_EQ(host_tree.GetSelectedItem(), trees.model()->HostIndex("SRV2"));
}

TEST_F(ProjectTreesTest, RefillKeepsExpansionSelectionAndTheShownHost) {
  RefillAndWait("SRV1");
  QModelIndex srv2 = trees.model()->HostIndex("SRV2");
  host_tree.ExpandItem(srv2, true);
  project_tree.SelectItem(project_tree.GetRootItem());  // Gamma
  project_tree.ExpandItem(project_tree.GetRootItem(), true);
  RefillAndWait("SRV1");
  EXPECT_TRUE(host_tree.IsItemExpanded(trees.model()->HostIndex("SRV2")));
  QModelIndex selected = project_tree.GetSelectedItem();
  EXPECT_EQ(project_tree.GetItemText(selected), "Gamma");
  EXPECT_TRUE(project_tree.IsItemExpanded(selected));
  EXPECT_EQ(project_tree.rootIndex(), trees.model()->HostIndex("SRV1"));
}

// The directory is looked up once, but whether it can be reached is asked at
// every selection; the status bar shows it as soon as it is known.
TEST_F(ProjectTreesTest, SelectingAProjectChecksItsDirectoryEveryTime) {
  RefillAndWait("SRV2");
  QSignalSpy looked(&trees, &ProjectTrees::directoryChecked);
  QSignalSpy shown(&trees, &ProjectTrees::statusBarTextsChanged);
  QModelIndex alpha = project_tree.GetRootItem();
  QModelIndex epsilon = alpha.siblingAtRow(2);
  auto select = [&](const QModelIndex& item) {
    const int before = looked.count();
    project_tree.SelectItem(item);
    ASSERT_TRUE(QTest::qWaitFor([&] { return looked.count() > before; }, 5000));
  };
  select(epsilon);
  EXPECT_EQ(project_tree.GetItemData(epsilon), kKindProjectUnreachable);
  EXPECT_EQ(trees.Marks(), std::set<uint32_t>{5});
  select(alpha);
  std::string directory = project_tree.GetItemText(project_tree.GetChildItem(alpha));
  EXPECT_NE(directory.find("n0000001.prj"), std::string::npos);
  ASSERT_GE(shown.count(), 1);
  EXPECT_EQ(shown.last().at(0).toStringList().value(1).toStdString(), directory);

  // Alpha's folder goes away after its path was known, and comes back.
  const std::string folder = fixture.small.Native("SRV2/cad/Prj/n0000001.prj");
  ASSERT_EQ(std::rename(folder.c_str(), (folder + ".away").c_str()), 0);
  select(epsilon);
  select(alpha);
  EXPECT_EQ(project_tree.GetItemData(alpha), kKindProjectUnreachable);
  EXPECT_EQ(trees.Marks(), (std::set<uint32_t>{1, 5}));
  ASSERT_EQ(std::rename((folder + ".away").c_str(), folder.c_str()), 0);
  select(epsilon);
  select(alpha);
  EXPECT_EQ(project_tree.GetItemData(alpha), kKindProject);
  EXPECT_EQ(trees.Marks(), std::set<uint32_t>{5});
}

TEST_F(ProjectTreesTest, ASlowHostNeverBlocksTheWindow) {
  platform::FaultInjectionEnv slow;
  platform::Env* previous = platform::SetCurrentEnv(&slow);
  slow.SetPathDelay(fixture.small.Native("SRV1/cad/Prj"), 500);
  StallMeter meter;
  RefillAndWait("SRV1");
  // Select and expand the slow host's projects while its checks hang.
  for (QModelIndex item = project_tree.GetRootItem(); item.isValid(); item = project_tree.GetNextSiblingItem(item)) {
    project_tree.SelectItem(item);
    project_tree.ExpandItem(item, true);
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return trees.PendingChecks() == 0; }, 3000));
  EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs);
  EXPECT_EQ(KindOf(trees.model()->HostIndex("SRV1")), kKindAdminHostDown);
  trees.SetChecks(nullptr, 300);
  // A check stuck longer than the worker waits is left behind: it ends before the Env goes.
  EXPECT_TRUE(QTest::qWaitFor([] { return platform::ThreadsAtLarge() == 0; }, 5000));
  platform::SetCurrentEnv(previous);
}

// A screen reader may ask for the rows the moment a refill has landed, before
// the views have laid themselves out again: what it reads must still be there.
TEST_F(ProjectTreesTest, AScreenReaderReadingRightAfterARefillFindsLiveRows) {
  RefillAndWait("SRV2");
  project_tree.show();
  host_tree.show();
  project_tree.ExpandItem(project_tree.GetRootItem(), true);
  host_tree.ExpandItem(trees.model()->HostIndex("SRV2"), true);
  host_tree.ExpandItem(trees.model()->index(0, 0, trees.model()->HostIndex("SRV2")), true);
  QCoreApplication::processEvents();
  std::vector<QString> read;
  auto read_all = [&read](QWidget* view) {
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(view);
    if (!tree) return;
    for (int i = 0; i < tree->childCount(); ++i) {
      if (QAccessibleInterface* child = tree->child(i)) read.push_back(child->text(QAccessible::Name));
    }
  };
  QObject::connect(&trees, &ProjectTrees::refilled, [&] {
    read_all(&project_tree);
    read_all(&host_tree);
  });
  // Another workstation deleted the project shown, with its owner row open.
  fixture.small.WriteAdministration({testing::SmallInstallation::Record("Other", 9, "SRV3")}, 9);
  RefillAndWait("SRV2");
  EXPECT_FALSE(read.empty());
  for (const QString& text : read) EXPECT_FALSE(text.contains(QChar(0xfffd))) << text.toStdString();
}

}  // namespace
}  // namespace dovrane::tree
