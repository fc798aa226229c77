#include "admin/checkout_file.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "extlib/installation/host_going_out.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_attributes.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::admin {

int DeleteProjectCheckoutFile(extlib::OperationContext& ctx, const std::string& entry_path) {
  std::string base = extlib::LastComponent(entry_path);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  std::string path;
  if (base.empty() || extlib::lffnamC(ctx, extlib::kSlotNet, base + ".out", &path) != 0) return 0;
  const std::string native = ctx.Native(path);
  platform::SetFileAttributes(native, platform::kAttrNormal);
  const int rc = ctx.Env().Unlink(native);
  return rc == -ENOENT ? 0 : rc;
}

namespace {

// The project number of "n0000012.out.new~<digits>", or 0 for any other name.
uint32_t NumberOfTemporary(const std::string& name) {
  static const std::string kTail = ".out.new~";
  if (name.size() < 9 + kTail.size() || name[0] != 'n' || name.compare(8, kTail.size(), kTail) != 0 ||
      !platform::IsProcessWorkName(name, name.substr(0, 8 + kTail.size())))
    return 0;
  for (size_t i = 1; i < 8; ++i)
    if (name[i] < '0' || name[i] > '9') return 0;
  return static_cast<uint32_t>(std::strtoul(name.substr(1, 7).c_str(), nullptr, 10));
}

// True when no check-out can be writing the file of record `number` now.
// REQUIRES: the record's lock, when the record exists.
bool NoCheckoutOf(extlib::OperationContext& ctx, const extlib::PRJ& record) {
  return (record.status & (extlib::kStatusProjectOut | extlib::kStatusHostOut)) == 0 &&
         !extlib::HostGoingOut(ctx, extlib::TrimmedName(record.host));
}

}  // namespace

int RemoveCheckoutFileTemporaries(extlib::OperationContext& ctx) {
  const std::string net = ctx.Native(extlib::lfinigC(ctx, extlib::kSlotNet));
  std::vector<platform::DirEntry> entries;
  if (const int rc = net.empty() ? -ENOENT : ctx.Env().ListDir(net, &entries); rc != 0) return rc;
  int removed = 0;
  for (const platform::DirEntry& e : entries) {
    const uint32_t number = NumberOfTemporary(e.name);
    const std::string native = net + "/" + e.name;
    if (number == 0 || !platform::IsRegularFileNoFollow(native)) continue;
    UnCachPrjList(ctx);
    extlib::PRJ record;
    const int found = extlib::get_PrjInfo_by_number(ctx, number, &record);
    if (found == extlib::kPrjNotFound) {
      removed += ctx.Env().Unlink(native) == 0 ? 1 : 0;
      continue;
    }
    extlib::RecordLock lock;
    if (found != 0 || extlib::LockRecordByName(ctx, extlib::kSlotNet, record.name, &lock) != 0) continue;
    // Read again under the lock: a check-out may have marked it since.
    UnCachPrjList(ctx);
    const bool idle = extlib::get_PrjInfo_by_number(ctx, number, &record) == 0 && NoCheckoutOf(ctx, record);
    const bool gone = idle && ctx.Env().Unlink(native) == 0;
    if (lock.Release() == 0 && gone) ++removed;
  }
  return removed;
}

}  // namespace dovrane::admin
