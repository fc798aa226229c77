#include "admin/append_batch.h"

#include "admin/project_index.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "platform/env.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

AppendBatch::~AppendBatch() {
  if (ctx_) Flush(*ctx_);
}

ProjectIndex* AppendBatch::Index(extlib::OperationContext& ctx) {
  if (records_.empty()) return CurrentIndex(ctx);
  const int64_t now = ctx.Env().MonotonicMs();
  if (now - checked_ms_ < kRecheckMs) return index_;
  checked_ms_ = now;
  return index_ = CurrentIndex(ctx);
}

namespace {

int Refused(extlib::OperationContext& ctx) {
  services::ToolMessageBox(ctx, services::kMessageWarning, "Can't append record to project administration.\n");
  return kPrjFailed;
}

}  // namespace

int AppendBatch::Add(extlib::OperationContext& ctx, const extlib::PRJ& record, const std::string& native_cache_file) {
  // The caller has just looked the index up; while the batch holds the lock
  // nobody else appends, so it is not checked against the file again.
  ctx_ = &ctx;
  ProjectIndex* index = records_.empty() ? CurrentIndex(ctx) : index_;
  if (!index || index->NumberUsed(record.number)) return Refused(ctx);
  if (records_.empty()) {
    handle_ = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
    if (handle_ < 0 || extlib::LockNullRecord(ctx, handle_, &null_lock_) != 0) return Refused(ctx);
    extlib::NullRecord null_record;
    // Read again under the lock: another process may have appended just before.
    index = CurrentIndex(ctx);
    if (!index || index->NumberUsed(record.number) || extlib::read_null_record(handle_, &null_record) != 0) {
      (void)null_lock_.Release();  // nothing written: a lock that will not come off goes with the close
      return Refused(ctx);
    }
    const long slot = index->FirstFreeSlot();
    if (slot <= extlib::RecordSlotCount(handle_)) {
      (void)null_lock_.Release();  // nothing written: a lock that will not come off goes with the close
      return 1;
    }
    first_slot_ = slot;
    index_ = index;
    records_.reserve(kMaxRecords);
    highest_ = extlib::NullRecordHighest(null_record);
    started_ms_ = checked_ms_ = ctx.Env().MonotonicMs();
  } else if (index->FirstFreeSlot() != first_slot_ + static_cast<long>(records_.size())) {
    return 1;  // another process freed a slot below: that one is used first
  }
  NoteUnwritten(first_slot_ + static_cast<long>(records_.size()), record);
  records_.push_back(record);
  if (!native_cache_file.empty()) caches_.emplace_back(record.number, native_cache_file);
  if (records_.size() >= kMaxRecords || ctx.Env().MonotonicMs() - started_ms_ >= kMaxWaitMs)
    return Flush(ctx) == 0 ? 0 : kPrjFailed;
  return 0;
}

int AppendBatch::Flush(extlib::OperationContext& ctx) {
  if (records_.empty()) return 0;
  // Taken before the write: the index shows the placed records already.
  ProjectIndex* index = CurrentIndex(ctx);
  uint32_t largest = 0;
  for (const extlib::PRJ& r : records_)
    if (r.number > largest) largest = r.number;
  extlib::NullRecord null_record;
  null_record.version = 3;
  extlib::SetNullRecordHighest(&null_record, largest);
  const bool raise = largest > highest_;
  int rc = extlib::write_prj_records(ctx, handle_, first_slot_, records_.data(), records_.size(),
                                     raise ? &null_record : nullptr);
  if (rc == 0 && raise) {
    highest_ = largest;
    if (index) index->SetHighest(largest);
  }
  UnwrittenDone(rc == 0 && index);
  if (rc == 0 && index) IndexFollowsFile();
  (void)null_lock_.Release();  // written or not: a lock that will not come off goes with the close
  if (rc != 0) given_up_ += records_.size();
  records_.clear();
  std::vector<std::pair<uint32_t, std::string>> caches;
  caches.swap(caches_);
  if (rc != 0) return Refused(ctx);
  if (!caches.empty()) {
    extlib::RX_ProjectAttributes attributes(ctx, extlib::kSlotNet);
    for (const auto& [number, file] : caches)
      extlib::RX_ProjectAttributesCache::instance().importFromDiskCacheFile(ctx, number, file, attributes);
  }
  return 0;
}

}  // namespace dovrane::admin
