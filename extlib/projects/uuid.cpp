#include "extlib/projects/uuid.h"

#include "extlib/projects/project_code.h"

#include <random>

namespace dovrane::extlib {

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return kPrjFailed;
}

std::mt19937_64& Engine() {
  // Seeded per thread from the system's random source, so two processes (or
  // threads) that start together do not share a sequence.
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return engine;
}
}  // namespace

bool Uuid::IsNil() const {
  for (uint8_t b : bytes)
    if (b) return false;
  return true;
}

std::string FormatUuid(const Uuid& id) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (size_t i = 0; i < id.bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(kDigits[id.bytes[i] >> 4]);
    out.push_back(kDigits[id.bytes[i] & 0xF]);
  }
  return out;
}

bool ParseUuid(std::string_view text, Uuid* id) {
  if (text.size() != 36) return false;
  Uuid out;
  size_t byte = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.bytes[byte++] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  *id = out;
  return true;
}

Uuid NewRandomUuid() {
  Uuid id;
  uint64_t a = Engine()(), b = Engine()();
  for (int i = 0; i < 8; ++i) {
    id.bytes[i] = static_cast<uint8_t>(a >> (8 * i));
    id.bytes[8 + i] = static_cast<uint8_t>(b >> (8 * i));
  }
  id.bytes[6] = static_cast<uint8_t>((id.bytes[6] & 0x0F) | 0x40);  // version 4
  id.bytes[8] = static_cast<uint8_t>((id.bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return id;
}

}  // namespace dovrane::extlib
