// The project administration project.dat, record by record: open handles,
// positioned reads and writes of version 3 lines for the installation's
// container count, the null record, and byte-range record locks that every
// process sees (open-file-description locks, taken with a time limit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "extlib/records/prj_record.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/record_line.h"

namespace dovrane::extlib {

class OperationContext;

inline constexpr char kAdministrationFile[] = "project.dat";
inline constexpr int kOpenExisting = 2;
inline constexpr int kCreateEmpty = 0x502;
inline constexpr int kLockRecord = 2;
inline constexpr int kUnlockRecord = 0;

// mode 2: the handle of the slot's administration (opened once, shared by the
// callers of the slot and their threads); 0x502: creates a new empty
// administration (refused when one exists) and opens it. A handle >= 0, or -1. A file in another
// layout (versions 1/2, another container count) is refused: convert it first.
[[nodiscard]] int open_prj_info(OperationContext& ctx, int slot, int mode);
// Why open_prj_info(slot, 2) gave no handle, as a project code: -2 when no
// administration is there, -1 when one is there but does not open (no
// access rights, a read-only file system, something that is not a file).
[[nodiscard]] int AdministrationOpenFailure(OperationContext& ctx, int slot);
// Closes the handle; its locks are released. 0 or -1.
int close_prj_info(int handle);
// Closes the slot's open handle, if any (before the slot is re-pointed).
int close_prj_info_handle(int slot);
// Positions at record slot (1 = first record). 0 or -1. Each thread has its
// own position in a handle: one thread's seek never moves another's write.
[[nodiscard]] int seek_prj_set(int handle, long slot);
// What the record readers answer; a negative errno value is a read error of
// the file itself. Not project codes: a caller makes one of them.
enum RecordRead : int {
  kRecordRead = 0,
  kRecordEnd = 1,                 // end of file, or an append a crash cut short
  kRecordBad = -1,                // a short line or fields that do not scan
  kRecordLineEndMisplaced = -10,  // the line end not where the layout puts it
};

// Reads the record at the position and advances: a RecordRead.
[[nodiscard]] int read_prj_info(int handle, PRJ* record);
// Writes the record at the position (at most one past the last) and
// advances; flushed and read back. A record not locked by the caller is
// locked for the write. 0 or negative.
[[nodiscard]] int write_prj_info(OperationContext& ctx, int handle, const PRJ* record);
[[nodiscard]] int write_PrjInfo(OperationContext& ctx, int handle, const PRJ* record);
// Writes count records into the consecutive slots from first_slot (the first
// at most one past the last) with one locked write and one flush, read back;
// a failure leaves the slots as they were. With null_record (its lock held by
// the caller) the null record is written before the same flush. 0, -7 (not
// lockable) or -1.
[[nodiscard]] int write_prj_records(OperationContext& ctx, int handle, long first_slot, const PRJ* records,
                                    size_t count, const NullRecord* null_record = nullptr);
// Writes records into slots anywhere in the file (none past its end), each
// slot already locked by this thread (else -7 and nothing written): runs of
// neighbouring slots with one write each, one flush for all, then read back.
// Two runs whose slots between them this thread holds locked too (see
// RecordRangeLocks) are one write when that write stays within
// kJoinedWriteBytes and what lies between within kJoinedGapBytes: those
// records go back as they are. A failure puts the slots' old bytes back.
// 0, -7 or -1. The cost of a change of many records on a slow share: two
// calls a record, not six, and one a group of records close together.
[[nodiscard]] int WriteRecordsAtSlots(OperationContext& ctx, int handle, const long* slots, const PRJ* records, size_t count);
inline constexpr int64_t kJoinedWriteBytes = 64 << 10;
inline constexpr int64_t kJoinedGapBytes = 4 << 10;
// Reads the record in a slot without moving the position; as read_prj_info.
[[nodiscard]] int ReadRecordAtSlot(int handle, long slot, PRJ* record);
// Writes the record into a slot without moving the position; as write_prj_info.
[[nodiscard]] int WriteRecordAtSlot(OperationContext& ctx, int handle, long slot, const PRJ* record);
// Record slot of the current position.
[[nodiscard]] long CurrentRecordSlot(int handle);
// Number of record slots in the file (deleted ones included).
[[nodiscard]] long RecordSlotCount(int handle);

// A lasting record lock (or the null record's) of the thread that took it,
// released when Release is called or the lock goes out of scope. It is
// released by the slot it locked, never by looking the record up again: the
// record may have been renamed or erased under it, and a lock left behind
// would keep every other workstation from writing that slot. Release may be
// called from any thread.
class RecordLock {
 public:
  RecordLock() = default;
  RecordLock(RecordLock&& other) noexcept;
  RecordLock& operator=(RecordLock&& other) noexcept;
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;
  ~RecordLock();

  bool held() const { return handle_ >= 0; }
  long slot() const { return slot_; }
  // 0, or -7 when the file lock could not be released (it goes with the file's close).
  [[nodiscard]] int Release();

 private:
  friend int LockRecordByName(OperationContext&, int, const std::string&, RecordLock*);
  friend int LockRecordByNumber(OperationContext&, int, uint32_t, RecordLock*);
  friend int LockRecordAtSlot(OperationContext&, int, long, RecordLock*);
  friend int LockNullRecord(OperationContext&, int, RecordLock*);
  void Adopt(int handle, long slot);

  int handle_ = -1;
  long slot_ = -1;
  uint64_t file_id_ = 0;
  uint64_t owner_id_ = 0;
};

// The records of many slots locked a group at a time: each group of slots
// close together (at most kJoinedGapBytes between neighbours, within
// kJoinedWriteBytes in all) with one file lock over its range, the records
// between them included, when that range can be locked at once. A group
// that cannot (a record of it locked here or elsewhere) is not waited for:
// its slots are left to the caller, to lock one by one as usual. For a pass
// over many records on a share: one lock and one release a group instead of
// one of each a record, and one write (WriteRecordsAtSlots). Released whole
// by Release or when it goes out of scope, by the thread that took it.
class RecordRangeLocks {
 public:
  RecordRangeLocks() = default;
  RecordRangeLocks(const RecordRangeLocks&) = delete;
  RecordRangeLocks& operator=(const RecordRangeLocks&) = delete;
  ~RecordRangeLocks();

  // slots ascending, each once. (*locked)[i]: slots[i] is locked by a group
  // (single slots never are). Adds to the groups held; 0 or -1 (no such handle).
  [[nodiscard]] int Take(int handle, const long* slots, size_t count, std::vector<bool>* locked);
  // 0, or -7 when a file lock could not be released (it goes with the file's close).
  [[nodiscard]] int Release();

 private:
  int handle_ = -1;
  uint64_t file_id_ = 0;
  std::vector<std::pair<long, long>> ranges_;  // first slot, count
};

// Lock a record into *lock (what it held before is released first). By name
// in the administration of a path slot: 0, -2 (no administration), -1 (it
// cannot be read), -3 (no such record) or -7 (not lockable in time). By
// number in an open handle: 0, -1, -3 or -7. A slot: 0, -1 or -7.
[[nodiscard]] int LockRecordByName(OperationContext& ctx, int admin_slot, const std::string& name, RecordLock* lock);
[[nodiscard]] int LockRecordByNumber(OperationContext& ctx, int handle, uint32_t number, RecordLock* lock);
[[nodiscard]] int LockRecordAtSlot(OperationContext& ctx, int handle, long slot, RecordLock* lock);
// The null record, which guards the header and the append position: 0, -7 or -1.
[[nodiscard]] int LockNullRecord(OperationContext& ctx, int handle, RecordLock* lock);

// The interface of the CAD system's record library: mode 2 locks, 0 unlocks.
// 0, -3 (no such record) or -7 (not lockable in time). A lock belongs to the
// thread that took it: another thread of this process waits for it as
// another process does, and cannot release it (unlocking a record one does
// not hold is 0 and changes nothing). An unlock by name or number releases
// the lock this thread took under that name or number, whatever the record
// holds now. Code of this program takes a RecordLock instead.
[[nodiscard]] int lock_prj_info(OperationContext& ctx, int handle, uint32_t number, int mode);
// The same by name; also -2 (no administration) and -1 (it cannot be read).
[[nodiscard]] int lock_prj_nam(OperationContext& ctx, int slot, const std::string& name, int mode);
[[nodiscard]] int lock_null_record(OperationContext& ctx, int handle, int mode);
// -1 when the header cannot be read or parsed.
[[nodiscard]] int read_null_record(int handle, NullRecord* null_record);
[[nodiscard]] int write_null_record(OperationContext& ctx, int handle, const NullRecord* null_record);

// How long a lock is waited for (default 10 s); tests shorten it.
void SetRecordLockTimeoutMs(int ms);
[[nodiscard]] int RecordLockTimeoutMs();
// Copies the header of an open handle (version 3, line end, container count). 0 or -1.
[[nodiscard]] int HandleHeader(int handle, AdminHeader* header);
// Locks and unlocks one record slot of the handle (as lock_prj_info does for a number).
[[nodiscard]] int LockRecordSlot(OperationContext& ctx, int handle, long slot, int mode);
// Cuts an unfinished append (a last line shorter than a record, left by a
// writer that died while appending) off the end of the file. A record that
// lacks only its line end stays. REQUIRES: the null record is locked by this
// handle, so no append is under way. 0 or -1.
[[nodiscard]] int DropUnfinishedAppend(OperationContext& ctx, int handle);

}  // namespace dovrane::extlib
