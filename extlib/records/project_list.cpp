#include "extlib/records/project_list.h"

#include <algorithm>

#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_table.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace {

// The first live record with this name in the current snapshot: record *i of *table.
int FindByName(OperationContext& ctx, ProjectTable& projects, const std::string& name, SnapshotPtr* table, size_t* i) {
  int rc = projects.Take(ctx, table);
  if (rc) return rc;
  // Padding would only be trimmed again by the index: the name is cut at 50
  // and looked up as it is, with no string made per look-up.
  *i = (*table)->FindName(std::string_view(name).substr(0, kNameLength));
  return *i == ProjectSnapshot::kNone ? kPrjNotFound : kPrjOk;
}

int FindByName(OperationContext& ctx, ProjectTable& projects, const std::string& name, PRJ* record) {
  SnapshotPtr table;
  size_t i = 0;
  const int rc = FindByName(ctx, projects, name, &table, &i);
  if (rc == kPrjOk) *record = table->Record(i);
  return rc;
}

}  // namespace

int ltbpliC_new(OperationContext& ctx, int slot, int* count, PRJ** list, int, PRJ*) {
  *count = 0;
  *list = nullptr;
  SnapshotPtr table;
  int rc;
  if (slot == kSlotNet) {
    rc = ctx.installation().Projects().Take(ctx, &table);
  } else {
    std::string path;
    std::shared_ptr<ProjectSnapshot> other;
    long bad = 0;
    rc = lffnamC_new(ctx, slot, kAdministrationFile, &path)
             ? kPrjAdminMissing
             : ProjectSnapshot::Read(ctx.Env(), ctx.Native(path), RecordFormatOf(ctx), &other, &bad);
    table = std::move(other);
  }
  if (rc) return rc;
  const size_t n = table->Count();
  *list = new PRJ[n ? n : 1];
  for (size_t i = 0; i < n; ++i) (*list)[i] = table->Record(i);
  *count = static_cast<int>(n);
  return kPrjOk;
}

void ltbpliC_delete(PRJ** list) {
  if (!list) return;
  delete[] *list;
  *list = nullptr;
}

void SetProjectListRevalidateMs(int ms) { ProcessInstallation().Projects().SetRevalidateMs(ms); }

void UnCachPrjList(OperationContext& ctx) { ctx.installation().Projects().OwnWrite(); }

int get_project_info(OperationContext& ctx, const std::string& name, PRJ* record) {
  return FindByName(ctx, ctx.installation().Projects(), name, record);
}

long get_project_number(OperationContext& ctx, const std::string& name) {
  SnapshotPtr table;
  size_t i = 0;
  int rc = FindByName(ctx, ctx.installation().Projects(), name, &table, &i);
  return rc ? rc : static_cast<long>(table->Number(i));
}

int get_project_host(OperationContext& ctx, int, const std::string& name, std::string* host) {
  SnapshotPtr table;
  size_t i = 0;
  int rc = FindByName(ctx, ctx.installation().Projects(), name, &table, &i);
  if (rc == 0) *host = table->Host(i);
  return rc;
}

int get_project_key(OperationContext& ctx, const std::string& name, uint32_t* key) {
  SnapshotPtr table;
  size_t i = 0;
  int rc = FindByName(ctx, ctx.installation().Projects(), name, &table, &i);
  if (rc == 0) *key = table->Key(i);
  return rc;
}

int get_PrjInfo_by_number(OperationContext& ctx, uint32_t number, PRJ* record) {
  SnapshotPtr table;
  int rc = ctx.installation().Projects().Take(ctx, &table);
  if (rc) return rc;
  const size_t i = table->FindNumber(number);
  if (i == ProjectSnapshot::kNone) return kPrjNotFound;
  *record = table->Record(i);
  return kPrjOk;
}

long FindRecordSlotByNumber(OperationContext& ctx, uint32_t number) {
  SnapshotPtr table;
  if (ctx.installation().Projects().Take(ctx, &table) != kPrjOk) return kPrjFailed;
  const size_t i = table->FindNumber(number);
  return i == ProjectSnapshot::kNone ? long{kPrjFailed} : table->Slots()[i];
}

int get_project_status(OperationContext& ctx, const std::string& name, unsigned char* status) {
  SnapshotPtr table;
  size_t i = 0;
  int rc = FindByName(ctx, ctx.installation().Projects(), name, &table, &i);
  if (rc == 0) *status = table->Status(i);
  return rc;
}

int put_project_status(OperationContext& ctx, const std::string& name, const unsigned char* status) {
  int handle = open_prj_info(ctx, 23, kOpenExisting);
  if (handle < 0) return AdministrationOpenFailure(ctx, kSlotNet);
  RecordLock lock;
  int rc = LockRecordByName(ctx, kSlotNet, name, &lock);
  if (rc) return rc;
  long slot = lock.slot();
  PRJ record;
  if (slot < 1) {
    rc = kPrjNotFound;
  } else if ((rc = ReadRecordAtSlot(handle, slot, &record)) != kRecordRead) {
    rc = rc == kRecordEnd ? kPrjNotFound : kPrjFailed;  // the reader's answer is not a project code
  }
  if (rc == 0) {
    record.status = *status;
    rc = seek_prj_set(handle, slot);
    if (rc == 0) rc = write_prj_info(ctx, handle, &record);
  }
  const int released = lock.Release();
  return rc ? rc : released;
}

int FindProjectSlot(OperationContext& ctx, int handle, const std::string& name, long* slot) {
  const std::string padded = PadName(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SnapshotPtr table;
    size_t i = 0;
    int rc = FindByName(ctx, ctx.installation().Projects(), padded, &table, &i);
    if (rc != 0) return rc;
    *slot = table->Slot(i);
    PRJ record;
    if (handle < 0 || (ReadRecordAtSlot(handle, *slot, &record) == 0 && padded == record.name)) return 0;
    UnCachPrjList(ctx);
  }
  return kPrjNotFound;
}

long get_prj_position(OperationContext& ctx, int handle, const std::string& name, int, int) {
  long slot = -1;
  return FindProjectSlot(ctx, handle, name, &slot) == kPrjOk ? slot : long{kPrjFailed};
}

int GetListFacts(OperationContext& ctx, ListFacts* facts) {
  SnapshotPtr table;
  int rc = ctx.installation().Projects().Take(ctx, &table);
  if (rc) return rc;
  facts->highest = table->Highest();
  facts->largest = table->Largest();
  facts->first_free_slot = table->FirstFreeSlot();
  return kPrjOk;
}

bool NumberInUse(OperationContext& ctx, uint32_t number) { return FindRecordSlotByNumber(ctx, number) > 0; }

bool NameInUse(OperationContext& ctx, const std::string& name) {
  SnapshotPtr table;
  size_t i = 0;
  return FindByName(ctx, ctx.installation().Projects(), name, &table, &i) == 0;
}

}  // namespace dovrane::extlib
