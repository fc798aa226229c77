#include "tree/transfer_check.h"

#include <gtest/gtest.h>

#include "tree/item_kind.h"

namespace dovrane::tree {
namespace {

TEST(TransferCheckTest, OnlyAFreeProjectGoesOntoAnOpenHostOtherThanItsOwn) {
  using enum TransferRefusal;
  struct Case {
    uint32_t project_kind, target_kind;
    const char* target;
    bool copy, copy_onto_own_host;
    TransferRefusal expected;
  };
  for (const Case& c : {Case{tree::kKindProject, tree::kKindDataHost, "SRV2", false, false, kNone},
                        Case{tree::kKindProject, tree::kKindAdminHost, "SRV2", true, false, kNone},
                        Case{tree::kKindProject, tree::kKindDataHost, "srv1", false, true, kOwnHost},
                        Case{tree::kKindProject, tree::kKindDataHost, "SRV1", true, false, kOwnHost},
                        Case{tree::kKindProject, tree::kKindDataHost, "SRV1", true, true, kNone},
                        Case{tree::kKindProject, tree::kKindDataHostOut, "SRV2", false, false, kHostCheckedOut},
                        Case{tree::kKindProject, tree::kKindAdminHostOut, "SRV2", true, true, kHostCheckedOut},
                        Case{tree::kKindProject, tree::kKindDataHostDown, "SRV2", false, false, kHostNotAnswering},
                        Case{tree::kKindProject, tree::kKindAdminHostDown, "SRV2", true, false, kHostNotAnswering},
                        Case{tree::kKindProject, tree::kKindProject, "SRV2", false, false, kNotHost},
                        Case{tree::kKindProject, 0, "", false, false, kNotHost},
                        Case{tree::kKindProjectInUse, tree::kKindDataHost, "SRV2", true, false, kNotFree},
                        Case{tree::kKindProjectOut, tree::kKindDataHost, "SRV2", false, false, kNotFree},
                        Case{tree::kKindProjectHostOut, tree::kKindDataHost, "SRV2", false, false, kNotFree},
                        Case{tree::kKindProjectUnreachable, tree::kKindDataHost, "SRV2", false, false, kNotFree}}) {
    TransferCheck check{c.project_kind, "SRV1", c.target_kind, c.target, c.copy, c.copy_onto_own_host};
    EXPECT_EQ(CheckTransfer(check), c.expected) << c.project_kind << " onto " << c.target << " " << c.target_kind;
  }
}

}  // namespace
}  // namespace dovrane::tree
