#include "extlib/installation/users.h"

#include <cstdio>
#include <mutex>

#include "extlib/installation/general.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_code.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"

namespace dovrane::extlib {

int ParseUserTable(const std::string& text, UserTable* table, int* bad_line) {
  *table = UserTable{};
  int number = 0;
  for (const std::string& line : TextLines(text)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    int containers = 0;
    char tail = 0;
    if (line.rfind("containers", 0) == 0) {
      if (std::sscanf(line.c_str(), "containers %d %c", &containers, &tail) != 1 || containers < 1 ||
          containers > kMaxUserContainers) {
        *bad_line = number;
        return kPrjFailed;
      }
      table->containers = containers;
      continue;
    }
    // index TAB name TAB rights
    size_t t1 = line.find('\t'), t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    unsigned index = 0;
    if (t1 == std::string::npos || std::sscanf(line.substr(0, t1).c_str(), "%u %c", &index, &tail) != 1 ||
        index == 0 || index > 32u * kMaxUserContainers) {
      *bad_line = number;
      return kPrjFailed;
    }
    UserEntry e;
    e.index = index;
    e.name = line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1);
    e.administrator = t2 != std::string::npos && line.substr(t2 + 1) == "admin";
    if (e.name.empty()) {
      *bad_line = number;
      return kPrjFailed;
    }
    table->users.push_back(e);
  }
  return 0;
}

std::string FormatUserTable(const UserTable& table) {
  std::string out = "# dovrane user table: index, name, rights (admin or user)\r\n";
  out += "containers " + std::to_string(table.containers) + "\r\n";
  for (const UserEntry& e : table.users)
    out += std::to_string(e.index) + "\t" + e.name + "\t" + (e.administrator ? "admin" : "user") + "\r\n";
  return out;
}

int ReadUserTable(UserTable* table) { return ReadUserTable(ProcessInstallation(), table); }

namespace {

// The table as last read whole, and the file it came from. Every read of the
// administration wants the container count, and a check-in reads it again
// after each change of project.dat: on a slow share a read is four calls,
// the look that tells the file is unchanged one. A new table is always a new
// file (written beside and renamed), so the same file of the same size and
// time is the same table.
struct UserTableCache {
  std::mutex mutex;
  bool valid = false;
  std::string native;
  platform::FileInfo info;
  UserTable table;
};

}  // namespace

int ReadUserTable(const Installation& installation, UserTable* table) {
  *table = UserTable{};
  std::string path;
  if (SlotFileName(installation, 23, kUserTableFile, &path) != 0) return 0;
  const std::string native = installation.Paths().ToNative(path);
  platform::FileInfo info;
  if (installation.Env().Stat(native, &info) != 0) return 0;  // none: one container
  UserTableCache& cache = installation.Part<UserTableCache>();
  {
    std::lock_guard<std::mutex> guard(cache.mutex);
    if (cache.valid && cache.native == native && platform::SameFileState(cache.info, info)) {
      *table = cache.table;
      return 0;
    }
  }
  std::string text;
  int rc = platform::ReadWholeFile(native, &text);
  if (rc) return ProjectCodeFromErrno(rc);
  int bad = 0;
  rc = ParseUserTable(text, table, &bad);
  if (rc == 0) {
    // Kept under the look taken before the read: a file changed in between
    // looks different at the next read, which then reads it again.
    std::lock_guard<std::mutex> guard(cache.mutex);
    cache.valid = true;
    cache.native = native;
    cache.info = info;
    cache.table = *table;
  }
  return rc;
}

int WriteUserTable(OperationContext& ctx, const UserTable& table) {
  std::string path;
  if (lffnamC_new(ctx, 23, kUserTableFile, &path)) return kPrjFailed;
  return ProjectCodeFromErrno(platform::WriteFileAtomic(ctx.Native(path), FormatUserTable(table)));
}

int ReadUserContainerCount(int* containers) {
  UserTable table;
  int rc = ReadUserTable(&table);
  *containers = rc == 0 ? table.containers : 1;
  return rc;
}

int lzuGetCountOfUserContainers() {
  UserTable table;
  return ReadUserTable(&table) == 0 ? table.containers : 1;
}

int lzuSetCountOfUserContainers(OperationContext& ctx, int containers) {
  if (containers < 1 || containers > kMaxUserContainers) return kPrjFailed;
  UserTable table;
  int rc = ReadUserTable(&table);
  if (rc) return rc;
  table.containers = containers;
  return WriteUserTable(ctx, table);
}

int lzugnaC(uint32_t index, std::string* name) {
  name->clear();
  UserTable table;
  if (ReadUserTable(&table)) return kPrjFailed;
  for (const UserEntry& e : table.users)
    if (e.index == index) {
      *name = e.name;
      return 0;
    }
  return kPrjFailed;
}

int lzuinfC(UserInfo* info) {
  *info = UserInfo{};
  std::string login = platform::UserName();
  if (!platform::Utf8ToCp1252(login, &info->name)) info->name = login;
  UserTable table;
  if (ReadUserTable(&table) != 0) return 0;
  info->may_administer = table.users.empty();
  for (const UserEntry& e : table.users)
    if (platform::EqualsIgnoreCaseCp1252(e.name, info->name)) {
      info->index = e.index;
      info->may_administer = e.administrator;
    }
  return 0;
}

int check_PrjOwnerPermision(OperationContext& ctx, int mode, const PRJ& record) {
  if (!lfnetg(ctx) || record.owner == 0) return 0;
  UserInfo me;
  lzuinfC(&me);
  if (me.may_administer || (me.index != 0 && me.index == record.owner)) return 0;
  if (mode == 0 && me.index != 0 && MemberBit(record, me.index)) return 0;
  return mode == 0 ? kPrjNoAccess : kPrjNotOwner;
}

}  // namespace dovrane::extlib
