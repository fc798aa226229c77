// -usercfg: the number of users the records of the administration can carry
// (32 per user container).
#pragma once

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

inline constexpr int kMinUserCount = 32;
inline constexpr int kMaxUserCount = 992;
// How long the change waits for other processes to let the administration go.
inline constexpr int kExclusiveWaitMs = 2000;

// Sets count / 32 user containers and converts every record for them.
// -1 (single workstation, no permission, count out of range or unchanged,
// administration in use), the library's code, or the conversion's result.
[[nodiscard]] int SetMaxUserCount(extlib::OperationContext& ctx, int count);

}  // namespace dovrane::admin
