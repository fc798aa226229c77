// The appends of a scan of all hosts, written together: the records go into
// the slots after the last with one locked write and one flush instead of
// one each. From its first record until it is written the batch holds the
// null record's lock, so no other process appends meanwhile; it is written
// when full, when its first record has waited long enough, and before the
// run writes the administration any other way.
// For runs under the rebuild marker only: records a killed run had not yet
// written are registered again by the next update, which completes the rebuild.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "extlib/records/administration.h"
#include "extlib/records/prj_record.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

class ProjectIndex;

class AppendBatch {
 public:
  AppendBatch() = default;
  AppendBatch(const AppendBatch&) = delete;
  AppendBatch& operator=(const AppendBatch&) = delete;
  ~AppendBatch();  // writes what is left

  // Places the record in the next slot after the last; its attribute disk
  // cache (native path) is imported once the record is written. 0 placed;
  // 1 not placed: a freed slot comes first, the record is appended alone;
  // -1 failure, with the warning shown (the number is in use, the
  // administration cannot be opened or locked, or writing the full batch failed).
  int Add(extlib::OperationContext& ctx, const extlib::PRJ& record, const std::string& native_cache_file);
  // Writes the placed records, raises the highest number, lets the lock go
  // and imports the disk caches. 0, or -1 with the warning shown and the
  // records given up (the administration is as before).
  int Flush(extlib::OperationContext& ctx);
  size_t Size() const { return records_.size(); }
  // Records given up by failed writes since the batch was made: a scan that
  // gave any up did not register every folder it placed.
  size_t GivenUp() const { return given_up_; }
  // The index for the next registration: while the batch holds the lock
  // nobody else appends, so the file is compared with it only every
  // kRecheckMs (for other processes' rewrites); otherwise CurrentIndex().
  ProjectIndex* Index(extlib::OperationContext& ctx);

  // A full batch, and the longest its first record waits (ms).
  static constexpr size_t kMaxRecords = 2048;
  static constexpr int64_t kMaxWaitMs = 250;
  static constexpr int64_t kRecheckMs = 20;

 private:
  // The operation whose records the batch holds: what is left is written
  // for it at the end.
  extlib::OperationContext* ctx_ = nullptr;
  int handle_ = -1;
  extlib::RecordLock null_lock_;  // held from the first placed record until the batch is written
  ProjectIndex* index_ = nullptr;
  long first_slot_ = 0;
  uint32_t highest_ = 0;
  int64_t started_ms_ = 0;
  int64_t checked_ms_ = 0;
  size_t given_up_ = 0;
  std::vector<extlib::PRJ> records_;
  std::vector<std::pair<uint32_t, std::string>> caches_;
};

}  // namespace dovrane::admin
