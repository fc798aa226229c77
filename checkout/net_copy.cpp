#include "checkout/net_copy.h"

#include <fcntl.h>

#include <cerrno>
#include <vector>

#include "admin/audit_log.h"
#include "checkout/checkout_info_file.h"
#include "extlib/records/administration.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/record_layout.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/users.h"
#include "fileops/copy_engine.h"
#include "fileops/directory_delete.h"
#include "fileops/directory_size.h"
#include "fileops/file_messages.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"

namespace dovrane::checkout {

namespace {

// The slot that names the copy's folder while its attributes are filled.
constexpr int kSlotCheckoutCopy = 40;
// project.dat of a large installation: far above any real one, below memory trouble.
constexpr uint64_t kAdministrationLimit = uint64_t{1} << 30;

using platform::CurrentEnv;

bool Exists(extlib::OperationContext& ctx, const std::string& native) {
  platform::FileInfo info;
  return ctx.Env().Stat(native, &info, false) == 0;
}

bool Fail(extlib::OperationContext& ctx, unsigned item, const std::string& path, int error) {
  extlib::ShowMessage(ctx, fileops::FileErrorMessage(item, path, error),
                      platform::kMbOk | platform::kMbIconError | platform::kMbSetForeground);
  return false;
}

bool FailRename(extlib::OperationContext& ctx, const std::string& from, const std::string& to, int error) {
  return Fail(ctx, 2, from + "#" + to, error);
}

std::string Fold(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(platform::FoldCp1252(static_cast<unsigned char>(c)));
  return out;
}

bool IsHostLine(const std::string& line, const std::string& padded_host, const std::string& marker) {
  namespace layout = extlib::layout;
  if (line.size() > static_cast<size_t>(layout::kV3HostEnd) && line[layout::kV3HostEnd] == layout::kFieldEnd &&
      Fold(line.substr(layout::kV3Host, layout::kHostWidth)) == padded_host)
    return true;
  return Fold(line).find(marker) != std::string::npos;
}

// The administration is copied as one read of it: other computers append
// to it in place while it is copied, and a copy of the size it had at the
// start would fail as cut short. What the read finds is a state the file
// had; a record half appended at its end is no record to any reader yet.
// The copy keeps the original's times, as a file copy does. The bytes
// copied, or -1 after a message.
int64_t CopyAdministration(extlib::OperationContext& ctx, const std::string& from, const std::string& to) {
  const std::string native_from = ctx.Native(from), native_to = ctx.Native(to);
  platform::FileInfo info;
  std::string text;
  int rc = ctx.Env().Stat(native_from, &info, true);
  if (rc == 0) rc = platform::ReadWholeFile(native_from, &text, kAdministrationLimit);
  if (rc != 0) {
    Fail(ctx, 1, from, rc);
    return -1;
  }
  if (rc = platform::WriteFileAtomic(native_to, text); rc != 0) {
    Fail(ctx, 4, to, rc);
    return -1;
  }
  (void)ctx.Env().SetTimes(native_to, info.accessed, info.modified);
  return static_cast<int64_t>(text.size());
}

// The user table and the administration are copied as one pair: a change of
// the number of user containers rewrites both, the table first, and holds the
// whole administration locked until the new one is in place. Both are read
// while a shared hold keeps such a rewrite from beginning (one under way is
// waited for), so the copy never has the table of one layout and records of
// the other. The bytes copied, or -1 after a message.
int64_t CopyAdministrationPair(extlib::OperationContext& ctx, const std::string& from, const std::string& to,
                               const std::string& users_name, const std::string& admin_name) {
  const std::string native_admin = ctx.Native(from + "\\" + admin_name);
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 50; ++attempt) {
    fd = platform::OpenRegularFile(native_admin, O_RDONLY);
    if (fd < 0) {
      Fail(ctx, 1, from + "\\" + admin_name, fd);
      return -1;
    }
    if (platform::HoldOffWholeFileLock(fd, extlib::RecordLockTimeoutMs()) != 0) {
      platform::CloseNothingPending(&ctx.Env(), fd);
      extlib::ShowMessage(ctx, extlib::LanguageTextWith(extlib::kCheckoutTexts, 14, {from + "\\" + admin_name}),
                          platform::kMbOk | platform::kMbIconError | platform::kMbSetForeground);
      return -1;
    }
    // A conversion that held the file until now put a new one in its place.
    if (!platform::IsFileAtPath(fd, native_admin)) {
      platform::CloseNothingPending(&ctx.Env(), fd);
      fd = -1;
    }
  }
  if (fd < 0) {
    Fail(ctx, 1, from + "\\" + admin_name, -EBUSY);
    return -1;
  }
  int64_t total = 0;
  if (!users_name.empty()) {
    const fileops::CopyResult users = fileops::CopyFileWithSplit(
        ctx, nullptr, ctx.Native(from + "\\" + users_name), ctx.Native(to + "\\" + users_name));
    total = users.ok() ? users.bytes : -1;
  }
  if (total >= 0) {
    const int64_t copied = CopyAdministration(ctx, from + "\\" + admin_name, to + "\\" + admin_name);
    total = copied < 0 ? -1 : total + copied;
  }
  platform::ReleaseWholeFileHold(fd);
  platform::CloseNothingPending(&ctx.Env(), fd);
  return total;
}

// The copy of the network \Net's files, with the progress window's title,
// line and total.
bool CopyNetFiles(extlib::OperationContext& ctx, const std::string& from, const std::string& to) {
  int64_t total = fileops::SumDirectorySize(ctx, from, "*.*", 1);
  if (total < 0) return false;
  if (extlib::Progress* p = ctx.progress()) {
    p->Title(from + "\\*.*");
    p->Line(services::UiText(111, 1009));
    p->StartCounted(static_cast<double>(total));
  }
  const std::string native_from = ctx.Native(from), native_to = ctx.Native(to);
  std::vector<platform::DirEntry> entries;
  if (int rc = ctx.Env().ListDir(native_from, &entries); rc != 0) return Fail(ctx, 1, from, rc);
  bool ok = true;
  std::string admin_name, users_name;  // as the network's folder spells them
  for (const platform::DirEntry& e : entries) {
    if (ctx.Cancelled()) {
      ok = false;
      break;
    }
    if (e.name.empty() || e.name[0] == '.' || ExcludedFromCheckoutCopy(e.name)) continue;
    platform::FileInfo info;
    // Folders (the attribute database's among them) stay behind.
    if (ctx.Env().Stat(native_from + "/" + e.name, &info, true) != 0 ||
        info.type == platform::EntryType::kDirectory)
      continue;
    if (Fold(e.name) == Fold(extlib::kAdministrationFile)) {
      admin_name = e.name;
      continue;
    }
    if (Fold(e.name) == Fold(extlib::kUserTableFile)) {
      users_name = e.name;
      continue;
    }
    if (ctx.progress()) ctx.progress()->Title(to + "\\" + e.name);
    const fileops::CopyResult copied =
        fileops::CopyFileWithSplit(ctx, nullptr, native_from + "/" + e.name, native_to + "/" + e.name);
    if (ctx.progress()) ctx.progress()->Advance(static_cast<double>(copied.bytes));
    // A copy without one of the administration's files is no checked-out copy.
    if (!copied.ok()) {
      ok = false;
      break;
    }
  }
  if (ok && !admin_name.empty()) {
    if (ctx.progress()) ctx.progress()->Title(to + "\\" + admin_name);
    const int64_t copied = CopyAdministrationPair(ctx, from, to, users_name, admin_name);
    if (ctx.progress()) ctx.progress()->Advance(static_cast<double>(copied));
    ok = copied >= 0;
  } else if (ok && !users_name.empty()) {
    ok = fileops::CopyFileWithSplit(ctx, nullptr, native_from + "/" + users_name, native_to + "/" + users_name).ok();
  }
  if (ctx.progress()) ctx.progress()->Finish();
  return ok;
}

// The full administration as project.dat.chkout, the host's part as the new project.dat.
bool ReduceCopiedAdministration(extlib::OperationContext& ctx, const std::string& work, const std::string& host, bool resume) {
  const std::string admin = ctx.Native(work + "\\project.dat");
  const std::string kept = ctx.Native(work + "\\project.dat.chkout");
  if (Exists(ctx, kept)) return FailRename(ctx, work + "\\project.dat", work + "\\project.dat.chkout", -EEXIST);
  if (int rc = ctx.Env().Rename(admin, kept); rc != 0)
    return FailRename(ctx, work + "\\project.dat", work + "\\project.dat.chkout", rc);
  std::string text;
  if (int rc = platform::ReadWholeFile(kept, &text, kAdministrationLimit); rc != 0)
    return Fail(ctx, 1, work + "\\project.dat.chkout", rc);
  // A check-out cut short marked the host's projects already; the copy shows
  // them as the first run would have copied them, unmarked.
  if (resume) {
    text = WithoutHostMarks(text, host);
    if (int rc = platform::WriteFileAtomic(kept, text); rc != 0) return Fail(ctx, 4, work + "\\project.dat.chkout", rc);
  }
  if (int rc = platform::WriteFileAtomic(admin, ReduceAdministration(text, host)); rc != 0)
    return Fail(ctx, 4, work + "\\project.dat", rc);
  return true;
}

}  // namespace

bool ExcludedFromCheckoutCopy(const std::string& name) {
  const std::string folded = Fold(name);
  for (const char* part : {".out", "PelomarProjectDB", "LiteDBConfig.xml"})
    if (folded.find(Fold(part)) != std::string::npos) return true;
  // The office's audit log stays in the office: every other computer appends
  // to it while it would be copied, and the copy writes a log of its own.
  if (folded == Fold(admin::kAuditLogName)) return true;
  return false;
}

std::string ReduceAdministration(const std::string& text, const std::string& host) {
  std::string padded = host.substr(0, extlib::layout::kHostWidth);
  padded.resize(extlib::layout::kHostWidth, ' ');
  const std::string folded = Fold(padded), marker = "@" + folded;
  std::string out;
  size_t pos = 0;
  for (int line = 1; pos < text.size(); ++line) {
    size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string whole = text.substr(pos, end - pos);
    if (line <= 2 || IsHostLine(whole, folded, marker)) out += whole;
    pos = end;
  }
  return out;
}

std::string WithoutHostMarks(const std::string& text, const std::string& host) {
  namespace layout = extlib::layout;
  std::string padded = host.substr(0, layout::kHostWidth);
  padded.resize(layout::kHostWidth, ' ');
  const std::string folded = Fold(padded);
  std::string out = text;
  for (size_t pos = out.find('\n'); pos != std::string::npos && pos + 1 < out.size(); pos = out.find('\n', pos + 1)) {
    const size_t line = pos + 1;
    if (out.size() > line + layout::kV3HostEnd && out[line + layout::kV3HostEnd] == layout::kFieldEnd &&
        Fold(out.substr(line + layout::kV3Host, layout::kHostWidth)) == folded)
      out[line + layout::kV3Status] = static_cast<char>(out[line + layout::kV3Status] & ~extlib::kStatusHostOut);
  }
  return out;
}

bool BuildCheckoutCopy(extlib::OperationContext& ctx, const NetCopyPlaces& places, const std::string& host,
                       const std::string& local_data_path, bool resume) {
  const std::string work = places.Work(), native_work = ctx.Native(work);
  if (Exists(ctx, native_work) && !fileops::DeleteDirectoryTree(ctx, nullptr, work)) return false;
  if (int rc = platform::MakeDirectories(native_work); rc != 0) return Fail(ctx, 4, work, rc);
  if (!CopyNetFiles(ctx, places.network_net, work)) return false;
  // The host list under the name the copied one has (names differing in case
  // only would be two files here), ending in a line feed so a host line
  // appended later starts a line of its own.
  const std::string host_list = ctx.Native(work + "\\Data.cfg");
  if (int rc = platform::WriteFileAtomic(host_list, host + " " + local_data_path + "\n"); rc != 0)
    return Fail(ctx, 4, work + "\\Data.cfg", rc);
  if (!ReduceCopiedAdministration(ctx, work, host, resume)) return false;
  // The host check-out information file goes along unchanged.
  const std::string info = ctx.Native(HostCheckoutInfoPath(places.network_net, host));
  if (Exists(ctx, info) &&
      !fileops::CopyFileWithSplit(ctx, nullptr, info, ctx.Native(HostCheckoutInfoPath(work, host))).ok())
    return false;
  platform::SyncDirectory(native_work);
  return true;
}

bool CopyCheckoutAttributes(extlib::OperationContext& ctx, const NetCopyPlaces& places,
                            const std::set<uint32_t>& numbers) {
  extlib::RX_ProjectAttributes network(ctx, extlib::kSlotNet);
  if (network.ensurePreDefinedAttributes(0) <= 0) return false;
  if (extlib::lfinipC(ctx, kSlotCheckoutCopy, places.Work() + "\\") != 0) return false;
  extlib::RX_ProjectAttributes copy(ctx, kSlotCheckoutCopy);
  extlib::lfinipC(ctx, kSlotCheckoutCopy, "");
  if (copy.ensurePreDefinedAttributes(0) <= 0) return false;
  int rc = network.copyProjectAttributes(copy, extlib::kCopyForCheckout, true, numbers);
  copy.close();
  network.close();
  return rc >= 0;
}

bool PutCheckoutCopyInPlace(extlib::OperationContext& ctx, const NetCopyPlaces& places, bool* made_backup) {
  *made_backup = false;
  const std::string target = ctx.Native(places.host_net);
  const std::string backup = ctx.Native(places.Backup());
  if (Exists(ctx, target)) {
    if (Exists(ctx, backup) || Exists(ctx, ctx.Native(places.host_net + "\\project.dat.chkout"))) {
      if (!fileops::DeleteDirectoryTree(ctx, nullptr, places.host_net)) return false;
    } else if (int rc = ctx.Env().Rename(target, backup); rc != 0) {
      return FailRename(ctx, places.host_net, places.Backup(), rc);
    } else {
      *made_backup = true;
    }
  }
  if (int rc = ctx.Env().Rename(ctx.Native(places.Work()), target); rc != 0) {
    FailRename(ctx, places.Work(), places.host_net, rc);
    if (*made_backup && ctx.Env().Rename(backup, target) == 0) *made_backup = false;
    return false;
  }
  platform::SyncDirectory(platform::DirName(target));
  return true;
}

void RemoveCheckoutCopy(extlib::OperationContext& caller, const NetCopyPlaces& places, bool in_place) {
  // A context of its own: after a cancel the caller's would stop the deletion at once.
  extlib::OperationContext ctx(caller.installation(), &caller.Messenger());
  if (Exists(ctx, ctx.Native(places.Work()))) fileops::DeleteDirectoryTree(ctx, nullptr, places.Work());
  const std::string target = ctx.Native(places.host_net);
  const bool leftover = Exists(ctx, ctx.Native(places.host_net + "\\project.dat.chkout"));
  if ((in_place || leftover) && !fileops::DeleteDirectoryTree(ctx, nullptr, places.host_net)) return;
  const std::string backup = ctx.Native(places.Backup());
  if (Exists(ctx, backup) && !Exists(ctx, target)) {
    if (int rc = ctx.Env().Rename(backup, target); rc != 0) FailRename(ctx, places.Backup(), places.host_net, rc);
  }
}

}  // namespace dovrane::checkout
