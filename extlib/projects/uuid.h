// Unique identifiers of the objects of a project's data: 128 bits, written in
// the usual 8-4-4-4-12 form with lower-case hex digits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dovrane::extlib {

struct Uuid {
  std::array<uint8_t, 16> bytes{};
  bool IsNil() const;
  auto operator<=>(const Uuid&) const = default;
  bool operator==(const Uuid&) const = default;
};

std::string FormatUuid(const Uuid& id);
// Exactly 36 characters in the 8-4-4-4-12 form (either letter case); false otherwise.
bool ParseUuid(std::string_view text, Uuid* id);
// A new random identifier (version 4), never the nil one.
Uuid NewRandomUuid();

}  // namespace dovrane::extlib
