#include "fileops/target_names.h"

#include <cerrno>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "extlib/installation/installation.h"
#include "fileops/path_parts.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"

namespace dovrane::fileops {

namespace {

using platform::FileInfo;

// The names of one folder by their case-folded form.
struct FolderNames {
  std::string dir;
  uint64_t device = 0, inode = 0;
  platform::FileTime modified;
  std::unordered_map<std::string, std::string> by_key;
};

// The names of the last target folder, kept per installation.
struct KeptFolder {
  std::mutex mutex;
  FolderNames names;
};

KeptFolder& Kept(extlib::Installation& installation) { return installation.Part<KeptFolder>(); }

std::string Key(const std::string& utf8) {
  std::string cp;
  if (!platform::Utf8ToCp1252(utf8, &cp)) return "u" + utf8;  // no Windows form: exact only
  for (char& c : cp) c = static_cast<char>(platform::FoldCp1252(static_cast<unsigned char>(c)));
  return "w" + cp;
}

bool Matches(const FolderNames& f, const std::string& dir, const FileInfo& info) {
  return f.dir == dir && f.device == info.device && f.inode == info.inode && f.modified == info.modified;
}

}  // namespace

std::string NativeTargetPath(extlib::Installation& installation, const std::string& target) {
  TargetState unused;
  return NativeTargetPath(installation, target, nullptr, &unused);
}

std::string NativeTargetPath(extlib::Installation& installation, const std::string& target, const KnownFolder* folder_seen,
                             TargetState* state) {
  platform::Env* env = &installation.Env();
  const platform::PathMap& paths = installation.Paths();
  *state = {};
  const std::string parent = ParentPath(target);
  if (parent.empty()) return paths.ToNative(target);
  std::string name = target.substr(parent.size() + 1);
  if (!(!target.empty() && target[0] == '/')) name = platform::Cp1252ToUtf8(name);
  const std::string dir = folder_seen ? folder_seen->native : paths.ToNative(parent);
  FileInfo info;
  if (folder_seen) info = folder_seen->info;
  if (dir.empty() || name.empty() || (!folder_seen && env->Stat(dir, &info) < 0) ||
      info.type != platform::EntryType::kDirectory)
    return paths.ToNative(target);
  const std::string exact = dir + "/" + name;
  const int exact_rc = env->Stat(exact, &state->info, false);
  if (exact_rc == 0) {
    state->known = TargetState::Known::kPresent;
    return exact;
  }
  KeptFolder& kept = Kept(installation);
  std::lock_guard<std::mutex> guard(kept.mutex);
  FolderNames& folder = kept.names;
  if (!Matches(folder, dir, info)) {
    std::vector<platform::DirEntry> entries;
    if (env->ListDir(dir, &entries) < 0) return exact;
    folder = FolderNames{dir, info.device, info.inode, info.modified, {}};
    for (const auto& e : entries) folder.by_key.emplace(Key(e.name), e.name);
  }
  auto it = folder.by_key.find(Key(name));
  if (it != folder.by_key.end()) return dir + "/" + it->second;
  // Not there as spelled nor in another letter case.
  if (exact_rc == -ENOENT) state->known = TargetState::Known::kAbsent;
  return exact;
}

void NoteTargetCreated(extlib::Installation& installation, const std::string& native) {
  KeptFolder& kept = Kept(installation);
  std::lock_guard<std::mutex> guard(kept.mutex);
  FolderNames& folder = kept.names;
  const size_t slash = native.rfind('/');
  if (slash == std::string::npos || native.compare(0, slash, folder.dir) != 0 || slash != folder.dir.size())
    return;
  FileInfo info;
  if (installation.Env().Stat(folder.dir, &info) < 0) {
    folder = {};
    return;
  }
  folder.modified = info.modified;
  const std::string name = native.substr(slash + 1);
  folder.by_key.emplace(Key(name), name);
}

}  // namespace dovrane::fileops
