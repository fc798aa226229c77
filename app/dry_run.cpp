#include "app/dry_run.h"

#include <fcntl.h>
#include <stdlib.h>

#include <strings.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

#include "platform/confined_env.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::app {

namespace {

int CopyFile(const std::string& from, const std::string& to, const platform::FileInfo& info) {
  platform::Env* env = platform::CurrentEnv();
  int in = platform::OpenRegularFile(from, O_RDONLY | O_NOATIME);
  if (in == -EPERM) in = platform::OpenRegularFile(from, O_RDONLY);  // O_NOATIME: own files only
  if (in < 0) return in;
  int out = env->Open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  int rc = out < 0 ? out : 0;
  char buf[1 << 16];
  while (rc == 0) {
    const int64_t n = env->Read(in, buf, sizeof buf);
    if (n <= 0) {
      rc = static_cast<int>(n);
      break;
    }
    const int64_t w = env->Write(out, buf, static_cast<size_t>(n));
    if (w < 0) rc = static_cast<int>(w);
  }
  platform::CloseNothingPending(env, in);
  if (out >= 0) {
    if (rc == 0) rc = env->FChmod(out, info.mode & 07777);
    if (rc == 0) rc = env->FSetTimes(out, info.accessed, info.modified);
    const int closed = env->Close(out);
    if (rc == 0) rc = closed;
  }
  return rc;
}

// The DOS attributes (hidden, read-only) as Samba keeps them come along; a
// file system without them has none to copy.
void CopyAttributes(const std::string& from, const std::string& to) {
  std::string value;
  platform::Env* env = platform::CurrentEnv();
  if (env->GetXattr(from, "user.DOSATTRIB", &value) == 0) (void)env->SetXattr(to, "user.DOSATTRIB", value);
}

// Removes the copy: links themselves, never what they point at; folders the
// copy made read-only are opened up first.
void RemoveTree(const std::string& path) {
  platform::Env* env = platform::CurrentEnv();
  platform::FileInfo info;
  if (env->Stat(path, &info, false) != 0) return;
  if (info.type != platform::EntryType::kDirectory) {
    (void)env->Unlink(path);
    return;
  }
  (void)env->Chmod(path, 0700);
  std::vector<platform::DirEntry> entries;
  if (env->ListDir(path, &entries) == 0)
    for (const platform::DirEntry& e : entries) RemoveTree(path + "/" + e.name);
  (void)env->RmDir(path);
}

// A link that is part of an installation's shape, followed on purpose: a
// host or share folder that is a mount elsewhere, and a Net or Prj folder an
// administrator moved to other storage. Its folder is copied as a folder, so
// the preview works on a copy of what the real run would change.
bool ShapeLink(int depth, const std::string& name) {
  return depth == 1 || depth == 2 || (depth <= 3 && (strcasecmp(name.c_str(), "Net") == 0 ||
                                                     strcasecmp(name.c_str(), "Prj") == 0));
}

int CopyTree(const std::string& from, const std::string& to, int depth,
             std::set<std::pair<uint64_t, uint64_t>>* followed) {
  platform::Env* env = platform::CurrentEnv();
  platform::FileInfo top;
  int rc = env->Stat(from, &top);
  if (rc != 0) return rc;
  rc = env->MkDir(to, 0700);
  if (rc != 0) return rc;
  std::vector<platform::DirEntry> entries;
  rc = env->ListDir(from, &entries);
  for (size_t i = 0; rc == 0 && i < entries.size(); ++i) {
    const std::string a = from + "/" + entries[i].name, b = to + "/" + entries[i].name;
    platform::FileInfo info;
    rc = env->Stat(a, &info, false);
    if (rc != 0) break;
    platform::FileInfo target;
    if (info.type == platform::EntryType::kLink && ShapeLink(depth + 1, entries[i].name) &&
        env->Stat(a, &target) == 0 && target.type == platform::EntryType::kDirectory &&
        followed->insert({target.device, target.inode}).second) {
      rc = CopyTree(a, b, depth + 1, followed);
    } else if (info.type == platform::EntryType::kDirectory) {
      rc = CopyTree(a, b, depth + 1, followed);
    } else if (info.type == platform::EntryType::kFile) {
      rc = CopyFile(a, b, info);
      if (rc == 0) CopyAttributes(a, b);
    } else if (info.type == platform::EntryType::kLink) {
      std::string target;
      rc = env->ReadLink(a, &target);
      if (rc == 0) rc = env->Symlink(target, b);
      if (rc == 0) (void)env->SetLinkTimes(b, info.accessed, info.modified);
    }
  }
  if (rc == 0) rc = env->Chmod(to, top.mode & 07777);
  if (rc == 0) CopyAttributes(from, to);
  if (rc == 0) rc = env->SetTimes(to, top.accessed, top.modified);
  return rc;
}

}  // namespace

int CopyTreeForDryRun(const std::string& from, const std::string& to) {
  std::set<std::pair<uint64_t, uint64_t>> followed;
  return CopyTree(from, to, 0, &followed);
}

namespace {
// A run that ends through exit() (the usage text) removes its copy too.
std::string g_temp;
void RemoveAtExit() {
  if (!g_temp.empty()) RemoveTree(g_temp);
}
}  // namespace

int DryRunCopy::Prepare() {
  platform::PathMap& map = paths_;
  std::string base = platform::CurrentEnv()->GetEnv("TMPDIR");
  if (base.empty()) base = "/tmp";
  std::string pattern = base + "/dovrane-dry-run.XXXXXX";
  if (!mkdtemp(pattern.data())) return platform::ErrnoResult();
  temp_ = pattern;
  static const bool registered = std::atexit(RemoveAtExit) == 0;
  (void)registered;
  g_temp = temp_;
  int rc = 0;
  platform::FileInfo info;
  if (platform::CurrentEnv()->Stat(map.UncRoot(), &info) == 0) rc = CopyTreeForDryRun(map.UncRoot(), temp_ + "/unc");
  std::vector<std::pair<char, std::string>> drives;
  for (char letter = 'A'; rc == 0 && letter <= 'Z'; ++letter) {
    const std::string folder = map.DriveFolder(letter);
    if (folder.empty()) continue;
    drives.emplace_back(letter, folder);
    if (platform::CurrentEnv()->Stat(folder, &info) == 0)
      rc = CopyTreeForDryRun(folder, temp_ + "/drive_" + std::string(1, letter));
  }
  if (rc != 0) return rc;  // the destructor removes what was copied
  unc_root_ = map.UncRoot();
  drives_ = drives;
  map.SetUncRoot(temp_ + "/unc");
  for (const auto& [letter, folder] : drives_) map.SetDriveFolder(letter, temp_ + "/drive_" + std::string(1, letter));
  // Whatever link the copy holds, nothing outside it is written.
  confined_ = std::make_unique<platform::ConfinedEnv>(platform::CurrentEnv(), temp_);
  outer_env_ = platform::SetCurrentEnv(confined_.get());
  active_ = true;
  return 0;
}

DryRunCopy::~DryRunCopy() {
  if (confined_) platform::SetCurrentEnv(outer_env_);
  if (active_) {
    platform::PathMap& map = paths_;
    map.SetUncRoot(unc_root_);
    for (const auto& [letter, folder] : drives_) map.SetDriveFolder(letter, folder);
  }
  if (!temp_.empty()) RemoveTree(temp_);
  g_temp.clear();
}

}  // namespace dovrane::app
