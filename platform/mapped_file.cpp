#include "platform/mapped_file.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace dovrane::platform {

namespace {

// The mappings under guard. A handful is plenty: a reader maps one file at a time.
// begin and end change together under seq (odd while they change): a
// handler never takes the begin of one mapping with the end of another when
// another thread reuses the slot meanwhile.
struct Guard {
  std::atomic<bool> taken{false};
  std::atomic<uint32_t> seq{0};
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> cut{false};

  void Set(uintptr_t b, uintptr_t e) {
    seq.fetch_add(1, std::memory_order_acq_rel);
    begin.store(b, std::memory_order_release);
    end.store(e, std::memory_order_release);
    seq.fetch_add(1, std::memory_order_acq_rel);
  }
  // The range, or false while it changes.
  bool Get(uintptr_t* b, uintptr_t* e) const {
    const uint32_t before = seq.load(std::memory_order_acquire);
    if (before & 1) return false;
    *b = begin.load(std::memory_order_acquire);
    *e = end.load(std::memory_order_acquire);
    return seq.load(std::memory_order_acquire) == before;
  }
};
constexpr int kGuards = 16;
Guard g_guards[kGuards];
uintptr_t g_page = 4096;
struct sigaction g_previous;
std::mutex g_install;

void PassOn(int sig, siginfo_t* info, void* context) {
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(sig, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(sig);
    return;
  }
  // The default action: the process ends once the handler returns.
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
}

// Only async-signal-safe calls here. mmap is a plain system call on Linux.
void OnBus(int sig, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Guard& guard : g_guards) {
    uintptr_t begin = 0, end = 0;
    // A slot that changes now is another thread's: this thread's mapping stays while it reads it.
    if (!guard.Get(&begin, &end) || begin == 0 || address < begin || address >= end) continue;
    // Zeros from the missing page to the end of the mapping: the faulting
    // read then goes on, and so does every later one, without a signal each.
    const uintptr_t page = address & ~(g_page - 1);
    if (::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
               0) != MAP_FAILED) {
      guard.cut.store(true, std::memory_order_release);
      errno = saved_errno;
      return;
    }
    break;
  }
  PassOn(sig, info, context);
  errno = saved_errno;
}

// Puts the guard in front of whatever handles SIGBUS now, unless it is there
// already (a handler installed later, as the crash report in a test, is put
// behind it again).
bool InstallGuard() {
  std::lock_guard<std::mutex> lock(g_install);
  struct sigaction now;
  if (::sigaction(SIGBUS, nullptr, &now) != 0) return false;
  if ((now.sa_flags & SA_SIGINFO) != 0 && now.sa_sigaction == &OnBus) return true;
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page > 0) g_page = static_cast<uintptr_t>(page);
  struct sigaction guard;
  std::memset(&guard, 0, sizeof guard);
  guard.sa_sigaction = &OnBus;
  guard.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&guard.sa_mask);
  g_previous = now;
  return ::sigaction(SIGBUS, &guard, nullptr) == 0;
}

}  // namespace

bool ChainBehindMappingGuard(const struct sigaction& handler) {
  std::lock_guard<std::mutex> lock(g_install);
  struct sigaction now;
  if (::sigaction(SIGBUS, nullptr, &now) != 0 || (now.sa_flags & SA_SIGINFO) == 0 || now.sa_sigaction != &OnBus)
    return false;
  g_previous = handler;
  return true;
}

MappedFile::MappedFile(int fd, size_t size) {
  struct stat st;
  if (size == 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !InstallGuard()) return;
  for (int i = 0; i < kGuards && guard_ < 0; ++i)
    if (!g_guards[i].taken.exchange(true)) guard_ = i;
  if (guard_ < 0) return;
  void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapping == MAP_FAILED) {
    g_guards[guard_].taken.store(false);
    guard_ = -1;
    return;
  }
  Guard& guard = g_guards[guard_];
  guard.cut.store(false);
  guard.Set(reinterpret_cast<uintptr_t>(mapping), reinterpret_cast<uintptr_t>(mapping) + size);
  data_ = static_cast<const char*>(mapping);
  size_ = size;
}

MappedFile::~MappedFile() {
  if (guard_ < 0) return;
  Guard& guard = g_guards[guard_];
  guard.Set(0, 0);
  if (data_) ::munmap(const_cast<char*>(data_), size_);
  guard.taken.store(false);
}

bool MappedFile::Cut() const { return guard_ >= 0 && g_guards[guard_].cut.load(std::memory_order_acquire); }

}  // namespace dovrane::platform
