// The native folder of a project found by its number.
#pragma once

#include <cstdint>
#include <string>

namespace dovrane::extlib {

class OperationContext;

// 0, -3 no such number, -6 folder not reachable, or the list's code.
[[nodiscard]] int ProjectFolderByNumber(OperationContext& ctx, uint32_t number, std::string* native_dir);

}  // namespace dovrane::extlib
