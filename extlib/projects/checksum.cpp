#include "extlib/projects/checksum.h"

#include <array>
#include <cstdio>

namespace dovrane::extlib {

namespace {
constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kTable = MakeTable();
}  // namespace

uint32_t Crc32(std::string_view bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) c = kTable[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string Crc32Hex(std::string_view bytes) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", Crc32(bytes));
  return buf;
}

}  // namespace dovrane::extlib
