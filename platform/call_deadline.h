// A deadline on the file system's calls. A call on the share of a server
// that died waits in the kernel for as long as the mount waits: on a hard
// CIFS mount, until the server is back. No Env call can be taken back once
// it waits there, so while a deadline is set each Env call on a file notes
// when it started and on what, and a watchdog thread hands a call that runs
// past the deadline to a handler, which ends the run. A lock the run holds
// then goes with its process instead of stopping the office. Without a
// deadline a call costs one atomic load more.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace dovrane::platform {

// Marks the Env call in whose scope it lives (nested marks count once).
class WatchedCall {
 public:
  explicit WatchedCall(const std::string& path);
  explicit WatchedCall(int fd);
  WatchedCall(int dirfd, const std::string& name);
  // For a close: the descriptor is gone from the table while the call waits,
  // so what it names is looked up before.
  struct Closing {};
  WatchedCall(Closing, int fd);
  ~WatchedCall();
  WatchedCall(const WatchedCall&) = delete;
  WatchedCall& operator=(const WatchedCall&) = delete;

 private:
  bool marked_ = false;
};

// native_path: what the overdue call is on (for a call on a descriptor, the
// file the descriptor names), waited_ms: how long it has waited.
using OverdueHandler = std::function<void(const std::string& native_path, int64_t waited_ms)>;

// Watches every thread's calls from now on: the first call that has not
// returned after deadline_ms goes to handler, on the watchdog's thread (once
// until the next setting). A later setting replaces deadline and handler;
// deadline_ms <= 0 stops watching.
void SetCallDeadline(int deadline_ms, OverdueHandler handler);
int CallDeadlineMs();

// The last call of this thread, while watched, that failed the way a share
// of a server that stopped answering fails (ENOTCONN, EIO, ETIMEDOUT,
// ESTALE, EHOSTDOWN, a connection reset...): what it was on and the error
// (negative errno). error 0: none since the last Forget. So a run that
// fails can name the host and the cause, whatever step saw them.
struct FailedShareCall {
  std::string path;  // native
  int error = 0;
};
FailedShareCall LastFailedShareCall();
void ForgetFailedShareCall();
// Called by the Env where a watched call fails with errno error.
void NoteFailedCall(int error);

}  // namespace dovrane::platform
