// Creates and erases cut short (a crash between a project's folder and its
// record) are put right by the next update, by the journals they left.
#pragma once

#include "extlib/installation/operation_context.h"

namespace dovrane::admin {

// Puts right every create or erase a journal in \Net shows was cut short: a
// create whose record was written gets its folder into place, one without
// its record leaves nothing behind; an erase whose record was removed leaves
// no folder, one whose record stayed gets its folder back. The temporaries of
// journal writes cut short are removed. Returns the number
// put right, or -1 when \Net cannot be listed.
[[nodiscard]] int CompleteInterruptedOperations(extlib::OperationContext& ctx);

}  // namespace dovrane::admin
