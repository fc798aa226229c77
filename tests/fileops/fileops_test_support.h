// Shared pieces of the file operation tests: the temporary folder and the
// recording messenger of all tests, and bytes to copy.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/recording_messenger.h"
#include "support/temp_dir.h"

namespace dovrane::testing {

// Bytes that differ from block to block, so a piece in the wrong place shows.
inline std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
  return s;
}

}  // namespace dovrane::testing
