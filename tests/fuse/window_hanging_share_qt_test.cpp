// The window never waits on a share: SRV3's share hangs in the kernel (the
// test file system of the share stage) while the window fills, expands,
// checks, measures a project's properties and copies a project onto it.
// The event loop keeps turning, another host answers, and the window goes
// at once although its workers are still stuck. Run by the CTest test
// fuse_stage; skipped elsewhere.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/fault_share.h"
#include "support/fault_share_qt.h"
#include "support/sample_site.h"
#include "support/stall_bound.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_commands.h"
#include "tree/project_tree_model_qt.h"
#include "tree/project_trees_qt.h"
#include "ui/dovrane_dlg.h"
#include "ui/dovrane_tab_ctrl.h"
#include "services/gui_messenger_qt.h"
#include "ui/main_window_qt.h"
#include "ui/stall_meter_qt.h"
#include "tree/tree_commands_qt.h"
#include "tree/tree_transfer_qt.h"
#include "platform/threads_at_large.h"

namespace dovrane::ui {
namespace {

class FuseStageWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("DOVRANE_FUSE_STAGE");
    if (!stage || !*stage) GTEST_SKIP() << "no test share: run the CTest test fuse_stage";
    if (std::string why = testing::FaultShare::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }
  // The first project row below host.
  static QModelIndex FirstProject(MainWindow& window, const std::string& host) {
    tree::ProjectTreeModel* model = window.trees().model();
    return model->index(0, 0, model->HostIndex(host));
  }
};

TEST_F(FuseStageWindow, AHangingShareNeverHoldsTheWindow) {
  testing::SampleSite site(12, 3);
  testing::FaultShare share(site.unc_root() + "/SRV3/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  share.Control("dead hang");

  auto window = std::make_unique<MainWindow>();
  // The sample's hosts are made up: every ping answers.
  window->trees().SetChecks([](const std::string&, int) { return 0; }, 2000);
  window->commands().SetPing([](const std::string&) { return 0; });
  // A box the window shows is answered (Yes, else OK) and noted.
  std::vector<std::string> boxes;
  QObject::connect(&window->messenger(), &services::GuiMessenger::boxShown, [&boxes](QMessageBox* box) {
    boxes.push_back(box->text().toStdString());
    QAbstractButton* yes = box->button(QMessageBox::Yes);
    QAbstractButton* button = yes ? yes : box->button(QMessageBox::Ok);
    if (button) QTimer::singleShot(0, box, [button] { button->click(); });
  });
  // Any other dialog (the properties, once measured) is closed as it opens.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (modal && !qobject_cast<QMessageBox*>(modal)) modal->reject();
  });
  closer.start(20);
  CDovraneDlg& dialog = window->dialog();
  tree::CDovraneTreeCtrl* hosts = dialog.TabCtrl()->HostTree();
  StallMeter meter;
  meter.Start();
  QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 10000));

  // Expand, select and look at SRV3 and one of its projects: checks, a
  // directory look-up and the properties' measuring all meet the hang.
  tree::ProjectTreeModel* model = window->trees().model();
  const QModelIndex srv3 = model->HostIndex("SRV3");
  ASSERT_TRUE(srv3.isValid());
  hosts->ExpandItem(srv3, true);
  hosts->SelectItem(srv3);
  const QModelIndex on_srv3 = FirstProject(*window, "SRV3");
  ASSERT_TRUE(on_srv3.isValid());
  hosts->SelectItem(on_srv3);
  hosts->ExpandItem(on_srv3, true);
  EXPECT_TRUE(testing::WaitForHungWhileTurning(share, 1, 5000)) << "nothing reached the hanging share";
  window->commands().RunCommand(hosts, tree::kCmdProperties);
  // A copy of a project of SRV1 onto SRV3.
  const QModelIndex on_srv1 = FirstProject(*window, "SRV1");
  ASSERT_TRUE(on_srv1.isValid());
  ASSERT_TRUE(window->transfer().MarkForCopy(on_srv1));
  EXPECT_TRUE(window->transfer().PasteOnto(model->HostIndex("SRV3")));

  // Another host stays usable: its project's directory is looked up.
  QSignalSpy looked(&window->trees(), &tree::ProjectTrees::directoryChecked);
  const QModelIndex other = FirstProject(*window, "SRV1");
  const QString other_name = other.data().toString();
  hosts->SelectItem(other);
  hosts->ExpandItem(other, true);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        for (const QList<QVariant>& args : looked)
          if (args.at(0).toString().trimmed() == other_name.trimmed()) return true;
        return false;
      },
      3000))
      << "SRV1's project was not looked at while SRV3 hangs";
  // For 300 ms more the loop keeps turning while everything on SRV3 waits:
  // the meter below sees a stall should one come in that time.
  QTest::qWait(300);
  EXPECT_GE(share.Hung(), 2) << "the window's work on SRV3 should be stuck in the share";
  EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs);
  for (const std::string& text : boxes) std::printf("box: %s\n", text.c_str());

  // The share comes back; the window's work on it ends.
  share.Control("clear");
  EXPECT_TRUE(QTest::qWaitFor([&] { return share.Hung() == 0 && !window->commands().Busy(); }, 10000));
  dialog.close();
  window.reset();
}

// Closing while the checks of a host (its disk, a project's directory) are
// stuck in the kernel: the window goes at once and leaves them behind.
TEST_F(FuseStageWindow, ClosingLeavesChecksStuckOnTheShareBehind) {
  testing::SampleSite site(12, 3);
  testing::FaultShare share(site.unc_root() + "/SRV3/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  share.Control("dead hang");

  auto window = std::make_unique<MainWindow>();
  window->trees().SetChecks([](const std::string&, int) { return 0; }, 2000);
  CDovraneDlg& dialog = window->dialog();
  tree::CDovraneTreeCtrl* hosts = dialog.TabCtrl()->HostTree();
  QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 10000));
  tree::ProjectTreeModel* model = window->trees().model();
  hosts->ExpandItem(model->HostIndex("SRV3"), true);
  const QModelIndex on_srv3 = FirstProject(*window, "SRV3");
  ASSERT_TRUE(on_srv3.isValid());
  hosts->SelectItem(on_srv3);
  hosts->ExpandItem(on_srv3, true);
  ASSERT_TRUE(testing::WaitForHungWhileTurning(share, 1, 5000)) << "nothing reached the hanging share";

  // The window goes at once, its workers left stuck in the kernel.
  QElapsedTimer closing;
  closing.start();
  // Should the window wait for its workers after all, the share comes back
  // after 3 s, so that the test ends with a failure instead of hanging.
  std::mutex mu;
  std::condition_variable done;
  bool closed = false;
  std::thread rescue([&] {
    std::unique_lock lock(mu);
    if (!done.wait_for(lock, std::chrono::seconds(3), [&] { return closed; })) share.Control("release");
  });
  dialog.close();
  window.reset();
  const qint64 took = closing.elapsed();
  {
    std::lock_guard lock(mu);
    closed = true;
  }
  done.notify_all();
  rescue.join();
  EXPECT_LT(took, 1000) << "the window waited for its workers stuck on the share";
  // The share comes back: the workers left behind end without the window.
  share.Control("clear");
  EXPECT_TRUE(QTest::qWaitFor([] { return platform::ThreadsAtLarge() == 0; }, 5000));
  EXPECT_EQ(share.Hung(), 0);
}

}  // namespace
}  // namespace dovrane::ui
