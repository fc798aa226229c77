#include "admin/entry_prefetch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/project_info_file.h"
#include "platform/env.h"
#include "platform/fault_injection_env.h"
#include "platform/file_util.h"
#include "support/temp_dir.h"

namespace dovrane::admin {
namespace {

// A host folder with project folders of every kind the registration meets.
class EntryPrefetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < kFolders; ++i) {
      const std::string name = "n" + std::to_string(1000000 + i) + ".prj";
      ASSERT_EQ(platform::MakeDirectories(dir_.path() + "/" + name), 0);
      names_.push_back(name);
      extlib::PRJ r;
      extlib::SetPrjName(&r, "Projekt " + std::to_string(i));
      extlib::SetPrjHost(&r, "SRV1");
      r.number = 1000000 + static_cast<uint32_t>(i);
      if (i % 7 == 3) continue;  // no stored record
      if (i % 11 == 5) {
        dir_.Write(name + "/" + extlib::kProjectInfoFile, "damaged\r\n");
        continue;
      }
      ASSERT_EQ(extlib::WriteProjectInfo(dir_.path() + "/" + name, 0x1000u + static_cast<uint32_t>(i), r), 0);
      if (i % 5 == 0) dir_.Write(name + "/" + extlib::kAttributeCacheFileName, "cache\n");
    }
    fd_ = ::open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override { ::close(fd_); }

  // What the registration would read itself.
  void ExpectAsReadDirectly(size_t i, const PrefetchedEntry& got) {
    uint32_t id = 0;
    extlib::PRJ record;
    const int stored = extlib::ReadProjectInfo(dir_.path() + "/" + names_[i], &id, &record);
    EXPECT_EQ(got.stored, stored) << names_[i];
    if (stored == 0) {
      EXPECT_EQ(got.net_id, id) << names_[i];
      EXPECT_EQ(got.record.number, record.number) << names_[i];
      EXPECT_EQ(extlib::TrimmedName(got.record.name), extlib::TrimmedName(record.name)) << names_[i];
    }
    platform::FileInfo info;
    const bool absent =
        platform::CurrentEnv()->Stat(dir_.path() + "/" + names_[i] + "/" + extlib::kAttributeCacheFileName, &info) ==
        -ENOENT;
    EXPECT_EQ(got.cache_absent, absent) << names_[i];
  }

  static constexpr int kFolders = 150;
  testing::TempDir dir_;
  std::vector<std::string> names_;
  int fd_ = -1;
};

TEST_F(EntryPrefetchTest, EveryEntryReadsAsItWouldDirectlyWhicheverThreadReadIt) {
  std::vector<std::string> names = names_;
  names[17].clear();  // a link file: nothing to read ahead
  EntryPrefetch prefetch(*platform::CurrentEnv(), fd_, names);
  for (size_t i = 0; i < names.size(); ++i) {
    const PrefetchedEntry* got = prefetch.Get(i);
    if (i == 17) {
      EXPECT_EQ(got, nullptr);
      continue;
    }
    ASSERT_NE(got, nullptr) << i;
    ExpectAsReadDirectly(i, *got);
    if (i % 50 == 0) std::this_thread::yield();  // vary which thread gets ahead
  }
}

TEST_F(EntryPrefetchTest, StoppingHalfWayAndAReplacedEnvAreSafe) {
  {
    EntryPrefetch prefetch(*platform::CurrentEnv(), fd_, names_);
    ASSERT_NE(prefetch.Get(0), nullptr);
  }  // the rest is left unread: the thread stops and is joined
  platform::FaultInjectionEnv counting;
  platform::Env* previous = platform::SetCurrentEnv(&counting);
  {
    // A replaced Env is not shared with a second thread: the caller reads itself.
    EntryPrefetch prefetch(*platform::CurrentEnv(), fd_, names_);
    EXPECT_EQ(prefetch.Get(0), nullptr);
  }
  platform::SetCurrentEnv(previous);
  EXPECT_EQ(counting.Calls(platform::FaultPoint::kOpen), 0);
}

}  // namespace
}  // namespace dovrane::admin
