#include "extlib/projects/project_info_file.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "extlib/installation/general.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/users.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace {
constexpr char kMagic[] = "dovrane project info 1";

std::string SlotDir(OperationContext& ctx, int slot) {
  std::string dir = lfinigC(ctx, slot);
  return dir.empty() ? "" : ctx.Native(dir);
}
}  // namespace

std::string FormatProjectInfo(uint32_t net_id, const PRJ& record, int containers) {
  std::string line;
  if (!FormatRecordV3(record, containers, &line)) return "";
  char head[96];
  std::snprintf(head, sizeof head, "%s\r\nnetid %08X\r\ncontainers %d\r\n", kMagic, net_id, containers);
  return head + line + "\r\n";
}

int ParseProjectInfo(const std::string& text, uint32_t* net_id, PRJ* record) {
  std::vector<std::string> lines = TextLines(text);
  lines.resize(std::max<size_t>(lines.size(), 4));
  const std::string &magic = lines[0], &id_line = lines[1], &containers_line = lines[2], &line = lines[3];
  unsigned id = 0;
  int containers = 0;
  char tail = 0;
  if (magic != kMagic || std::sscanf(id_line.c_str(), "netid %8X %c", &id, &tail) != 1 ||
      std::sscanf(containers_line.c_str(), "containers %d %c", &containers, &tail) != 1 || containers < 0 ||
      containers > kMaxUserContainers)
    return kProjectInfoDamaged;
  if (ParseRecordV3(line.data(), line.size(), containers, std::max(containers, 1), true, record) != 0)
    return kProjectInfoDamaged;
  *net_id = id;
  return kProjectInfoRead;
}

int ReadProjectInfo(const std::string& native_dir, uint32_t* net_id, PRJ* record) {
  return ReadProjectInfoAt(AT_FDCWD, native_dir, net_id, record);
}

int ReadProjectInfoAt(int dirfd, const std::string& dir, uint32_t* net_id, PRJ* record) {
  std::string text;
  int rc = platform::ReadWholeFileAt(dirfd, dir + "/" + kProjectInfoFile, &text);
  if (rc == -ENOENT || rc == -ENOTDIR) return kProjectInfoNone;
  if (rc != 0) return kProjectInfoUnreadable;  // there, but not readable now: not the same as none
  return ParseProjectInfo(text, net_id, record);
}

int WriteProjectInfo(const std::string& native_dir, uint32_t net_id, const PRJ& record) {
  std::string text = FormatProjectInfo(net_id, record, lzuGetCountOfUserContainers());
  if (text.empty()) return -EINVAL;
  return platform::WriteFileAtomic(native_dir + "/" + kProjectInfoFile, text);
}

int NetID_ReadPrjInfo(OperationContext& ctx, int slot, uint32_t* net_id, PRJ* record) {
  std::string dir = SlotDir(ctx, slot);
  return dir.empty() ? kProjectInfoDamaged : ReadProjectInfo(dir, net_id, record);
}

int NetID_WritePrjInfo(OperationContext& ctx, int slot, uint32_t net_id, const PRJ& record) {
  std::string dir = SlotDir(ctx, slot);
  return dir.empty() ? -EINVAL : WriteProjectInfo(dir, net_id, record);
}

}  // namespace dovrane::extlib
