// The window keeps project.dat open for its whole life and runs each writing
// command on a worker thread that then ends. Whatever a command locked must be
// free again when it is through: another workstation writes into the same
// slots at once (a create reuses an erased record's slot, a move rewrites a
// renamed record), and a lock left behind makes it wait and fail.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "admin/net_id_writer.h"
#include "app/projects/project_commands.h"
#include "app/projects/project_move.h"
#include "checkout/project_status.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/manual_clock_env.h"
#include "support/recording_messenger.h"
#include "support/sample_site.h"
#include "tree/project_copy.h"
#include "tree/project_rename.h"

namespace dovrane {
namespace {

// The lines of /proc/locks on files of the installation. While only this
// process works on it, any such line is a lock this process left behind.
std::vector<std::string> LocksBelow(const std::string& root) {
  std::set<std::string> files;  // "MAJ:MIN:INODE" as /proc/locks writes them
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    struct stat st;
    if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    files.insert(id);
  }
  std::vector<std::string> found;
  std::ifstream in("/proc/locks");
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 6 && fields >> field; ++i) {
    }
    // A waiter's line ("->") names the same file one field later.
    if (field == "->") continue;
    if (files.count(field)) found.push_back(line);
  }
  return found;
}

class LongLivedWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { site_.Activate(); }

  // Runs one command the way the window does: on a thread of its own that ends with it.
  static int OnWorker(const std::function<int()>& command) {
    int rc = -99;
    std::thread([&] { rc = command(); }).join();
    return rc;
  }

  std::string HostOf(const std::string& name) {
    extlib::PRJ r;
    extlib::UnCachPrjList(extlib::DefaultContext());
    return extlib::get_project_info(extlib::DefaultContext(), extlib::PadName(name), &r) == 0 ? std::string(r.host)
                                                                                              : "";
  }

  // Another workstation creates, moves and erases at once; each must get its
  // locks well within the wait (a lock left behind here fails it after 10 s).
  void OtherWorkstationWritesBeside(const std::string& step, const std::string& moved) {
    ++round_;
    const std::string created = "Nebenan " + std::to_string(round_);
    const std::string erased = site_.Name(static_cast<uint32_t>(20 + round_));
    std::vector<std::vector<std::string>> runs = {{created, "-create", "SRV1"}, {erased, "-erase_y"}};
    if (!moved.empty()) runs.push_back({moved, "-move_y", HostOf(moved) == "SRV2" ? "SRV3" : "SRV2"});
    std::vector<testing::ProgramResult> results(runs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < runs.size(); ++i) threads.emplace_back([&, i] { results[i] = site_.Run(runs[i]); });
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < runs.size(); ++i)
      EXPECT_EQ(results[i].status, 0) << "after " << step << ": " << runs[i][0] << " " << runs[i][1] << "\n"
                                      << results[i].err;
  }

  void CheckNothingLeft(const std::string& step, const std::string& touched) {
    for (const std::string& line : LocksBelow(site_.root())) ADD_FAILURE() << "after " << step << ": " << line;
    OtherWorkstationWritesBeside(step, touched);
  }

  extlib::ScopedInstallation installation_;
  testing::SampleSite site_{40};
  int round_ = 0;
};

TEST_F(LongLivedWriterTest, EveryWritingCommandLeavesNoLockBehind) {
  testing::RecordingMessenger messages;
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  ctx.interactive = 0;

  EXPECT_EQ(OnWorker([&] { return app::EraseProject(ctx, extlib::PadName(site_.Name(1))); }), 0);
  CheckNothingLeft("erase", "");

  EXPECT_EQ(OnWorker([&] { return tree::RenameProject(ctx, "Umbenannt", site_.Name(2)); }), 0);
  CheckNothingLeft("rename", "Umbenannt");

  EXPECT_EQ(
      OnWorker([&] { return app::CreateProject(extlib::DefaultContext(), extlib::PadName("Im Fenster neu"), "SRV2"); }),
      0);
  CheckNothingLeft("create", "Im Fenster neu");

  const std::string target = HostOf(site_.Name(3)) == "SRV1" ? "SRV2" : "SRV1";
  EXPECT_EQ(
      OnWorker([&] { return app::MoveProject(extlib::DefaultContext(), extlib::PadName(site_.Name(3)), target); }), 0);
  CheckNothingLeft("move", site_.Name(3));

  uint32_t copy_number = 0;
  EXPECT_EQ(OnWorker([&] { return tree::CopyProjectToHost(ctx, site_.Name(4), "Kopie", "SRV3", &copy_number); }), 0);
  CheckNothingLeft("copy", "Kopie");

  const unsigned char out = extlib::kStatusBlank | extlib::kStatusProjectOut;
  EXPECT_EQ(OnWorker([&] {
              return extlib::put_project_status(extlib::DefaultContext(), extlib::PadName(site_.Name(5)), &out);
            }),
            0);
  CheckNothingLeft("status write", "");

  EXPECT_EQ(OnWorker([&] { return app::UnblockProject(extlib::DefaultContext(), extlib::PadName(site_.Name(5))); }), 0);
  CheckNothingLeft("unblock", site_.Name(5));

  EXPECT_EQ(OnWorker([&] {
              return checkout::ChangeProjectStatus(extlib::DefaultContext(), extlib::PadName(site_.Name(6)),
                                                   checkout::StatusAction::kTakeProject)
                         ? 0
                         : 1;
            }),
            0);
  CheckNothingLeft("check-out mark", "");
  EXPECT_EQ(OnWorker([&] {
              return checkout::ChangeProjectStatus(extlib::DefaultContext(), extlib::PadName(site_.Name(6)),
                                                   checkout::StatusAction::kReturnProject)
                         ? 0
                         : 1;
            }),
            0);
  CheckNothingLeft("check-in mark", site_.Name(6));

  EXPECT_EQ(OnWorker([&] { return admin::WriteNetIdToAllProjects(0x5eed, ctx); }), 0);
  CheckNothingLeft("network identifier", site_.Name(7));

  // A refusal leaves nothing either: a rename onto a name that is taken.
  EXPECT_NE(OnWorker([&] { return tree::RenameProject(ctx, site_.Name(9), site_.Name(8)); }), 0);
  CheckNothingLeft("refused rename", site_.Name(8));
}

// The record library's own unlock by name or number releases what was
// locked, even when the record was renamed under the lock.
TEST_F(LongLivedWriterTest, AnUnlockByTheOldNameReleasesARenamedRecord) {
  const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  ASSERT_GE(handle, 0);
  const std::string old_name = extlib::PadName(site_.Name(10));
  ASSERT_EQ(extlib::lock_prj_nam(extlib::DefaultContext(), extlib::kSlotNet, old_name, extlib::kLockRecord), 0);
  extlib::PRJ r;
  ASSERT_EQ(extlib::get_project_info(extlib::DefaultContext(), old_name, &r), 0);
  const long slot = extlib::get_prj_position(extlib::DefaultContext(), handle, old_name, extlib::kSlotNet, 0);
  extlib::SetPrjName(&r, "Neu unter dem Schloss");
  ASSERT_EQ(extlib::WriteRecordAtSlot(extlib::DefaultContext(), handle, slot, &r), 0);
  EXPECT_EQ(extlib::lock_prj_nam(extlib::DefaultContext(), extlib::kSlotNet, old_name, extlib::kUnlockRecord), 0);
  ASSERT_EQ(extlib::lock_prj_info(extlib::DefaultContext(), handle, r.number, extlib::kLockRecord), 0);
  r.name[0] = '#';
  ASSERT_EQ(extlib::WriteRecordAtSlot(extlib::DefaultContext(), handle, slot, &r), 0);
  EXPECT_EQ(extlib::lock_prj_info(extlib::DefaultContext(), handle, r.number, extlib::kUnlockRecord), 0);
  EXPECT_EQ(LocksBelow(site_.root()), std::vector<std::string>{});
}

// A thread that ended holding a lock cannot release it any more; another
// thread of the process must not wait for it, nor take it for its own.
TEST_F(LongLivedWriterTest, ALockOfAnEndedThreadDoesNotStopTheOthers) {
  const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  ASSERT_GE(handle, 0);
  int taken = -99;
  std::thread([&] { taken = extlib::lock_prj_info(extlib::DefaultContext(), handle, 11, extlib::kLockRecord); }).join();
  ASSERT_EQ(taken, 0);
  platform::ManualClockEnv clock;  // a wait would take no real time, and is seen
  platform::SetCurrentEnv(&clock);
  const int64_t before = clock.MonotonicMs();
  extlib::RecordLock lock;
  EXPECT_EQ(extlib::LockRecordByNumber(extlib::DefaultContext(), handle, 11, &lock), 0);
  EXPECT_EQ(clock.MonotonicMs(), before) << "waited for a lock nobody holds";
  EXPECT_EQ(lock.Release(), 0);
  platform::SetCurrentEnv(nullptr);
  EXPECT_EQ(LocksBelow(site_.root()), std::vector<std::string>{});
}

}  // namespace
}  // namespace dovrane
