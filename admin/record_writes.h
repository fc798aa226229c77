// Single-record changes of the administration made by the repair: append into
// the first free slot, mark deleted, rewrite. Each is one locked record write
// (lock, write, flush, read back, unlock on every path), so a kill at any
// moment leaves an administration the next run reads.
#pragma once

#include <functional>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

// Writes record into the first free slot (the first deleted one, else after
// the last) under the null record lock; raises the highest number when the
// record's number exceeds it. 0 or -1 (also when another writer took the
// record's number meanwhile).
[[nodiscard]] int AppendRecord(extlib::OperationContext& ctx, const extlib::PRJ& record);

// Changes a record as it is on disk under its lock; false: nothing to write.
using RecordMend = std::function<bool(extlib::PRJ* record)>;

// Lock the record's slot, check that it still holds this record (name and
// number; for a delete also the host, so that a project moved since the
// caller read it is not deleted), write the record as it is now with the
// name's first character "#" (delete) or as mend leaves it (rewrite), unlock.
// A rewrite never writes the caller's copy: what changed since it was read
// stays. slot: where the record was seen, 0 when unknown (then it is found by
// number, else by name). 0, -3 not there, -7 locked, or the write's code.
[[nodiscard]] int MarkRecordDeleted(extlib::OperationContext& ctx, const extlib::PRJ& record, int handle,
                                    long slot = 0);
[[nodiscard]] int RewriteRecord(extlib::OperationContext& ctx, const extlib::PRJ& record, int handle, long slot,
                                const RecordMend& mend);

// MarkRecordDeleted, and on success the project's attributes go too.
[[nodiscard]] int RemoveRecord(extlib::OperationContext& ctx, const extlib::PRJ& record, int handle, long slot = 0);

}  // namespace dovrane::admin
