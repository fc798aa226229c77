#include "platform/call_deadline.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace dovrane::platform {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// What one thread's outermost call is on, and since when (0: none).
struct Slot {
  std::mutex mutex;
  int64_t started_ms = 0;
  int depth = 0;
  std::string path;
  int fd = -1;
};

// Process-wide by nature, and never destroyed: the watchdog and threads left
// on a hanging share may still use it while the process ends.
struct Watch {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::shared_ptr<Slot>> slots;
  int deadline_ms = 0;
  OverdueHandler handler;
  bool thread_started = false;
  bool fired = false;
};
std::atomic<bool> g_watching{false};

Watch& TheWatch() {
  static Watch* watch = new Watch;
  return *watch;
}

Slot& ThisThreadsSlot() {
  thread_local std::shared_ptr<Slot> slot;
  if (!slot) {
    slot = std::make_shared<Slot>();
    Watch& w = TheWatch();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.slots.push_back(slot);
  }
  return *slot;
}

std::string FdPath(int fd) {
  char buf[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "descriptor " + std::to_string(fd);
}

void Watchdog() {
  Watch& w = TheWatch();
  std::unique_lock<std::mutex> lock(w.mutex);
  for (;;) {
    const int deadline = w.deadline_ms;
    if (deadline <= 0 || w.fired) {
      w.changed.wait(lock);
      continue;
    }
    w.changed.wait_for(lock, std::chrono::milliseconds(std::clamp(deadline / 4, 10, 250)));
    if (w.deadline_ms <= 0 || w.fired) continue;
    const int64_t now = NowMs();
    for (const std::shared_ptr<Slot>& slot : w.slots) {
      std::string path;
      int64_t waited = 0;
      {
        std::lock_guard<std::mutex> guard(slot->mutex);
        if (slot->started_ms == 0 || now - slot->started_ms < w.deadline_ms) continue;
        waited = now - slot->started_ms;
        path = slot->path;
        if (slot->fd >= 0) path = FdPath(slot->fd) + (path.empty() ? "" : "/" + path);
      }
      w.fired = true;
      OverdueHandler handler = w.handler;
      lock.unlock();
      if (handler) handler(path, waited);
      lock.lock();
      break;
    }
  }
}

thread_local FailedShareCall t_failed;

bool ShareStoppedAnswering(int error) {
  switch (error) {
    case ENOTCONN: case EIO: case ETIMEDOUT: case ESTALE: case EHOSTDOWN: case EHOSTUNREACH:
    case ECONNRESET: case ECONNABORTED: case ENETDOWN: case ENETUNREACH: case ENETRESET:
      return true;
    default:
      return false;
  }
}

}  // namespace

FailedShareCall LastFailedShareCall() { return t_failed; }
void ForgetFailedShareCall() { t_failed = FailedShareCall(); }

void NoteFailedCall(int error) {
  if (!g_watching.load(std::memory_order_relaxed) || !ShareStoppedAnswering(error)) return;
  const int saved = errno;
  Slot& slot = ThisThreadsSlot();
  std::string path;
  {
    std::lock_guard<std::mutex> guard(slot.mutex);
    if (slot.depth == 0) {
      errno = saved;
      return;
    }
    path = slot.path;
    if (slot.fd >= 0) path = FdPath(slot.fd) + (path.empty() ? "" : "/" + path);
  }
  t_failed = FailedShareCall{path, -error};
  errno = saved;
}

WatchedCall::WatchedCall(const std::string& path) : WatchedCall(-1, path) {}
WatchedCall::WatchedCall(int fd) : WatchedCall(fd, std::string()) {}

WatchedCall::WatchedCall(int dirfd, const std::string& name) {
  if (!g_watching.load(std::memory_order_relaxed)) return;
  Slot& slot = ThisThreadsSlot();
  std::lock_guard<std::mutex> guard(slot.mutex);
  marked_ = true;
  if (slot.depth++ > 0) return;
  slot.started_ms = NowMs();
  slot.path = name;
  slot.fd = dirfd;
}

WatchedCall::WatchedCall(Closing, int fd)
    : WatchedCall(-1, g_watching.load(std::memory_order_relaxed) ? FdPath(fd) : std::string()) {}

WatchedCall::~WatchedCall() {
  if (!marked_) return;
  Slot& slot = ThisThreadsSlot();
  std::lock_guard<std::mutex> guard(slot.mutex);
  if (--slot.depth == 0) slot.started_ms = 0;
}

void SetCallDeadline(int deadline_ms, OverdueHandler handler) {
  Watch& w = TheWatch();
  std::lock_guard<std::mutex> lock(w.mutex);
  w.deadline_ms = deadline_ms > 0 ? deadline_ms : 0;
  w.handler = std::move(handler);
  w.fired = false;
  g_watching = w.deadline_ms > 0;
  if (g_watching && !w.thread_started) {
    w.thread_started = true;
    // It lives as long as the process: it must see a call hang while the
    // process is ending too.
    std::thread(Watchdog).detach();
  }
  w.changed.notify_all();
}

int CallDeadlineMs() {
  Watch& w = TheWatch();
  std::lock_guard<std::mutex> lock(w.mutex);
  return w.deadline_ms;
}

}  // namespace dovrane::platform
