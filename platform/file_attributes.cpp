#include "platform/file_attributes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/env.h"

namespace dovrane::platform {

namespace {
constexpr char kDosAttrib[] = "user.DOSATTRIB";

// Samba's older text form "0x22"; a binary form (newer Samba) reads as nothing.
unsigned ParseDosAttrib(const std::string& value) {
  if (value.size() < 3 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X')) return 0;
  return static_cast<unsigned>(std::strtoul(value.c_str() + 2, nullptr, 16));
}
}  // namespace

int GetFileAttributes(const std::string& path, unsigned* attributes) {
  Env* env = CurrentEnv();
  FileInfo info;
  if (int rc = env->Stat(path, &info)) return rc;
  unsigned a = 0;
  if ((info.mode & 0222) == 0) a |= kAttrReadOnly;
  if (info.type == EntryType::kDirectory) a |= kAttrDirectory;
  std::string value;
  if (env->GetXattr(path, kDosAttrib, &value) == 0 && (ParseDosAttrib(value) & kAttrHidden)) a |= kAttrHidden;
  if (a == 0) a = kAttrNormal;
  *attributes = a;
  return 0;
}

int SetFileAttributes(const std::string& path, unsigned attributes) {
  Env* env = CurrentEnv();
  FileInfo info;
  // The mode and the extended attribute would land on what a link points to:
  // a link is left as it is.
  if (int rc = env->Stat(path, &info, false)) return rc;
  if (info.type == EntryType::kLink) return -ELOOP;
  mode_t mode = info.mode;
  mode = (attributes & kAttrReadOnly) ? (mode & ~0222) : (mode | 0200);
  if (mode != info.mode)
    if (int rc = env->Chmod(path, mode)) return rc;
  unsigned dos = attributes & (kAttrReadOnly | kAttrHidden);
  if (dos & kAttrHidden) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", dos);
    (void)env->SetXattr(path, kDosAttrib, text);  // best effort: not every file system keeps it
  } else {
    int rc = env->RemoveXattr(path, kDosAttrib);
    (void)rc;  // absent already, or not supported: nothing is hidden either way
  }
  return 0;
}

}  // namespace dovrane::platform
