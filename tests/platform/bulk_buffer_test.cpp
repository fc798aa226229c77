#include "platform/bulk_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace dovrane::platform {
namespace {

// Filled past its first room (each growth moves the contents to a larger
// mapping), the buffer keeps every byte in order; a moved-from buffer is empty.
TEST(BulkBufferTest, GrowingKeepsTheContentsAndMovingEmptiesTheSource) {
  BulkBuffer buffer;
  buffer.Reserve(1000);
  std::string expected;
  for (int i = 0; expected.size() < (size_t{5} << 20); ++i) {
    const std::string line = "line " + std::to_string(i) + "\n";
    buffer.Reserve(line.size());
    line.copy(buffer.end(), line.size());
    buffer.Grow(line.size());
    expected += line;
  }
  EXPECT_EQ(buffer.view(), expected);
  BulkBuffer moved(std::move(buffer));
  EXPECT_EQ(moved.view(), expected);
  EXPECT_TRUE(buffer.view().empty());  // NOLINT(bugprone-use-after-move): moved-from state is specified
  moved.Clear();
  EXPECT_TRUE(moved.view().empty());
}

}  // namespace
}  // namespace dovrane::platform
