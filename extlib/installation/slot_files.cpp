#include "extlib/installation/slot_files.h"

#include <fcntl.h>

#include <cerrno>

#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/dir_tree.h"
#include "extlib/projects/project_code.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

using platform::CurrentEnv;

namespace {

// A name below a slot may hold sub-folders but never leave the slot.
bool SafeName(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

int StatWindows(OperationContext& ctx, const std::string& path, platform::FileInfo* info) {
  return ctx.Env().Stat(ctx.Native(path), info);
}

}  // namespace

int lffnamC_new(OperationContext& ctx, int slot, const std::string& name, std::string* path) {
  return SlotFileName(ctx.installation(), slot, name, path);
}

int SlotFileName(const Installation& installation, int slot, const std::string& name, std::string* path) {
  std::string dir = installation.Slot(slot);
  if (dir.empty() || !SafeName(name)) return kPrjFailed;
  *path = dir + name;
  return 0;
}

int lffnamC(OperationContext& ctx, int slot, const std::string& name, std::string* path) {
  int rc = lffnamC_new(ctx, slot, name, path);
  if (rc) return rc;
  platform::FileInfo info;
  return StatWindows(ctx, *path, &info) == 0 ? 0 : kPrjAdminMissing;
}

int lftypeC(OperationContext& ctx, int slot, const std::string& name, int) {
  std::string path;
  if (lffnamC_new(ctx, slot, name, &path)) return kPrjFailed;
  platform::FileInfo info;
  int rc = StatWindows(ctx, path, &info);
  if (rc == -ENOENT || rc == -ENOTDIR) return kPrjAdminMissing;
  if (rc) return kPrjFailed;
  return info.type == platform::EntryType::kDirectory ? 1 : 0;
}

FILE* lfilopC(OperationContext& ctx, int slot, const std::string& name, const char* mode) {
  std::string path;
  if (lffnamC_new(ctx, slot, name, &path) || !mode) return nullptr;
  int flags = O_RDONLY;
  std::string m = mode;
  bool plus = m.find('+') != std::string::npos;
  if (m[0] == 'r') flags = plus ? O_RDWR : O_RDONLY;
  if (m[0] == 'w') flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
  if (m[0] == 'a') flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
  // A FIFO or device where a file belongs would block or never end.
  int fd = platform::OpenRegularFile(ctx.Native(path), flags);
  if (fd < 0) return nullptr;
  FILE* f = ::fdopen(fd, mode);
  if (!f) platform::CloseNothingPending(&ctx.Env(), fd);
  return f;
}

int lfilclC(FILE* file) { return file && std::fclose(file) == 0 ? 0 : kPrjFailed; }

int lfilmvC(OperationContext& ctx, int slot1, const std::string& name1, int slot2, const std::string& name2, int mode) {
  std::string from, to;
  if (lffnamC_new(ctx, slot1, name1, &from) || lffnamC_new(ctx, slot2, name2, &to)) return -EINVAL;
  std::string nfrom = ctx.Native(from), nto = ctx.Native(to);
  platform::FileInfo info;
  if (mode == 0 && ctx.Env().Stat(nto, &info) == 0) return -EEXIST;
  int rc = ctx.Env().Rename(nfrom, nto);
  if (rc == 0) platform::SyncDirectory(platform::DirName(nto));
  return rc;
}

int ldirexC(OperationContext& ctx, int slot, int) {
  std::string dir = lfinigC(ctx, slot);
  if (dir.empty()) return kPrjFailed;
  std::vector<platform::DirEntry> entries;
  return ctx.Env().ListDir(ctx.Native(dir), &entries) == 0 ? 0 : kPrjAdminMissing;
}

int ldirleC(OperationContext& ctx, int slot, int mode, double* kbytes) {
  std::string dir = lfinigC(ctx, slot);
  if (dir.empty()) return kPrjFailed;
  std::string native = ctx.Native(dir);
  uint64_t bytes = 0;
  int rc = 0;
  if (mode == 1) {
    rc = TreeSize(ctx, native, &bytes);
  } else {
    std::vector<platform::DirEntry> entries;
    rc = ctx.Env().ListDir(native, &entries);
    for (const auto& e : entries) {
      platform::FileInfo info;
      if (rc == 0 && ctx.Env().Stat(native + "/" + e.name, &info, false) == 0 &&
          info.type == platform::EntryType::kFile)
        bytes += info.size;
    }
  }
  if (rc) return rc;
  *kbytes = static_cast<double>(bytes) / 1024.0;
  return 0;
}

int ldirreC(OperationContext& ctx, const std::string& from, const std::string& to) {
  std::string nfrom = ctx.Native(from), nto = ctx.Native(to);
  platform::FileInfo info;
  if (ctx.Env().Stat(nfrom, &info) != 0 || info.type != platform::EntryType::kDirectory) return -ENOENT;
  if (ctx.Env().Stat(nto, &info) == 0) return -EEXIST;
  int rc = ctx.Env().Rename(nfrom, nto);
  if (rc != -EXDEV) return rc;
  // Another host (file system): copy, check the copy, and only then remove.
  if ((rc = CopyTree(ctx, nfrom, nto)) != 0) return rc;
  if ((rc = VerifyTree(ctx, nfrom, nto)) != 0) {
    (void)RemoveTree(ctx, nto);  // the check's failure is the answer; the source is whole
    return rc;
  }
  return RemoveTree(ctx, nfrom);
}

int ldirrmc(OperationContext& ctx, const std::string& path) {
  std::string p = path;
  lfslash_cut(&p);
  if (p.empty()) return -EINVAL;
  return RemoveTree(ctx, ctx.Native(p));
}

void lfslash_cat(std::string* path) {
  if (path->empty() || path->back() != '\\') path->push_back('\\');
}

void lfslash_cut(std::string* path) {
  if (!path->empty() && path->back() == '\\') path->pop_back();
}

std::string ParentPath(const std::string& path) {
  std::string p = path;
  lfslash_cut(&p);
  size_t cut = p.find_last_of('\\');
  return cut == std::string::npos ? "" : p.substr(0, cut);
}

std::string LastComponent(const std::string& path) {
  std::string p = path;
  lfslash_cut(&p);
  size_t cut = p.find_last_of('\\');
  return cut == std::string::npos ? p : p.substr(cut + 1);
}

}  // namespace dovrane::extlib
