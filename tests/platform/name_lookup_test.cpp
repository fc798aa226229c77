// A computer's name looked up within the caller's limit, whatever the name
// server does: the ping and the port probe of a name that hangs in the
// resolver come back when their limit is up.
#include "platform/name_lookup.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/ping.h"
#include "platform/smb_port.h"

namespace dovrane::platform {
namespace {

class NameLookupTest : public ::testing::Test {
 protected:
  // Shared with the lookup threads, which outlive the test when abandoned.
  struct Gate {
    std::atomic<int> calls{0};
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false;
  };

  void SetUp() override {
    SetNameResolverForTesting([gate = gate_](const std::string& host, sockaddr_in* address) {
      ++gate->calls;
      if (host == "hanging") {
        // A name server that does not answer until the test is over.
        std::unique_lock<std::mutex> lock(gate->mutex);
        gate->cv.wait_for(lock, std::chrono::seconds(30), [&] { return gate->released; });
        return false;
      }
      if (host != "srv1") return false;
      address->sin_family = AF_INET;
      return ::inet_pton(AF_INET, "127.0.0.1", &address->sin_addr) == 1;
    });
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> guard(gate_->mutex);
      gate_->released = true;
    }
    gate_->cv.notify_all();
    SetNameResolverForTesting(nullptr);
  }
  static int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  }

  std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};

TEST_F(NameLookupTest, AnswersOfTheResolverAndDottedAddresses) {
  sockaddr_in address{};
  EXPECT_EQ(LookupIPv4("10.1.2.3", 100, &address), LookupResult::kFound);
  EXPECT_EQ(ntohl(address.sin_addr.s_addr), 0x0A010203u);
  EXPECT_EQ(gate_->calls.load(), 0);  // no thread, no resolver for an address

  EXPECT_EQ(LookupIPv4("srv1", 5000, &address), LookupResult::kFound);
  EXPECT_EQ(ntohl(address.sin_addr.s_addr), 0x7F000001u);
  EXPECT_EQ(LookupIPv4("nobody", 5000, &address), LookupResult::kNotFound);
  EXPECT_EQ(LookupIPv4("", 5000, &address), LookupResult::kNotFound);
  EXPECT_EQ(PingHost("nobody", 5000), kPingHostNotFound);
  EXPECT_EQ(ProbeTcpPort("nobody", kSmbPort, 5000), -ENOENT);
}

// Without the limit each of these would wait the 30 s of the hanging name server.
TEST_F(NameLookupTest, AHangingNameServerCostsNoMoreThanTheLimit) {
  sockaddr_in address{};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LookupIPv4("hanging", 100, &address), LookupResult::kTimedOut);
  EXPECT_LT(MsSince(start), 10000);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(PingHost("hanging", 100), kPingTimedOut);
  EXPECT_LT(MsSince(start), 10000);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(ProbeTcpPort("hanging", kSmbPort, 100), -ETIMEDOUT);
  EXPECT_LT(MsSince(start), 10000);
  // The three waited for one lookup: the name server is asked once while it hangs.
  EXPECT_EQ(gate_->calls.load(), 1);
}

}  // namespace
}  // namespace dovrane::platform
