#include "fileops/copy_engine.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <new>
#include <optional>

#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "fileops/file_messages.h"
#include "fileops/path_parts.h"
#include "fileops/target_names.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/system_error.h"
#include "platform/text_codec.h"

namespace dovrane::fileops {

using platform::EntryType;
using platform::Env;
using platform::FileInfo;
using platform::FileTime;
using platform::SystemErrorText;

namespace {

constexpr unsigned kErrorBox = platform::kMbOk | platform::kMbIconError;

using Outcome = CopyResult::Outcome;

// A failed call's result; error in either sign.
CopyResult Failed(int error) { return {Outcome::kFailed, 0, error < 0 ? -error : error}; }

bool IsDiskFull(int64_t rc) {
  // A full medium, a full quota, or a file the medium cannot grow (FAT's 4 GB):
  // each is helped by going on in a new piece.
  return rc == -ENOSPC || rc == -EDQUOT || rc == -EFBIG;
}

int64_t FloorTo(const FileTime& t, int64_t resolution) {
  int64_t ns = t.sec * 1'000'000'000 + t.nsec;
  int64_t q = ns / resolution;
  if (ns % resolution != 0 && ns < 0) --q;
  return q;
}

// Gives the closed file at native the source's access and write times.
// Linux has no call to set a birth time; the copy keeps its own.
int StampTimes(extlib::OperationContext& ctx, const std::string& native, const std::string& shown,
               const FileInfo& source) {
  Env* env = &ctx.installation().Env();
  int fd = env->Open(native, O_WRONLY | O_NOFOLLOW);
  if (fd < 0) {
    FileBoxF(ctx, kErrorBox, "CreateFile(%s) failed !\n\n%s", shown.c_str(), SystemErrorText(fd));
    return fd;
  }
  int rc = env->FSetTimes(fd, source.accessed, source.modified);
  int rc_close = env->Close(fd);
  if (rc == 0) rc = rc_close;
  if (rc < 0) FileBoxF(ctx, kErrorBox, "SetFileTime(%s) failed !\n\n%s", shown.c_str(), SystemErrorText(rc));
  return rc;
}

// Renames the piece at native to native + "_n". A refused rename must not let
// the next piece overwrite this one, so it is a failure.
int RenamePiece(extlib::OperationContext& ctx, const std::string& native, const std::string& shown, int n) {
  std::string suffix = "_" + std::to_string(n);
  int rc = ctx.installation().Env().Rename(native, native + suffix);
  if (rc < 0)
    FileBoxF(ctx, kErrorBox, "rename(%s) failed !\n\n%s", (shown + suffix).c_str(), SystemErrorText(rc));
  return rc;
}

// One copy: the open files and what has been written so far.
class Copy {
 public:
  Copy(extlib::OperationContext& ctx, const std::string& source, const std::string& target,
       const std::string& target_native, const FileInfo& info)
      : ctx_(ctx),
        env_(ctx.installation().Env()),
        source_(source),
        target_(target),
        info_(info),
        target_native_(target_native) {}
  ~Copy() {
    if (in_ >= 0) platform::CloseNothingPending(&env_, in_);
    if (out_ >= 0) platform::CloseNothingPending(&env_, out_);
  }
  CopyResult Run(const std::string& source_native, bool target_exists, const FileInfo& target_info) {
    CopyResult result = RunSteps(source_native, target_exists, target_info);
    result.made = new_target_ && at_name_;
    return result;
  }

 private:
  CopyResult RunSteps(const std::string& source_native, bool target_exists, const FileInfo& target_info);
  // Opens the source and the target and makes the block buffer: a result when
  // the copy ends here (failed, or the person declined), else nothing.
  std::optional<CopyResult> Open(const std::string& source_native, bool target_exists, const FileInfo& target_info,
                                 std::unique_ptr<char[]>* buffer);
  // The copy loop, block by block: a result when the copy ends in it (a
  // failure, a cancel), else nothing once the source is read to its end or
  // the target could take no more.
  std::optional<CopyResult> CopyBlocks(char* buffer);
  // Checks the byte total, closes the target and gives it the source's times
  // and its piece number.
  CopyResult Finish();
  // The block from offset on did not fit (a full medium). Returns 1 to go on writing
  // into a new piece, 0 to leave the copy loop, -1 to fail at once with failure_.
  int OnShortWrite(int64_t rc);
  int StopWith(int error) {
    failure_ = Failed(error);
    return -1;
  }
  CopyResult Shortfall();
  // Closes both files and removes the unfinished piece: the copy ends as `outcome`
  // (the person stopped it: no message, as they know).
  CopyResult GiveUp(Outcome outcome);
  // After a failed write: what reached the piece before the failure counts
  // (the medium took it); at most `most`. Returns that count.
  int64_t CountPartial(int64_t most);

  extlib::OperationContext& ctx_;
  Env& env_;
  const std::string source_, target_;
  const FileInfo info_;
  std::string target_native_;
  int in_ = -1, out_ = -1;
  int pieces_ = 0;
  // The target was not there; a file this copy made is under its name now.
  bool new_target_ = false, at_name_ = false;
  int64_t total_ = 0;
  int64_t piece_bytes_ = 0;
  int last_error_ = 0;
  CopyResult failure_;
};

CopyResult Copy::RunSteps(const std::string& source_native, bool target_exists, const FileInfo& target_info) {
  // The buffer comes before the target, so a failed allocation leaves no
  // empty target behind that a later run would take for up to date.
  std::unique_ptr<char[]> buffer;
  if (std::optional<CopyResult> ended = Open(source_native, target_exists, target_info, &buffer)) return *ended;
  if (std::optional<CopyResult> ended = CopyBlocks(buffer.get())) return *ended;
  return Finish();
}

std::optional<CopyResult> Copy::Open(const std::string& source_native, bool target_exists,
                                     const FileInfo& target_info, std::unique_ptr<char[]>* buffer) {
  // A folder opens on Linux but is no file to copy; a pipe or device
  // would block the open or never end.
  in_ = info_.type == EntryType::kDirectory ? -EISDIR
        : info_.type != EntryType::kFile    ? -EINVAL
                                            : env_.Open(source_native, O_RDONLY);
  if (in_ < 0) {
    int rc = in_;
    FileBoxF(ctx_, kErrorBox, "_tfopen(%s) failed !\n\n%s", source_.c_str(), SystemErrorText(rc));
    return Failed(rc);
  }
  // An older target that is read-only: read-only means no write bit; clearing it adds the owner's.
  if (target_exists && (target_info.mode & 0222) == 0) {
    if (FileBoxF(ctx_, platform::kMbYesNo | platform::kMbIconError, "(%s) is Read Only !\nMay I delete the flag ?",
                 target_.c_str()) != platform::kIdYes)
      return CopyResult{Outcome::kDeclined};
    (void)env_.Chmod(target_native_, target_info.mode | S_IWUSR);  // a refusal shows at the create below
  }
  buffer->reset(new (std::nothrow) char[kCopyBlockSize]);
  if (!*buffer) {
    FileBoxF(ctx_, kErrorBox, "malloc(%d bytes) failed !\n\n%s", static_cast<int>(kCopyBlockSize),
             SystemErrorText(ENOMEM));
    return Failed(ENOMEM);
  }
  const bool special = target_exists && target_info.type == EntryType::kOther;
  out_ = special ? -EINVAL : env_.Open(target_native_, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
  if (out_ < 0) {
    int rc = out_;
    FileBoxF(ctx_, kErrorBox, "_tfopen(%s) failed !\n\n%s", target_.c_str(), SystemErrorText(rc));
    return Failed(rc);
  }
  new_target_ = !target_exists;
  at_name_ = true;
  if (!target_exists) NoteTargetCreated(ctx_.installation(), target_native_);
  return std::nullopt;
}

std::optional<CopyResult> Copy::CopyBlocks(char* buffer) {
  // Where the kernel can copy between the two files (copy_file_range) the
  // bytes do not pass through the buffer; otherwise, and after any error that
  // is not a full disk (so the failing side is named), blocks are read and written.
  bool kernel_copy = true;
  bool leave = false;
  while (!leave) {
    if (kernel_copy) {
      int64_t c = env_.CopyRange(in_, out_, kCopyBlockSize);
      if (c == 0) {
        // The end once the source's size is copied; else a file system that
        // copies nothing so, or a source that grew: a read tells.
        if (total_ == static_cast<int64_t>(info_.size)) break;
        kernel_copy = false;
        continue;
      }
      if (c > 0) {
        total_ += c;
        piece_bytes_ += c;
        if (ctx_.Cancelled()) return GiveUp(Outcome::kCancelled);
        continue;
      }
      CountPartial(kCopyBlockSize);
      if (!IsDiskFull(c)) {
        kernel_copy = false;
        continue;
      }
      int next = OnShortWrite(c);
      if (next < 0) return failure_;
      leave = next == 0;
      continue;
    }
    int64_t n = env_.Read(in_, buffer, kCopyBlockSize);
    if (n < 0) last_error_ = static_cast<int>(n);
    if (n <= 0) break;
    int64_t offset = 0;
    while (offset < n) {
      int64_t w = env_.Write(out_, buffer + offset, static_cast<size_t>(n - offset));
      if (w >= 0) {
        offset += w;
        total_ += w;
        piece_bytes_ += w;
        continue;
      }
      offset += CountPartial(n - offset);
      int next = OnShortWrite(w);
      if (next < 0) return failure_;
      if (next == 0) {
        leave = true;
        break;
      }
    }
    if (!leave && ctx_.Cancelled()) return GiveUp(Outcome::kCancelled);
  }
  return std::nullopt;
}

CopyResult Copy::Finish() {
  // Fewer bytes than the source holds: a failed read, never a copy.
  if (total_ != static_cast<int64_t>(info_.size)) return Shortfall();
  platform::CloseNothingPending(&env_, in_);
  in_ = -1;
  // The times go onto the descriptor the copy wrote: no second open by name,
  // so nothing put in the target's place meanwhile is stamped. The writes are
  // done (a network file system sends its cached writes before it sets times).
  const int stamped = env_.FSetTimes(out_, info_.accessed, info_.modified);
  // A close that fails may have lost written data.
  int rc = env_.Close(out_);
  out_ = -1;
  if (rc < 0) {
    FileBoxF(ctx_, kErrorBox, "write (%s) failed !\n\n%s", target_.c_str(), SystemErrorText(rc));
    if (env_.Unlink(target_native_) == 0) at_name_ = false;
    return Failed(rc);
  }
  if (stamped < 0) {
    FileBoxF(ctx_, kErrorBox, "SetFileTime(%s) failed !\n\n%s", target_.c_str(), SystemErrorText(stamped));
    return Failed(stamped);
  }
  if (pieces_ != 0) {
    if (int r = RenamePiece(ctx_, target_native_, target_, pieces_ + 1); r < 0) return Failed(r);
    at_name_ = false;
  }
  return {Outcome::kCopied, total_};
}

int Copy::OnShortWrite(int64_t rc) {
  Env* env = &env_;
  last_error_ = static_cast<int>(rc);
  if (!IsDiskFull(rc) || !ctx_.split_files) {
    FileBoxF(ctx_, kErrorBox, "write (%s) failed !\n\n%s", target_.c_str(), SystemErrorText(rc));
    return 0;
  }
  if (FileBoxF(ctx_, platform::kMbYesNo, "write (%s) failed !\n\n%s\nDatei splitten?", target_.c_str(),
               SystemErrorText(rc)) != platform::kIdYes)
    return 0;
  // Close the full piece, stamp it and give it its number.
  int closed = env->Close(out_);
  out_ = -1;
  if (closed < 0) {
    FileBoxF(ctx_, kErrorBox, "write (%s) failed !\n\n%s", target_.c_str(), SystemErrorText(closed));
    return StopWith(closed);
  }
  if (int s = StampTimes(ctx_, target_native_, target_, info_); s < 0) return StopWith(s);
  ++pieces_;
  if (int r = RenamePiece(ctx_, target_native_, target_, pieces_); r < 0) return StopWith(r);
  at_name_ = false;
  // The new medium.
  for (;;) {
    FileBox(ctx_, platform::kMbOk, "Bitte legen Sie einen neuen Datentr\xE4ger ein!");
    std::string dir = ParentPath(target_);
    if (!dir.empty()) {
      if (int c = CreateDirectoryChain(ctx_, dir); c < 0) return StopWith(c);
    }
    target_native_ = NativeTargetPath(ctx_.installation(), target_);
    out_ = env->Open(target_native_, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
    if (out_ >= 0) {
      at_name_ = true;
      break;
    }
    int failed = out_;
    if (FileBoxF(ctx_, platform::kMbYesNo | platform::kMbIconError, "_tfopen(%s) failed !\n\n%s\nVorgang wiederholen?",
                 target_.c_str(), SystemErrorText(failed)) != platform::kIdYes)
      return StopWith(failed);
  }
  piece_bytes_ = 0;
  return 1;
}

int64_t Copy::CountPartial(int64_t most) {
  int64_t pos = env_.Seek(out_, 0, SEEK_CUR);
  int64_t partial = pos > piece_bytes_ ? pos - piece_bytes_ : 0;
  if (partial > most) partial = most;
  total_ += partial;
  piece_bytes_ += partial;
  return partial;
}

CopyResult Copy::Shortfall() {
  FileBoxF(ctx_, kErrorBox, "read (%s) failed !\n\n%s", source_.c_str(),
           SystemErrorText(last_error_ ? last_error_ : kCopyShortfallError));
  return GiveUp(Outcome::kShortfall);
}

CopyResult Copy::GiveUp(Outcome outcome) {
  Env* env = &env_;
  platform::CloseNothingPending(env, in_);
  in_ = -1;
  if (out_ >= 0) platform::CloseNothingPending(env, out_);
  out_ = -1;
  // The unfinished last piece; pieces closed on other media stay.
  if (env->Unlink(target_native_) == 0) at_name_ = false;
  return {outcome, 0, last_error_ < 0 ? -last_error_ : last_error_};
}

}  // namespace

int CopyResult::Code() const {
  switch (outcome) {
    case Outcome::kFailed: return -(error ? error : EIO);
    case Outcome::kShortfall: return -kCopyShortfallError;
    case Outcome::kCancelled: return -ECANCELED;
    default: return 0;
  }
}

namespace {
// The folders of an installation's shape that may be links on purpose.
bool IsShapeFolderName(const std::string& name) {
  return platform::EqualsIgnoreCaseCp1252(name, "Net") || platform::EqualsIgnoreCaseCp1252(name, "Prj");
}
std::string LastComponent(const std::string& path) {
  const size_t at = path.find_last_of('\\');
  return at == std::string::npos ? path : path.substr(at + 1);
}
}  // namespace

namespace {
// CreateDirectoryChain; *seen: the folder as found where it was there
// already outside a share (native empty otherwise).
int MakeDirectoryChain(extlib::OperationContext& ctx, const std::string& dir, KnownFolder* seen) {
  Env* env = &ctx.installation().Env();
  const platform::PathMap& paths = ctx.installation().Paths();
  FileInfo info;
  std::string native = paths.ToNative(dir);
  // In a share, every folder of the chain is looked at: one that is a
  // symbolic link would take the copy wherever it points. Only \Net and Prj,
  // which an administrator may move and link, are followed.
  const bool shared = platform::IsUncPath(dir);
  if (!shared && !native.empty() && env->Stat(native, &info) == 0) {  // the usual case: one call
    seen->native = native;
    seen->info = info;
    return 0;
  }
  size_t fixed = 0;
  std::vector<std::string> chain = DirectoryChain(dir, &fixed);
  for (size_t i = 0; i < chain.size(); ++i) {
    const std::string prefix_native = paths.ToNative(chain[i]);
    int rc = prefix_native.empty() ? -ENOENT : 0;
    if (rc == 0 && shared && i >= fixed && env->Stat(prefix_native, &info, false) == 0 &&
        info.type == EntryType::kLink && !IsShapeFolderName(LastComponent(chain[i]))) {
      FileBoxF(ctx, kErrorBox, "CreateDirectory(%s) failed !\n\n%s", chain[i].c_str(),
               extlib::LanguageText(extlib::kCheckoutTexts, 6).c_str());
      errno = ELOOP;
      return -ELOOP;
    }
    if (rc == 0 && env->Stat(prefix_native, &info) == 0) continue;
    // A server, share or drive that is not there cannot be made here.
    if (rc == 0) rc = i < fixed ? -ENOENT : env->MkDir(prefix_native);
    if (rc == 0 || rc == -EEXIST) continue;
    FileBoxF(ctx, kErrorBox, "CreateDirectory(%s) failed !\n\n%s", chain[i].c_str(), SystemErrorText(rc));
    errno = -rc;
    return rc;
  }
  return 0;
}
}  // namespace

int CreateDirectoryChain(extlib::OperationContext& ctx, const std::string& dir) {
  KnownFolder unused;
  return MakeDirectoryChain(ctx, dir, &unused);
}

bool TargetIsUpToDate(const FileInfo& source, const FileInfo& target, int64_t resolution_ns) {
  if (source.size != target.size) return false;
  int64_t r = resolution_ns > 0 ? resolution_ns : 1;
  if (target.modified.nsec == 0 && r < 1'000'000'000) r = 1'000'000'000;
  return FloorTo(source.created, r) <= FloorTo(target.created, r) &&
         FloorTo(source.modified, r) <= FloorTo(target.modified, r);
}

CopyResult CopyFileWithSplit(extlib::OperationContext& ctx, void* window, const std::string& source,
                          const std::string& target) {
  (void)window;
  Env* env = &ctx.installation().Env();
  const platform::PathMap& paths = ctx.installation().Paths();
  // The target's folders first; the folder found there is not looked at again.
  std::string dir = ParentPath(target);
  KnownFolder folder;
  if (!dir.empty()) {
    if (int rc = MakeDirectoryChain(ctx, dir, &folder); rc < 0) return Failed(rc);
  }
  // The source must be there and be a file.
  const std::string source_native = paths.ToNative(source);
  FileInfo info;
  int rc = source_native.empty() ? -ENOENT : env->Stat(source_native, &info, true);
  if (rc < 0) {
    FileBoxF(ctx, kErrorBox, "FindFirstFile(%s) failed !\n\n%s", source.c_str(), SystemErrorText(rc));
    return Failed(rc);
  }
  // An existing target: the same file, or older or newer than the source.
  TargetState state;
  const std::string target_native =
      NativeTargetPath(ctx.installation(), target, folder.native.empty() ? nullptr : &folder, &state);
  FileInfo target_info = state.info;
  const bool exists = state.known == TargetState::Known::kPresent ||
                      (state.known == TargetState::Known::kUnknown && !target_native.empty() &&
                       env->Stat(target_native, &target_info, false) == 0);
  // A symbolic link in the target's place is not written through (it may
  // lead anywhere); it is left and named.
  if (exists && target_info.type == EntryType::kLink) {
    FileBoxF(ctx, kErrorBox, "_tfopen(%s) failed !\n\n%s", target.c_str(), extlib::LanguageText(extlib::kCheckoutTexts, 7).c_str());
    return Failed(ELOOP);
  }
  if (exists) {
    // The same file under two names: copying would truncate the source.
    const CopyResult up_to_date{Outcome::kUpToDate, static_cast<int64_t>(info.size)};
    if (target_info.device == info.device && target_info.inode == info.inode) return up_to_date;
    int64_t resolution = 1;
    (void)env->TimeResolution(target_native, &resolution);  // unknown: compared exactly
    if (TargetIsUpToDate(info, target_info, resolution)) return up_to_date;
    if (!ctx.overwrite_all) {
      if (FileBox(ctx, platform::kMbYesNo | platform::kMbIconError, FileOpsUiText(3, 7, target.c_str())) !=
          platform::kIdYes)
        return {Outcome::kDeclined};
      if (FileBox(ctx, platform::kMbYesNo | platform::kMbIconQuestion, FileOpsUiText(3, 8, target.c_str())) ==
          platform::kIdYes)
        ctx.overwrite_all = true;
    }
  }
  if (target_native.empty()) {  // a drive no folder is mapped to
    FileBoxF(ctx, kErrorBox, "_tfopen(%s) failed !\n\n%s", target.c_str(), SystemErrorText(ENOENT));
    return Failed(ENOENT);
  }
  Copy copy(ctx, source, target, target_native, info);
  return copy.Run(source_native, exists, target_info);
}

}  // namespace dovrane::fileops
