// CRC-32 (the polynomial of zip and PNG) over bytes: the check value of our
// own stored files, so a torn or edited file is recognised as damaged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dovrane::extlib {

uint32_t Crc32(std::string_view bytes);
// Eight upper-case hex digits, as the files store it.
std::string Crc32Hex(std::string_view bytes);

}  // namespace dovrane::extlib
