#include "ui/ping_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/thread_priority.h"

namespace dovrane::ui {
namespace {

using Clock = std::chrono::steady_clock;

// A ping whose answers the test decides; a host that is down takes the whole time limit.
struct FakeHosts {
  std::mutex mutex;
  std::set<std::string> down;
  int operator()(const std::string& host, int timeout_ms) {
    bool is_down;
    {
      std::lock_guard<std::mutex> guard(mutex);
      is_down = down.count(host) > 0;
    }
    if (is_down) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return is_down ? 10060 : 0;
  }
  void SetDown(std::set<std::string> hosts) {
    std::lock_guard<std::mutex> guard(mutex);
    down = std::move(hosts);
  }
};

// Waits (bounded) until the thread has run `cycles` more cycles.
void WaitCycles(const PingThread& thread, int cycles) {
  const int target = thread.Cycles() + cycles;
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (thread.Cycles() < target && Clock::now() < end) std::this_thread::yield();
  ASSERT_GE(thread.Cycles(), target);
}

TEST(PingThreadTest, FlagRaisedOnlyWhenTheAnsweringSetChanges) {
  PingShared shared;
  FakeHosts hosts;
  ASSERT_TRUE(shared.Publish({"A", "B"}));
  PingThread thread(shared, [&](const std::string& h, int ms) { return hosts(h, ms); }, 5);
  thread.Start();
  WaitCycles(thread, 3);
  EXPECT_FALSE(shared.ping_changed);  // the first answers are only recorded
  hosts.SetDown({"B"});
  WaitCycles(thread, 2);
  EXPECT_TRUE(shared.ping_changed.exchange(false));
  WaitCycles(thread, 3);
  EXPECT_FALSE(shared.ping_changed);  // unchanged since
  hosts.SetDown({"A", "B"});
  WaitCycles(thread, 2);
  EXPECT_TRUE(shared.ping_changed.exchange(false));
  hosts.SetDown({});  // after an empty set nothing was known: no change reported
  WaitCycles(thread, 2);
  EXPECT_FALSE(shared.ping_changed);
}

// The window's thread keeps the processor: the pings run below it.
TEST(PingThreadTest, PingsRunBelowTheNormalPriority) {
  PingShared shared;
  ASSERT_TRUE(shared.Publish({"A"}));
  std::atomic<int> seen{-100};
  PingThread thread(shared, [&](const std::string&, int) {
    seen = platform::ThisThreadNice();
    return 0;
  }, 5);
  ASSERT_TRUE(thread.Start());
  WaitCycles(thread, 2);
  thread.Stop();
  const int normal = platform::ThisThreadNice();
  EXPECT_EQ(seen.load(), std::min(normal + platform::kBelowNormalNice, 19));
}

TEST(PingThreadTest, FiftyHostsTenDownFitOneCycle) {
  PingShared shared;
  FakeHosts hosts;
  std::vector<std::string> names;
  std::set<std::string> down;
  for (int i = 0; i < 50; ++i) names.push_back("H" + std::to_string(i));
  for (int i = 0; i < 50; i += 5) down.insert(names[i]);
  hosts.SetDown(down);
  PingThread thread(shared, [&](const std::string& h, int ms) { return hosts(h, ms); });
  auto start = Clock::now();
  std::set<std::string> answering = thread.PingAll(names);
  // One after the other the ten would take two seconds.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(answering.size(), 40u);
  EXPECT_EQ(answering.count("H0"), 0u);
}

TEST(PingThreadTest, LoopbackAnswersAnUnresolvableNameDoesNot) {
  PingShared shared;
  PingThread thread(shared);  // the system's ping
  // A closed port on loopback is refused: refused means the host answered.
  EXPECT_EQ(thread.PingAll({"127.0.0.1", "no-such-host.invalid"}), std::set<std::string>{"127.0.0.1"});
}

TEST(PingThreadTest, StopEndsAWaitingThreadAtOnce) {
  PingShared shared;
  shared.ping_allowed = 0;
  PingThread thread(shared, [](const std::string&, int) { return 0; });
  thread.Start();
  auto start = Clock::now();
  thread.Stop();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(thread.Cycles(), 0);
}

TEST(PingThreadTest, PublishGivesUpAfterTheLockWaitAndKeepsTheList) {
  PingShared shared;
  ASSERT_TRUE(shared.Publish({"OLD"}));
  {
    std::unique_lock<std::mutex> held(shared.lock);
    auto start = Clock::now();
    std::thread other([&] { EXPECT_FALSE(shared.Publish({"NEW"})); });
    other.join();
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
  }
  EXPECT_EQ(shared.hosts, std::vector<std::string>{"OLD"});
}

}  // namespace
}  // namespace dovrane::ui
