#include "admin/record_writes.h"

#include <cstring>

#include "admin/project_index.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

using extlib::PRJ;

bool SameRecord(const PRJ& a, const PRJ& b) {
  return a.number == b.number && std::memcmp(a.name, b.name, extlib::kNameLength) == 0;
}

// The slot that holds record now: the hint when it still does, else the
// index's first record of that number (or name) that matches.
long FindSlot(const PRJ& record, int handle, long hint, ProjectIndex* index) {
  PRJ on_disk;
  if (hint > 0 && extlib::ReadRecordAtSlot(handle, hint, &on_disk) == 0 && !extlib::IsDeleted(on_disk) &&
      SameRecord(on_disk, record))
    return hint;
  if (!index) return kPrjFailed;
  IndexedRecord found;
  bool have = record.number ? index->FindNumber(record.number, &found) : index->FindName(record.name, &found);
  if (!have || !SameRecord(found.record, record)) {
    if (!index->FindName(record.name, &found) || !SameRecord(found.record, record)) return kPrjFailed;
  }
  return found.slot;
}

int WriteLocked(extlib::OperationContext& ctx, const PRJ& record, int handle, long hint, const RecordMend* mend) {
  const bool remove = mend == nullptr;
  // Taken before the write: after it the file's stamp is the run's own.
  ProjectIndex* index = CurrentIndex(ctx);
  long slot = FindSlot(record, handle, hint, index);
  if (slot < 1) return kPrjNotFound;
  extlib::RecordLock lock;
  if (extlib::LockRecordAtSlot(ctx, handle, slot, &lock) != 0) return kPrjLockFailed;
  PRJ on_disk;
  int rc = extlib::ReadRecordAtSlot(handle, slot, &on_disk);
  // The reader's own answers become codes: nothing there is no such project.
  if (rc == extlib::kRecordEnd) rc = kPrjNotFound;
  if (rc != extlib::kRecordRead && rc != kPrjNotFound) rc = kPrjFailed;
  if (rc == 0 && (extlib::IsDeleted(on_disk) || !SameRecord(on_disk, record))) rc = kPrjNotFound;
  // A removal was decided on the record as the caller saw it (its folder gone
  // from that host): a project moved meanwhile is another case, and writing
  // the stale copy would erase a project that exists elsewhere.
  if (rc == 0 && remove && std::memcmp(on_disk.host, record.host, sizeof on_disk.host) != 0) rc = kPrjNotFound;
  // What is written is the record as it is now, changed under the lock:
  // another writer's change since the caller read it (a check-out's mark, an
  // owner) stays.
  PRJ out = on_disk;
  bool write = rc == 0;
  if (write && remove) out.name[0] = '#';
  if (write && !remove) write = (*mend)(&out);
  if (write) rc = extlib::WriteRecordAtSlot(ctx, handle, slot, &out);
  const int unlock = lock.Release();
  if (rc == 0 && !write) {
    // Nothing to change: the index still holds the file's record.
  } else if (rc == 0 && index) {
    index->OnWrite(slot, out);
    IndexFollowsFile();
  } else {
    DropIndex();
  }
  return rc ? rc : unlock;
}

}  // namespace

int AppendRecord(extlib::OperationContext& ctx, const PRJ& record) {
  int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
  extlib::RecordLock null_lock;
  if (handle < 0 || extlib::LockNullRecord(ctx, handle, &null_lock) != 0) return kPrjFailed;
  int rc = kPrjFailed;
  extlib::NullRecord null_record;
  ProjectIndex* index = CurrentIndex(ctx);
  if (index && extlib::read_null_record(handle, &null_record) == 0 && !index->NumberUsed(record.number)) {
    long slot = index->FirstFreeSlot();
    PRJ there;
    int read = extlib::ReadRecordAtSlot(handle, slot, &there);
    bool free_slot = read == extlib::kRecordEnd || (read == extlib::kRecordRead && extlib::IsDeleted(there));
    if (free_slot && extlib::WriteRecordAtSlot(ctx, handle, slot, &record) == extlib::kPrjOk) {
      rc = extlib::kPrjOk;
      index->OnWrite(slot, record);
      uint32_t highest = extlib::NullRecordHighest(null_record);
      if (record.number > highest) {
        null_record.version = 3;
        extlib::SetNullRecordHighest(&null_record, record.number);
        if (extlib::write_null_record(ctx, handle, &null_record) == 0) index->SetHighest(record.number);
      }
      IndexFollowsFile();
    } else {
      DropIndex();
    }
  }
  const int unlock = null_lock.Release();
  return rc ? rc : unlock;
}

int MarkRecordDeleted(extlib::OperationContext& ctx, const PRJ& record, int handle, long slot) {
  return WriteLocked(ctx, record, handle, slot, nullptr);
}

int RewriteRecord(extlib::OperationContext& ctx, const PRJ& record, int handle, long slot, const RecordMend& mend) {
  return WriteLocked(ctx, record, handle, slot, &mend);
}

int RemoveRecord(extlib::OperationContext& ctx, const PRJ& record, int handle, long slot) {
  int rc = MarkRecordDeleted(ctx, record, handle, slot);
  if (rc == 0 && record.number != 0) {
    extlib::RX_ProjectAttributes attributes(ctx, extlib::kSlotNet);
    attributes.deleteAttributesByProject(record.number);
  }
  return rc;
}

}  // namespace dovrane::admin
