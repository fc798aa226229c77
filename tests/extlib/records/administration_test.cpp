#include "extlib/records/administration.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include "extlib/installation/operation_context.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_layout.h"
#include "platform/fault_injection_env.h"
#include "platform/manual_clock_env.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

using testing::SmallInstallation;

class AdministrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inst_.WriteAdministration({SmallInstallation::Record("Alpha", 5), SmallInstallation::Record("Beta", 9, "SRV2")}, 9);
  }
  // Runs fn in a child process (a second workstation); returns its exit status.
  template <typename Fn>
  int InChild(Fn fn) {
    pid_t pid = ::fork();
    if (pid == 0) {
      close_prj_info_handle(23);  // the child opens the file itself
      ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  SmallInstallation inst_;
};

TEST_F(AdministrationTest, ReadsRecordsInOrderUntilTheEnd) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  ASSERT_GE(h, 0);
  EXPECT_EQ(open_prj_info(DefaultContext(), 23, kOpenExisting), h);  // one shared handle per slot
  PRJ r;
  ASSERT_EQ(seek_prj_set(h, 1), 0);
  ASSERT_EQ(read_prj_info(h, &r), 0);
  EXPECT_EQ(r.number, 5u);
  ASSERT_EQ(read_prj_info(h, &r), 0);
  EXPECT_EQ(std::string(r.host), "SRV2");
  EXPECT_EQ(read_prj_info(h, &r), 1);
  NullRecord null_record;
  ASSERT_EQ(read_null_record(h, &null_record), 0);
  EXPECT_EQ(NullRecordHighest(null_record), 9u);
}

TEST_F(AdministrationTest, WritesInPlaceAndAppendsButLeavesNoGap) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  PRJ r = SmallInstallation::Record("Gamma", 12);
  ASSERT_EQ(seek_prj_set(h, 2), 0);
  ASSERT_EQ(write_prj_info(DefaultContext(), h, &r), 0);
  ASSERT_EQ(write_prj_info(DefaultContext(), h, &r), 0);  // slot 3: an append
  ASSERT_EQ(seek_prj_set(h, 5), 0);
  EXPECT_NE(write_prj_info(DefaultContext(), h, &r), 0);  // slot 5 would leave slot 4 undefined
  EXPECT_EQ(RecordSlotCount(h), 3);
  PRJ found;
  EXPECT_EQ(get_project_info(DefaultContext(), "Beta", &found), -3);
  ASSERT_EQ(get_project_info(DefaultContext(), "Gamma", &found), 0);
  EXPECT_EQ(found.number, 12u);
}

TEST_F(AdministrationTest, NullRecordKeepsTheLineEnd) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  NullRecord null_record;
  SetNullRecordHighest(&null_record, 1234);
  ASSERT_EQ(write_null_record(DefaultContext(), h, &null_record), 0);
  EXPECT_EQ(inst_.Admin().substr(0, 12), " 3n0001234\r\n");
}

TEST_F(AdministrationTest, OtherLayoutsAreRefusedUntilConverted) {
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 2\n");  // records carry 1 container
  EXPECT_EQ(open_prj_info(DefaultContext(), 23, kOpenExisting), -1);
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 1\n");
  inst_.dir.Write("SRV1/cad/Net/project.dat", " 2n0000001\r\n" + std::string(135, 'x') + "\r\n");
  EXPECT_EQ(open_prj_info(DefaultContext(), 23, kOpenExisting), -1);
}

TEST_F(AdministrationTest, CreateEmptyRefusesToReplaceAnAdministration) {
  EXPECT_EQ(open_prj_info(DefaultContext(), 23, kCreateEmpty), -1);
  close_prj_info_handle(23);
  ::unlink(inst_.Native("SRV1/cad/Net/project.dat").c_str());
  int h = open_prj_info(DefaultContext(), 23, kCreateEmpty);
  ASSERT_GE(h, 0);
  EXPECT_EQ(inst_.Admin(), " 3n0000000\r\n");
  EXPECT_EQ(RecordSlotCount(h), 0);
}

TEST_F(AdministrationTest, RecordLockIsSeenByAnotherProcessUntilReleased) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  ASSERT_EQ(lock_prj_info(DefaultContext(), h, 9, kLockRecord), 0);
  SetRecordLockTimeoutMs(100);
  auto try_lock = [] {
    int h2 = open_prj_info(DefaultContext(), 23, kOpenExisting);
    int rc = lock_prj_info(DefaultContext(), h2, 9, kLockRecord);
    int other = lock_prj_info(DefaultContext(), h2, 5, kLockRecord);  // another record stays free
    return rc == -7 && other == 0 ? 0 : rc == 0 ? 2 : 3;
  };
  EXPECT_EQ(InChild(try_lock), 0);
  auto try_name = [] { return lock_prj_nam(DefaultContext(), 23, "Beta", kLockRecord) == -7 ? 0 : 1; };
  EXPECT_EQ(InChild(try_name), 0);
  ASSERT_EQ(lock_prj_info(DefaultContext(), h, 9, kUnlockRecord), 0);
  EXPECT_EQ(InChild([] { return lock_prj_nam(DefaultContext(), 23, "Beta", kLockRecord); }), 0);
}

// A lock by name that cannot read the administration must not answer that
// the project is gone (-3): -1 unreadable, -2 no administration.
TEST_F(AdministrationTest, LockByNameTellsAnUnreadableAdministrationFromAMissingProject) {
  const std::string good = inst_.Admin();
  std::string bad_line = good, bad_header = good;
  bad_line.replace(12 + 116 + 53, 1, "x");  // Beta's number
  bad_header.replace(2, 1, "x");
  const struct { std::string text; const char* name; int want; } cases[] = {
      {good, "Gamma", -3}, {bad_line, "Alpha", -1}, {bad_header, "Alpha", -1}, {"", "Alpha", -2}};
  for (const auto& c : cases) {
    close_prj_info_handle(23);
    if (c.text.empty())
      ::unlink(inst_.Native("SRV1/cad/Net/project.dat").c_str());
    else
      inst_.dir.Write("SRV1/cad/Net/project.dat", c.text);
    UnCachPrjList(DefaultContext());
    EXPECT_EQ(lock_prj_nam(DefaultContext(), 23, c.name, kLockRecord), c.want) << c.want;
    // Nothing is held under the name: an unlock only fails where the file does not open.
    EXPECT_EQ(lock_prj_nam(DefaultContext(), 23, c.name, kUnlockRecord),
              c.want == -3 || c.text == bad_line ? 0 : c.want)
        << c.want;
  }
}

TEST_F(AdministrationTest, LockedRecordIsNotWrittenByAnotherProcess) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  ASSERT_EQ(lock_null_record(DefaultContext(), h, kLockRecord), 0);
  ASSERT_EQ(lock_prj_info(DefaultContext(), h, 5, kLockRecord), 0);
  SetRecordLockTimeoutMs(100);
  EXPECT_EQ(InChild([] {
              unsigned char status = kStatusBlank | kStatusProjectOut;
              int a = put_project_status(DefaultContext(), "Alpha", &status);
              int h2 = open_prj_info(DefaultContext(), 23, kOpenExisting);
              NullRecord n;
              int b = read_null_record(h2, &n) == 0 ? write_null_record(DefaultContext(), h2, &n) : 0;
              return a == -7 && b == -7 ? 0 : 1;
            }),
            0);
  EXPECT_EQ(lock_prj_info(DefaultContext(), h, 77, kLockRecord), -3);
  EXPECT_EQ(lock_prj_info(DefaultContext(), h, 5, kUnlockRecord), 0);
  EXPECT_EQ(lock_null_record(DefaultContext(), h, kUnlockRecord), 0);
}

TEST_F(AdministrationTest, AppendAfterARecordWithoutItsLineEndWritesTheLineEndFirst) {
  const std::string whole = inst_.Admin();
  for (size_t cut : {2, 1}) {  // both line end characters dropped, or only the LF
    inst_.dir.Write("SRV1/cad/Net/project.dat", whole.substr(0, whole.size() - cut));
    close_prj_info_handle(23);
    int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
    EXPECT_EQ(RecordSlotCount(h), 2);
    PRJ r = SmallInstallation::Record("Gamma", 12);
    ASSERT_EQ(seek_prj_set(h, 3), 0);
    ASSERT_EQ(write_prj_info(DefaultContext(), h, &r), 0);
    EXPECT_EQ(inst_.Admin().substr(0, whole.size()), whole) << cut;
    EXPECT_EQ(RecordSlotCount(h), 3);
    EXPECT_EQ(get_project_info(DefaultContext(), "Beta", &r), 0);
  }
}

TEST_F(AdministrationTest, WriterWhoseFileWasReplacedMeanwhileWritesIntoTheNewOne) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  // A conversion renames its new file into place while this handle waits for a lock.
  std::string replaced = inst_.Admin();
  replaced.replace(12, 5, "Omega");
  inst_.dir.Write("SRV1/cad/Net/project.dat.conv", replaced);
  ASSERT_EQ(::rename(inst_.Native("SRV1/cad/Net/project.dat.conv").c_str(),
                     inst_.Native("SRV1/cad/Net/project.dat").c_str()), 0);
  ASSERT_EQ(lock_null_record(DefaultContext(), h, kLockRecord), 0);
  PRJ r = SmallInstallation::Record("Gamma", 12);
  ASSERT_EQ(seek_prj_set(h, 3), 0);
  ASSERT_EQ(write_prj_info(DefaultContext(), h, &r), 0);
  EXPECT_EQ(lock_null_record(DefaultContext(), h, kUnlockRecord), 0);
  EXPECT_EQ(get_project_info(DefaultContext(), "Gamma", &r), 0);
  EXPECT_EQ(get_project_info(DefaultContext(), "Omega", &r), 0);
}

TEST_F(AdministrationTest, ReaderMeetingAConversionUnderWayWaitsForItsLock) {
  const std::vector<PRJ> records = {SmallInstallation::Record("Alpha", 5), SmallInstallation::Record("Beta", 9)};
  inst_.containers = 2;
  inst_.WriteAdministration(records, 9);
  const std::string converted = inst_.Admin();
  inst_.containers = 1;
  inst_.WriteAdministration(records, 9);
  // The user count changes first; the file in the new layout follows by rename.
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 2\r\n");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(inst_.Native("SRV1/cad/Net/project.dat").c_str(), O_RDWR);
    platform::CurrentEnv()->Lock(fd, 0, 0, platform::LockMode::kExclusive, 1000);
    ::write(ready[1], "x", 1);
    platform::CurrentEnv()->SleepMs(300);  // the conversion's work
    inst_.dir.Write("SRV1/cad/Net/project.dat.conv", converted);
    ::rename(inst_.Native("SRV1/cad/Net/project.dat.conv").c_str(), inst_.Native("SRV1/cad/Net/project.dat").c_str());
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  PRJ r;
  EXPECT_EQ(get_project_info(DefaultContext(), "Beta", &r), 0);
  EXPECT_GE(open_prj_info(DefaultContext(), 23, kOpenExisting), 0);
  ::waitpid(pid, nullptr, 0);
}

TEST_F(AdministrationTest, SeveralRecordsGoInWithOneFlushAndTheNullRecordWithThem) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  const PRJ records[] = {SmallInstallation::Record("Gamma", 12), SmallInstallation::Record("Delta", 13),
                         SmallInstallation::Record("Epsilon", 14, "SRV2")};
  EXPECT_NE(write_prj_records(DefaultContext(), h, 4, records, 3), 0);  // slot 3 would stay undefined
  NullRecord raised;
  SetNullRecordHighest(&raised, 14);
  EXPECT_NE(write_prj_records(DefaultContext(), h, 3, records, 3, &raised), 0);  // the null record's lock is not held
  EXPECT_EQ(RecordSlotCount(h), 2);

  platform::FaultInjectionEnv counting;  // armed for nothing: counts the flushes
  platform::SetCurrentEnv(&counting);
  ASSERT_EQ(lock_null_record(DefaultContext(), h, kLockRecord), 0);
  const int rc = write_prj_records(DefaultContext(), h, 3, records, 3, &raised);
  EXPECT_EQ(lock_null_record(DefaultContext(), h, kUnlockRecord), 0);
  platform::SetCurrentEnv(nullptr);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(counting.Calls(platform::FaultPoint::kSync), 1);
  EXPECT_EQ(RecordSlotCount(h), 5);
  for (long slot = 3; slot <= 5; ++slot) {
    PRJ r;
    ASSERT_EQ(ReadRecordAtSlot(h, slot, &r), 0);
    EXPECT_EQ(r.number, records[slot - 3].number);
    EXPECT_STREQ(r.host, records[slot - 3].host);
  }
  EXPECT_EQ(inst_.Admin().substr(0, 12), " 3n0000014\r\n");
  // In place over existing slots as well.
  const PRJ renamed[] = {SmallInstallation::Record("Alpha2", 5), SmallInstallation::Record("Beta2", 9)};
  ASSERT_EQ(write_prj_records(DefaultContext(), h, 1, renamed, 2), 0);
  PRJ found;
  EXPECT_EQ(get_project_info(DefaultContext(), "Beta2", &found), 0);
  EXPECT_EQ(RecordSlotCount(h), 5);
}

// Records of one host lie scattered through the file: each run of
// neighbouring slots is one write, all of them one flush, and only slots the
// writer holds are written.
TEST_F(AdministrationTest, ScatteredRecordsGoInUnderTheirLocksWithOneFlush) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  const PRJ more[] = {SmallInstallation::Record("Gamma", 12), SmallInstallation::Record("Delta", 13),
                      SmallInstallation::Record("Epsilon", 14, "SRV2")};
  ASSERT_EQ(write_prj_records(DefaultContext(), h, 3, more, 3), 0);
  RecordLock one, three, four;
  ASSERT_EQ(LockRecordAtSlot(DefaultContext(), h, 1, &one), 0);
  ASSERT_EQ(LockRecordAtSlot(DefaultContext(), h, 3, &three), 0);
  ASSERT_EQ(LockRecordAtSlot(DefaultContext(), h, 4, &four), 0);
  PRJ changed[3];
  const long slots[] = {4, 1, 3};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(ReadRecordAtSlot(h, slots[i], &changed[i]), 0);
    changed[i].status = static_cast<unsigned char>(changed[i].status | 0x04);
  }
  const std::string before = inst_.Admin();
  const long with_unlocked[] = {4, 1, 5};
  EXPECT_EQ(WriteRecordsAtSlots(DefaultContext(), h, with_unlocked, changed, 3), kPrjLockFailed);
  EXPECT_EQ(inst_.Admin(), before);

  platform::FaultInjectionEnv env;
  platform::SetCurrentEnv(&env);
  env.Arm(platform::FaultPoint::kSync, 1, EIO);  // a failed flush puts the old bytes back
  EXPECT_NE(WriteRecordsAtSlots(DefaultContext(), h, slots, changed, 3), 0);
  EXPECT_EQ(inst_.Admin(), before);
  env.Disarm();
  env.Reset();
  const int rc = WriteRecordsAtSlots(DefaultContext(), h, slots, changed, 3);
  const int writes = env.Calls(platform::FaultPoint::kWrite), syncs = env.Calls(platform::FaultPoint::kSync);
  platform::SetCurrentEnv(nullptr);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(writes, 2);  // slot 1, then slots 3 and 4
  EXPECT_EQ(syncs, 1);
  for (long slot = 1; slot <= 5; ++slot) {
    PRJ r;
    ASSERT_EQ(ReadRecordAtSlot(h, slot, &r), 0);
    EXPECT_EQ((r.status & 0x04) != 0, slot == 1 || slot == 3 || slot == 4) << slot;
  }
  EXPECT_EQ(one.Release(), 0);
  EXPECT_EQ(three.Release(), 0);
  EXPECT_EQ(four.Release(), 0);
}

TEST_F(AdministrationTest, SeveralRecordsWaitForAnotherProcessesLockOnAnyOfTheirSlots) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  ASSERT_EQ(lock_prj_info(DefaultContext(), h, 9, kLockRecord), 0);  // slot 2
  SetRecordLockTimeoutMs(100);
  const std::string before = inst_.Admin();
  EXPECT_EQ(InChild([] {
              const PRJ records[] = {SmallInstallation::Record("Alpha2", 5), SmallInstallation::Record("Beta2", 9),
                                     SmallInstallation::Record("Gamma", 12)};
              return write_prj_records(DefaultContext(), open_prj_info(DefaultContext(), 23, kOpenExisting), 1, records,
                                       3) == -7
                         ? 0
                         : 1;
            }),
            0);
  EXPECT_EQ(inst_.Admin(), before);
  EXPECT_EQ(lock_prj_info(DefaultContext(), h, 9, kUnlockRecord), 0);
}

// The write's own lock over several slots is one range of the same open file:
// releasing it must not release a record lock the writer holds inside it.
TEST_F(AdministrationTest, SeveralRecordsWrittenOverAHeldRecordKeepItsLock) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  ASSERT_EQ(lock_prj_info(DefaultContext(), h, 9, kLockRecord), 0);  // slot 2
  const PRJ records[] = {SmallInstallation::Record("Alpha2", 5), SmallInstallation::Record("Beta", 9),
                         SmallInstallation::Record("Gamma", 12)};
  ASSERT_EQ(write_prj_records(DefaultContext(), h, 1, records, 3), 0);
  SetRecordLockTimeoutMs(100);
  EXPECT_EQ(InChild([] {
              return lock_prj_info(DefaultContext(), open_prj_info(DefaultContext(), 23, kOpenExisting), 9,
                                   kLockRecord) == -7
                         ? 0
                         : 1;
            }),
            0);
  EXPECT_EQ(lock_prj_info(DefaultContext(), h, 9, kUnlockRecord), 0);
}

TEST_F(AdministrationTest, NullRecordOfADamagedHeaderIsNotRead) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  ASSERT_GE(h, 0);
  // Damaged in place after the open: the handle reads the same file.
  for (const char* header : {" 3n00012x4\r\n", " 3x0001234\r\n", "x3n0001234\r\n", " 3n0001234xx"}) {
    const int fd = ::open(inst_.Native("SRV1/cad/Net/project.dat").c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, header, 12, 0), 12);
    ::close(fd);
    NullRecord null_record;
    EXPECT_EQ(read_null_record(h, &null_record), kPrjFailed) << header;
  }
}

// Two threads of one process share the handle but never its position or a
// record: each writes its own records, and every line reads back whole.
TEST_F(AdministrationTest, TwoThreadsWritingRecordsOfOneFileKeepEveryRecordWhole) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  constexpr long kPerThread = 4;
  constexpr uint32_t kRounds = 40;
  auto writer = [h](long first) {
    for (uint32_t round = 1; round <= kRounds; ++round) {
      // Odd rounds write on from one seek, even rounds name each slot.
      if (round % 2 && seek_prj_set(h, first) != 0) ADD_FAILURE() << first;
      for (long slot = first; slot < first + kPerThread; ++slot) {
        PRJ r = SmallInstallation::Record("S" + std::to_string(slot), static_cast<uint32_t>(slot * 1000 + round));
        if ((round % 2 ? write_prj_info(DefaultContext(), h, &r) : WriteRecordAtSlot(DefaultContext(), h, slot, &r)) !=
            0)
          ADD_FAILURE() << slot;
      }
    }
  };
  PRJ filler = SmallInstallation::Record("Filler", 99);  // slots 3..8 exist before the threads write
  for (long slot = 3; slot <= 2 * kPerThread; ++slot)
    ASSERT_EQ(WriteRecordAtSlot(DefaultContext(), h, slot, &filler), 0);
  std::thread first(writer, 1), second(writer, 1 + kPerThread);
  first.join();
  second.join();
  ASSERT_EQ(RecordSlotCount(h), 2 * kPerThread);
  EXPECT_EQ(inst_.Admin().size(), 12u + 2 * kPerThread * (layout::V3LineLength(1) + 2));
  for (long slot = 1; slot <= 2 * kPerThread; ++slot) {
    PRJ r;
    ASSERT_EQ(ReadRecordAtSlot(h, slot, &r), 0) << slot;
    EXPECT_EQ(std::string(r.name).substr(0, 3), "S" + std::to_string(slot) + " ");
    EXPECT_EQ(r.number, static_cast<uint32_t>(slot * 1000 + kRounds));
  }
}

// Another thread of this process waits for a lock this thread holds, as
// another process does: a record or the null record is never held by two.
TEST_F(AdministrationTest, ThreadWaitsForARecordLockAnotherThreadHolds) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  platform::ManualClockEnv clock;  // the waits take no real time
  platform::SetCurrentEnv(&clock);
  const PRJ r = SmallInstallation::Record("Alpha", 5);
  const struct { const char* what; std::function<int(int)> lock; std::function<int()> write;
  } cases[] = {{"record", [h](int mode) { return LockRecordSlot(DefaultContext(), h, 1, mode); },
                [&] { return WriteRecordAtSlot(DefaultContext(), h, 1, &r); }},
               {"null record", [h](int mode) { return lock_null_record(DefaultContext(), h, mode); },
                [h] {
                  NullRecord n;
                  return write_null_record(DefaultContext(), h, &n);
                }}};
  for (const auto& c : cases) {
    ASSERT_EQ(c.lock(kLockRecord), 0);
    int locked = 0, written = 0, unlocked = 0, after = 0;
    std::thread([&] {
      locked = c.lock(kLockRecord);
      written = c.write();
      unlocked = c.lock(kUnlockRecord);
    }).join();
    EXPECT_EQ(locked, kPrjLockFailed) << c.what;
    EXPECT_EQ(written, kPrjLockFailed) << c.what;
    EXPECT_EQ(unlocked, kPrjOk) << c.what;  // not this thread's: still held by the first
    std::thread([&] { after = c.lock(kLockRecord); }).join();
    EXPECT_EQ(after, kPrjLockFailed) << c.what;
    ASSERT_EQ(c.lock(kUnlockRecord), 0);
    std::thread([&] { after = c.lock(kLockRecord) == 0 && c.lock(kUnlockRecord) == 0 ? 0 : 1; }).join();
    EXPECT_EQ(after, 0) << c.what;
  }
  platform::SetCurrentEnv(nullptr);
}

// A clock whose first wait parks its thread until the test lets it go on (or
// a bound of real time passes, which only a blocked test reaches).
class ParkingClockEnv : public platform::ManualClockEnv {
 public:
  void SleepMs(int ms) override {
    std::unique_lock<std::mutex> lock(m_);
    if (!parked_) {
      parked_ = true;
      changed_.notify_all();
      released_in_time_ = changed_.wait_for(lock, std::chrono::seconds(10), [&] { return go_; });
    }
    lock.unlock();
    ManualClockEnv::SleepMs(ms);
  }
  bool WaitUntilParked() {
    std::unique_lock<std::mutex> lock(m_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return parked_; });
  }
  void Go() {
    std::lock_guard<std::mutex> lock(m_);
    go_ = true;
    changed_.notify_all();
  }
  bool ReleasedInTime() {
    std::lock_guard<std::mutex> lock(m_);
    return released_in_time_;
  }

 private:
  std::mutex m_;
  std::condition_variable changed_;
  bool parked_ = false, go_ = false, released_in_time_ = false;
};

// While one thread waits for a record that another process holds, the
// other records of the file stay readable and lockable for a window's thread.
TEST_F(AdministrationTest, WaitForARecordLockLeavesTheOtherRecordsFree) {
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  const int other = ::open(inst_.Native("SRV1/cad/Net/project.dat").c_str(), O_RDWR);  // another process's open
  const int64_t line = layout::V3LineLength(1) + 2;
  ASSERT_EQ(platform::CurrentEnv()->Lock(other, 12 + line, line, platform::LockMode::kExclusive, 0), 0);
  ParkingClockEnv clock;
  platform::SetCurrentEnv(&clock);
  int waited = -1;
  std::thread waiter([&] { waited = LockRecordSlot(DefaultContext(), h, 2, kLockRecord); });
  ASSERT_TRUE(clock.WaitUntilParked());
  PRJ r;
  EXPECT_EQ(ReadRecordAtSlot(h, 1, &r), 0);
  EXPECT_EQ(LockRecordSlot(DefaultContext(), h, 1, kLockRecord), 0);
  EXPECT_EQ(LockRecordSlot(DefaultContext(), h, 1, kUnlockRecord), 0);
  platform::CurrentEnv()->Lock(other, 12 + line, line, platform::LockMode::kUnlock, 0);
  clock.Go();
  waiter.join();
  platform::SetCurrentEnv(nullptr);
  ::close(other);
  EXPECT_TRUE(clock.ReleasedInTime());  // nothing above waited behind the waiter
  EXPECT_EQ(waited, 0);
}

}  // namespace
}  // namespace dovrane::extlib

namespace dovrane::extlib {
namespace {

TEST(AdministrationLineEndTest, WritesKeepTheFilesLineEnd) {
  for (int line_end : {1, 2}) {
    testing::SmallInstallation inst;
    inst.WriteAdministration({testing::SmallInstallation::Record("Alpha", 5)}, 5, line_end);
    int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
    ASSERT_GE(h, 0);
    PRJ r = testing::SmallInstallation::Record("Beta", 6);
    ASSERT_EQ(seek_prj_set(h, 2), 0);
    ASSERT_EQ(write_prj_info(DefaultContext(), h, &r), 0);
    const std::string text = inst.Admin();
    EXPECT_EQ(text.size(), static_cast<size_t>(10 + line_end + 2 * (114 + line_end))) << line_end;
    EXPECT_EQ(text.find('\r') != std::string::npos, line_end == 2);
    PRJ found;
    EXPECT_EQ(get_project_info(DefaultContext(), "Beta", &found), 0);
  }
}

}  // namespace
}  // namespace dovrane::extlib
