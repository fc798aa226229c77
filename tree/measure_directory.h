// The properties command's measurement of a folder: the number of files and
// their total size, stopped by the person's cancel.
#pragma once

#include <cstdint>
#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::tree {

struct DirectoryMeasure {
  int64_t files = 0;  // -1: cancelled (shown as 0 files of 0 bytes)
  uint64_t bytes = 0;
  int unlisted = 0;          // -errno of the first folder that could not be listed
  std::string unlisted_dir;  // that folder (native)
};

// Measures the native folder dir: every file below it, folders whose name
// begins with "." aside; a link to a file counts that file, a link to a folder
// is not followed. Sizes are taken whole (64 bits), so totals above 4 GB are
// right. The progress gets each folder's path as its line; the context's
// cancel is polled before every entry. A folder that cannot be listed counts
// nothing; the first such folder is named in the result.
DirectoryMeasure MeasureDirectory(extlib::OperationContext& ctx, const std::string& dir);

}  // namespace dovrane::tree
