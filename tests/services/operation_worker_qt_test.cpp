#include "services/operation_worker_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>
#include <thread>

#include "fileops/directory_delete.h"
#include "platform/fault_injection_env.h"
#include "platform/messenger.h"
#include "platform/threads_at_large.h"
#include "services/ui_text_test_env.h"
#include "support/recording_messenger.h"
#include "support/temp_dir.h"
#include "services/gui_messenger_qt.h"
#include "services/progress_run_qt.h"
#include "services/progress_window_dlg.h"

namespace dovrane::services {
namespace {

constexpr int kInterrupted = -11;

// Waits (bounded) until the operation is cancelled, as an operation polls.
bool WaitForCancel(extlib::OperationContext& ctx) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ctx.Cancelled() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  return ctx.Cancelled();
}

// Presses a button of the modal box as soon as it is up.
void PressWhenShown(GuiMessenger& messenger, QMessageBox::StandardButton button, QThread** shown_in) {
  QObject::connect(&messenger, &GuiMessenger::boxShown, [button, shown_in](QMessageBox*) {
    *shown_in = QThread::currentThread();
    QTimer::singleShot(0, [button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      box->button(button)->click();
    });
  });
}

TEST(OperationWorkerTest, CancelReachesTheOperationInItsOwnContext) {
  dovrane::testing::RecordingMessenger recorder;
  OperationWorker worker(&recorder);
  std::atomic<bool> started{false};
  QSignalSpy spy(&worker, &OperationWorker::finished);
  ASSERT_TRUE(worker.Start([&](extlib::OperationContext& ctx) {
    const bool own = &ctx != &extlib::DefaultContext() && ctx.interactive == 0;
    ctx.Messenger().ProgressLine("own");  // reaches the worker's messenger
    started = true;
    return !own ? 1 : WaitForCancel(ctx) ? kInterrupted : 0;
  }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 5000));
  EXPECT_FALSE(worker.Start([](extlib::OperationContext&) { return 0; }));  // one at a time
  worker.Cancel();
  ASSERT_TRUE(spy.wait(5000));
  EXPECT_EQ(spy.at(0).at(0).toInt(), kInterrupted);
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(recorder.lines, std::vector<std::string>{"own"});
}

// An operation stuck in a call that no cancel reaches (a hanging share holds
// it in the kernel): the worker goes within its grace and leaves it behind;
// when the call returns at last, the operation's messages and result reach
// nobody, and it counts as a thread at large until it ends.
TEST(OperationWorkerTest, AnOperationStuckInACallIsLeftBehind) {
  dovrane::testing::RecordingMessenger recorder;
  std::mutex mu;
  std::condition_variable cv;
  bool released = false, stuck = false, ended = false;
  const int at_large = platform::ThreadsAtLarge();
  auto worker = std::make_unique<OperationWorker>(&recorder);
  QSignalSpy spy(worker.get(), &OperationWorker::finished);
  ASSERT_TRUE(worker->Start([&](extlib::OperationContext& ctx) {
    std::unique_lock lock(mu);
    stuck = true;
    cv.notify_all();
    cv.wait(lock, [&] { return released; });  // deaf to the cancel, as a call in the kernel
    lock.unlock();
    ctx.Messenger().ProgressLine("after the window went");
    ctx.Messenger().MessageBox("Weiter?", "", platform::kMbYesNo);
    lock.lock();
    ended = true;
    cv.notify_all();
    return 0;
  }));
  {
    std::unique_lock lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return stuck; }));
  }
  // Should the worker wait for its thread after all, the call returns after
  // 3 s, so that the test fails instead of hanging.
  std::thread rescue([&] {
    std::unique_lock lock(mu);
    cv.wait_for(lock, std::chrono::seconds(3), [&] { return released; });
    released = true;
    cv.notify_all();
  });
  const auto closing = std::chrono::steady_clock::now();
  worker.reset();
  const auto took = std::chrono::steady_clock::now() - closing;
  EXPECT_LT(took, std::chrono::milliseconds(kOperationGraceMs + 400));
  EXPECT_EQ(platform::ThreadsAtLarge(), at_large + 1);
  {
    std::lock_guard lock(mu);
    released = true;
    cv.notify_all();
  }
  rescue.join();
  {
    std::unique_lock lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return ended; }));
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return platform::ThreadsAtLarge() == at_large; }, 5000));
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(spy.count(), 0);
  EXPECT_TRUE(recorder.lines.empty());
  EXPECT_TRUE(recorder.texts.empty());
}

TEST(OperationWorkerTest, CancelButtonStopsADeletionBeforeItsFirstEntry) {
  dovrane::testing::TempDir dir;
  dir.Write("n0000012.prj/plan.dwg", "x");
  GuiMessenger messenger;
  ProgressRun run(nullptr, &messenger);
  std::atomic<bool> started{false};
  QSignalSpy spy(&run, &ProgressRun::finished);
  ASSERT_TRUE(run.Start("L\xf6schen", true, [&](extlib::OperationContext& ctx) {
    started = true;
    WaitForCancel(ctx);
    return fileops::DeleteDirectoryTree(ctx, nullptr, dir / "n0000012.prj") ? 1 : 0;
  }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 5000));
  QPointer<CProgressWindow> window = run.window();
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
  ASSERT_TRUE(spy.wait(5000));
  EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
  EXPECT_TRUE(dir.Exists("n0000012.prj/plan.dwg"));  // stopped cleanly: nothing half done
  // Deleted, not just hidden: no closed "Progress" window is left for screen readers.
  EXPECT_EQ(run.window(), nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 5000));
}

// Cancel while the operation is stuck in a call that no cancel reaches: the
// progress window goes at once; the result still comes when the call returns.
TEST(OperationWorkerTest, CancelTakesTheProgressWindowDownWhileTheOperationIsStuck) {
  GuiMessenger messenger;
  ProgressRun run(nullptr, &messenger);
  std::mutex mu;
  std::condition_variable cv;
  bool released = false, stuck = false;
  QSignalSpy spy(&run, &ProgressRun::finished);
  ASSERT_TRUE(run.Start("Kopieren", true, [&](extlib::OperationContext& ctx) {
    std::unique_lock lock(mu);
    stuck = true;
    cv.notify_all();
    cv.wait(lock, [&] { return released; });
    return ctx.Cancelled() ? kInterrupted : 0;
  }));
  {
    std::unique_lock lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return stuck; }));
  }
  QPointer<CProgressWindow> window = run.window();
  ASSERT_TRUE(window);
  QElapsedTimer took;
  took.start();
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull() || !window->isVisible(); }, 3000));
  EXPECT_LT(took.elapsed(), 250);
  EXPECT_TRUE(run.Running());
  EXPECT_TRUE(run.WindowGoneOnCancel());
  EXPECT_EQ(run.window(), nullptr);
  EXPECT_EQ(spy.count(), 0);
  {
    std::lock_guard lock(mu);
    released = true;
    cv.notify_all();
  }
  ASSERT_TRUE(spy.wait(5000));
  EXPECT_EQ(spy.at(0).at(0).toInt(), kInterrupted);
}

TEST(OperationWorkerTest, QuestionFromTheWorkerIsAnsweredInTheWindowThread) {
  services::testing::UiTextEnv texts;
  dovrane::testing::TempDir dir;
  dir.Write("n0000012.prj/plan.dwg", "x");
  platform::FaultInjectionEnv env;
  env.Arm(platform::FaultPoint::kUnlink, 1, EACCES);  // the file resists once
  platform::Env* previous = platform::SetCurrentEnv(&env);
  GuiMessenger messenger;
  QThread* shown_in = nullptr;
  PressWhenShown(messenger, QMessageBox::Retry, &shown_in);
  OperationWorker worker(&messenger);
  QSignalSpy spy(&worker, &OperationWorker::finished);
  worker.Start([&](extlib::OperationContext& ctx) {
    return fileops::DeleteDirectoryTree(ctx, nullptr, dir / "n0000012.prj") ? 1 : 0;
  });
  ASSERT_TRUE(spy.wait(5000));
  platform::SetCurrentEnv(previous);
  EXPECT_EQ(spy.at(0).at(0).toInt(), 1);  // Retry deleted it
  EXPECT_EQ(shown_in, QApplication::instance()->thread());
  EXPECT_FALSE(dir.Exists("n0000012.prj"));
}

TEST(OperationWorkerTest, ClosingWhileAQuestionWaitsAnswersItAndShowsNoBox) {
  GuiMessenger messenger;
  std::atomic<int> answer{-1};
  std::atomic<bool> asking{false};
  {
    OperationWorker worker(&messenger);
    worker.Start([&](extlib::OperationContext& ctx) {
      asking = true;
      answer = ctx.Messenger().MessageBox("Weiter?", "", platform::kMbYesNo | platform::kMbIconQuestion);
      return 0;
    });
    // No turn of the event loop here: the box must not come up before the close.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!asking.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  }  // the worker is destroyed while its question waits: this must not hang
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(answer.load(), 0);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace dovrane::services
