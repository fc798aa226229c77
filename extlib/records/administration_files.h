// The administration files open in this process: the table of handles, each
// file with its own mutex, and the record locks of its slots. A lock is taken
// in two parts: the claim, which excludes the other threads of this process,
// and the file lock on the slot's bytes, which other processes see. Every
// wait for either is made with the file's mutex released.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"

namespace dovrane::platform {
class Env;
}

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::extlib::admin_files {

// One open administration file and what it measured when opened.
struct OpenedFile {
  int fd = -1;
  // The Env of the installation that opened it; null: the process's current
  // one (a test may replace it while the file stays open).
  platform::Env* env = nullptr;
  platform::Env& Env() const;
  uint64_t device = 0, inode = 0;
  AdminHeader header;
  int64_t HeaderBytes() const { return layout::kHeaderText + header.line_end; }
  int64_t LineBytes() const { return layout::V3LineLength(header.user_words) + header.line_end; }
  int64_t Offset(long slot) const { return HeaderBytes() + (slot - 1) * LineBytes(); }
};

// A thread of this process, told apart from every other thread that ever
// ran in it: thread ids are reused once a thread has ended, these never are.
// alive expires when the thread ends.
struct Owner {
  uint64_t id = 0;
  std::weak_ptr<const void> alive;
  bool operator==(const Owner& other) const { return id == other.id; }
  bool Ended() const { return alive.expired(); }
};
// The calling thread.
const Owner& CurrentOwner();

// Who in this process has a record slot (0: the null record). File locks
// belong to the open file, not to a thread: two threads of one process do
// not exclude each other through them, so the claim does. held: a lock that
// stays after the call (a RecordLock, lock_prj_info, lock_null_record);
// otherwise the write's own lock for the time of the write. name and number:
// the record as it was when locked, so that an unlock by name or number finds
// the lock even after the record was renamed or erased under it.
struct Claim {
  Owner owner;
  bool held = false;
  std::string name;
  uint32_t number = 0;
};

struct AdminFile {
  AdminFile(int s, std::string n, bool net, uint64_t i) : slot(s), native(std::move(n)), network(net), id(i) {}
  const int slot;
  const std::string native;
  const bool network;
  const uint64_t id;  // tells a handle number's files apart when it is reused
  // Guards everything below and every use of the descriptor; never held
  // while a lock is waited for.
  std::mutex m;
  OpenedFile file;  // fd -1 once closed
  uint64_t generation = 0;  // counts reopens
  int waiters = 0;          // threads waiting for a lock of this file
  std::map<long, Claim> claims;
};

using FilePtr = std::shared_ptr<AdminFile>;

// A file's mutex held on a file that is still open.
struct Locked {
  FilePtr f;
  std::unique_lock<std::mutex> lock;
  explicit operator bool() const { return f && f->file.fd >= 0; }
};

// The entry of a handle (null when it is not open), and the same with its mutex held.
FilePtr Find(int handle);
Locked LockFile(int handle);
// This thread's position in the handle's file (record slot, 1 = first).
long& PositionOf(int handle, const AdminFile& f);

// The slot's open entry when its file is still the one at native (or a lock
// of it is held or waited for); otherwise a replaced file's entry is closed
// and the file opened anew. The handle or -1.
[[nodiscard]] int OpenSlot(OperationContext& ctx, int slot, const std::string& path, const std::string& native);
// Opens a new entry of the slot (created: for a new empty administration). The handle or -1.
[[nodiscard]] int OpenNew(OperationContext& ctx, int slot, const std::string& path, bool created);
// Closes one handle, or every handle of a slot; their locks are released. 0 or -1.
[[nodiscard]] int CloseHandle(int handle);
void CloseSlot(int slot);

[[nodiscard]] int LockTimeoutMs();

// The slot (0: the null record) is locked by this thread and stays so.
bool HeldBy(const AdminFile& f, long slot, const Owner& owner);
// Releases the locks of threads that have ended: nobody can release them any
// more, and they would keep every other writer waiting. REQUIRES: f.m.
void DropEndedClaims(AdminFile* f);
// Takes this thread's claim on slots [first, first + count) and the file
// lock on their range, waiting at most the lock time with the file's mutex
// released. The claims taken are added to *added (not held). REQUIRES: lk
// holds f->m (held again on return). 0, -7 (not lockable in time) or -1 (the
// file was closed, or the file that replaced it cannot be opened).
[[nodiscard]] int AcquireSlots(OperationContext& ctx, AdminFile* f, std::unique_lock<std::mutex>& lk, long first,
                               long count, std::vector<long>* added);
// Unlocks the file lock of slots [first, first + count) except the ones held in this process.
void UnlockSlots(AdminFile* f, long first, long count);
// Takes a lock that stays until released (a record slot, or 0: the null
// record). REQUIRES: lk holds f->m. 0, -7 or -1.
[[nodiscard]] int TakeHeld(OperationContext& ctx, AdminFile* f, std::unique_lock<std::mutex>& lk, long slot);
// Releases owner's lock of the slot; one it does not hold is not locked for it. 0 or -7.
[[nodiscard]] int ReleaseHeld(AdminFile* f, long slot, const Owner& owner);
// Lasting locks of this thread on slots [first, first + count) with one file
// lock over their range, taken only when no slot of it is claimed in this
// process and the range can be locked at once: never a wait. REQUIRES: f.m.
// 0, or -7 (nothing taken).
[[nodiscard]] int TryTakeHeldRange(AdminFile* f, long first, long count);
// Releases owner's lasting locks of slots [first, first + count), one unlock
// for each run of them; the slots of others stay locked. REQUIRES: f.m. 0 or -7.
[[nodiscard]] int ReleaseHeldRange(AdminFile* f, long first, long count, const Owner& owner);

}  // namespace dovrane::extlib::admin_files
