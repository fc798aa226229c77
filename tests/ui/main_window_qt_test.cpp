#include "ui/main_window_qt.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "support/temp_dir.h"
#include "support/sample_site.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_commands.h"
#include "ui/dovrane_tab_ctrl.h"
#include "ui/tree_commands_qt.h"
#include "tree/project_tree_model_qt.h"
#include "tree/project_trees_qt.h"

namespace dovrane::ui {
namespace {

// The window on a whole sample installation while the command-line program
// changes it from outside.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { site_.Activate(); }

  // Whether the model shows a project of this name below host.
  bool Shows(MainWindow& window, const std::string& host, const std::string& name) {
    tree::ProjectTreeModel* model = window.trees().model();
    const QModelIndex h = model->HostIndex(host);
    for (int row = 0; h.isValid() && row < model->rowCount(h); ++row) {
      if (model->index(row, 0, h).data().toString().trimmed() == QString::fromStdString(name)) return true;
    }
    return false;
  }

  testing::SampleSite site_{6, 2};
};

TEST_F(MainWindowTest, TheRefreshCheckShowsWhatTheCommandLineChanged) {
  MainWindow window;
  CDovraneDlg& dialog = window.dialog();
  QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.RefreshCheckRunning(); }, 10000));
  ASSERT_FALSE(Shows(window, "SRV2", "Outside made"));

  // Each change by another program is seen by the next check, which refills.
  struct Step {
    std::vector<std::string> args;
    const char* host;
    bool shown;
  };
  for (const Step& step : {Step{{"Outside made", "-create", "SRV2"}, "SRV2", true},
                           Step{{"Outside made", "-move_y", "SRV1"}, "SRV1", true},
                           Step{{"Outside made", "-erase_y"}, "SRV1", false}}) {
    ASSERT_EQ(site_.Run(step.args).status, 0) << step.args[1];
    const int before = filled.count();
    dialog.RefreshCheck(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Shows(window, step.host, "Outside made") == step.shown; }, 10000))
        << step.args[1] << " fills " << filled.count() - before;
    if (step.args[1] == "-move_y") {
      EXPECT_FALSE(Shows(window, "SRV2", "Outside made"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.RefreshCheckRunning(); }, 10000));
  }
}


// The window's own writing commands and the command-line program on one
// installation at the same time: every project of both is registered once,
// and the update afterwards has nothing to repair.
TEST_F(MainWindowTest, TheWindowsCommandsBesideTheCommandLineLoseNothing) {
  MainWindow window;
  window.trees().SetChecks([](const std::string&, int) { return 0; }, 2000);
  CDovraneDlg& dialog = window.dialog();
  QSignalSpy checked(&window.trees(), &tree::ProjectTrees::hostChecked);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return checked.count() >= 2; }, 10000));

  constexpr int kOutside = 6, kInside = 3;
  std::atomic<bool> done{false};
  std::vector<int> statuses(kOutside, -1);
  std::thread outside([&] {
    for (int i = 0; i < kOutside; ++i)
      statuses[i] = site_.Run({"Outside " + std::to_string(i), "-create", "SRV2"}).status;
    done = true;
  });
  tree::CDovraneTreeCtrl* hosts = dialog.TabCtrl()->HostTree();
  for (int i = 0; i < kInside; ++i) {
    hosts->SelectItem(window.trees().model()->HostIndex("SRV1"));
    window.commands().RunCommand(hosts, tree::kCmdNewProject);
    // The new project's name editor opens once it is registered; Escape keeps the name.
    ASSERT_TRUE(QTest::qWaitFor([&] { return hosts->EditingLabel(); }, 30000)) << i;
    QTest::keyClick(hosts->LabelEditor(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !hosts->EditingLabel() && !window.commands().Busy(); }, 10000));
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 120000));
  outside.join();
  EXPECT_EQ(statuses, std::vector<int>(kOutside, 0));

  const std::string admin = testing::ReadFile(site_.NetDir() + "/project.dat");
  for (int i = 0; i < kOutside; ++i) EXPECT_NE(admin.find("Outside " + std::to_string(i)), std::string::npos) << i;
  size_t made = 0;
  for (size_t at = admin.find("New project"); at != std::string::npos; at = admin.find("New project", at + 1)) ++made;
  EXPECT_EQ(made, static_cast<size_t>(kInside));
  ASSERT_EQ(site_.Run({"-update"}).status, 0);
  EXPECT_EQ(testing::ReadFile(site_.NetDir() + "/project.dat"), admin);
}

}  // namespace
}  // namespace dovrane::ui
