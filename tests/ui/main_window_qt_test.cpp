#include "ui/main_window_qt.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "support/sample_site.h"
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

}  // namespace
}  // namespace dovrane::ui
