#include "admin/append_batch.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "admin/record_writes.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/project_attributes.h"
#include "platform/fault_injection_env.h"
#include "platform/file_util.h"
#include "platform/manual_clock_env.h"
#include "repair_fixture.h"

namespace dovrane::admin {
namespace {

constexpr uint32_t kProjects = 12;

class AppendBatchTest : public RepairTest {
 protected:
  // The batch's time passes only when a test says so: a slow machine must not
  // write it early.
  void SetUp() override {
    MakeInstallation(2, kProjects);
    platform::SetCurrentEnv(&clock_);
  }
  void TearDown() override {
    platform::SetCurrentEnv(nullptr);
    RepairTest::TearDown();
  }
  static extlib::PRJ Record(const std::string& name, uint32_t number, const std::string& host = "SRV2") {
    extlib::PRJ r;
    extlib::SetPrjName(&r, name);
    extlib::SetPrjHost(&r, host);
    r.number = number;
    return r;
  }
  // 0 when another process can take the null record's lock at once (appending).
  int OtherProcessCanAppend() {
    pid_t pid = ::fork();
    if (pid == 0) {
      extlib::close_prj_info_handle(extlib::kSlotNet);
      extlib::SetRecordLockTimeoutMs(50);
      int h = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
      ::_exit(h >= 0 && extlib::lock_null_record(extlib::DefaultContext(), h, extlib::kLockRecord) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WEXITSTATUS(status);
  }
  platform::ManualClockEnv clock_;
  uint32_t HighestInFile() { return extlib::NullRecordHighest(ParseNull(Admin())); }
  static extlib::NullRecord ParseNull(const std::string& text) {
    extlib::NullRecord n;
    std::memcpy(n.highest, text.data() + 2, 8);
    return n;
  }
};

// The run's own writes kept over the shared snapshot answer as the file read
// afresh does: free slots, duplicates in slot order, the largest number.
TEST_F(AppendBatchTest, OwnWritesOverTheSnapshotAgreeWithTheFileReadAgain) {
  std::vector<extlib::PRJ> records = Records();  // slot order, slots 1..12
  const extlib::PRJ largest = records.back();
  extlib::PRJ twin = Record("", 90), moved = records[2];
  std::memcpy(twin.name, records[7].name, extlib::kNameLength);  // the name of slot 8
  extlib::SetPrjHost(&moved, "SRV1");
  const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  const uint64_t generation = CurrentIndex(extlib::DefaultContext())->Generation();
  ASSERT_EQ(CurrentIndex(extlib::DefaultContext())->Largest(), largest.number);
  ASSERT_EQ(MarkRecordDeleted(extlib::DefaultContext(), largest, handle), 0);  // slot 12 free, the largest number gone
  EXPECT_EQ(CurrentIndex(extlib::DefaultContext())->Largest(), records[records.size() - 2].number);
  ASSERT_EQ(MarkRecordDeleted(extlib::DefaultContext(), records[4], handle), 0);  // slot 5 free
  ASSERT_EQ(WriteWhole(moved, handle), 0);
  ASSERT_EQ(AppendRecord(extlib::DefaultContext(), twin), 0);                     // into slot 5, before its twin
  ASSERT_EQ(MarkRecordDeleted(extlib::DefaultContext(), records[7], handle), 0);  // the twin in slot 5 is the one now
  ASSERT_EQ(AppendRecord(extlib::DefaultContext(), Record("Anbau", 91)), 0);      // into slot 12
  ASSERT_EQ(AppendRecord(extlib::DefaultContext(), Record("Brunnen", 92)), 0);    // past the end
  ProjectIndex* own = CurrentIndex(extlib::DefaultContext());
  ASSERT_EQ(own->Generation(), generation);  // the writes were kept, the file not read again
  extlib::ProjectTable table(extlib::ProcessInstallation());
  ProjectIndex fresh;
  ASSERT_EQ(fresh.Load(extlib::DefaultContext(), table), 0);
  auto slots = [](const std::vector<IndexedRecord>& v) {
    std::vector<std::pair<long, uint32_t>> out;
    for (const IndexedRecord& r : v) out.emplace_back(r.slot, r.record.number);
    return out;
  };
  EXPECT_EQ(slots(own->Records()), slots(fresh.Records()));
  EXPECT_EQ(own->LiveCount(), fresh.LiveCount());
  EXPECT_EQ(own->FirstFreeSlot(), fresh.FirstFreeSlot());
  EXPECT_EQ(own->Largest(), fresh.Largest());
  EXPECT_EQ(own->Highest(), fresh.Highest());
  for (const IndexedRecord& r : fresh.Records()) {
    IndexedRecord a, b;
    ASSERT_TRUE(own->FindName(r.record.name, &a) && fresh.FindName(r.record.name, &b));
    EXPECT_EQ(a.slot, b.slot) << r.record.name;
    EXPECT_EQ(own->NumberUsed(r.record.number), true);
  }
  EXPECT_FALSE(own->NumberUsed(largest.number));
}

TEST_F(AppendBatchTest, PlacedRecordsAreSeenAtOnceAndWrittenTogetherUnderTheAppendLock) {
  const std::string before = Admin();
  AppendBatch batch;
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Anbau", 40), ""), 0);
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Brunnen", 41), ""), 0);
  // The run sees them (numbers and names in use, slots taken) before the file has them.
  ProjectIndex* index = CurrentIndex(extlib::DefaultContext());
  ASSERT_NE(index, nullptr);
  EXPECT_TRUE(index->NumberUsed(41));
  EXPECT_TRUE(index->NameUsed("Anbau"));
  EXPECT_EQ(index->FirstFreeSlot(), static_cast<long>(kProjects) + 3);
  EXPECT_EQ(Admin(), before);
  EXPECT_EQ(batch.Add(extlib::DefaultContext(), Record("Carport", 40), ""), -1);  // a number placed already
  EXPECT_NE(OtherProcessCanAppend(), 0);

  ASSERT_EQ(batch.Flush(extlib::DefaultContext()), 0);
  EXPECT_EQ(OtherProcessCanAppend(), 0);
  const auto records = Records();
  ASSERT_EQ(records.size(), kProjects + 2);
  EXPECT_EQ(extlib::TrimmedName(records[kProjects].name), "Anbau");
  EXPECT_EQ(extlib::TrimmedName(records[kProjects + 1].name), "Brunnen");
  EXPECT_EQ(HighestInFile(), 41u);
  EXPECT_EQ(batch.Size(), 0u);
  EXPECT_EQ(batch.Flush(extlib::DefaultContext()), 0);  // nothing left: no write
  EXPECT_EQ(Records().size(), kProjects + 2);
}

TEST_F(AppendBatchTest, BatchIsWrittenOnceItsFirstRecordHasWaitedTheLongestWait) {
  const std::string before = Admin();
  AppendBatch batch;
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Anbau", 40), ""), 0);
  clock_.Advance(AppendBatch::kMaxWaitMs - 1);
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Brunnen", 41), ""), 0);
  EXPECT_EQ(Admin(), before);
  EXPECT_NE(OtherProcessCanAppend(), 0);
  clock_.Advance(1);
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Carport", 42), ""), 0);
  EXPECT_EQ(Records().size(), kProjects + 3);
  EXPECT_EQ(HighestInFile(), 42u);
  EXPECT_EQ(OtherProcessCanAppend(), 0);
}

TEST_F(AppendBatchTest, PlacedRecordsSurviveTheIndexBeingReadAgainAfterAnotherWriter) {
  const extlib::PRJ first = Records().front();
  AppendBatch batch;
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Anbau", 40), ""), 0);
  // Another process rewrites a record (no append: that waits for the batch).
  pid_t pid = ::fork();
  if (pid == 0) {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::PRJ renamed = first;
    extlib::SetPrjName(&renamed, "Umbenannt");
    int h = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
    ::_exit(h >= 0 && extlib::seek_prj_set(h, 1) == 0 &&
                    extlib::write_prj_info(extlib::DefaultContext(), h, &renamed) == 0
                ? 0
                : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);

  ProjectIndex* index = CurrentIndex(extlib::DefaultContext());  // read again: the file changed
  ASSERT_NE(index, nullptr);
  EXPECT_TRUE(index->NameUsed("Umbenannt"));
  EXPECT_TRUE(index->NumberUsed(40));
  EXPECT_EQ(index->FirstFreeSlot(), static_cast<long>(kProjects) + 2);
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Brunnen", 41), ""), 0);
  ASSERT_EQ(batch.Flush(extlib::DefaultContext()), 0);
  const auto records = Records();
  ASSERT_EQ(records.size(), kProjects + 2);
  EXPECT_EQ(extlib::TrimmedName(records[0].name), "Umbenannt");
  EXPECT_EQ(records[kProjects].number, 40u);
  EXPECT_EQ(records[kProjects + 1].number, 41u);
}

TEST_F(AppendBatchTest, AFreedSlotIsLeftToASingleAppend) {
  const extlib::PRJ third = Records()[2];
  int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  ASSERT_EQ(MarkRecordDeleted(extlib::DefaultContext(), third, handle), 0);
  AppendBatch batch;
  EXPECT_EQ(batch.Add(extlib::DefaultContext(), Record("Anbau", 40), ""), 1);
  EXPECT_EQ(OtherProcessCanAppend(), 0);  // refused without keeping the lock
  ASSERT_EQ(AppendRecord(extlib::DefaultContext(), Record("Anbau", 40)), 0);
  EXPECT_EQ(extlib::TrimmedName(Records()[2].name), "Anbau");
  EXPECT_EQ(batch.Add(extlib::DefaultContext(), Record("Brunnen", 41), ""), 0);  // now after the last again
  ASSERT_EQ(batch.Flush(extlib::DefaultContext()), 0);
  EXPECT_EQ(Records().back().number, 41u);
}

TEST_F(AppendBatchTest, FailedWriteLeavesTheAdministrationAndForgetsThePlacedRecords) {
  const std::string before = Admin();
  AppendBatch batch;
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Anbau", 40), ""), 0);
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Brunnen", 41), ""), 0);
  platform::FaultInjectionEnv faults;
  faults.Arm(platform::FaultPoint::kSync, 1, EIO);
  platform::Env* previous = platform::SetCurrentEnv(&faults);
  EXPECT_EQ(batch.Flush(extlib::DefaultContext()), -1);
  platform::SetCurrentEnv(previous);
  EXPECT_EQ(Admin(), before);
  ASSERT_FALSE(messages_.texts.empty());
  EXPECT_EQ(messages_.texts.back(), "Can't append record to project administration.\n");
  ProjectIndex* index = CurrentIndex(extlib::DefaultContext());
  ASSERT_NE(index, nullptr);
  EXPECT_FALSE(index->NumberUsed(40));
  EXPECT_EQ(index->FirstFreeSlot(), static_cast<long>(kProjects) + 1);
  EXPECT_EQ(OtherProcessCanAppend(), 0);
}

TEST_F(AppendBatchTest, DiskCacheIsImportedOnlyOnceItsRecordIsWritten) {
  // A disk cache of project 40 in a folder, as exported by another installation.
  extlib::RX_ProjectAttributes attributes(extlib::kSlotNet);
  ASSERT_EQ(attributes.setAttribute(40, "PRJ_DESCRIPTION", "Anbau Nord"), 0);
  const std::string cache = Unc("SRV2/cad/Prj/n0000040.prj/") + extlib::kAttributeCacheFileName;
  ASSERT_EQ(platform::MakeDirectories(Unc("SRV2/cad/Prj/n0000040.prj")), 0);
  ASSERT_EQ(extlib::RX_ProjectAttributesCache::instance().exportToDiskCacheFile(40, cache, attributes), 0);
  ASSERT_GE(attributes.deleteAttributesByProject(40), 0);

  AppendBatch batch;
  ASSERT_EQ(batch.Add(extlib::DefaultContext(), Record("Anbau", 40), cache), 0);
  std::string value;
  EXPECT_NE(attributes.getAttribute(40, "PRJ_DESCRIPTION", &value), 0);
  ASSERT_EQ(batch.Flush(extlib::DefaultContext()), 0);
  ASSERT_EQ(attributes.getAttribute(40, "PRJ_DESCRIPTION", &value), 0);
  EXPECT_EQ(value, "Anbau Nord");
}

}  // namespace
}  // namespace dovrane::admin
