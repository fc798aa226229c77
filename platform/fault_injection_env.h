// An Env that passes every call to the POSIX Env but fails one chosen call:
// the Nth write, sync, rename, close, open or unlink, with a chosen error.
// Used to prove that an interrupted operation loses nothing. From the
// environment: DOVRANE_FAULT=point:nth[+]:error, DOVRANE_CLOCK_OFFSET=seconds.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "platform/env.h"

namespace dovrane::platform {

enum class FaultPoint { kOpen, kWrite, kSync, kRename, kClose, kUnlink, kMkDir, kCount };

class FaultInjectionEnv : public Env {
 public:
  // As error: the process kills itself (SIGKILL) at the chosen call, after a
  // failing write has written half of its bytes: a crash at exactly that point.
  static constexpr int kKill = 100000;
  // As error: the chosen call is carried out whole, then the process kills
  // itself: a crash just after that call (renames, folder creation, unlinks).
  static constexpr int kKillAfter = 100001;
  // Fail the nth (1-based) call of `point` with -error; 0 disarms. lasting:
  // every later call of `point` fails too, as on a volume that stays full.
  void Arm(FaultPoint point, int nth, int error, bool lasting = false);
  void Disarm();
  // Calls of `point` seen since the last Arm or Reset.
  int Calls(FaultPoint point) const;
  void Reset();
  bool Fired() const { return fired_; }
  // Every call on a path below prefix (native, as the calls see it) waits ms
  // first, as on a share that hangs; "" or 0 ms removes the delay.
  void SetPathDelay(const std::string& prefix, int ms);
  // From now on only the calls of thread id are counted and may fail; the
  // other threads' calls pass (a window's own look-ups beside the operation
  // under test). A default id counts no thread until the next call.
  void CountOnlyThread(std::thread::id id);

  int Open(const std::string& path, int flags, mode_t mode) override;
  int OpenAt(int dirfd, const std::string& name, int flags, mode_t mode) override;
  int64_t Write(int fd, const void* buf, size_t n) override;
  int64_t PWrite(int fd, const void* buf, size_t n, int64_t offset) override;
  // Counts as a write.
  int64_t CopyRange(int in, int out, size_t n) override;
  int Sync(int fd) override;
  int Rename(const std::string& from, const std::string& to) override;
  int RenameAt(int fromdir, const std::string& from, int todir, const std::string& to) override;
  int Close(int fd) override;
  int Unlink(const std::string& path) override;
  int UnlinkAt(int dirfd, const std::string& name, bool directory) override;
  int MkDir(const std::string& path, mode_t mode) override;
  int MkDirAt(int dirfd, const std::string& name, mode_t mode) override;
  int Stat(const std::string& path, FileInfo* info, bool follow) override;
  int ListDir(const std::string& path, std::vector<DirEntry>* entries) override;
  // A computer whose clock is wrong: the wall clock reads seconds off (the
  // monotonic clock, which the waits use, is not moved).
  void SetClockOffset(int64_t seconds) { clock_offset_ = seconds; }
  int64_t NowSeconds() override;

 private:
  // Counts the call; returns the injected error or 0.
  int Hit(FaultPoint point);
  // Returns error, unless the armed fault is a crash: then the process dies here.
  int Crash(int error);
  // For a crash after the call: the call's result, then the process dies.
  int After(int result);

  std::atomic<int> calls_[static_cast<int>(FaultPoint::kCount)] = {};
  FaultPoint point_ = FaultPoint::kWrite;
  int nth_ = 0;
  int error_ = 0;
  bool lasting_ = false;
  std::atomic<bool> fired_ = false;
  std::atomic<bool> filtered_ = false;
  std::atomic<std::thread::id> only_thread_{};
  // Waits when path lies below the delayed prefix.
  void Delay(const std::string& path);
  std::mutex delay_mutex_;
  std::string delay_prefix_;
  std::atomic<int> delay_ms_ = 0;
  std::atomic<int64_t> clock_offset_ = 0;
};

// Installs a FaultInjectionEnv from the environment variable DOVRANE_FAULT
// ("write:3:ENOSPC" fails the third write with ENOSPC, "write:3+:ENOSPC" the
// third and every later one, "write:3:KILL" kills the process there,
// "rename:2:KILL_AFTER" right after the second rename), so scripted runs of the
// real program can be failed at any point. Does nothing when it is not set.
// When DOVRANE_FAULT_LOG names a file, the line "fired" is appended to it the
// moment the chosen call fails. Returns the installed env (null: none).
FaultInjectionEnv* InstallFaultInjectionFromEnvironment();

}  // namespace dovrane::platform
