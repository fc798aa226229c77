#include "extlib/installation/net_id.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/checksum.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace {
constexpr char kMagic[] = "DOVRANE-NETID 1";

// Native path of a file in the \Net\ folder, "" when slot 23 is unset.
std::string NetFile(OperationContext& ctx, const char* name) {
  std::string net = lfinigC(ctx, kSlotNet);
  if (net.empty()) return "";
  return ctx.Native(net + name);
}

// Splits text into lines, accepting CRLF as written by Windows peers.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool ParseHex8(const std::string& text, uint32_t* value) {
  if (text.size() != 8) return false;
  uint32_t v = 0;
  for (char c : text) {
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}
}  // namespace

std::string FormatNetIdFile(uint32_t id) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", id);
  return std::string(kMagic) + "\nid " + hex + "\ncheck " + Crc32Hex(hex) + "\n";
}

int ParseNetIdFile(const std::string& text, uint32_t* id) {
  if (text.empty() || text.back() != '\n') return -EBADMSG;  // torn
  std::vector<std::string> lines = Lines(text);
  if (lines.size() != 3 || lines[0] != kMagic) return -EBADMSG;
  if (lines[1].rfind("id ", 0) != 0 || lines[2].rfind("check ", 0) != 0) return -EBADMSG;
  std::string hex = lines[1].substr(3);
  uint32_t value = 0, check = 0;
  if (!ParseHex8(hex, &value) || !ParseHex8(lines[2].substr(6), &check)) return -EBADMSG;
  if (check != Crc32(hex) || value == 0) return -EBADMSG;
  *id = value;
  return 0;
}

int NetID_Load(OperationContext& ctx, uint32_t* id) {
  *id = 0;
  std::string path = NetFile(ctx, kNetIdFileName);
  if (path.empty()) return -ENOENT;
  std::string text;
  int rc = platform::ReadWholeFile(path, &text);
  if (rc) return rc;
  return ParseNetIdFile(text, id);
}

namespace {

// The identifier as last read, and the file it came from: a check-in asks for
// it at several steps, and on a slow share a read is four calls, the look
// that tells the file is unchanged one. The file is only ever replaced whole
// (written beside and renamed), so the same file of the same size and time
// holds the same identifier.
struct NetIdCache {
  std::mutex mutex;
  bool valid = false;
  std::string native;
  platform::FileInfo info;
  uint32_t id = 0;
};

}  // namespace

uint32_t get_PRJVekNetID(OperationContext& ctx) {
  const std::string native = NetFile(ctx, kNetIdFileName);
  platform::FileInfo info;
  if (native.empty() || ctx.Env().Stat(native, &info) != 0) return 0;
  NetIdCache& cache = ctx.installation().Part<NetIdCache>();
  {
    std::lock_guard<std::mutex> guard(cache.mutex);
    if (cache.valid && cache.native == native && platform::SameFileState(cache.info, info)) return cache.id;
  }
  uint32_t id = 0;
  if (NetID_Load(ctx, &id) != 0) return 0;
  // Kept under the look taken before the read: a file replaced in between
  // looks different at the next call, which then reads it again.
  std::lock_guard<std::mutex> guard(cache.mutex);
  cache.valid = true;
  cache.native = native;
  cache.info = info;
  cache.id = id;
  return id;
}

uint32_t NetID_Make() {
  std::random_device device;
  std::uniform_int_distribution<uint32_t> pick(2, 0xFFFFFFFFu);
  return pick(device);
}

int NetID_Save(OperationContext& ctx, uint32_t id) {
  if (id == 0) return -EINVAL;
  std::string path = NetFile(ctx, kNetIdFileName);
  if (path.empty()) return -EINVAL;
  uint32_t old = 0;
  std::string old_text;
  if (NetID_Load(ctx, &old) == -EBADMSG && platform::ReadWholeFile(path, &old_text) == 0) {
    // Keep the damaged file for inspection before it is replaced.
    int rc = platform::WriteFileAtomic(NetFile(ctx, kNetIdDamagedFileName), old_text);
    if (rc) return rc;
  }
  return platform::WriteFileAtomic(path, FormatNetIdFile(id));
}

}  // namespace dovrane::extlib
