#include "admin/administration_conversion.h"

#include <fcntl.h>

#include <cerrno>
#include <string>
#include <vector>

#include "admin/administration_header.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

namespace L = extlib::layout;
using platform::CurrentEnv;
using enum extlib::ProjectCode;

namespace {

constexpr char kReorgFailed[] =
    "The project administration could not be reorganized.\nYou can start this procedure again\n"
    "(Varnholtek Services - Service - Hotline Tools - reorg)\n";
// Numbers above this stay out of the header: room is kept for new projects.
constexpr uint32_t kHighestTakenOver = 9999899;

// Copies the file at from (open, read from offset 0) into to, crash-safe. 0 or -errno.
int KeepCopy(extlib::OperationContext& ctx, int from_fd, const std::string& to) {
  platform::Env* env = &ctx.Env();
  const std::string temp = to + ".new~" + std::to_string(platform::ProcessId());
  int out = env->Open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (out < 0) return out;
  std::vector<char> buf(1 << 20);
  int rc = 0;
  for (int64_t offset = 0;;) {
    int64_t n = env->PRead(from_fd, buf.data(), buf.size(), offset);
    if (n <= 0) {
      rc = static_cast<int>(n);
      break;
    }
    int64_t w = env->Write(out, buf.data(), static_cast<size_t>(n));
    if (w < 0) {
      rc = static_cast<int>(w);
      break;
    }
    offset += n;
  }
  if (rc == 0) rc = env->Sync(out);
  int rc_close = env->Close(out);
  if (rc == 0) rc = rc_close;
  if (rc == 0) rc = env->Rename(temp, to);
  if (rc) (void)env->Unlink(temp);
  return rc;
}

// Buffered writing of the new file; the first error sticks.
class NewFile {
 public:
  NewFile(platform::Env& env, int fd) : env_(env), fd_(fd) {}
  void Append(const std::string& text) {
    buf_ += text;
    if (buf_.size() >= (1u << 20)) Flush();
  }
  void Flush() {
    if (rc_ == 0 && !buf_.empty()) {
      int64_t w = env_.Write(fd_, buf_.data(), buf_.size());
      if (w < 0) rc_ = static_cast<int>(w);
    }
    buf_.clear();
  }
  int rc() const { return rc_; }

 private:
  platform::Env& env_;
  int fd_;
  std::string buf_;
  int rc_ = 0;
};

std::string BadLinesText(const std::vector<long>& bad) {
  std::string numbers;
  for (size_t i = 0; i < bad.size() && i < 20; ++i) numbers += " " + std::to_string(bad[i]);
  if (bad.size() > 20) numbers += " ...";
  return extlib::LanguageTextWith(extlib::kRepairTexts, 1, {std::to_string(bad.size()), numbers, kOldAdministrationFile});
}

std::string NothingReadText(size_t lines) {
  return extlib::LanguageTextWith(extlib::kRepairTexts, 2, {std::to_string(lines)});
}

// Streams the old records into the new file; *written counts the records
// written. REQUIRES: both open.
int ConvertRecords(extlib::OperationContext& ctx, int old_fd, const AdministrationHeader& old_header, int new_fd,
                   uint32_t* highest, std::vector<long>* bad, long* written) {
  const int containers = old_header.containers_now;
  const bool dos_text = old_header.version == 1 && extlib::sys_init_key_tab() == 1;
  RecordStream in(ctx.Env(), old_fd);
  NewFile out(ctx.Env(), new_fd);
  out.Append(extlib::FormatHeader(L::kCurrentVersion, old_header.highest, 2));
  uint32_t largest = 0;
  for (;;) {
    extlib::PRJ record;
    int rc =
        old_header.version == 3 ? ReadRecordV3(in, old_header, &record) : ReadRecordV12(ctx, in, old_header, &record);
    if (rc == kRecordEnd) break;
    if (rc < 0) {
      if (rc != kRecordBad && rc != kRecordLineEndMisplaced) return rc;  // the file itself cannot be read
      bad->push_back(in.slot());
      continue;
    }
    if (extlib::IsDeleted(record)) continue;
    if (record.number > largest) largest = record.number;
    if (dos_text) sys_AsciiText2Iso(&record);
    std::string line;
    if (!extlib::FormatRecordV3(record, containers, &line)) {
      bad->push_back(in.slot());
      continue;
    }
    out.Append(line + "\r\n");
    ++*written;
  }
  out.Flush();
  if (out.rc()) return out.rc();
  *highest = old_header.highest;
  if (largest > *highest && largest <= kHighestTakenOver) *highest = largest;
  const std::string header = extlib::FormatHeader(L::kCurrentVersion, *highest, 2);
  const int64_t w = ctx.Env().PWrite(new_fd, header.data(), header.size(), 0);
  return w < 0 ? static_cast<int>(w) : 0;
}

}  // namespace

int CheckAdministrationVersion(extlib::OperationContext& ctx) {
  std::string path;
  AdministrationHeader header;
  const bool named = extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kAdministrationFile, &path) == 0;
  int fd = named ? OpenAdministrationHeader(ctx, path, ShareMode::kDenyNone, &header) : kHeaderUnusable;
  // Another layout may be a conversion under way in another process (the
  // user count change sets the count first): wait for its lock as a writer
  // does and look at the file then at the path again.
  if (fd >= 0 && !(header.version == 3 && header.user_words == extlib::lzuGetCountOfUserContainers())) {
    platform::WaitForWholeFileLock(fd, extlib::RecordLockTimeoutMs());
    platform::CloseNothingPending(&ctx.Env(), fd);
    fd = OpenAdministrationHeader(ctx, path, ShareMode::kDenyNone, &header);
  }
  if (fd < 0) {
    if (header.version > 3) {
      services::ToolMessageBox(ctx, services::kMessageError, "Unknown version of project administration.\n");
      return kPrjUnknownVersion;
    }
    services::ToolMessageBox(ctx, services::kMessageError, "Project administration can not be opened.\n");
    return kPrjAdminMissing;
  }
  const bool current = header.version == 3 && header.user_words == extlib::lzuGetCountOfUserContainers();
  platform::CloseNothingPending(&ctx.Env(), fd);
  return current ? 0 : ConvertAdministration(ctx);
}

namespace {

int Convert(extlib::OperationContext& ctx, ShareMode share) {
  long notice = extlib::sendGuiMessageInProcess(ctx, 2500406, 0);
  if (!notice)
    services::ToolMessageBox(ctx, services::kMessageInformation,
                             "Project administration must be converted\nPlease be patient!\n");
  auto done = [&](int rc) {
    extlib::cancelGuiMessageInProcess(ctx, notice);
    UnCachPrjList(ctx);
    return rc;
  };
  extlib::close_prj_info_handle(extlib::kSlotNet);
  std::string path, old_path;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kAdministrationFile, &path) != 0 ||
      extlib::lffnamC_new(ctx, extlib::kSlotNet, kOldAdministrationFile, &old_path) != 0) {
    services::ToolMessageBox(ctx, services::kMessageError, "Old project administration can not be opened.\n");
    return done(kPrjAdminMissing);
  }
  // Every record is rewritten for the table's container count: an unreadable
  // table must stop the conversion, not pass for the one-container default.
  int containers = 0;
  if (extlib::ReadUserContainerCount(&containers) != 0) {
    services::ToolMessageBox(ctx, services::kMessageError, "%s", extlib::LanguageText(extlib::kRepairTexts, 3).c_str());
    return done(kPrjAdminMissing);
  }
  AdministrationHeader header;
  int old_fd = OpenAdministrationHeader(ctx, path, share, &header);
  header.containers_now = containers;  // the count checked above, not a second reading
  if (old_fd == kHeaderShareRefused) {
    services::ToolMessageBox(ctx, services::kMessageError, "%s", extlib::LanguageText(extlib::kRepairTexts, 4).c_str());
    return done(kPrjLockFailed);
  }
  if (old_fd < 0) {
    services::ToolMessageBox(ctx, services::kMessageError, "Old project administration can not be opened.\n");
    return done(kPrjAdminMissing);
  }
  const std::string native = ctx.Native(path);
  const std::string temp = native + ".conv~" + std::to_string(platform::ProcessId());
  int new_fd = ctx.Env().Open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (new_fd < 0) {
    platform::CloseNothingPending(&ctx.Env(), old_fd);
    services::ToolMessageBox(ctx, services::kMessageError, "New project administration can not be created.\n");
    return done(kPrjAdminMissing);
  }
  uint32_t highest = 0;
  std::vector<long> bad;
  long written = 0;
  int rc = ConvertRecords(ctx, old_fd, header, new_fd, &highest, &bad, &written);
  if (rc == 0) rc = ctx.Env().Sync(new_fd);
  int rc_close = ctx.Env().Close(new_fd);
  if (rc == 0) rc = rc_close;
  // Not one record read where there were lines: the layout was misjudged (a
  // damaged file), not the records. An empty administration in its place
  // would lose every project, so nothing is changed.
  if (rc == 0 && written == 0 && !bad.empty()) {
    platform::CloseNothingPending(&ctx.Env(), old_fd);
    (void)ctx.Env().Unlink(temp);
    services::ToolMessageBox(ctx, services::kMessageError, "%s", NothingReadText(bad.size()).c_str());
    return done(kPrjAdminMissing);
  }
  // The old file is kept only now, so a refused conversion leaves the last one's copy.
  if (rc == 0) rc = KeepCopy(ctx, old_fd, ctx.Native(old_path));
  // The new file replaces the old one whole, while the share still keeps writers out.
  if (rc == 0) rc = ctx.Env().Rename(temp, native);
  platform::CloseNothingPending(&ctx.Env(), old_fd);
  if (rc) {
    (void)ctx.Env().Unlink(temp);
    services::ToolMessageBox(ctx, services::kMessageError, "%s", kReorgFailed);
    return done(extlib::ProjectCodeFromErrno(rc));
  }
  platform::SyncDirectory(platform::DirName(native));
  if (!bad.empty()) services::ToolMessageBox(ctx, services::kMessageWarning, "%s", BadLinesText(bad).c_str());
  return done(0);
}

}  // namespace

namespace {

// A short wait: the update goes on without the removal while a writer works.
constexpr int kTemporaryLockWaitMs = 500;

}  // namespace

int RemoveConversionTemporaries(extlib::OperationContext& ctx) {
  std::string admin, users, old;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kAdministrationFile, &admin) != 0 ||
      extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kUserTableFile, &users) != 0 ||
      extlib::lffnamC_new(ctx, extlib::kSlotNet, kOldAdministrationFile, &old) != 0)
    return 0;
  platform::Env* env = &ctx.Env();
  const std::string native = ctx.Native(admin), dir = platform::DirName(native);
  const std::string admin_base = platform::BaseName(native), users_base = platform::BaseName(ctx.Native(users)),
                    old_base = platform::BaseName(ctx.Native(old));
  std::vector<platform::DirEntry> entries;
  if (env->ListDir(dir, &entries) != 0) return 0;
  std::vector<std::string> found;
  for (const platform::DirEntry& e : entries)
    // A temporary one of the conversion's writes names with the writing process's id.
    if ((platform::IsProcessWorkName(e.name, users_base + ".new~") ||
         platform::IsProcessWorkName(e.name, admin_base + ".conv~") ||
         platform::IsProcessWorkName(e.name, old_base + ".new~") ||
         platform::IsProcessWorkName(e.name, admin_base + ".new~")) &&
        platform::IsRegularFileNoFollow(dir + "/" + e.name))
      found.push_back(dir + "/" + e.name);
  if (found.empty()) return 0;
  const int lock_fd = platform::OpenRegularFile(native, O_RDWR);
  if (lock_fd < 0) return 0;
  int removed = 0;
  // Locked, and still the file at the path (a conversion that ended meanwhile
  // replaced it, and a new one may be writing beside the new file).
  if (env->Lock(lock_fd, 0, 0, platform::LockMode::kExclusive, kTemporaryLockWaitMs) == 0 &&
      platform::IsFileAtPath(lock_fd, native))
    for (const std::string& path : found) removed += platform::IsRegularFileNoFollow(path) && env->Unlink(path) == 0 ? 1 : 0;
  platform::CloseNothingPending(env, lock_fd);  // the lock goes with the descriptor
  return removed;
}

int ConvertAdministration(extlib::OperationContext& ctx) { return Convert(ctx, ShareMode::kDenyReadWrite); }

int ConvertLockedAdministration(extlib::OperationContext& ctx) { return Convert(ctx, ShareMode::kDenyNone); }

}  // namespace dovrane::admin
