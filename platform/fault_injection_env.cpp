#include "platform/fault_injection_env.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <string>
#include <thread>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace dovrane::platform {

void FaultInjectionEnv::Arm(FaultPoint point, int nth, int error, bool lasting) {
  Reset();
  point_ = point;
  nth_ = nth;
  error_ = error;
  lasting_ = lasting;
}

void FaultInjectionEnv::Disarm() { nth_ = 0; }

int FaultInjectionEnv::Calls(FaultPoint point) const { return calls_[static_cast<int>(point)]; }

void FaultInjectionEnv::Reset() {
  for (auto& c : calls_) c = 0;
  fired_ = false;
}

void FaultInjectionEnv::CountOnlyThread(std::thread::id id) {
  only_thread_ = id;
  filtered_ = true;
}

int FaultInjectionEnv::Hit(FaultPoint point) {
  if (filtered_ && std::this_thread::get_id() != only_thread_.load()) return 0;
  int n = ++calls_[static_cast<int>(point)];
  if (nth_ > 0 && point == point_ && (n == nth_ || (lasting_ && n > nth_))) {
    if (fired_.exchange(true)) return -error_;
    // Scripted runs learn from this file whether the chosen call was reached.
    if (const char* log = std::getenv("DOVRANE_FAULT_LOG")) {
      int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (fd >= 0) {
        if (::write(fd, "fired\n", 6) < 0) {
        }
        ::close(fd);
      }
    }
    return -error_;
  }
  return 0;
}

int FaultInjectionEnv::Crash(int error) {
  if (error_ == kKill || error_ == kKillAfter) ::kill(::getpid(), SIGKILL);
  return error;
}

int FaultInjectionEnv::After(int result) {
  ::kill(::getpid(), SIGKILL);
  return result;
}

void FaultInjectionEnv::SetPathDelay(const std::string& prefix, int ms) {
  std::lock_guard<std::mutex> guard(delay_mutex_);
  delay_prefix_ = prefix;
  delay_ms_ = prefix.empty() ? 0 : ms;
}

void FaultInjectionEnv::Delay(const std::string& path) {
  if (delay_ms_.load() <= 0) return;
  int ms = 0;
  {
    std::lock_guard<std::mutex> guard(delay_mutex_);
    if (path.compare(0, delay_prefix_.size(), delay_prefix_) == 0) ms = delay_ms_;
  }
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int FaultInjectionEnv::Stat(const std::string& path, FileInfo* info, bool follow) {
  Delay(path);
  return Env::Stat(path, info, follow);
}

int FaultInjectionEnv::ListDir(const std::string& path, std::vector<DirEntry>* entries) {
  Delay(path);
  return Env::ListDir(path, entries);
}

int FaultInjectionEnv::Open(const std::string& path, int flags, mode_t mode) {
  Delay(path);
  if (int e = Hit(FaultPoint::kOpen)) return Crash(e);
  return Env::Open(path, flags, mode);
}
int FaultInjectionEnv::OpenAt(int dirfd, const std::string& name, int flags, mode_t mode) {
  if (int e = Hit(FaultPoint::kOpen)) return Crash(e);
  return Env::OpenAt(dirfd, name, flags, mode);
}
int64_t FaultInjectionEnv::Write(int fd, const void* buf, size_t n) {
  if (int e = Hit(FaultPoint::kWrite)) {
    // A failing write may still have written part of the data, as on a full disk.
    if (n > 1) (void)Env::Write(fd, buf, n / 2);  // the injected error is the answer
    return Crash(e);
  }
  return Env::Write(fd, buf, n);
}
int64_t FaultInjectionEnv::PWrite(int fd, const void* buf, size_t n, int64_t offset) {
  if (int e = Hit(FaultPoint::kWrite)) {
    if (n > 1) (void)Env::PWrite(fd, buf, n / 2, offset);
    return Crash(e);
  }
  return Env::PWrite(fd, buf, n, offset);
}
int64_t FaultInjectionEnv::CopyRange(int in, int out, size_t n) {
  if (int e = Hit(FaultPoint::kWrite)) {
    if (n > 1) (void)Env::CopyRange(in, out, n / 2);
    return Crash(e);
  }
  return Env::CopyRange(in, out, n);
}
int FaultInjectionEnv::Sync(int fd) {
  if (int e = Hit(FaultPoint::kSync)) return Crash(e);
  return Env::Sync(fd);
}
int FaultInjectionEnv::Rename(const std::string& from, const std::string& to) {
  Delay(from);
  if (int e = Hit(FaultPoint::kRename)) return error_ == kKillAfter ? After(Env::Rename(from, to)) : Crash(e);
  return Env::Rename(from, to);
}
int FaultInjectionEnv::RenameAt(int fromdir, const std::string& from, int todir, const std::string& to) {
  if (int e = Hit(FaultPoint::kRename))
    return error_ == kKillAfter ? After(Env::RenameAt(fromdir, from, todir, to)) : Crash(e);
  return Env::RenameAt(fromdir, from, todir, to);
}
int FaultInjectionEnv::Close(int fd) {
  if (int e = Hit(FaultPoint::kClose)) {
    (void)Env::Close(fd);  // the descriptor is gone either way, as after a failed close(2)
    return Crash(e);
  }
  return Env::Close(fd);
}
int FaultInjectionEnv::Unlink(const std::string& path) {
  Delay(path);
  if (int e = Hit(FaultPoint::kUnlink)) return error_ == kKillAfter ? After(Env::Unlink(path)) : Crash(e);
  return Env::Unlink(path);
}
int FaultInjectionEnv::UnlinkAt(int dirfd, const std::string& name, bool directory) {
  if (int e = Hit(FaultPoint::kUnlink))
    return error_ == kKillAfter ? After(Env::UnlinkAt(dirfd, name, directory)) : Crash(e);
  return Env::UnlinkAt(dirfd, name, directory);
}
int FaultInjectionEnv::MkDir(const std::string& path, mode_t mode) {
  Delay(path);
  if (int e = Hit(FaultPoint::kMkDir)) return error_ == kKillAfter ? After(Env::MkDir(path, mode)) : Crash(e);
  return Env::MkDir(path, mode);
}
int FaultInjectionEnv::MkDirAt(int dirfd, const std::string& name, mode_t mode) {
  if (int e = Hit(FaultPoint::kMkDir)) return error_ == kKillAfter ? After(Env::MkDirAt(dirfd, name, mode)) : Crash(e);
  return Env::MkDirAt(dirfd, name, mode);
}

namespace {
bool ParsePoint(const std::string& s, FaultPoint* p) {
  static const struct { const char* name; FaultPoint point; } kNames[] = {
      {"open", FaultPoint::kOpen},     {"write", FaultPoint::kWrite},   {"sync", FaultPoint::kSync},
      {"rename", FaultPoint::kRename}, {"close", FaultPoint::kClose},   {"unlink", FaultPoint::kUnlink},
      {"mkdir", FaultPoint::kMkDir}};
  for (const auto& n : kNames)
    if (s == n.name) {
      *p = n.point;
      return true;
    }
  return false;
}
int ParseErrno(const std::string& s) {
  if (s == "ENOSPC") return ENOSPC;
  if (s == "EIO") return EIO;
  if (s == "EACCES") return EACCES;
  if (s == "EBUSY") return EBUSY;
  if (s == "KILL") return FaultInjectionEnv::kKill;
  if (s == "KILL_AFTER") return FaultInjectionEnv::kKillAfter;
  return std::atoi(s.c_str());
}
}  // namespace

int64_t FaultInjectionEnv::NowSeconds() { return Env::NowSeconds() + clock_offset_; }

namespace {
// "point:nth[+]:error" as an armed fault; false when it does not parse.
bool ParseFault(const std::string& s, FaultPoint* point, int* nth, int* error, bool* lasting) {
  size_t a = s.find(':'), b = s.find(':', a == std::string::npos ? a : a + 1);
  if (a == std::string::npos || b == std::string::npos) return false;
  if (!ParsePoint(s.substr(0, a), point)) return false;
  const std::string count = s.substr(a + 1, b - a - 1);
  *lasting = !count.empty() && count.back() == '+';
  *nth = std::atoi(count.c_str());
  *error = ParseErrno(s.substr(b + 1));
  return *nth > 0 && *error > 0;
}

// A whole number of seconds, signed; false for anything else or nothing.
bool ParseOffset(const char* text, int64_t* seconds) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v == 0) return false;
  *seconds = v;
  return true;
}
}  // namespace

FaultInjectionEnv* InstallFaultInjectionFromEnvironment() {
  const char* spec = std::getenv("DOVRANE_FAULT");
  FaultPoint point = FaultPoint::kWrite;
  int nth = 0, error = 0;
  bool lasting = false;
  const bool fault = spec && *spec && ParseFault(spec, &point, &nth, &error, &lasting);
  int64_t offset = 0;
  const bool clock = ParseOffset(std::getenv("DOVRANE_CLOCK_OFFSET"), &offset);
  if (!fault && !clock) return nullptr;
  static FaultInjectionEnv env;  // lives as long as the process
  if (fault) env.Arm(point, nth, error, lasting);
  env.SetClockOffset(offset);
  SetCurrentEnv(&env);
  return &env;
}

}  // namespace dovrane::platform
