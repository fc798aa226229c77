#include "fileops/copy_engine.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <thread>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "fileops/directory_delete.h"
#include "fileops/file_messages.h"
#include "fileops_test_support.h"
#include "platform/fault_injection_env.h"
#include "platform/path_map.h"
#include "services/ui_text_test_env.h"
#include "support/stopping_progress.h"

namespace dovrane::fileops {
namespace {

using testing::Pattern;
using testing::ReadFile;
using testing::WriteFile;
using testing::Exists;
using platform::kIdNo;
using platform::kIdOk;
using platform::kIdRetry;
using platform::kIdYes;

constexpr const char* kNewMedium = "Bitte legen Sie einen neuen Datentr\xE4ger ein!";

// A target medium that holds `capacity` bytes per file: a write (or kernel
// copy) beyond it stores what fits and fails with `error`, as a full disk
// does with ENOSPC; with EIO it is a medium that fails for good.
class SmallMediaEnv : public platform::Env {
 public:
  explicit SmallMediaEnv(int64_t capacity, int error = ENOSPC) : capacity_(capacity), error_(error) {}
  int Open(const std::string& path, int flags, mode_t mode) override {
    int fd = Env::Open(path, flags, mode);
    if (fd >= 0 && (flags & O_CREAT)) written_[fd] = 0;
    return fd;
  }
  int64_t Write(int fd, const void* buf, size_t n) override {
    return Limit(fd, n, [&](size_t k) { return Env::Write(fd, buf, k); });
  }
  int64_t CopyRange(int in, int out, size_t n) override {
    return Limit(out, n, [&](size_t k) { return Env::CopyRange(in, out, k); });
  }
  int Close(int fd) override {
    written_.erase(fd);
    return Env::Close(fd);
  }

 private:
  template <typename Op>
  int64_t Limit(int fd, size_t n, Op op) {
    auto it = written_.find(fd);
    if (it == written_.end()) return op(n);
    const int64_t want = std::min<int64_t>(std::max<int64_t>(capacity_ - it->second, 0), n);
    const int64_t done = want > 0 ? op(static_cast<size_t>(want)) : 0;
    if (done > 0) it->second += done;
    // Full only when more was asked than fits and the source had it.
    return done < want || want == static_cast<int64_t>(n) ? done : -error_;
  }
  int64_t capacity_;
  int error_;
  std::map<int, int64_t> written_;
};

struct stat StatOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

void SetMtime(const std::string& path, int64_t sec, long nsec) {
  timespec ts[2] = {{sec, nsec}, {sec, nsec}};
  ::utimensat(AT_FDCWD, path.c_str(), ts, 0);
}

using Outcome = CopyResult::Outcome;

// The copy in the process's own operation, as the command line makes it.
CopyResult Copy(const std::string& source, const std::string& target) {
  return CopyFileWithSplit(extlib::DefaultContext(), nullptr, source, target);
}
bool& OverwriteAll() { return extlib::DefaultContext().overwrite_all; }

class CopyEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OverwriteAll() = false;
    src_ = dir_ / "src/data.bin";
  }
  void TearDown() override {
    platform::SetCurrentEnv(nullptr);
    OverwriteAll() = false;
  }
  // Writes the source with a write time that has nanoseconds.
  std::string MakeSource(size_t n) {
    data_ = Pattern(n);
    WriteFile(src_, data_);
    SetMtime(src_, 1'600'000'000, 123456789);
    return src_;
  }
  bool SameMtime(const std::string& path) {
    struct stat a = StatOf(src_), b = StatOf(path);
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
  }

  services::testing::UiTextEnv texts_;  // English texts
  testing::TempDir dir_;
  testing::RecordingMessenger box_;
  std::string src_, data_;
};

// Kernel copies that a file system refuses (-EXDEV) or answers with nothing
// before the end (0, as /proc files do): the copy goes on by reading.
class KernelCopyResultEnv : public platform::Env {
 public:
  explicit KernelCopyResultEnv(int64_t result) : result_(result) {}
  int64_t CopyRange(int, int, size_t) override { return result_; }

 private:
  int64_t result_;
};

TEST_F(CopyEngineTest, CopiesBytesAndNanosecondTimesIntoNewFolders) {
  platform::Env posix;
  KernelCopyResultEnv refused(-EXDEV), nothing(0);
  int variant = 0;
  for (platform::Env* env : std::vector<platform::Env*>{&posix, &refused, &nothing}) {
    platform::SetCurrentEnv(env);
    for (size_t n : {size_t{0}, size_t{1}, kCopyBlockSize, kCopyBlockSize + 1, size_t{300000}}) {
      MakeSource(n);
      std::string target = dir_ / ("a/b/c" + std::to_string(variant) + "/copy" + std::to_string(n));
      const CopyResult copied = Copy(src_, target);
      EXPECT_EQ(copied.outcome, Outcome::kCopied) << n;
      EXPECT_EQ(copied.bytes, static_cast<int64_t>(n)) << n;
      EXPECT_EQ(ReadFile(target), data_) << n;
      EXPECT_TRUE(SameMtime(target)) << n;
    }
    ++variant;
  }
  EXPECT_TRUE(box_.messages.empty());
}

TEST_F(CopyEngineTest, UpToDateTargetIsLeftAndCountsAsCopied) {
  MakeSource(5000);
  std::string target = dir_ / "t/copy.bin";
  ASSERT_EQ(Copy(src_, target).outcome, Outcome::kCopied);
  WriteFile(target, std::string(5000, 'x'));  // same size, then the copy's time again
  SetMtime(target, 1'600'000'000, 123456789);
  for (const std::string& to : {target, src_}) {  // onto itself: never truncated
    const CopyResult left = Copy(src_, to);
    EXPECT_EQ(left.outcome, Outcome::kUpToDate);
    EXPECT_EQ(left.bytes, 5000);
    EXPECT_TRUE(left.ok());
  }
  EXPECT_EQ(ReadFile(target), std::string(5000, 'x'));
  EXPECT_TRUE(box_.messages.empty());
  EXPECT_EQ(ReadFile(src_), data_);
}

TEST_F(CopyEngineTest, OlderTargetAsksBeforeOverwriting) {
  struct Case {
    std::vector<int> answers;
    Outcome result;
    bool copied, all_set;
    size_t boxes;
  };
  const Case cases[] = {
      {{kIdNo}, Outcome::kDeclined, false, false, 1},
      {{kIdYes, kIdNo}, Outcome::kCopied, true, false, 2},
      {{kIdYes, kIdYes}, Outcome::kCopied, true, true, 2}};
  for (const Case& c : cases) {
    OverwriteAll() = false;
    box_.messages.clear();
    MakeSource(700);
    std::string target = dir_ / "old.bin";
    WriteFile(target, "old");
    SetMtime(target, 1'500'000'000, 0);
    box_.Answer(c.answers);
    const CopyResult r = Copy(src_, target);
    EXPECT_EQ(r.outcome, c.result);
    EXPECT_TRUE(r.ok());  // declining is no failure
    EXPECT_EQ(r.bytes, c.copied ? 700 : 0);
    EXPECT_EQ(ReadFile(target) == data_, c.copied);
    EXPECT_EQ(OverwriteAll(), c.all_set);
    ASSERT_EQ(box_.messages.size(), c.boxes);
    EXPECT_EQ(box_.messages[0].text, "The file " + target + " already exists. Do you want to overwrite it?");
    EXPECT_EQ(box_.messages[0].flags & platform::kMbIconMask, platform::kMbIconError);
  }
  // After Yes to both, later older targets are replaced without a question.
  WriteFile(dir_ / "old.bin", "older");
  SetMtime(dir_ / "old.bin", 1'500'000'000, 0);
  EXPECT_EQ(Copy(src_, dir_ / "old.bin").bytes, 700);
  EXPECT_EQ(box_.messages.size(), 2u);
  EXPECT_NE(box_.messages[1].text.find("without asking?\n(" + dir_ / "old.bin" + ")"), std::string::npos);
  EXPECT_EQ(box_.messages[1].flags & platform::kMbIconMask, platform::kMbIconQuestion);
}

TEST_F(CopyEngineTest, ReadOnlyTargetIsClearedOnlyAfterYes) {
  for (int answer : {kIdNo, kIdYes}) {
    MakeSource(64);
    std::string target = dir_ / "ro.bin";
    ::chmod(target.c_str(), 0644);
    WriteFile(target, "keep");
    ::chmod(target.c_str(), 0444);
    OverwriteAll() = true;
    box_.messages.clear();
    box_.Answer({answer});
    EXPECT_EQ(Copy(src_, target).outcome, answer == kIdYes ? Outcome::kCopied : Outcome::kDeclined);
    ASSERT_EQ(box_.messages.size(), 1u);
    EXPECT_EQ(box_.messages[0].text, "(" + target + ") is Read Only !\nMay I delete the flag ?");
    EXPECT_EQ(ReadFile(target), answer == kIdYes ? data_ : "keep");
  }
}

TEST_F(CopyEngineTest, FailuresNameTheCallAndPath) {
  MakeSource(10);
  WriteFile(dir_ / "file", "x");  // a file where a folder is needed
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  struct Case {
    std::string source, target, message;
    int error;
    std::vector<int> answers;
  } cases[] = {
      {dir_ / "missing", dir_ / "t1", "FindFirstFile(" + dir_ / "missing" + ") failed !\n\n", ENOENT, {}},
      {src_, dir_ / "file/sub/t", "CreateDirectory(" + dir_ / "file/sub" + ") failed !\n\n", ENOTDIR, {}},
      {dir_ / "src", dir_ / "t2", "_tfopen(" + dir_ / "src" + ") failed !\n\n", EISDIR, {}},
      {dir_ / "fifo", dir_ / "t3", "_tfopen(" + dir_ / "fifo" + ") failed !\n\n", EINVAL, {}},  // never blocks
      {src_, dir_ / "fifo", "_tfopen(" + dir_ / "fifo" + ") failed !\n\n", EINVAL, {kIdYes, kIdNo}},
      // A folder in the target's place: asked first, then refused.
      {src_, dir_ / "src", "_tfopen(" + dir_ / "src" + ") failed !\n\n", EISDIR, {kIdYes, kIdNo}},
  };
  for (auto& c : cases) {
    box_.messages.clear();
    box_.Answer(c.answers);
    const CopyResult r = Copy(c.source, c.target);
    EXPECT_EQ(r.outcome, Outcome::kFailed) << c.target;
    EXPECT_EQ(r.error, c.error) << c.target;
    EXPECT_EQ(r.Code(), -c.error);
    ASSERT_FALSE(box_.messages.empty());
    EXPECT_EQ(box_.messages.back().text.rfind(c.message, 0), 0u) << box_.messages.back().text;
    EXPECT_EQ(box_.Unused(), 0u);
  }
}

TEST_F(CopyEngineTest, NetworkPathNeverCreatesServerOrShare) {
  platform::PathMap& map = platform::PathMap::Instance();
  const std::string old_root = map.UncRoot();
  map.SetUncRoot(dir_ / "unc");
  std::filesystem::create_directories(dir_ / "unc/HOST/share");
  MakeSource(10);
  EXPECT_EQ(Copy(src_, "\\\\HOST\\share\\Net\\Sub\\f.bin").bytes, 10);
  EXPECT_EQ(ReadFile(dir_ / "unc/HOST/share/Net/Sub/f.bin"), data_);
  EXPECT_EQ(Copy(src_, "\\\\NOHOST\\share\\f.bin").outcome, Outcome::kFailed);
  EXPECT_EQ(Copy(src_, "\\\\HOST\\noshare\\f.bin").outcome, Outcome::kFailed);
  map.SetUncRoot(old_root);
  ASSERT_EQ(box_.messages.size(), 2u);
  EXPECT_EQ(box_.messages[0].text.rfind("CreateDirectory(\\\\NOHOST) failed !", 0), 0u);
  EXPECT_EQ(box_.messages[1].text.rfind("CreateDirectory(\\\\HOST\\noshare) failed !", 0), 0u);
  EXPECT_FALSE(Exists(dir_ / "unc/NOHOST"));
  EXPECT_FALSE(Exists(dir_ / "unc/HOST/noshare"));
}

TEST_F(CopyEngineTest, FullDiskSplitsIntoNumberedPieces) {
  platform::FaultInjectionEnv env;
  platform::SetCurrentEnv(&env);
  env.Arm(platform::FaultPoint::kWrite, 2, ENOSPC);  // half of the second block fits
  MakeSource(300000);
  std::string target = dir_ / "m/f.bin";
  box_.Answer({kIdYes});  // the new medium box has only OK
  EXPECT_EQ(Copy(src_, target).bytes, 300000);
  EXPECT_FALSE(Exists(target));
  EXPECT_EQ(ReadFile(target + "_1").size(), kCopyBlockSize + kCopyBlockSize / 2);
  EXPECT_EQ(ReadFile(target + "_1") + ReadFile(target + "_2"), data_);
  EXPECT_TRUE(SameMtime(target + "_1") && SameMtime(target + "_2"));
  ASSERT_EQ(box_.messages.size(), 2u);
  EXPECT_EQ(box_.messages[0].text, "write (" + target + ") failed !\n\nNo space left on device\nDatei splitten?");
  EXPECT_EQ(box_.messages[1].text, kNewMedium);
}

TEST_F(CopyEngineTest, SplitSpreadsOverAnyNumberOfMedia) {
  struct NoKernelCopy : SmallMediaEnv {  // another file system: bytes pass the buffer
    NoKernelCopy() : SmallMediaEnv(1000) {}
    int64_t CopyRange(int, int, size_t) override { return -EXDEV; }
  } buffered;
  SmallMediaEnv kernel(1000);
  box_.responder = [](const std::string& t) { return t == kNewMedium ? kIdOk : kIdYes; };
  for (platform::Env* env : std::vector<platform::Env*>{&kernel, &buffered}) {
    platform::SetCurrentEnv(env);
    MakeSource(3500);
    std::string target = dir_ / ("f" + std::to_string(env == &kernel));
    EXPECT_EQ(Copy(src_, target).bytes, 3500);
    std::string joined;
    for (int i = 1; i <= 4; ++i) joined += ReadFile(target + "_" + std::to_string(i));
    EXPECT_EQ(joined, data_);
    EXPECT_EQ(ReadFile(target + "_1").size(), 1000u);
    EXPECT_FALSE(Exists(target) || Exists(target + "_5"));
  }
}

TEST_F(CopyEngineTest, RefusedSplitOrOtherWriteErrorRemovesThePartialTarget) {
  for (int error : {ENOSPC, EIO}) {
    SmallMediaEnv env(200000, error);
    platform::SetCurrentEnv(&env);
    MakeSource(300000);
    box_.messages.clear();
    box_.Answer({kIdNo});
    const CopyResult r = Copy(src_, dir_ / "f.bin");
    EXPECT_EQ(r.outcome, Outcome::kShortfall);
    EXPECT_EQ(r.error, error);  // the write's reason
    EXPECT_EQ(r.Code(), -kCopyShortfallError);
    EXPECT_FALSE(Exists(dir_ / "f.bin") || Exists(dir_ / "f.bin_1"));
    ASSERT_EQ(box_.messages.size(), 2u);
    EXPECT_EQ(box_.messages[0].text.rfind("write (" + dir_ / "f.bin" + ") failed !", 0), 0u);
    EXPECT_EQ(box_.messages[0].text.find("Datei splitten?") != std::string::npos, error == ENOSPC);
    EXPECT_EQ(box_.messages[1].text.rfind("read (" + src_ + ") failed !", 0), 0u);
    platform::SetCurrentEnv(nullptr);
    box_.Answer({});
  }
}

// A project's copy must not split its files: a full volume fails the copy
// without the split question, and nothing of the target stays.
TEST_F(CopyEngineTest, FullDiskWithoutSplittingFailsWithoutAsking) {
  SmallMediaEnv env(200000, ENOSPC);
  platform::SetCurrentEnv(&env);
  MakeSource(300000);
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  ctx.split_files = false;
  box_.Answer({kIdYes});  // a split question would take it
  EXPECT_FALSE(CopyFileWithSplit(ctx, nullptr, src_, dir_ / "f.bin").ok());
  EXPECT_FALSE(Exists(dir_ / "f.bin") || Exists(dir_ / "f.bin_1"));
  ASSERT_FALSE(box_.messages.empty());
  EXPECT_EQ(box_.messages[0].text, "write (" + dir_ / "f.bin" + ") failed !\n\nNo space left on device");
  EXPECT_EQ(box_.Unused(), 1u);
  platform::SetCurrentEnv(nullptr);
  box_.Answer({});
}

// Failed once at every open, write, flush, close, rename and folder creation:
// the copy reports -1 and leaves no part of the target behind.
TEST_F(CopyEngineTest, EveryFailurePointLeavesNoTargetOrAWholeOne) {
  MakeSource(300000);
  using platform::FaultPoint;
  int failures = 0;
  for (FaultPoint point : {FaultPoint::kOpen, FaultPoint::kWrite, FaultPoint::kSync, FaultPoint::kClose,
                           FaultPoint::kRename, FaultPoint::kMkDir}) {
    for (int n = 1;; ++n) {
      std::filesystem::remove_all(dir_ / "out");
      platform::FaultInjectionEnv faulty;
      faulty.Arm(point, n, EIO);
      platform::SetCurrentEnv(&faulty);
      box_.Answer({kIdNo, kIdNo, kIdNo});  // no split, no repeat
      const CopyResult copied = Copy(src_, dir_ / "out/sub/f.bin");
      platform::SetCurrentEnv(nullptr);
      box_.Answer({});
      const std::string target = dir_ / "out/sub/f.bin";
      if (!faulty.Fired()) {
        EXPECT_EQ(copied.bytes, static_cast<int64_t>(data_.size()));
        EXPECT_EQ(ReadFile(target), data_);
        break;
      }
      ++failures;
      if (!copied.ok()) {
        // A failure after the last byte (the times, say) may leave the whole copy; never a part.
        if (Exists(target)) {
          EXPECT_EQ(ReadFile(target), data_) << static_cast<int>(point) << " #" << n;
        }
        EXPECT_FALSE(Exists(target + "_1")) << static_cast<int>(point) << " #" << n;
      } else {
        EXPECT_EQ(ReadFile(target), data_) << static_cast<int>(point) << " #" << n;
      }
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(CopyEngineTest, NewMediumThatCannotBeWrittenAsksToRepeat) {
  SmallMediaEnv small(1000);
  platform::SetCurrentEnv(&small);
  MakeSource(1500);
  std::string target = dir_ / "f.bin";
  // Split, new medium, then the new target cannot be created: ask to repeat, No.
  box_.on_message = [&](const std::string& t) {
    if (t == kNewMedium) std::filesystem::create_directories(target);  // a folder blocks the name
  };
  box_.Answer({kIdYes, kIdNo});  // the new medium box has only OK
  EXPECT_EQ(Copy(src_, target).outcome, Outcome::kFailed);
  ASSERT_EQ(box_.messages.size(), 3u);
  EXPECT_EQ(box_.messages[2].text.rfind("_tfopen(" + target + ") failed !\n\n", 0), 0u);
  EXPECT_NE(box_.messages[2].text.find("\nVorgang wiederholen?"), std::string::npos);
  EXPECT_EQ(ReadFile(target + "_1"), data_.substr(0, 1000));  // the full piece stays
}

TEST_F(CopyEngineTest, FailedCloseOfTheCopyIsAFailure) {
  platform::FaultInjectionEnv env;
  platform::SetCurrentEnv(&env);
  env.Arm(platform::FaultPoint::kClose, 2, EIO);  // 1: source, 2: target
  MakeSource(2000);
  const CopyResult r = Copy(src_, dir_ / "f.bin");
  EXPECT_EQ(r.outcome, Outcome::kFailed);
  EXPECT_EQ(r.error, EIO);
  EXPECT_FALSE(Exists(dir_ / "f.bin"));
  ASSERT_EQ(box_.messages.size(), 1u);
  EXPECT_EQ(box_.messages[0].text.rfind("write (" + dir_ / "f.bin" + ") failed !", 0), 0u);
}

// Whether the copy made the file now under the target's name: what a caller
// that rolls back removes, and nothing it found there or took away again.
TEST_F(CopyEngineTest, ResultTellsWhetherTheCopyMadeTheFileUnderTheName) {
  struct TimesRefused : platform::Env {  // the file system takes the bytes, not the times
    int FSetTimes(int, const platform::FileTime&, const platform::FileTime&) override { return -EPERM; }
  } times_refused;
  platform::FaultInjectionEnv close_fails;
  close_fails.Arm(platform::FaultPoint::kClose, 2, EIO);  // 1: source, 2: target
  SmallMediaEnv full(1000);
  struct Case {
    const char* what;
    platform::Env* env;
    bool old_target;
    std::vector<int> answers;
    Outcome outcome;
    bool made, there;
  } cases[] = {
      {"new", nullptr, false, {}, Outcome::kCopied, true, true},
      {"old target overwritten", nullptr, true, {kIdYes, kIdNo}, Outcome::kCopied, false, true},
      {"old target kept", nullptr, true, {kIdNo}, Outcome::kDeclined, false, true},
      {"times refused: the whole copy stays", &times_refused, false, {}, Outcome::kFailed, true, true},
      {"failed close: removed", &close_fails, false, {}, Outcome::kFailed, false, false},
      {"split: only numbered pieces", &full, false, {kIdYes}, Outcome::kCopied, false, false},
      {"split refused: removed", &full, false, {kIdNo}, Outcome::kShortfall, false, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeSource(1500);
    const std::string target = dir_ / ("t" + std::to_string(n++));
    if (c.old_target) {
      WriteFile(target, "old");
      SetMtime(target, 1'500'000'000, 0);
    }
    box_.messages.clear();
    box_.responder = nullptr;
    box_.Answer(c.answers);
    platform::SetCurrentEnv(c.env);
    const CopyResult r = Copy(src_, target);
    platform::SetCurrentEnv(nullptr);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.made, c.made);
    EXPECT_EQ(Exists(target), c.there);
    if (c.env == &times_refused) {
      EXPECT_EQ(ReadFile(target), data_);
      ASSERT_EQ(box_.messages.size(), 1u);
      EXPECT_EQ(box_.messages[0].text.rfind("SetFileTime(" + target + ") failed !", 0), 0u) << box_.All();
    }
  }
  box_.Answer({});
}

// Cancel at the second block of the second file, with and without the
// kernel copy: the copy stops there and leaves no partial target; the
// caller's rollback removes the first copy, and the sources stay whole.
TEST_F(CopyEngineTest, CancelBetweenBlocksStopsTheCopyAndTheCallerRollsBack) {
  for (bool kernel : {true, false}) {
    struct : platform::Env {  // refuses the kernel copy: blocks go through the buffer
      int64_t CopyRange(int, int, size_t) override { return -EXDEV; }
    } no_kernel_copy;
    platform::SetCurrentEnv(kernel ? nullptr : &no_kernel_copy);
    MakeSource(3 * kCopyBlockSize);
    testing::StoppingProgress person(5);  // polls: three blocks of the first file, then two
    extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &person);
    const std::string target = dir_ / "copy";
    CopyResult r;
    for (int i = 0; i < 2 && (i == 0 || r.ok()); ++i) r = CopyFileWithSplit(ctx, nullptr, src_, target + "/" + std::to_string(i));
    EXPECT_EQ(r.outcome, Outcome::kCancelled);
    EXPECT_EQ(r.Code(), -ECANCELED);
    EXPECT_FALSE(Exists(target + "/1"));                // no partial target
    EXPECT_TRUE(DeleteDirectoryTree(extlib::DefaultContext(), nullptr, target));  // the caller's rollback
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(ReadFile(src_), data_);
    EXPECT_TRUE(box_.messages.empty()) << box_.All();  // the person knows; no message
    platform::SetCurrentEnv(nullptr);
  }
}

// Each operation asks its own messenger, and Yes to "all further files" in
// one operation leaves another one asking.
TEST_F(CopyEngineTest, QuestionsAndOverwriteAllBelongToTheOperation) {
  MakeSource(100);
  testing::RecordingMessenger own;        // the operation's, answering from a script
  testing::RecordingMessenger elsewhere;  // the current messenger, which must stay silent
  extlib::OperationContext first(extlib::ProcessInstallation(), &own), second(extlib::ProcessInstallation(), &own);
  own.Answer({kIdYes, kIdYes, kIdNo});
  for (const char* name : {"a.bin", "b.bin"}) {
    WriteFile(dir_ / name, "old");
    SetMtime(dir_ / name, 1'500'000'000, 0);
  }
  EXPECT_EQ(CopyFileWithSplit(first, nullptr, src_, dir_ / "a.bin").bytes, 100);
  EXPECT_TRUE(first.overwrite_all);
  EXPECT_EQ(CopyFileWithSplit(second, nullptr, src_, dir_ / "b.bin").outcome, Outcome::kDeclined);  // asked again: No
  EXPECT_FALSE(second.overwrite_all);
  EXPECT_FALSE(OverwriteAll());  // nor the process default
  EXPECT_EQ(own.messages.size(), 3u);
  EXPECT_TRUE(elsewhere.messages.empty());
  EXPECT_TRUE(box_.messages.empty());
}

// Copy and deletion work through the operation's installation (Env, path map)
// and messenger on any thread: the process's Env, UNC root and messenger see none.
TEST_F(CopyEngineTest, CopyAndDeletionUseTheOperationsOwnInstallation) {
  MakeSource(3000);
  std::filesystem::create_directories(dir_ / "unc/HOST/share");
  platform::PathMap paths;
  paths.SetUncRoot(dir_ / "unc");
  SmallMediaEnv small(1000);  // a medium of 1000 bytes a file
  extlib::Installation own(paths, &small);
  testing::RecordingMessenger asked;
  testing::RecordingMessenger elsewhere;  // the current messenger, which must stay silent
  asked.Answer({kIdNo});                  // no split
  extlib::OperationContext ctx(own, &asked);
  const std::string target = "\\\\HOST\\share\\Sub\\f.bin";
  CopyResult r;
  bool deleted = false;
  std::thread([&] {
    r = CopyFileWithSplit(ctx, nullptr, src_, target);
    deleted = DeleteDirectoryTree(ctx, nullptr, "\\\\HOST\\share\\Sub");
  }).join();
  EXPECT_EQ(r.outcome, Outcome::kShortfall);  // the own Env's medium ran full
  EXPECT_EQ(r.error, ENOSPC);
  ASSERT_EQ(asked.messages.size(), 2u) << asked.All();
  EXPECT_NE(asked.messages[0].text.find("Datei splitten?"), std::string::npos);
  EXPECT_EQ(asked.messages[1].text.rfind("read (" + src_ + ") failed !", 0), 0u);
  EXPECT_TRUE(elsewhere.messages.empty() && box_.messages.empty());
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(Exists(dir_ / "unc/HOST/share/Sub"));  // made and removed below its own UNC root
  EXPECT_TRUE(Exists(dir_ / "unc/HOST/share"));
}

// Child process: mounts a 256 KiB tmpfs on media in its own user and mount
// namespace and copies src onto it; the new-medium box moves the full piece
// to shelf, as swapping a medium frees the drive. 77: no namespaces here.
int CopyOntoSmallTmpfs(const std::string& media, const std::string& shelf, const std::string& src,
                       int64_t size) {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return 77;
  testing::WriteFile("/proc/self/setgroups", "deny");
  testing::WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
  testing::WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
  if (::mount("dovrane-test", media.c_str(), "tmpfs", 0, "size=256k") != 0) return 77;
  auto move_pieces = [&] {
    for (const auto& e : std::filesystem::directory_iterator(media)) {
      std::filesystem::copy_file(e.path(), shelf + "/" + e.path().filename().string());
      std::filesystem::remove(e.path());
    }
  };
  testing::RecordingMessenger box;
  box.responder = [&](const std::string& text) {
    if (text != kNewMedium) return kIdYes;
    move_pieces();
    return kIdOk;
  };
  const CopyResult copied = Copy(src, media + "/f.bin");
  move_pieces();
  return copied.outcome == Outcome::kCopied && copied.bytes == size ? 0 : 1;
}

TEST_F(CopyEngineTest, RealFullFileSystemSplitsAcrossMedia) {
  MakeSource(700000);
  std::filesystem::create_directories(dir_ / "media");
  std::filesystem::create_directories(dir_ / "shelf");
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(CopyOntoSmallTmpfs(dir_ / "media", dir_ / "shelf", src_, 700000));
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no user namespaces to mount a tmpfs";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string joined;
  int pieces = 0;
  while (Exists(dir_ / ("shelf/f.bin_" + std::to_string(pieces + 1)))) joined += ReadFile(dir_ / ("shelf/f.bin_" + std::to_string(++pieces)));
  EXPECT_GE(pieces, 3);
  EXPECT_EQ(joined, data_);
}

}  // namespace
}  // namespace dovrane::fileops
