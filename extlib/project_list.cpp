#include "extlib/project_list.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "extlib/administration.h"
#include "extlib/hosts.h"
#include "extlib/messages.h"
#include "extlib/record_layout.h"
#include "extlib/slot_files.h"
#include "extlib/users.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace L = layout;
using platform::CurrentEnv;

namespace {

struct Stamp {
  uint64_t inode = 0, size = 0;
  platform::FileTime modified, created;
  bool operator==(const Stamp&) const = default;
};

struct ProjectList {
  std::vector<PRJ> records;
  std::vector<long> slots;
  long first_free_slot = 1;
  uint32_t highest = 0, largest = 0;
  std::unordered_map<std::string_view, size_t> by_name;
  std::unordered_map<uint32_t, size_t> by_number;
};

struct Cache {
  std::string windows_path, native;
  Stamp stamp;
  bool valid = false;
  int64_t checked_ms = 0;  // when the stamp was last compared with the file
  ProjectList list;
  Stamp reported;  // a damaged file is reported once
};

std::recursive_mutex g_mutex;
Cache g_cache;
int g_revalidate_ms = 200;
// Records reserved from the file's size at most (about 14 MiB): a damaged or
// sparse file of gigabytes must not take memory before its first bad line.
constexpr uint64_t kReservedRecords = 65536;

void Add(ProjectList* list, const PRJ& record, long slot) {
  if (IsDeleted(record)) return;
  if (record.number > list->largest) list->largest = record.number;
  list->records.push_back(record);
  list->slots.push_back(slot);
}

int StampOf(const std::string& native, Stamp* stamp) {
  platform::FileInfo info;
  int rc = CurrentEnv()->Stat(native, &info);
  if (rc) return rc;
  *stamp = {info.inode, info.size, info.modified, info.created};
  return 0;
}

// Reads the open file sequentially, record by record. 0 or -1 (*bad_slot set).
int ReadRecords(int fd, ProjectList* list, long* bad_slot) {
  *list = ProjectList{};
  *bad_slot = 0;
  platform::Env* env = CurrentEnv();
  const int containers = lzuGetCountOfUserContainers();
  // One allocation for an installation of usual size (no doubling peak while
  // reading); beyond that the list grows with the records actually read.
  platform::FileInfo info;
  if (env->FStat(fd, &info) == 0)
    list->records.reserve(std::min<uint64_t>(info.size / (L::V3LineLength(containers) + 1) + 1, kReservedRecords));
  std::string buf;
  std::vector<char> chunk(1 << 20);
  AdminHeader header;
  const bool network = lfnetg() != 0;
  bool have_header = false;
  long line_bytes = 0, slot = 0;
  size_t used = 0;
  int rc = 0;
  for (bool eof = false; rc == 0 && !eof;) {
    int64_t n = env->Read(fd, chunk.data(), chunk.size());
    if (n < 0) rc = -1;
    if (n <= 0) eof = true;
    buf.erase(0, used);
    used = 0;
    if (n > 0) buf.append(chunk.data(), static_cast<size_t>(n));
    if (!have_header) {
      if (buf.size() < 12 && !eof) continue;
      if (ParseHeaderBytes(buf.data(), buf.size(), &header) != 0 || header.version != L::kCurrentVersion) {
        rc = -1;
        break;
      }
      have_header = true;
      list->highest = header.highest;
      used = L::kHeaderText + header.line_end;
      header.user_words = containers;
      line_bytes = L::V3LineLength(containers) + header.line_end;
    }
    const size_t length = static_cast<size_t>(L::V3LineLength(containers));
    while (rc == 0 && buf.size() - used >= static_cast<size_t>(line_bytes)) {
      ++slot;
      const char* line = buf.data() + used;
      PRJ record;
      if (line[line_bytes - 1] != '\n' || (header.line_end == 2 && line[line_bytes - 2] != '\r') ||
          ParseRecordV3(line, length, containers, containers, network, &record) != 0) {
        *bad_slot = slot;
        rc = -1;
        break;
      }
      used += static_cast<size_t>(line_bytes);
      Add(list, record, slot);
    }
    // A complete last record without its line end (an editor dropped it) is a
    // record. A shorter last line is an append under way in another process,
    // or one a crash cut short; the next append writes its slot whole again.
    // Either way it holds no record yet.
    PRJ record;
    if (rc == 0 && eof && have_header &&
        UnterminatedRecord(buf.data() + used, buf.size() - used, length, header.line_end) &&
        ParseRecordV3(buf.data() + used, length, containers, containers, network, &record) == 0)
      Add(list, record, ++slot);
  }
  if (rc == 0 && !have_header) rc = -1;
  if (rc) return rc;
  bool any_free = false;
  for (size_t i = 0; i < list->slots.size(); ++i)
    if (list->slots[i] != static_cast<long>(i) + 1) {
      list->first_free_slot = static_cast<long>(i) + 1;
      any_free = true;
      break;
    }
  // Live slots 1..n without a gap: n + 1 is deleted or the end.
  if (!any_free) list->first_free_slot = static_cast<long>(list->slots.size()) + 1;
  list->by_name.reserve(list->records.size());
  list->by_number.reserve(list->records.size());
  for (size_t i = 0; i < list->records.size(); ++i) {
    list->by_name.emplace(std::string_view(list->records[i].name, kNameLength), i);
    if (list->records[i].number) list->by_number.emplace(list->records[i].number, i);
  }
  return 0;
}

// Reads the file at native and indexes it. 0, -2, -1 (*bad_slot set). A file
// that cannot be read may be one a conversion is replacing (it holds the
// whole file locked): its lock is waited for as a writer waits, and the file
// at the path read once more.
int Build(const std::string& native, ProjectList* list, long* bad_slot) {
  int rc = -1;
  // Each round waits for one rewrite; several may follow one another.
  for (int attempt = 0; attempt < 50 && rc == -1; ++attempt) {
    int fd = platform::OpenRegularFile(native, O_RDONLY);
    // Something there that is not a file (a FIFO would block the read) is unreadable.
    if (fd < 0) return fd == -EINVAL || fd == -EISDIR ? -1 : -2;
    rc = ReadRecords(fd, list, bad_slot);
    const bool again = rc != 0 && (platform::WaitForWholeFileLock(fd, RecordLockTimeoutMs()) ||
                                   !platform::IsFileAtPath(fd, native));
    CurrentEnv()->Close(fd);
    if (!again) break;
  }
  if (rc) *list = ProjectList{};
  return rc;
}

// The current list of slot 23, rebuilt when the file changed. REQUIRES: g_mutex.
int Current(const ProjectList** out) {
  std::string path;
  if (lffnamC_new(23, kAdministrationFile, &path)) return -2;
  if (path + "|" + platform::PathMap::Instance().UncRoot() != g_cache.windows_path) {
    g_cache.valid = false;
    g_cache.windows_path = path + "|" + platform::PathMap::Instance().UncRoot();
    g_cache.native = platform::NativePath(path);
  }
  // A file status call costs as much as reading kilobytes; within a short
  // window the list is taken as current (our own writes drop it at once).
  const int64_t now = CurrentEnv()->MonotonicMs();
  if (g_cache.valid && now - g_cache.checked_ms < g_revalidate_ms) {
    *out = &g_cache.list;
    return 0;
  }
  Stamp stamp;
  if (StampOf(g_cache.native, &stamp) != 0) {
    g_cache.native = platform::NativePath(path);  // letter case may have changed
    if (StampOf(g_cache.native, &stamp) != 0) {
      g_cache.valid = false;
      return -2;
    }
  }
  if (!g_cache.valid || !(stamp == g_cache.stamp)) {
    long bad = 0;
    int rc = Build(g_cache.native, &g_cache.list, &bad);
    if (rc) {
      g_cache.valid = false;
      if (rc == -1 && !(g_cache.reported == stamp)) {
        g_cache.reported = stamp;
        LibraryMessage(1, "The project administration " + path + " can not be read" +
                              (bad ? " (record " + std::to_string(bad) + ")" : std::string()) + ".\n");
      }
      return rc;
    }
    g_cache.stamp = stamp;
    g_cache.valid = true;
  }
  g_cache.checked_ms = now;
  *out = &g_cache.list;
  return 0;
}

int FindByName(const std::string& name, PRJ* record, long* slot) {
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  const ProjectList* list;
  int rc = Current(&list);
  if (rc) return rc;
  const std::string padded = PadName(name);
  auto it = list->by_name.find(std::string_view(padded));
  if (it == list->by_name.end()) return -3;
  if (record) *record = list->records[it->second];
  if (slot) *slot = list->slots[it->second];
  return 0;
}

}  // namespace

int ltbpliC_new(int slot, int* count, PRJ** list, int, PRJ*) {
  *count = 0;
  *list = nullptr;
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  ProjectList other;
  const ProjectList* current = &other;
  int rc;
  if (slot == 23) {
    rc = Current(&current);
  } else {
    std::string path;
    long bad = 0;
    rc = lffnamC_new(slot, kAdministrationFile, &path) ? -2 : Build(platform::NativePath(path), &other, &bad);
  }
  if (rc) return rc;
  *list = new PRJ[current->records.size() ? current->records.size() : 1];
  std::copy(current->records.begin(), current->records.end(), *list);
  *count = static_cast<int>(current->records.size());
  return 0;
}

void ltbpliC_delete(PRJ** list) {
  if (!list) return;
  delete[] *list;
  *list = nullptr;
}

void SetProjectListRevalidateMs(int ms) {
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  g_revalidate_ms = ms;
}

void UnCachPrjList() {
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  g_cache.valid = false;
  g_cache.list = ProjectList{};
}

int get_project_info(const std::string& name, PRJ* record) { return FindByName(name, record, nullptr); }

long get_project_number(const std::string& name) {
  PRJ record;
  int rc = FindByName(name, &record, nullptr);
  return rc ? rc : static_cast<long>(record.number);
}

int get_project_host(int, const std::string& name, std::string* host) {
  PRJ record;
  int rc = FindByName(name, &record, nullptr);
  if (rc == 0) *host = record.host;
  return rc;
}

int get_project_key(const std::string& name, uint32_t* key) {
  PRJ record;
  int rc = FindByName(name, &record, nullptr);
  if (rc == 0) *key = record.dbkey;
  return rc;
}

int get_PrjInfo_by_number(uint32_t number, PRJ* record) {
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  const ProjectList* list;
  int rc = Current(&list);
  if (rc) return rc;
  auto it = list->by_number.find(number);
  if (number == 0 || it == list->by_number.end()) return -3;
  *record = list->records[it->second];
  return 0;
}

long FindRecordSlotByNumber(uint32_t number) {
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  const ProjectList* list;
  if (Current(&list) != 0) return -1;
  auto it = list->by_number.find(number);
  return number == 0 || it == list->by_number.end() ? -1 : list->slots[it->second];
}

int get_project_status(const std::string& name, unsigned char* status) {
  PRJ record;
  int rc = FindByName(name, &record, nullptr);
  if (rc == 0) *status = record.status;
  return rc;
}

int put_project_status(const std::string& name, const unsigned char* status) {
  int handle = open_prj_info(23, kOpenExisting);
  if (handle < 0) return -2;
  int rc = lock_prj_nam(23, name, kLockRecord);
  if (rc) return rc;
  long slot = get_prj_position(handle, name, 23, 0);
  PRJ record;
  rc = slot < 1 ? -3 : ReadRecordAtSlot(handle, slot, &record);
  if (rc == 0) {
    record.status = *status;
    rc = seek_prj_set(handle, slot);
    if (rc == 0) rc = write_prj_info(handle, &record);
  }
  lock_prj_nam(23, name, kUnlockRecord);
  return rc;
}

int FindProjectSlot(int handle, const std::string& name, long* slot) {
  const std::string padded = PadName(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    int rc = FindByName(padded, nullptr, slot);
    if (rc != 0) return rc;
    PRJ record;
    if (handle < 0 || (ReadRecordAtSlot(handle, *slot, &record) == 0 && padded == record.name)) return 0;
    UnCachPrjList();
  }
  return -3;
}

long get_prj_position(int handle, const std::string& name, int, int) {
  long slot = -1;
  return FindProjectSlot(handle, name, &slot) == 0 ? slot : -1;
}

int GetListFacts(ListFacts* facts) {
  std::lock_guard<std::recursive_mutex> guard(g_mutex);
  const ProjectList* list;
  int rc = Current(&list);
  if (rc) return rc;
  facts->highest = list->highest;
  facts->largest = list->largest;
  facts->first_free_slot = list->first_free_slot;
  return 0;
}

bool NumberInUse(uint32_t number) { return FindRecordSlotByNumber(number) > 0; }

bool NameInUse(const std::string& name) { return FindByName(name, nullptr, nullptr) == 0; }

}  // namespace dovrane::extlib
