#include "tree/item_checks.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "extlib/installation/operation_context.h"
#include "platform/fault_injection_env.h"
#include "platform/threads_at_large.h"
#include "tree/item_kind.h"
#include "tree/tree_fixture.h"
#include "tree/tree_search.h"

namespace dovrane::tree {
namespace {

// Pings answer except for the hosts named down.
PingFunction FakePing(std::set<std::string> down) {
  return [down](const std::string& host, int) { return down.count(host) ? 10060 : 0; };
}

// Runs every host's checks as the worker would and applies them.
void CheckAll(HostTable* table, const PingFunction& ping, const std::set<uint32_t>& marks = {}) {
  for (const HostCheckRequest& request : HostCheckRequests(*table, true)) {
    ApplyHostCheck(table->FindHost(request.host), CheckHost(extlib::DefaultContext(), request, ping), marks);
  }
}

TEST(ItemChecksTest, KindsAndImagesOfEveryRowOfTheTable) {
  TreeFixture fixture;
  fixture.small.dir.Write("SRV1/cad/Net/SRV2.out", "out");
  // SRV4 has no projects: the only host the checks ping.
  fixture.small.dir.Write("SRV1/cad/Net/data.cfg", "SRV1 \\cad\nSRV2 \\cad\nSRV4 \\cad\n");
  fixture.HoldLockFile();
  auto table = fixture.Build();
  // SRV3's name does not resolve, but its projects' folders decide, not the ping.
  CheckAll(table.get(), FakePing({"SRV3", "SRV4"}));
  std::set<uint32_t> marks;
  ProjectRecord* epsilon = &table->FindHost("SRV2")->projects[2];
  ApplyDirectoryCheck(*table, epsilon, LookupProjectDirectory(extlib::DefaultContext(), "SRV2", "Epsilon"), &marks);
  const ProjectRecord* alpha = &table->FindHost("SRV2")->projects[0];
  struct Row { const TreeNode* node; int child; uint32_t kind; int image; } rows[] = {
      {table->FindHost("SRV1"), -1, kKindAdminHost, 9},
      {table->FindHost("SRV2"), -1, kKindDataHostOut, 8},
      {table->FindHost("SRV3"), -1, kKindDataHost, KindImage(kKindDataHost)},
      {table->FindHost("SRV4"), -1, kKindDataHostDown, 16},
      {alpha, -1, kKindProject, 0},
      {&table->FindHost("SRV2")->projects[1], -1, kKindProjectOut, 6},
      {&table->FindHost("SRV1")->projects[0], -1, kKindProjectHostOut, 10},
      {&table->FindHost("SRV1")->projects[1], -1, kKindProjectInUse, 11},
      {epsilon, -1, kKindProjectUnreachable, 18},
      {&table->FindHost("SRV3")->projects[0], -1, kKindProject, 0},  // not pinged
      {alpha, 0, kKindDirectory, 1}, {alpha, 1, kKindOwner, 2}, {alpha, 3, kKindMember, 3}};
  for (const Row& row : rows) {
    ItemRef item{row.node, row.child};
    EXPECT_EQ(item.kind(), row.kind) << item.text();
    EXPECT_EQ(row.child >= 0 ? KindImage(item.kind()) : row.node->image, row.image) << item.text();
  }
  EXPECT_EQ(marks, std::set<uint32_t>{5});
}

TEST(ItemChecksTest, AdministrationHostOutWinsOverFailedPing) {
  TreeFixture fixture;
  // An administration without projects: its host is pinged.
  fixture.small.WriteAdministration({}, 0);
  auto table = fixture.Build();
  CheckAll(table.get(), FakePing({"SRV1"}));
  EXPECT_EQ(table->FindHost("SRV1")->kind, kKindAdminHostDown);
  EXPECT_EQ(table->FindHost("SRV1")->image, 17);
  fixture.small.dir.Write("SRV1/cad/Net/SRV1.out", "out");
  CheckAll(table.get(), FakePing({"SRV1"}));
  EXPECT_EQ(table->FindHost("SRV1")->kind, kKindAdminHostOut);
  EXPECT_EQ(table->FindHost("SRV1")->image, 13);
}

// A lock file nobody holds is stale and goes, unless it was made a moment
// ago: a session makes the file and then locks it, and a check between the
// two must not leave the session locking a file nobody sees.
TEST(ItemChecksTest, StaleLockFileIsDeletedAndTheProjectIsFree) {
  TreeFixture fixture;
  const std::string lock = fixture.small.Native("SRV1/cad/Prj/n0000004.prj/project.lck");
  fixture.small.dir.Write("SRV1/cad/Prj/n0000004.prj/project.lck", "a session starting");
  platform::FileInfo info;
  EXPECT_TRUE(CheckHost(extlib::DefaultContext(), {"SRV1", false, {4}}, nullptr).in_use.empty());
  EXPECT_EQ(platform::CurrentEnv()->Stat(lock, &info), 0);  // young: kept

  const int64_t now = platform::CurrentEnv()->NowSeconds();
  for (int64_t modified : {now - 60, now + 3600}) {  // left behind; written under a clock that differs
    SCOPED_TRACE(modified - now);
    fixture.small.dir.Write("SRV1/cad/Prj/n0000004.prj/project.lck", "left behind");
    ASSERT_EQ(platform::CurrentEnv()->SetTimes(lock, {modified, 0}, {modified, 0}), 0);
    EXPECT_TRUE(CheckHost(extlib::DefaultContext(), {"SRV1", false, {4}}, nullptr).in_use.empty());
    EXPECT_NE(platform::CurrentEnv()->Stat(lock, &info), 0);
  }
  fixture.HoldLockFile();
  EXPECT_EQ(CheckHost(extlib::DefaultContext(), {"SRV1", false, {4}}, nullptr).in_use, std::vector<uint32_t>{4});
}

// A share that fails the lock test cannot say the file is stale: it stays,
// and the project shows in use rather than a session's lock being deleted.
TEST(ItemChecksTest, ALockFileWhoseLockCannotBeTestedStays) {
  TreeFixture fixture;
  const std::string lock = "SRV1/cad/Prj/n0000004.prj/project.lck";
  fixture.small.dir.Write(lock, "a session's");
  struct LockTestFails : platform::Env {
    int TestLock(int, int64_t, int64_t, bool*) override { return -EIO; }
  } env;
  platform::Env* previous = platform::SetCurrentEnv(&env);
  const HostCheckResult result = CheckHost(extlib::DefaultContext(), {"SRV1", false, {4}}, nullptr);
  platform::SetCurrentEnv(previous);
  EXPECT_EQ(result.in_use, std::vector<uint32_t>{4});
  platform::FileInfo info;
  EXPECT_EQ(platform::CurrentEnv()->Stat(fixture.small.Native(lock), &info), 0);
}

TEST(ItemChecksTest, DirectoryCheckMovesBetweenFreeAndUnreachable) {
  TreeFixture fixture;
  auto table = fixture.Build();
  std::set<uint32_t> marks;
  ProjectRecord* epsilon = &table->FindHost("SRV2")->projects[2];
  DirectoryCheck missing = LookupProjectDirectory(extlib::DefaultContext(), "SRV2", "Epsilon");
  EXPECT_FALSE(missing.reachable);
  EXPECT_TRUE(ApplyDirectoryCheck(*table, epsilon, missing, &marks));
  EXPECT_EQ(epsilon->kind, kKindProjectUnreachable);
  fixture.small.MakeProjectFolder("SRV2", 5);
  DirectoryCheck found = LookupProjectDirectory(extlib::DefaultContext(), "SRV2", "Epsilon");
  EXPECT_TRUE(found.reachable);
  EXPECT_TRUE(ApplyDirectoryCheck(*table, epsilon, found, &marks));
  EXPECT_EQ(epsilon->kind, kKindProject);
  EXPECT_EQ(epsilon->image, kImageProject);
  EXPECT_EQ(epsilon->location(), found.path);
  EXPECT_TRUE(marks.empty());
}

TEST(ItemChecksTest, UnreachableProjectOnAHostThatIsNotOpenStays) {
  TreeFixture fixture;
  auto table = fixture.Build({6});
  std::set<uint32_t> marks{6};
  table->FindHost("SRV3")->kind = kKindDataHostDown;
  ProjectRecord* zeta = &table->FindHost("SRV3")->projects[0];
  DirectoryCheck reachable{"SRV3", "Zeta", true, 6, "\\\\SRV3\\cad\\Prj\\n0000006.prj", true};
  ApplyDirectoryCheck(*table, zeta, reachable, &marks);
  EXPECT_EQ(zeta->kind, kKindProjectUnreachable);
  EXPECT_EQ(zeta->image, kImageProjectUnreachable);
  EXPECT_EQ(marks.count(6), 1u);
  DirectoryCheck unknown{"SRV2", "Alpha", true, -3, "", false};
  EXPECT_FALSE(ApplyDirectoryCheck(*table, &table->FindHost("SRV2")->projects[0], unknown, &marks));
}

TEST(ItemChecksTest, AHostWhoseShareHangsAnswersAsNotAnsweringInTime) {
  TreeFixture fixture;
  platform::FaultInjectionEnv slow;
  platform::Env* previous = platform::SetCurrentEnv(&slow);
  slow.SetPathDelay(fixture.small.Native("SRV1/cad/Prj"), 400);
  std::mutex mutex;
  std::condition_variable answered;
  std::map<std::string, HostCheckResult> results;
  auto start = std::chrono::steady_clock::now();
  {
    ItemCheckWorker worker(
        150, FakePing({}),
        [&](uint64_t, HostCheckResult result) {
          std::lock_guard<std::mutex> guard(mutex);
          results[result.host] = result;
          answered.notify_all();
        },
        nullptr);
    auto table = fixture.Build();
    worker.CheckHosts(1, HostCheckRequests(*table, true));
    std::unique_lock<std::mutex> lock(mutex);
    answered.wait_for(lock, std::chrono::seconds(5), [&] { return results.size() == 3; });
    // Every host answered long before the hanging share gave its answer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(390));
  }
  // The hanging check was left behind by the worker: it ends before the Env goes.
  for (int i = 0; i < 500 && platform::ThreadsAtLarge() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(platform::ThreadsAtLarge(), 0);
  platform::SetCurrentEnv(previous);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_FALSE(results["SRV1"].in_time);
  EXPECT_TRUE(results["SRV2"].in_time);
  EXPECT_TRUE(results["SRV3"].in_time);
}

}  // namespace
}  // namespace dovrane::tree
