#include "platform/call_deadline.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

class CallDeadlineTest : public ::testing::Test {
 protected:
  void Arm(int deadline_ms) {
    SetCallDeadline(deadline_ms, [this](const std::string& path, int64_t waited_ms) {
      std::lock_guard<std::mutex> lock(mutex_);
      overdue_.emplace_back(path, waited_ms);
      changed_.notify_all();
    });
  }
  // Waits at most timeout_ms for the count-th report (woken by each one).
  bool Reported(int timeout_ms, size_t count = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [this, count] { return overdue_.size() >= count; });
  }
  void TearDown() override { SetCallDeadline(0, nullptr); }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<std::string, int64_t>> overdue_;
};

TEST_F(CallDeadlineTest, OnlyACallPastTheDeadlineIsReportedOnceWithWhatItWaitsOn) {
  Arm(100);
  for (int i = 0; i < 20; ++i) {
    WatchedCall quick("/net/SRV1/cad/Net/project.dat");
    // The call's own duration: together they pass the deadline, none alone.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(Reported(150)) << overdue_.front().first;
  {
    WatchedCall outer("/net/SRV3/cad/Prj");
    { WatchedCall inner("/net/SRV3/cad/Prj/n0000001.prj"); }  // inside the outer one: the outer counts
    ASSERT_TRUE(Reported(3000));
    // Still waiting 300 ms longer: no second report comes in that time.
    EXPECT_FALSE(Reported(300, 2));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ASSERT_EQ(overdue_.size(), 1u);
  EXPECT_EQ(overdue_[0].first, "/net/SRV3/cad/Prj");
  EXPECT_GE(overdue_[0].second, 100);
}

TEST_F(CallDeadlineTest, ACallOnADescriptorNamesItsFileAndAnyThreadIsWatched) {
  testing::TempDir dir;
  const std::string file = dir.Write("share/data.bin", "x");
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  Arm(50);
  bool reported = false;
  std::thread([this, fd, &reported] {
    WatchedCall call(fd);
    reported = Reported(3000);  // the call lasts until the watchdog has seen it
  }).join();
  ::close(fd);
  ASSERT_TRUE(reported);
  EXPECT_EQ(overdue_[0].first, file);
}

TEST_F(CallDeadlineTest, WithoutADeadlineNothingIsWatched) {
  Arm(50);
  SetCallDeadline(0, nullptr);
  {
    WatchedCall slow("/net/SRV3/cad/Prj");
    // A call four times the old deadline long: no report comes in that time.
    EXPECT_FALSE(Reported(200));
  }
  EXPECT_EQ(CallDeadlineMs(), 0);
}

}  // namespace
}  // namespace dovrane::platform
