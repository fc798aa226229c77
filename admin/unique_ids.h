// The test for unique project numbers over the whole administration.
#pragma once

#include "extlib/installation/operation_context.h"

namespace dovrane::admin {

// 0 no number is used twice, 1 one is (the inconsistency message was shown),
// -1 no project list (or records that cannot be read).
inline constexpr int kNumbersUnique = 0;
inline constexpr int kNumberUsedTwice = 1;
inline constexpr int kNumbersUnreadable = -1;
[[nodiscard]] int CheckUniqueIds(extlib::OperationContext& ctx);

}  // namespace dovrane::admin
