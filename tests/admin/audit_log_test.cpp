#include "admin/audit_log.h"

#include <gtest/gtest.h>

#include "support/scoped_environment.h"

namespace dovrane::admin {
namespace {

// One command is one line, whatever its arguments hold: padded names as
// typed, blanks quoted, control characters (a line end in a name) blanked.
TEST(AuditLogTest, LineHoldsTheFieldsOfOneCommandOnOneLine) {
  testing::ScopedEnvironment env;
  env.Set({{"DOVRANE_COMPUTERNAME", "WS7"}, {"DOVRANE_USERNAME", "anna"}});
  struct Case {
    std::vector<std::string> args;
    int result;
    std::string text, call_and_result;
  } cases[] = {
      {{"Office" + std::string(44, ' '), "SRV2"}, 0, "", "-move Office SRV2\t0\tOK"},
      {{"Two words", "SRV2"}, -3, "Project does not exist", "-move \"Two words\" SRV2\t-3\tProject does not exist"},
      {{"a\r\nb\tc", "x"}, 1, "", "-move \"a  b c\" x\t1\tfailed"},
      {{"N", "x"}, -1, "ERROR=-1 \n", "-move N x\t-1\tERROR=-1"},
  };
  for (const Case& c : cases) {
    const std::string line = AuditLine(1796671145, "-move", c.args, c.result, c.text);
    EXPECT_EQ(line, "2026-12-07T19:19:05Z\tWS7\tanna\t" + c.call_and_result + "\r\n");
  }
}

}  // namespace
}  // namespace dovrane::admin
