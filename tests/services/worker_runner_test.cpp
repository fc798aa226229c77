#include "services/worker_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/threads_at_large.h"

namespace dovrane::services {
namespace {

using Clock = std::chrono::steady_clock;

// The owner's thread: closures posted to it wait here until Drain runs them.
class Owner {
 public:
  WorkerRunner::Post post() {
    return [this](std::function<void()> apply) {
      std::lock_guard lock(mu_);
      queue_.push_back(std::move(apply));
      posted_.notify_all();
    };
  }
  // Waits (at most ms) until n closures were posted, then runs them.
  int Drain(size_t n, int ms = 5000) {
    std::vector<std::function<void()>> taken;
    {
      std::unique_lock lock(mu_);
      posted_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return queue_.size() >= n; });
      taken.swap(queue_);
    }
    for (auto& apply : taken) apply();
    return static_cast<int>(taken.size());
  }

 private:
  std::mutex mu_;
  std::condition_variable posted_;
  std::vector<std::function<void()>> queue_;
};

// A gate a piece of work waits on, as on a share that hangs until released.
struct Hang {
  std::mutex mu;
  std::condition_variable cv;
  bool released = false;
  std::atomic<bool> reached{false};
  void Wait() {
    reached = true;
    std::unique_lock lock(mu);
    cv.wait(lock, [this] { return released; });
  }
  void Release() {
    {
      std::lock_guard lock(mu);
      released = true;
    }
    cv.notify_all();
  }
};

bool WaitFor(const std::function<bool()>& ready, int ms = 5000) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!ready()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(WorkerRunnerTest, ResultsReachTheOwnerInOrderWithTheWorksOwnContext) {
  Owner owner;
  WorkerRunner runner(owner.post());
  std::vector<int> seen;
  int interactive = -1;
  auto job = runner.Start([&](WorkerRunner::Job& piece) {
    interactive = piece.context().interactive;
    EXPECT_TRUE(piece.Post([&seen] { seen.push_back(1); }));
    EXPECT_TRUE(piece.Post([&seen] { seen.push_back(2); }));
    return std::function<void()>([&seen] { seen.push_back(3); });
  });
  ASSERT_TRUE(job);
  EXPECT_EQ(owner.Drain(3), 3);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(interactive, 0) << "the window's work asks nothing of its own accord";
  ASSERT_TRUE(runner.Wait(job, 5000));
  EXPECT_EQ(runner.Running(), 0);
  // Each piece has its own cancel flag: cancelling one leaves the next alone.
  job->Cancel();
  std::atomic<bool> cancelled{true};
  auto next = runner.Start([&](WorkerRunner::Job& piece) {
    cancelled = piece.context().Cancelled();
    return std::function<void()>();
  });
  ASSERT_TRUE(next && runner.Wait(next, 5000));
  EXPECT_FALSE(cancelled);
}

TEST(WorkerRunnerTest, ClosingCancelsAndWaitsForWorkThatStops) {
  Owner owner;
  auto runner = std::make_unique<WorkerRunner>(owner.post(), 2000);
  std::atomic<bool> saw_cancel{false};
  std::atomic<bool> started{false};
  auto job = runner->Start([&](WorkerRunner::Job& piece) {
    started = true;
    while (!piece.context().Cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    saw_cancel = true;
    return std::function<void()>([] { ADD_FAILURE() << "a result after the close"; });
  });
  ASSERT_TRUE(job);
  ASSERT_TRUE(WaitFor([&] { return started.load(); }));
  const int at_large = platform::ThreadsAtLarge();
  EXPECT_EQ(runner->Close(), 0);
  EXPECT_TRUE(saw_cancel) << "the close returned before the work it waits for had stopped";
  EXPECT_TRUE(job->Done());
  EXPECT_FALSE(job->LeftBehind());
  EXPECT_EQ(platform::ThreadsAtLarge(), at_large);
  EXPECT_EQ(runner->Start([](WorkerRunner::Job&) { return std::function<void()>(); }), nullptr)
      << "a closed runner starts nothing";
  EXPECT_EQ(owner.Drain(1, 50), 0);
}

TEST(WorkerRunnerTest, WorkStuckPastTheGraceIsLeftBehindWithWhatItUses) {
  Owner owner;
  auto hang = std::make_shared<Hang>();
  auto kept = std::make_shared<int>(42);
  std::weak_ptr<int> watch = kept;
  auto runner = std::make_unique<WorkerRunner>(owner.post(), 100);
  WorkerRunner::Options options;
  options.keep = kept;
  std::atomic<int> read{0};
  std::shared_ptr<WorkerRunner::Job> job = runner->Start(
      [hang, watch, &read](WorkerRunner::Job&) {
        hang->Wait();  // cancel does not reach a call stuck in the kernel
        // What the owner kept alive for it is still there after the owner went.
        if (auto still = watch.lock()) read = *still;
        return std::function<void()>([] { ADD_FAILURE() << "a result of work left behind"; });
      },
      std::move(options));
  ASSERT_TRUE(job);
  kept.reset();
  ASSERT_TRUE(WaitFor([&] { return hang->reached.load(); }));
  const int at_large = platform::ThreadsAtLarge();
  const auto began = Clock::now();
  EXPECT_EQ(runner->Close(), 1);
  runner.reset();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count();
  EXPECT_GE(took, 90) << "the close did not wait its grace";
  EXPECT_LT(took, 1000) << "the close waited for work stuck on a share";
  EXPECT_TRUE(job->LeftBehind());
  EXPECT_EQ(platform::ThreadsAtLarge(), at_large + 1) << "work left behind must count as at large";
  EXPECT_FALSE(watch.expired()) << "what the stuck work uses was destroyed under it";
  job.reset();
  EXPECT_FALSE(watch.expired()) << "what the stuck work uses was destroyed under it";
  hang->Release();
  EXPECT_TRUE(WaitFor([&] { return platform::ThreadsAtLarge() == at_large; }));
  EXPECT_EQ(read.load(), 42);
  EXPECT_TRUE(WaitFor([&] { return watch.expired(); })) << "the kept state outlived the work";
  EXPECT_EQ(owner.Drain(1, 50), 0);
}

TEST(WorkerRunnerTest, OnePieceLeftBehindDropsItsResultWhileTheOthersAnswer) {
  Owner owner;
  WorkerRunner runner(owner.post(), 100);
  auto hang = std::make_shared<Hang>();
  std::atomic<bool> posted_from_stuck{true};
  auto stuck = runner.Start([hang, &posted_from_stuck](WorkerRunner::Job& piece) {
    hang->Wait();
    posted_from_stuck = piece.Post([] {});
    return std::function<void()>([] { ADD_FAILURE() << "a result of work left behind"; });
  });
  ASSERT_TRUE(stuck);
  ASSERT_TRUE(WaitFor([&] { return hang->reached.load(); }));
  EXPECT_FALSE(runner.Wait(stuck, 20));
  const int at_large = platform::ThreadsAtLarge();
  EXPECT_TRUE(runner.LeaveBehind(stuck));
  EXPECT_EQ(platform::ThreadsAtLarge(), at_large + 1);
  // The runner goes on: another piece answers.
  bool answered = false;
  auto other = runner.Start([&answered](WorkerRunner::Job&) {
    return std::function<void()>([&answered] { answered = true; });
  });
  ASSERT_TRUE(other);
  EXPECT_EQ(owner.Drain(1), 1);
  EXPECT_TRUE(answered);
  hang->Release();
  EXPECT_TRUE(WaitFor([&] { return stuck->Done(); }));
  EXPECT_FALSE(posted_from_stuck);
  EXPECT_TRUE(WaitFor([&] { return platform::ThreadsAtLarge() == at_large; }));
  EXPECT_EQ(owner.Drain(1, 50), 0);
  // A piece that has ended is not left behind.
  EXPECT_FALSE(runner.LeaveBehind(other));
}

TEST(WorkerRunnerTest, SettlingLeavesStuckWorkBehindAndKeepsTheRunnerOpen) {
  Owner owner;
  WorkerRunner runner(owner.post(), 50);
  auto hang = std::make_shared<Hang>();
  ASSERT_TRUE(runner.Start([hang](WorkerRunner::Job&) {
    hang->Wait();
    return std::function<void()>();
  }));
  ASSERT_TRUE(WaitFor([&] { return hang->reached.load(); }));
  const int at_large = platform::ThreadsAtLarge();
  EXPECT_EQ(runner.Settle(), 1);
  EXPECT_EQ(runner.Running(), 0) << "a piece left behind is no longer the runner's";
  bool answered = false;
  ASSERT_TRUE(runner.Start([&answered](WorkerRunner::Job&) {
    return std::function<void()>([&answered] { answered = true; });
  }));
  EXPECT_EQ(owner.Drain(1), 1);
  EXPECT_TRUE(answered);
  hang->Release();
  EXPECT_TRUE(WaitFor([&] { return platform::ThreadsAtLarge() == at_large; }));
}

}  // namespace
}  // namespace dovrane::services
