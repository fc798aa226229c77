#include "admin/shared_file_backup.h"

#include <fcntl.h>

#include <algorithm>
#include <ctime>

#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/records/administration.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

namespace {

constexpr size_t kStampLength = 16;  // 20261207T191905Z
// Clocks of workstations and servers differ by minutes; a set dated more than
// this ahead was made under a wrong clock.
constexpr int64_t kFutureMarginSeconds = 24 * 3600;
// A hostile writer may leave thousands of entries: the report names this many.
constexpr size_t kNamesShown = 20;

bool IsSetName(const std::string& name) {
  if (name.size() < kStampLength || name[8] != 'T' || name[15] != 'Z') return false;
  for (size_t i = 0; i < kStampLength; ++i)
    if (i != 8 && i != 15 && (name[i] < '0' || name[i] > '9')) return false;
  return name.size() == kStampLength || name[kStampLength] == '-';
}

// The UTC seconds a set's name gives (IsSetName holds).
int64_t StampSeconds(const std::string& name) {
  auto number = [&name](size_t at, size_t digits) {
    int value = 0;
    for (size_t i = at; i < at + digits; ++i) value = value * 10 + (name[i] - '0');
    return value;
  };
  std::tm tm{};
  tm.tm_year = number(0, 4) - 1900;
  tm.tm_mon = number(4, 2) - 1;
  tm.tm_mday = number(6, 2);
  tm.tm_hour = number(9, 2);
  tm.tm_min = number(11, 2);
  tm.tm_sec = number(13, 2);
  return static_cast<int64_t>(timegm(&tm));
}

// The stamp sorts by time; "-2" after the plain name of its second.
bool NameOrder(const std::string& a, const std::string& b) {
  return a.substr(0, kStampLength) != b.substr(0, kStampLength) ? a < b
         : a.size() != b.size()                                 ? a.size() < b.size()
                                                                : a < b;
}

// A name from the shared folder as a message shows it: control characters
// of a hostile name cannot break the message's lines.
std::string Shown(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

std::string NameList(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size() && i < kNamesShown; ++i) text += (i ? ", " : "") + Shown(names[i]);
  if (names.size() > kNamesShown) text += " and " + std::to_string(names.size() - kNamesShown) + " more";
  return text;
}

// Copies one regular file into the set folder open as setfd and flushes it.
// A source that is missing is no failure (an installation need not have every
// file); nor is a link, which is not followed (a copy would put what it points
// to into a folder everyone may read): *linked is set, the set goes without it.
int CopyIntoSet(extlib::OperationContext& ctx, const std::string& from, int setfd, const std::string& name,
                bool* linked) {
  platform::Env* env = &ctx.Env();
  int in = platform::OpenRegularFile(from, O_RDONLY | O_NOFOLLOW);
  if (in == -ENOENT) return 0;
  if (in == -ELOOP && platform::IsSymbolicLink(from)) {
    *linked = true;
    return 0;
  }
  if (in < 0) return in;
  int out = env->OpenAt(setfd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (out < 0) {
    platform::CloseNothingPending(env, in);
    return out;
  }
  int rc = 0;
  char buf[1 << 16];
  for (;;) {
    const int64_t n = env->Read(in, buf, sizeof buf);
    if (n <= 0) {
      rc = static_cast<int>(n);
      break;
    }
    const int64_t w = env->Write(out, buf, static_cast<size_t>(n));
    if (w < 0) {
      rc = static_cast<int>(w);
      break;
    }
  }
  if (rc == 0) rc = env->Sync(out);
  const int closed = env->Close(out);
  platform::CloseNothingPending(env, in);
  return rc != 0 ? rc : closed;
}

struct OldSet {
  std::string name;
  platform::FileTime made;
  bool known = false;  // false: every time it has lies in the future
};

// Removes the oldest sets beyond the kept count, never new_set, the one just
// made. A set is a real folder with a set's name; anything else (a link, a
// file, another folder) is left alone and reported. Sets are ordered by the
// time the file system gave their folder (a wrong clock of the workstation
// that named one does not make it the newest), by the name's stamp where that
// time lies in the future too, and first of all where both do. A set that
// cannot be removed stays (the new one is whole all the same).
void RemoveOldSets(extlib::OperationContext& ctx, int backupfd, const std::string& new_set,
                   const std::string& shown_backup) {
  platform::Env* env = &ctx.Env();
  std::vector<platform::DirEntry> entries;
  if (env->ListDirFd(backupfd, &entries) != 0) return;
  // "Now" is the file system's: the time it gave the set just made. By this
  // workstation's own clock, when it is years behind, every set would lie in
  // the future and be ordered by its name, and a set another workstation is
  // filling right now could be the first to go.
  platform::FileInfo just_made;
  const int64_t now =
      env->StatAt(backupfd, new_set, &just_made, false) == 0 ? just_made.created.sec : env->NowSeconds();
  const int64_t latest = now + kFutureMarginSeconds;
  std::vector<OldSet> sets;
  std::vector<std::string> foreign, future;
  for (const platform::DirEntry& e : entries) {
    if (e.name == new_set) continue;
    platform::FileInfo info;
    if (!IsSetName(e.name) || env->StatAt(backupfd, e.name, &info, false) != 0 ||
        info.type != platform::EntryType::kDirectory) {
      foreign.push_back(e.name);
      continue;
    }
    const int64_t stamp = StampSeconds(e.name);
    if (stamp > latest) future.push_back(e.name);
    OldSet set{e.name, info.created, true};
    if (set.made.sec > latest) {
      set.made = {stamp, 0};
      set.known = stamp <= latest;
    }
    sets.push_back(set);
  }
  std::sort(sets.begin(), sets.end(), [](const OldSet& a, const OldSet& b) {
    if (a.known != b.known) return !a.known;
    if (a.known && a.made != b.made) return a.made < b.made;
    return NameOrder(a.name, b.name);
  });
  // The new set is one of those kept.
  const size_t kept = static_cast<size_t>(BackupSetsKept()) - 1;
  for (size_t i = 0; i + kept < sets.size(); ++i) (void)platform::RemoveTreeAt(backupfd, sets[i].name);

  std::sort(foreign.begin(), foreign.end());
  std::sort(future.begin(), future.end(), NameOrder);
  if (!foreign.empty())
    services::ToolMessageBox(
        ctx, services::kMessageWarning, "%s",
        extlib::LanguageTextWith(extlib::kRepairTexts, 22, {shown_backup, NameList(foreign)}).c_str());
  if (!future.empty())
    services::ToolMessageBox(
        ctx, services::kMessageWarning, "%s",
        extlib::LanguageTextWith(extlib::kRepairTexts, 23, {shown_backup, NameList(future)}).c_str());
}

}  // namespace

const std::vector<std::string>& BackedUpFiles() {
  static const std::vector<std::string> files = {extlib::kAdministrationFile, extlib::kHostListFile,
                                                 extlib::kUserTableFile, extlib::kNetIdFileName};
  return files;
}

std::string BackupSetName(int64_t utc_seconds) {
  const std::time_t t = static_cast<std::time_t>(utc_seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  return text;
}

int BackupSetsKept() {
  long value = 0;
  if (extlib::GetSettingNumber("HKLM", "InstallRoot\\BackupSetsKept", &value) && value >= 1 && value <= 1000)
    return static_cast<int>(value);
  return kBackupSetsKept;
}

int BackupSharedFiles(extlib::OperationContext& ctx, std::string* set_folder) {
  platform::Env* env = &ctx.Env();
  std::string net_windows;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, kBackupFolder, &net_windows) != 0) return -ENOENT;
  const std::string backup = ctx.Native(net_windows);
  int rc = env->MkDir(backup);
  if (rc != 0 && rc != -EEXIST) return rc;
  // \Net itself may be a link an administrator made; backup must not be one.
  const int backupfd = platform::OpenFolderNoFollow(AT_FDCWD, backup);
  if (backupfd < 0) {
    if (backupfd == -ELOOP)
      services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                               extlib::LanguageTextWith(extlib::kRepairTexts, 24, {net_windows}).c_str());
    return backupfd;
  }
  // Two runs in one second each get a set of their own.
  const std::string stamp = BackupSetName(env->NowSeconds());
  std::string name = stamp;
  for (int n = 2;; ++n) {
    rc = env->MkDirAt(backupfd, name);
    if (rc != -EEXIST || n > 100) break;
    name = stamp + "-" + std::to_string(n);
  }
  if (rc != 0) {
    platform::CloseNothingPending(env, backupfd);
    return rc;
  }
  const int setfd = platform::OpenFolderNoFollow(backupfd, name);
  rc = setfd < 0 ? setfd : 0;
  std::vector<std::string> linked;
  for (size_t i = 0; rc == 0 && i < BackedUpFiles().size(); ++i) {
    const std::string& file = BackedUpFiles()[i];
    std::string windows;
    if (extlib::lffnamC_new(ctx, extlib::kSlotNet, file, &windows) != 0) continue;
    bool is_link = false;
    rc = CopyIntoSet(ctx, ctx.Native(windows), setfd, file, &is_link);
    if (is_link) linked.push_back(windows);
  }
  if (rc == 0) rc = env->Sync(setfd);
  if (setfd >= 0) platform::CloseNothingPending(env, setfd);
  if (rc == 0) rc = env->Sync(backupfd);
  if (rc != 0) {
    (void)platform::RemoveTreeAt(backupfd, name);
    platform::CloseNothingPending(env, backupfd);
    return rc;
  }
  for (const std::string& file : linked)
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kRepairTexts, 25, {file, name}).c_str());
  if (set_folder) *set_folder = net_windows + "\\" + name;
  RemoveOldSets(ctx, backupfd, name, net_windows);
  platform::CloseNothingPending(env, backupfd);
  return 0;
}

std::string BackupFailedText(int error) {
  return extlib::LanguageTextWith(extlib::kRepairTexts, 26, {platform::ErrorName(error)});
}

}  // namespace dovrane::admin
