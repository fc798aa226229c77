#include "extlib/records/project_scan.h"

#include <fcntl.h>

#include <cstring>

#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_stream.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

int ScanProjectInfo(OperationContext& ctx, const std::string& name, PRJ* record) {
  Installation& installation = ctx.installation();
  std::string path;
  if (SlotFileName(installation, kSlotNet, kAdministrationFile, &path)) return kPrjAdminMissing;
  const int fd = platform::OpenRegularFile(installation.Paths().ToNative(path), O_RDONLY);
  // Whatever is there instead of a readable file, the table's lookup says what it is.
  if (fd < 0) return get_project_info(ctx, name, record);
  const std::string padded = PadName(name);
  bool found = false;
  uint32_t highest = 0;
  long bad_slot = 0;
  // A NUL ends a stored name, as the reader reads it: what follows it in the
  // field does not count (the list shows such a name, so it must be reachable).
  auto same_name = [&padded](const char* line) {
    if (std::memcmp(line, padded.data(), kNameLength) == 0) return true;
    const void* nul = std::memchr(line, '\0', kNameLength);
    if (!nul) return false;
    const size_t n = static_cast<size_t>(static_cast<const char*>(nul) - line);
    return std::memcmp(line, padded.data(), n) == 0 && padded.find_first_not_of(' ', n) == std::string::npos;
  };
  // Only the first live line with the name is parsed; every other line is
  // checked, as the table's reading checks it.
  const RecordFormat format = RecordFormatOf(ctx);
  int rc = ReadRecordStream(
      ctx.Env(), fd, format.containers, format.network, &highest, &bad_slot,
      [&](const PRJ& r, long) {
        *record = r;
        found = true;
      },
      [&](const char* line) { return !found && line[0] != '#' && same_name(line); });
  platform::CloseNothingPending(&installation.Env(), fd);
  // A damaged file, or one a conversion is replacing: the table waits for
  // the conversion, reads again and reports a damaged file once.
  if (rc != kPrjOk) return get_project_info(ctx, name, record);
  return found ? kPrjOk : kPrjNotFound;
}

}  // namespace dovrane::extlib
