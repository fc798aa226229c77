#include "admin/checkout_file.h"

#include <cerrno>

#include "extlib/library_init.h"
#include "extlib/slot_files.h"
#include "platform/env.h"
#include "platform/file_attributes.h"
#include "platform/path_map.h"

namespace dovrane::admin {

int DeleteProjectCheckoutFile(const std::string& entry_path) {
  std::string base = extlib::LastComponent(entry_path);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  std::string path;
  if (base.empty() || extlib::lffnamC(extlib::kSlotNet, base + ".out", &path) != 0) return 0;
  const std::string native = platform::NativePath(path);
  platform::SetFileAttributes(native, platform::kAttrNormal);
  const int rc = platform::CurrentEnv()->Unlink(native);
  return rc == -ENOENT ? 0 : rc;
}

}  // namespace dovrane::admin
