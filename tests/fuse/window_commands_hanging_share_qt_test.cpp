// The window's commands on a host whose share hangs in the kernel (the test
// file system of the share stage): a delete, the properties' measuring, a
// copy and a move onto it, a host check-out. While each waits
// on the share the event loop keeps turning, another host answers, Cancel
// takes the progress window down at once, and the window closes at once
// with the command still stuck. And the same window over a slow line: every
// call of the administration host 50 ms late. Run by the CTest test
// fuse_stage; skipped elsewhere.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "checkout/checkout_comment_dlg.h"
#include "checkout/std_copy_dlg.h"
#include "extlib/installation/settings.h"
#include "platform/system_names.h"
#include "platform/threads_at_large.h"
#include "support/fault_share.h"
#include "support/fault_share_qt.h"
#include "support/sample_site.h"
#include "support/stall_bound.h"
#include "support/temp_dir.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_commands.h"
#include "tree/project_tree_model_qt.h"
#include "tree/project_trees_qt.h"
#include "ui/dovrane_dlg.h"
#include "ui/dovrane_tab_ctrl.h"
#include "tree/host_commands_qt.h"
#include "ui/main_window_qt.h"
#include "services/progress_window_dlg.h"
#include "tree/properties_dlg.h"
#include "ui/stall_meter_qt.h"
#include "tree/tree_commands_qt.h"
#include "tree/tree_transfer_qt.h"

namespace dovrane::ui {
namespace {

// Cancel must take the progress window down within this, the operation
// stuck or not.
constexpr int kCancelBoundMs = 250;

class FuseStageWindowCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("DOVRANE_FUSE_STAGE");
    if (!stage || !*stage) GTEST_SKIP() << "no test share: run the CTest test fuse_stage";
    if (std::string why = testing::FaultShare::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }
  void TearDown() override {
    answerer_.stop();
    if (window_) window_->dialog().close();
    window_.reset();
    // Checks the window left behind still read the installation: it goes after them.
    EXPECT_TRUE(QTest::qWaitFor([] { return platform::ThreadsAtLarge() == 0; }, 20000));
  }

  // The test's installation, kept until the window and its workers are gone.
  template <class... Args>
  testing::SampleSite& Site(Args... args) {
    return site_.emplace(args...);
  }

  // Opens the window on the active installation and waits for its trees;
  // meter (if given) runs from the window's showing on.
  void Open(StallMeter* meter = nullptr) {
    window_ = std::make_unique<MainWindow>();
    // The sample's hosts are made up: every check's ping answers.
    window_->trees().SetChecks([](const std::string&, int) { return 0; }, 2000);
    window_->commands().SetPing([](const std::string&) { return 0; });
    CDovraneDlg& dialog = window_->dialog();
    if (dialog.PingCheckBox()->isChecked()) dialog.PingCheckBox()->click();
    // Boxes get Yes (else OK); the check-out's dialogs are confirmed; the
    // properties are noted and closed; any other dialog is closed.
    QObject::connect(&answerer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (qobject_cast<checkout::CCheckoutCommentDlg*>(modal) || qobject_cast<checkout::CDovraneStdCopyDlg*>(modal)) {
        // Asked again at each turn: the office standard takes OK once its sizes are measured.
        QMetaObject::invokeMethod(modal, "accept", Qt::QueuedConnection);
        return;
      }
      if (!modal || modal->property("answered").toBool()) return;
      modal->setProperty("answered", true);
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        boxes_.push_back(box->text().toStdString());
        QAbstractButton* button = box->button(QMessageBox::Yes);
        if (!button) button = box->button(QMessageBox::Ok);
        if (button) QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
      } else if (auto* other = qobject_cast<QDialog*>(modal)) {
        if (qobject_cast<tree::CDlgProperties*>(other)) ++properties_shown_;
        QMetaObject::invokeMethod(other, "reject", Qt::QueuedConnection);
      }
    });
    answerer_.start(10);
    QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
    if (meter) meter->Start();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 30000));
  }
  MainWindow& window() { return *window_; }
  tree::CDovraneTreeCtrl* hosts() { return window_->dialog().TabCtrl()->HostTree(); }
  tree::ProjectTreeModel* model() { return window_->trees().model(); }
  QModelIndex FirstProject(const std::string& host) { return model()->index(0, 0, model()->HostIndex(host)); }

  // The progress window on screen, or null.
  static services::CProgressWindow* ProgressWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* progress = qobject_cast<services::CProgressWindow*>(w); progress && progress->isVisible()) return progress;
    return nullptr;
  }
  // Presses Cancel of the progress window; the milliseconds until the window
  // is gone, -1 when it stays for 3 s.
  static qint64 CancelTakes() {
    QPointer<services::CProgressWindow> progress = ProgressWindow();
    if (!progress) return -2;
    auto* cancel = progress->findChild<QPushButton*>(QStringLiteral("cancel"));
    if (!cancel || !cancel->isVisible()) return -3;
    QElapsedTimer took;
    took.start();
    QTest::mouseClick(cancel, Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return progress.isNull() || !progress->isVisible(); }, 3000)) return -1;
    return took.elapsed();
  }
  // Another host stays usable: a project of SRV1 is selected, expanded and
  // its directory looked up while SRV3 hangs.
  bool OtherHostAnswers() {
    QSignalSpy looked(&window_->trees(), &tree::ProjectTrees::directoryChecked);
    // Each time another project: one looked up already may not be looked up again.
    const QModelIndex srv1 = model()->HostIndex("SRV1");
    const int rows = model()->rowCount(srv1);
    const QModelIndex other = rows > 0 ? model()->index(other_row_++ % rows, 0, srv1) : QModelIndex();
    if (!other.isValid()) return false;
    const QString name = other.data().toString().trimmed();
    hosts()->SelectItem(other);
    hosts()->ExpandItem(other, true);
    return QTest::qWaitFor(
        [&] {
          for (const QList<QVariant>& args : looked)
            if (args.at(0).toString().trimmed() == name) return true;
          return false;
        },
        3000);
  }
  std::string Boxes() const {
    std::string all;
    for (const std::string& text : boxes_) all += "box: " + text + "\n";
    return all;
  }
  // Closes the window; the milliseconds it took. Should the window wait for
  // its workers after all, the share comes back after 3 s, so that the test
  // ends with a failure instead of hanging.
  qint64 CloseWindow(testing::FaultShare& share) {
    std::mutex mu;
    std::condition_variable done;
    bool closed = false;
    std::thread rescue([&] {
      std::unique_lock lock(mu);
      if (!done.wait_for(lock, std::chrono::seconds(3), [&] { return closed; })) share.Control("release");
    });
    QElapsedTimer closing;
    closing.start();
    window_->dialog().close();
    window_.reset();
    const qint64 took = closing.elapsed();
    {
      std::lock_guard lock(mu);
      closed = true;
    }
    done.notify_all();
    rescue.join();
    return took;
  }
  // Presses the host button of this computer while the share hangs the calls
  // in ops. Once a call hangs, the loop keeps turning, SRV1 still answers
  // (other_host), Cancel takes the progress window down at once while the
  // call still waits in the kernel, and the command ends when the share is back.
  void HostButtonStuckThenCancelled(testing::FaultShare& share, const std::string& ops, bool other_host) {
    QSignalSpy ended(&window().hostCommands(), &tree::HostCommands::commandEnded);
    share.Control("hang " + ops);
    hosts()->SelectItem(model()->HostIndex(platform::ComputerName()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window().dialog().CheckOutButton()->isEnabled(); }, 5000));
    QTest::mouseClick(window().dialog().CheckOutButton(), Qt::LeftButton);
    ASSERT_TRUE(testing::WaitForHungWhileTurning(share, 1, 20000)) << "nothing reached the hanging share\n" << Boxes();
    // From here on the command waits on the share (the questions and dialogs
    // before it are the person's).
    StallMeter meter;
    meter.Start();
    ASSERT_TRUE(QTest::qWaitFor([] { return ProgressWindow() != nullptr; }, 5000)) << "no progress window\n" << Boxes();
    if (other_host) {
      EXPECT_TRUE(OtherHostAnswers()) << "SRV1's project was not looked at meanwhile";
    }
    const qint64 cancel = CancelTakes();
    EXPECT_GE(cancel, 0) << "no Cancel, or the progress window stayed";
    EXPECT_LT(cancel, kCancelBoundMs);
    EXPECT_GE(share.Hung(), 1) << "the command should still wait in the kernel";
    EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs);
    share.Control("clear");
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended.count() >= 1; }, 30000));
    std::printf("%s", Boxes().c_str());
  }
  // The share back: the commands stuck on it end.
  void ShareBack(testing::FaultShare& share) {
    share.Control("clear");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !window_->commands().Busy() && !window_->transfer().Busy() && share.Hung() == 0; }, 20000));
  }

  std::optional<testing::SampleSite> site_;
  std::unique_ptr<MainWindow> window_;
  QTimer answerer_;
  std::vector<std::string> boxes_;
  int properties_shown_ = 0;
  int other_row_ = 0;
};

// A delete, the properties and a copy onto SRV3 each reach the hanging
// share; the loop keeps turning, SRV1 answers, Cancel takes the progress
// window down at once. The delete and the copy stop when the share comes
// back; the cancelled measurement shows no figures afterwards.
TEST_F(FuseStageWindowCommands, CancelOfACommandStuckOnTheShareIsImmediate) {
  testing::SampleSite& site = Site(12, 3);
  testing::FaultShare share(site.unc_root() + "/SRV3/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  Open();
  ASSERT_FALSE(HasFatalFailure());

  struct Step {
    const char* name;
    std::function<void()> start;
  };
  const Step steps[] = {
      {"delete",
       [this] {
         hosts()->SelectItem(FirstProject("SRV3"));
         window().commands().RunCommand(hosts(), tree::kCmdDelete);
       }},
      {"properties",
       [this] {
         // Not the one whose delete was cancelled (it may be half gone).
         const QModelIndex project = model()->index(1, 0, model()->HostIndex("SRV3"));
         hosts()->SelectItem(project);
         hosts()->ExpandItem(project, true);
         window().commands().RunCommand(hosts(), tree::kCmdProperties);
       }},
      {"copy onto it",
       [this] {
         ASSERT_TRUE(window().transfer().MarkForCopy(FirstProject("SRV1")));
         ASSERT_TRUE(window().transfer().PasteOnto(model()->HostIndex("SRV3")));
       }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    share.Control("dead hang");
    StallMeter meter;
    meter.Start();
    step.start();
    ASSERT_TRUE(testing::WaitForHungWhileTurning(share, 1, 10000)) << "nothing reached the hanging share";
    ASSERT_TRUE(QTest::qWaitFor([] { return ProgressWindow() != nullptr; }, 5000)) << "no progress window";
    EXPECT_TRUE(OtherHostAnswers()) << "SRV1's project was not looked at while SRV3 hangs";
    const qint64 cancel = CancelTakes();
    EXPECT_GE(cancel, 0) << "no Cancel, or the progress window stayed";
    EXPECT_LT(cancel, kCancelBoundMs);
    // The command still waits in the kernel: it cannot see the cancel yet.
    EXPECT_GE(share.Hung(), 1);
    EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs);
    ShareBack(share);
    for (const std::string& text : boxes_) std::printf("%s: box: %s\n", step.name, text.c_str());
    boxes_.clear();
  }
  EXPECT_EQ(properties_shown_, 0) << "the cancelled measurement showed its figures when the share came back";
}

// A move onto SRV3 (no Cancel: a move is not taken back halfway) waits on
// the share while the loop turns and SRV1 answers.
TEST_F(FuseStageWindowCommands, AMoveOntoTheHangingHostHoldsNothingElse) {
  testing::SampleSite& site = Site(12, 3);
  testing::FaultShare share(site.unc_root() + "/SRV3/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  Open();
  ASSERT_FALSE(HasFatalFailure());
  share.Control("dead hang");
  StallMeter meter;
  meter.Start();
  ASSERT_TRUE(window().transfer().MarkForMove(FirstProject("SRV1")));
  ASSERT_TRUE(window().transfer().PasteOnto(model()->HostIndex("SRV3")));
  ASSERT_TRUE(testing::WaitForHungWhileTurning(share, 1, 10000)) << "nothing reached the hanging share";
  EXPECT_TRUE(OtherHostAnswers()) << "SRV1's project was not looked at while SRV3 hangs";
  EXPECT_TRUE(window().transfer().Busy());
  EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs);
  ShareBack(share);
}

// The host check-out of this computer (the laptop WS01), with its own share
// hanging in the check-out's writes: once the run waits on the share the
// loop keeps turning, SRV1 stays usable, and Cancel takes the progress
// window down at once. (The check-in needs the program started again on the
// checked-out copy: the kill runs of tests/ui drive it in a process of its own.)
TEST_F(FuseStageWindowCommands, AHostCheckOutStuckOnTheLaptopShare) {
  testing::SampleSite& site = Site(8, 2, true);
  testing::FaultShare share(site.unc_root() + "/WS01/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  Open();
  ASSERT_FALSE(HasFatalFailure());
  // What a check-out changes on the laptop's share.
  HostButtonStuckThenCancelled(share, "mkdir,create,write,rename,unlink,rmdir,truncate,utimens,chmod", true);
}

// Closing while a command's worker is stuck in the kernel: the window goes
// within a second, the worker left behind; it ends when the share comes back.
TEST_F(FuseStageWindowCommands, ClosingLeavesACommandStuckOnTheShareBehind) {
  testing::SampleSite& site = Site(12, 3);
  testing::FaultShare share(site.unc_root() + "/SRV3/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  Open();
  ASSERT_FALSE(HasFatalFailure());
  share.Control("dead hang");
  const int at_large = platform::ThreadsAtLarge();
  hosts()->SelectItem(FirstProject("SRV3"));
  window().commands().RunCommand(hosts(), tree::kCmdDelete);
  ASSERT_TRUE(testing::WaitForHungWhileTurning(share, 1, 10000)) << "nothing reached the hanging share";
  ASSERT_TRUE(window().commands().Busy());
  const qint64 took = CloseWindow(share);
  EXPECT_LT(took, 1000) << "the window waited for its command stuck on the share";
  EXPECT_GT(platform::ThreadsAtLarge(), at_large) << "the stuck command was not left behind";
  share.Control("clear");
  EXPECT_TRUE(QTest::qWaitFor([] { return platform::ThreadsAtLarge() == 0; }, 10000));
}

// Closing while the administration host (the share holding Net) hangs in the
// middle of a refill: the project list's reader is left behind, not joined,
// and the window goes within a second.
TEST_F(FuseStageWindowCommands, ClosingWhileTheAdministrationHostHangsInTheFill) {
  testing::SampleSite& site = Site(12, 3);
  testing::FaultShare share(site.unc_root() + "/SRV1/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  Open();
  ASSERT_FALSE(HasFatalFailure());
  const int at_large = platform::ThreadsAtLarge();
  share.Control("dead hang");
  window().trees().Refill("");
  ASSERT_TRUE(testing::WaitForHungWhileTurning(share, 1, 10000)) << "the refill did not reach the hanging share";
  ASSERT_TRUE(window().trees().Filling());
  const qint64 took = CloseWindow(share);
  EXPECT_LT(took, 1000) << "the window waited for the fill stuck on the administration host";
  EXPECT_GT(platform::ThreadsAtLarge(), at_large) << "the stuck fill was not left behind";
  share.Control("clear");
  EXPECT_TRUE(QTest::qWaitFor([] { return platform::ThreadsAtLarge() == 0; }, 10000));
}

// A host check-out whose preparation (marking the projects in the
// administration) hangs on the administration host: Cancel takes the
// progress window down at once; the check-out ends when the share comes back.
TEST_F(FuseStageWindowCommands, CancelWhileTheCheckOutPreparesOnAHangingAdministrationHost) {
  testing::SampleSite& site = Site(8, 2, true);
  testing::FaultShare share(site.unc_root() + "/SRV1/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  Open();
  ASSERT_FALSE(HasFatalFailure());
  // What marking the projects and writing their check-out files changes there.
  HostButtonStuckThenCancelled(share, "create,write,truncate,rename,unlink,mkdir", false);
}

// The laptop checked out, the window opened again on its copy: a check-in
// whose writes hang on the administration host. Cancel takes the progress
// window down at once; the check-in ends when the share comes back.
TEST_F(FuseStageWindowCommands, CancelOfACheckInStuckOnTheAdministrationHost) {
  testing::SampleSite& site = Site(8, 2, true);
  testing::FaultShare share(site.unc_root() + "/SRV1/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  Open();
  ASSERT_FALSE(HasFatalFailure());
  {
    QSignalSpy ended(&window().hostCommands(), &tree::HostCommands::commandEnded);
    hosts()->SelectItem(model()->HostIndex(platform::ComputerName()));
    QTest::mouseClick(window().dialog().CheckOutButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() >= 1; }, 30000)) << "the check-out did not end\n" << Boxes();
  }
  std::string out_path;
  ASSERT_TRUE(extlib::GetSettingString("HKLM", "InstallRoot\\CheckedOutPath", &out_path)) << Boxes();
  answerer_.disconnect();
  window().dialog().close();
  window_.reset();
  boxes_.clear();
  // Opened again, the window works on the checked-out copy.
  Open();
  ASSERT_FALSE(HasFatalFailure());
  HostButtonStuckThenCancelled(share, "create,write,truncate,rename,unlink,mkdir", false);
}

// The administration host over a slow line: every call on its share 50 ms
// late. The fill and a refresh run off the window's thread.
TEST_F(FuseStageWindowCommands, TheWindowOverASlowLineToTheAdministrationHost) {
  testing::SampleSite& site = Site(12, 3);
  testing::FaultShare share(site.unc_root() + "/SRV1/cad");
  ASSERT_TRUE(share.mounted()) << share.error();
  site.Activate();
  share.Control("delay all 50");
  StallMeter meter;
  const long calls_before = share.Calls();
  Open(&meter);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_GT(share.Calls(), calls_before) << "the fill did not read the administration host";
  EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs) << "during the fill";
  meter.Start();
  QSignalSpy filled(&window().dialog(), &CDovraneDlg::TreesFilled);
  const long calls_refresh = share.Calls();
  window().dialog().OnRefreshButton();
  ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 30000));
  EXPECT_GT(share.Calls(), calls_refresh) << "the refresh did not read the administration host";
  EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs) << "during the refresh";
  // A project of SRV1 is looked at as usual, only later.
  EXPECT_TRUE(OtherHostAnswers());
  EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs);
}

}  // namespace
}  // namespace dovrane::ui
