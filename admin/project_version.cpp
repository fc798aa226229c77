#include "admin/project_version.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::admin {

bool ReadProjectVersion(extlib::OperationContext& ctx, int slot, const std::string& dir, int* version) {
  std::string path, text;
  if (extlib::lfinipC(ctx, slot, dir) != 0 || extlib::lffnamC_new(ctx, slot, kVersionFile, &path) != 0) return false;
  if (platform::ReadWholeFile(ctx.Native(path), &text) != 0) return false;
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(start, &end, 10);
  // A number no int holds is no version either.
  if (end == start || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  *version = static_cast<int>(value);
  return true;
}

}  // namespace dovrane::admin
