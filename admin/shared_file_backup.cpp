#include "admin/shared_file_backup.h"

#include <fcntl.h>

#include <algorithm>
#include <ctime>

#include "extlib/administration.h"
#include "extlib/hosts.h"
#include "extlib/library_init.h"
#include "extlib/net_id.h"
#include "extlib/settings.h"
#include "extlib/slot_files.h"
#include "extlib/users.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::admin {

namespace {

constexpr size_t kStampLength = 16;  // 20261207T191905Z

bool IsSetName(const std::string& name) {
  if (name.size() < kStampLength || name[8] != 'T' || name[15] != 'Z') return false;
  for (size_t i = 0; i < kStampLength; ++i)
    if (i != 8 && i != 15 && (name[i] < '0' || name[i] > '9')) return false;
  return name.size() == kStampLength || name[kStampLength] == '-';
}

// Copies one regular file into the set folder and flushes it. A source that
// is missing is no failure (an installation need not have every file).
int CopyIntoSet(const std::string& from, const std::string& to) {
  platform::Env* env = platform::CurrentEnv();
  int in = platform::OpenRegularFile(from, O_RDONLY);
  if (in == -ENOENT) return 0;
  if (in < 0) return in;
  int out = env->Open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    env->Close(in);
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
  env->Close(in);
  return rc != 0 ? rc : closed;
}

void RemoveSet(const std::string& folder) {
  platform::Env* env = platform::CurrentEnv();
  std::vector<platform::DirEntry> entries;
  if (env->ListDir(folder, &entries) == 0)
    for (const platform::DirEntry& e : entries) env->Unlink(folder + "/" + e.name);
  env->RmDir(folder);
}

// Removes the oldest sets beyond the kept count; a set that cannot be
// removed stays (the new one is whole all the same).
void RemoveOldSets(const std::string& backup) {
  std::vector<platform::DirEntry> entries;
  if (platform::CurrentEnv()->ListDir(backup, &entries) != 0) return;
  std::vector<std::string> sets;
  for (const platform::DirEntry& e : entries)
    if (IsSetName(e.name)) sets.push_back(e.name);
  // The stamp sorts by time; "-2" after the plain name of its second.
  std::sort(sets.begin(), sets.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, kStampLength) != b.substr(0, kStampLength) ? a < b
           : a.size() != b.size()                                  ? a.size() < b.size()
                                                                   : a < b;
  });
  const size_t kept = static_cast<size_t>(BackupSetsKept());
  for (size_t i = 0; i + kept < sets.size(); ++i) RemoveSet(backup + "/" + sets[i]);
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

int BackupSharedFiles(std::string* set_folder) {
  platform::Env* env = platform::CurrentEnv();
  std::string net_windows;
  if (extlib::lffnamC_new(extlib::kSlotNet, kBackupFolder, &net_windows) != 0) return -ENOENT;
  const std::string backup = platform::NativePath(net_windows);
  int rc = env->MkDir(backup);
  if (rc != 0 && rc != -EEXIST) return rc;
  // Two runs in one second each get a set of their own.
  const std::string stamp = BackupSetName(env->NowSeconds());
  std::string name = stamp, folder;
  for (int n = 2;; ++n) {
    folder = backup + "/" + name;
    rc = env->MkDir(folder);
    if (rc != -EEXIST || n > 100) break;
    name = stamp + "-" + std::to_string(n);
  }
  if (rc != 0) return rc;
  for (const std::string& file : BackedUpFiles()) {
    std::string windows;
    if (extlib::lffnamC_new(extlib::kSlotNet, file, &windows) != 0) continue;
    rc = CopyIntoSet(platform::NativePath(windows), folder + "/" + file);
    if (rc != 0) break;
  }
  if (rc == 0) rc = platform::SyncDirectory(folder);
  if (rc == 0) rc = platform::SyncDirectory(backup);
  if (rc != 0) {
    RemoveSet(folder);
    return rc;
  }
  if (set_folder) *set_folder = net_windows + "\\" + name;
  RemoveOldSets(backup);
  return 0;
}

std::string BackupFailedText(int error) {
  return "The shared files could not be backed up into \\Net\\backup (" + platform::ErrorName(error) +
         ").\nNothing was changed.\n";
}

}  // namespace dovrane::admin
