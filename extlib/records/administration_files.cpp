#include "extlib/records/administration_files.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {
namespace admin_files {

namespace L = layout;
using platform::CurrentEnv;

platform::Env& OpenedFile::Env() const { return env ? *env : *CurrentEnv(); }

namespace {

// Guards the table of open files only (find, insert, remove); taken before a
// file's mutex, never after it.
std::mutex g_table_mutex;
std::vector<FilePtr> g_files;
std::atomic<uint64_t> g_next_id = 1;
std::atomic<int> g_lock_timeout_ms = 10000;
// How many whole-file rewrites one open or lock follows before it gives up.
constexpr int kMaxFollows = 50;

// Each thread reads and writes at its own position of a handle, so that
// seeking and writing in one thread never moves another thread's position.
struct Position {
  uint64_t id = 0;
  long slot = 1;
};
thread_local std::unordered_map<int, Position> t_positions;

std::atomic<uint64_t> g_next_owner = 1;

// Some thread of this process holds a lock on the file (its claim is a held one).
bool AnyHeld(const AdminFile& f) {
  return std::any_of(f.claims.begin(), f.claims.end(), [](const auto& c) { return c.second.held; });
}

// Reads the header and measures the first record line. 0 or -1.
int ReadLayout(OpenedFile* o) {
  char head[12];
  int64_t n = o->Env().PRead(o->fd, head, sizeof head, 0);
  if (n < 11 || ParseHeaderBytes(head, static_cast<size_t>(n), &o->header) != 0 ||
      o->header.version != L::kCurrentVersion)
    return kPrjFailed;
  const int containers = lzuGetCountOfUserContainers();
  char probe[L::kV3ProbeBytes];
  n = o->Env().PRead(o->fd, probe, sizeof probe, o->HeaderBytes());
  if (n < 0) return kPrjFailed;
  const char end = o->header.line_end == 2 ? '\r' : '\n';
  const char* found = n > 0 ? static_cast<const char*>(std::memchr(probe, end, static_cast<size_t>(n))) : nullptr;
  // No record yet, or only a first line that a crash cut short while it was
  // appended (the next append writes that slot whole): the installation's layout.
  if (n == 0 || (!found && n < L::V3LineLength(containers) + o->header.line_end)) {
    o->header.user_words = containers;
    return kPrjOk;
  }
  if (!found) return kPrjFailed;
  o->header.user_words = L::V3ContainersOfLength(found - probe);
  return o->header.user_words == containers ? kPrjOk : kPrjFailed;
}

// Opens the file at native and reads its layout. A layout that is not
// the installation's may be a conversion under way (it holds the whole file
// locked and renames the new file into place): wait for its lock as a
// writer does, then look once more. 0 or -1.
int OpenAtPath(OperationContext& ctx, const std::string& native, OpenedFile* o) {
  o->env = ctx.installation().OwnEnv();
  for (int attempt = 0; attempt < kMaxFollows; ++attempt) {
    o->fd = platform::OpenRegularFile(native, O_RDWR);
    // Records are written in place: never into what a link points to.
    if (o->fd == -ELOOP) LibraryMessage(ctx, 1, LanguageTextWith(kRepairTexts, 27, {ctx.Windows(native)}));
    if (o->fd < 0) return kPrjFailed;
    platform::FileInfo info;
    if (ctx.Env().FStat(o->fd, &info) == 0 && ReadLayout(o) == 0) {
      o->device = info.device;
      o->inode = info.inode;
      return kPrjOk;
    }
    // Look again only when a rewrite was under way or has replaced the file.
    const bool again = platform::WaitForWholeFileLock(o->fd, g_lock_timeout_ms) ||
                       !platform::IsFileAtPath(o->fd, native);
    platform::CloseNothingPending(&ctx.Env(), o->fd);
    o->fd = -1;
    if (!again) break;
  }
  return kPrjFailed;
}

// The open file is still the one at the path.
bool StillAtPath(const AdminFile& f) {
  platform::FileInfo info;
  return f.file.Env().Stat(f.native, &info) == 0 && info.inode == f.file.inode && info.device == f.file.device;
}

bool ClaimedByOther(const AdminFile& f, long first, long count, const Owner& me) {
  for (auto it = f.claims.lower_bound(first); it != f.claims.end() && it->first < first + count; ++it)
    if (it->second.owner != me) return true;
  return false;
}

// (start, length) of slots [first, first + count) in the file's layout; slot 0 is the null record.
std::pair<int64_t, int64_t> RangeOf(const OpenedFile& o, long first, long count) {
  if (first == 0) return {0, o.HeaderBytes()};
  return {o.Offset(first), o.LineBytes() * count};
}

// One try, never a wait: the waits are the callers', with the file's mutex released.
int LockRange(AdminFile* f, int64_t start, int64_t length, bool lock) {
  return f->file.Env().Lock(f->file.fd, start, length,
                            lock ? platform::LockMode::kExclusive : platform::LockMode::kUnlock, 0);
}

// Closes the descriptor (its locks go with it). REQUIRES: f.m.
void CloseFile(AdminFile& f) {
  if (f.file.fd >= 0) platform::CloseNothingPending(&f.file.Env(), f.file.fd);
  f.file.fd = -1;
  f.claims.clear();
}

// Opens the file that replaced f's, with f's mutex released while a
// conversion under way is waited for. REQUIRES: lk holds f->m, no lock held
// on f. 0 or -1.
int Reopen(OperationContext& ctx, AdminFile* f, std::unique_lock<std::mutex>& lk) {
  const uint64_t generation = f->generation;
  lk.unlock();
  OpenedFile fresh;
  const int rc = OpenAtPath(ctx, f->native, &fresh);
  lk.lock();
  if (rc != 0) return kPrjFailed;
  // Meanwhile another thread may have closed or reopened it, or locked the old file.
  if (f->file.fd < 0 || f->generation != generation || AnyHeld(*f)) {
    platform::CloseNothingPending(&ctx.Env(), fresh.fd);
    return f->file.fd < 0 || AnyHeld(*f) ? kPrjFailed : kPrjOk;
  }
  platform::CloseNothingPending(&ctx.Env(), f->file.fd);
  f->file = fresh;
  ++f->generation;
  return kPrjOk;
}

}  // namespace

const Owner& CurrentOwner() {
  // Destroyed when the thread ends, which expires every claim's view of it.
  thread_local const std::shared_ptr<const void> alive = std::make_shared<char>(0);
  thread_local const Owner owner{g_next_owner++, alive};
  return owner;
}

long& PositionOf(int handle, const AdminFile& f) {
  Position& p = t_positions[handle];
  if (p.id != f.id) p = Position{f.id, 1};
  return p.slot;
}

FilePtr Find(int handle) {
  std::lock_guard<std::mutex> guard(g_table_mutex);
  if (handle < 0 || handle >= static_cast<int>(g_files.size())) return nullptr;
  return g_files[handle];
}

Locked LockFile(int handle) {
  Locked l{Find(handle), {}};
  if (l.f) l.lock = std::unique_lock<std::mutex>(l.f->m);
  return l;
}

bool HeldBy(const AdminFile& f, long slot, const Owner& owner) {
  auto it = f.claims.find(slot);
  return it != f.claims.end() && it->second.held && it->second.owner == owner;
}

// Unlocks slots [first, first + count) except the ones held in this process:
// their lock is on the same open file and would go with the range.
void UnlockSlots(AdminFile* f, long first, long count) {
  long run = first;
  for (long s = first; s <= first + count; ++s) {
    auto it = f->claims.find(s);
    if (s < first + count && !(it != f->claims.end() && it->second.held)) continue;
    if (s > run) {
      const auto [start, length] = RangeOf(f->file, run, s - run);
      LockRange(f, start, length, false);
    }
    run = s + 1;
  }
}

void DropEndedClaims(AdminFile* f) {
  for (auto it = f->claims.begin(); it != f->claims.end();) {
    if (!it->second.owner.Ended()) {
      ++it;
      continue;
    }
    const long slot = it->first;
    const bool held = it->second.held;
    it = f->claims.erase(it);
    if (held && f->file.fd >= 0) {
      const auto [start, length] = RangeOf(f->file, slot, 1);
      LockRange(f, start, length, false);
    }
  }
}

int AcquireSlots(OperationContext& ctx, AdminFile* f, std::unique_lock<std::mutex>& lk, long first, long count,
                 std::vector<long>* added) {
  const Owner& me = CurrentOwner();
  platform::Env* env = &ctx.Env();
  int64_t deadline = env->MonotonicMs() + std::max(0, g_lock_timeout_ms.load());
  int follows = 0;
  for (int delay = 1;; delay = delay < 50 ? delay * 2 : 50) {
    if (f->file.fd < 0) return kPrjFailed;
    DropEndedClaims(f);
    if (!ClaimedByOther(*f, first, count, me)) {
      const auto [start, length] = RangeOf(f->file, first, count);
      const int rc = LockRange(f, start, length, true);
      if (rc == 0 && StillAtPath(*f)) {
        for (long s = first; s < first + count; ++s)
          if (f->claims.emplace(s, Claim{me, false, {}, 0}).second) added->push_back(s);
        return kPrjOk;
      }
      if (rc == 0) {
        UnlockSlots(f, first, count);
        // Locks held on the old file cannot move with it.
        if (AnyHeld(*f)) return kPrjFailed;
        // Each round waits for one rewrite to end; rewrites one after another
        // (user count changes in a loop) may need several.
        if (++follows >= kMaxFollows) return kPrjLockFailed;
        if (Reopen(ctx, f, lk) != 0) return kPrjFailed;
        deadline = env->MonotonicMs() + std::max(0, g_lock_timeout_ms.load());
        delay = 1;
        continue;
      }
      if (rc != -EAGAIN) return kPrjLockFailed;
    }
    if (env->MonotonicMs() >= deadline) return kPrjLockFailed;
    ++f->waiters;
    lk.unlock();
    env->SleepMs(delay);
    lk.lock();
    --f->waiters;
  }
}

// Takes a lock that stays until released (a record slot, or 0: the null record).
int TakeHeld(OperationContext& ctx, AdminFile* f, std::unique_lock<std::mutex>& lk, long slot) {
  if (HeldBy(*f, slot, CurrentOwner())) return kPrjOk;
  std::vector<long> added;
  if (int rc = AcquireSlots(ctx, f, lk, slot, 1, &added); rc != 0) return rc;
  f->claims[slot].held = true;
  return kPrjOk;
}

// Releases owner's lock; one it does not hold is not locked for it.
int ReleaseHeld(AdminFile* f, long slot, const Owner& owner) {
  if (!HeldBy(*f, slot, owner)) return kPrjOk;
  f->claims.erase(slot);
  const auto [start, length] = RangeOf(f->file, slot, 1);
  return LockRange(f, start, length, false) == 0 ? kPrjOk : kPrjLockFailed;
}

int TryTakeHeldRange(AdminFile* f, long first, long count) {
  if (f->file.fd < 0 || first < 1 || count < 1) return kPrjLockFailed;
  DropEndedClaims(f);
  // Not even this thread's own claims: a range released whole would take
  // a lock held on its own along with it.
  if (f->claims.lower_bound(first) != f->claims.lower_bound(first + count)) return kPrjLockFailed;
  const auto [start, length] = RangeOf(f->file, first, count);
  if (LockRange(f, start, length, true) != 0) return kPrjLockFailed;
  // A file replaced meanwhile is no place for a lock: the caller locks one by one.
  if (!StillAtPath(*f)) {
    LockRange(f, start, length, false);
    return kPrjLockFailed;
  }
  const Owner& me = CurrentOwner();
  for (long s = first; s < first + count; ++s) f->claims.emplace(s, Claim{me, true, {}, 0});
  return kPrjOk;
}

int ReleaseHeldRange(AdminFile* f, long first, long count, const Owner& owner) {
  int rc = kPrjOk;
  long run = -1;
  for (long s = first; s <= first + count; ++s) {
    if (s < first + count && HeldBy(*f, s, owner)) {
      f->claims.erase(s);
      if (run < 0) run = s;
      continue;
    }
    if (run < 0) continue;
    const auto [start, length] = RangeOf(f->file, run, s - run);
    if (f->file.fd >= 0 && LockRange(f, start, length, false) != 0) rc = kPrjLockFailed;
    run = -1;
  }
  return rc;
}

// Opens the slot's administration as a new entry of the table. An entry of
// the slot that another thread opened meanwhile is taken instead, unless a
// new administration was created. The handle or -1.
int OpenNew(OperationContext& ctx, int slot, const std::string& path, bool created) {
  auto f = std::make_shared<AdminFile>(slot, ctx.Native(path), lfnetg(ctx) != 0, g_next_id++);
  // Opened without the table's mutex: it may wait for a conversion under way.
  if (OpenAtPath(ctx, f->native, &f->file) != 0) return kPrjFailed;
  std::lock_guard<std::mutex> guard(g_table_mutex);
  int free_index = -1;
  for (size_t i = 0; i < g_files.size(); ++i) {
    if (!g_files[i]) {
      if (free_index < 0) free_index = static_cast<int>(i);
    } else if (!created && g_files[i]->slot == slot) {
      platform::CloseNothingPending(&ctx.Env(), f->file.fd);
      return static_cast<int>(i);
    }
  }
  if (free_index >= 0) {
    g_files[free_index] = std::move(f);
    return free_index;
  }
  g_files.push_back(std::move(f));
  return static_cast<int>(g_files.size() - 1);
}

int OpenSlot(OperationContext& ctx, int slot, const std::string& path, const std::string& native) {
  {
    std::lock_guard<std::mutex> guard(g_table_mutex);
    for (size_t i = 0; i < g_files.size(); ++i) {
      FilePtr f = g_files[i];
      if (!f || f->slot != slot) continue;
      std::lock_guard<std::mutex> file_guard(f->m);
      DropEndedClaims(f.get());
      platform::FileInfo info;
      bool same = f->native == native && ctx.Env().Stat(native, &info) == 0 && info.inode == f->file.inode;
      // A lock held or waited for keeps it: a waiter follows a replacement itself.
      if (same || !f->claims.empty() || f->waiters > 0) return static_cast<int>(i);
      g_files[i].reset();
      CloseFile(*f);  // the file was replaced: open the new one
    }
  }
  return OpenNew(ctx, slot, path, false);
}

int CloseHandle(int handle) {
  FilePtr f;
  {
    std::lock_guard<std::mutex> guard(g_table_mutex);
    if (handle < 0 || handle >= static_cast<int>(g_files.size()) || !g_files[handle]) return kPrjFailed;
    f = std::move(g_files[handle]);
  }
  std::lock_guard<std::mutex> guard(f->m);
  CloseFile(*f);
  return kPrjOk;
}

void CloseSlot(int slot) {
  std::vector<FilePtr> closing;
  {
    std::lock_guard<std::mutex> guard(g_table_mutex);
    for (FilePtr& f : g_files)
      if (f && f->slot == slot) closing.push_back(std::move(f));
  }
  for (const FilePtr& f : closing) {
    std::lock_guard<std::mutex> guard(f->m);
    CloseFile(*f);
  }
}

int LockTimeoutMs() { return g_lock_timeout_ms; }

}  // namespace admin_files

void SetRecordLockTimeoutMs(int ms) { admin_files::g_lock_timeout_ms = ms; }
int RecordLockTimeoutMs() { return admin_files::g_lock_timeout_ms; }

}  // namespace dovrane::extlib
