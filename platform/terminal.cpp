#include "platform/terminal.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/env.h"
#include "platform/text_codec.h"

namespace dovrane::platform {

namespace {
int g_in = STDIN_FILENO;
int g_out = STDOUT_FILENO;
int g_err = STDERR_FILENO;
bool g_captured = false;

// Gathered item lines of the progress (see WriteProgress).
std::string g_progress;
int64_t g_progress_since = 0;
constexpr int64_t kProgressDelayMs = 50;

// Whether the last text written to standard output / error ended inside a
// line (a progress text without line end, a question waiting for its answer).
// Lock-free atomics: the crash handler reads them.
std::atomic<bool> g_out_open{false};
std::atomic<bool> g_err_open{false};
static_assert(std::atomic<bool>::is_always_lock_free);

std::atomic<bool>* OpenLineOf(int fd) { return fd == g_out ? &g_out_open : fd == g_err ? &g_err_open : nullptr; }

// Only write(2): also used inside the crash handler.
void WriteRaw(int fd, const char* data, size_t size) {
  size_t off = 0;
  while (off < size) {
    ssize_t w = ::write(fd, data + off, size - off);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;  // the terminal is gone; nobody is left to tell
    }
    off += static_cast<size_t>(w);
  }
}

// A status line is on the terminal (ShowStatus): erased before any output.
std::atomic<bool> g_status_shown{false};
constexpr char kEraseLine[] = "\r\x1b[K";

void WriteAllUtf8(int fd, std::string_view utf8) {
  if (g_status_shown.exchange(false) && g_out >= 0) WriteRaw(g_out, kEraseLine, sizeof kEraseLine - 1);
  if (std::atomic<bool>* open = OpenLineOf(fd); open && !utf8.empty()) *open = utf8.back() != '\n';
  WriteRaw(fd, utf8.data(), utf8.size());
}

// Messages quote stored names and hosts, which anyone with write access to a
// share may have filled with escape sequences: every control character but
// the layout's (TAB, LF, CR) reaches the terminal as visible text.
void WriteAll(int fd, const std::string& text) { WriteAllUtf8(fd, Cp1252ToUtf8(ShowControlsCp1252(text, true))); }

// Each message begins on a line of its own: a line left open on either
// stream is ended first (both streams usually show on one terminal).
void EndOpenLines() {
  if (g_out_open && g_out >= 0) WriteAll(g_out, "\n");
  if (g_err_open && g_err >= 0) WriteAll(g_err, "\n");
}
}  // namespace

void Terminal::CaptureOriginalStreams() {
  if (g_captured) return;
  g_captured = true;
  int in = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  int out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  int err = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  g_in = in >= 0 ? in : -1;
  g_out = out >= 0 ? out : -1;
  g_err = err >= 0 ? err : -1;
}

void Terminal::RestoreOriginalStreams() {
  if (!g_captured) return;
  FlushProgress();
  std::fflush(stdout);
  std::fflush(stderr);
  const int streams[][2] = {{g_in, STDIN_FILENO}, {g_out, STDOUT_FILENO}, {g_err, STDERR_FILENO}};
  for (const auto& [copy, standard] : streams)
    if (copy >= 0) (void)::dup2(copy, standard);
}

void Terminal::WriteOut(const std::string& text) {
  FlushProgress();
  std::fflush(stdout);
  EndOpenLines();
  if (g_out >= 0) WriteAll(g_out, text);
}

void Terminal::WriteOutUtf8(std::string_view utf8) {
  FlushProgress();
  std::fflush(stdout);
  EndOpenLines();
  if (g_out >= 0) WriteAllUtf8(g_out, utf8);
}

void Terminal::WriteOutUtf8(const std::vector<std::string_view>& pieces) {
  FlushProgress();
  std::fflush(stdout);
  EndOpenLines();
  if (g_out < 0) return;
  if (g_status_shown.exchange(false)) WriteRaw(g_out, kEraseLine, sizeof kEraseLine - 1);
  size_t i = 0, done = 0;  // the piece under way, and how much of it is written
  while (i < pieces.size()) {
    iovec io[256];
    int n = 0;
    for (size_t k = i; k < pieces.size() && n < 256; ++k) {
      const std::string_view rest = pieces[k].substr(k == i ? done : 0);
      if (!rest.empty()) io[n++] = {const_cast<char*>(rest.data()), rest.size()};
    }
    if (n == 0) break;
    ssize_t w = ::writev(g_out, io, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;  // the terminal is gone; nobody is left to tell
    // Past what was written, partly written pieces included.
    for (size_t left = static_cast<size_t>(w); i < pieces.size();) {
      const size_t rest = pieces[i].size() - done;
      if (left < rest) {
        done += left;
        break;
      }
      left -= rest;
      done = 0;
      ++i;
    }
  }
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
    if (!it->empty()) {
      g_out_open = it->back() != '\n';
      break;
    }
  }
}

void Terminal::WriteErr(const std::string& text) {
  FlushProgress();
  std::fflush(stderr);
  EndOpenLines();
  if (g_err >= 0) WriteAll(g_err, text);
}

void Terminal::WriteErrInHandler(const char* text, size_t size) {
  // The same line-start rule as WriteErr, without its allocation and stdio.
  if (g_out_open.exchange(false) && g_out >= 0) WriteRaw(g_out, "\n", 1);
  if (g_err_open.exchange(false) && g_err >= 0) WriteRaw(g_err, "\n", 1);
  if (g_err < 0 || size == 0) return;
  g_err_open = text[size - 1] != '\n';
  WriteRaw(g_err, text, size);
}

// At the program's end: what was gathered is written, and a progress text left
// without its line end ("Compress Project Attributes ...") is ended, so the
// shell's prompt does not follow it on the same line.
static void FinishProgressAtExit() {
  Terminal::EraseStatus();
  Terminal::FlushProgress();
  if (g_out_open && g_out >= 0) WriteAll(g_out, "\n");
}

void Terminal::WriteProgress(const std::string& text) {
  static bool registered = false;
  if (!registered) {
    registered = true;
    std::atexit(FinishProgressAtExit);
  }
  const int64_t now = CurrentEnv()->MonotonicMs();
  if (g_progress.empty()) g_progress_since = now;
  g_progress += text;
  // A line of a list waits a little for the next; any other line is shown at once.
  const bool item = !text.empty() && text[0] == '\t';
  if (!item || now - g_progress_since >= kProgressDelayMs || g_progress.size() >= 16384) FlushProgress();
}

void Terminal::FlushProgress() {
  if (g_progress.empty()) return;
  std::string text;
  text.swap(g_progress);
  std::fflush(stdout);
  if (g_out >= 0) WriteAll(g_out, text);
}

bool Terminal::OutIsTerminal() { return g_out >= 0 && ::isatty(g_out); }

void Terminal::ShowStatus(const std::string& text) {
  if (!OutIsTerminal()) return;
  static const bool registered = std::atexit(FinishProgressAtExit) == 0;
  (void)registered;
  FlushProgress();
  if (g_out_open.exchange(false)) WriteRaw(g_out, "\n", 1);
  // One line that erases the rest of itself: no control character of the text may move it.
  const std::string line = "\r" + Cp1252ToUtf8(ShowControlsCp1252(text, false)) + "\x1b[K";
  WriteRaw(g_out, line.data(), line.size());
  g_status_shown = true;
}

void Terminal::EraseStatus() {
  if (g_status_shown.exchange(false) && g_out >= 0) WriteRaw(g_out, kEraseLine, sizeof kEraseLine - 1);
}

bool Terminal::CanAsk() { return g_in >= 0 && ::isatty(g_in); }

bool Terminal::ReadLine(std::string* line) {
  if (!CanAsk()) return false;
  FlushProgress();
  std::string raw;
  char c;
  for (;;) {
    ssize_t r = ::read(g_in, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (raw.empty()) return false;
      break;
    }
    if (c == '\n') break;
    if (c != '\r') raw.push_back(c);
  }
  // The terminal echoed the answer and its line end after the question; a
  // question written into a file still has its line open.
  if (g_err >= 0 && ::isatty(g_err)) g_err_open = false;
  if (g_out >= 0 && ::isatty(g_out)) g_out_open = false;
  if (!Utf8ToCp1252(raw, line)) *line = raw;
  return true;
}

void Terminal::Beep() {
  int fd = g_err >= 0 ? g_err : g_out;
  if (fd >= 0 && ::isatty(fd)) {
    std::atomic<bool>* open = OpenLineOf(fd);
    const bool was = open && open->load();
    WriteAllUtf8(fd, "\a");
    if (open) *open = was;  // the sound shows nothing on the line
  }
}

int RedirectStandardStreams(const std::string& path) {
  Env* env = CurrentEnv();
  int fd = env->Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return fd;
  std::fflush(stdout);
  std::fflush(stderr);
  int rc = 0;
  if (::dup2(fd, STDOUT_FILENO) < 0 || ::dup2(fd, STDERR_FILENO) < 0) rc = ErrnoResult();
  CloseNothingPending(env, fd);
  // The trace file is read by people after a crash: keep it unbuffered.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  return rc;
}

}  // namespace dovrane::platform
