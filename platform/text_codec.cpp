#include "platform/text_codec.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace dovrane::platform {

namespace {
// A control character is shown as \xHH with these digits, the same everywhere.
constexpr char kHexDigits[] = "0123456789abcdef";
}  // namespace

namespace {

// Unicode code points of Windows-1252 bytes 0x80 to 0x9F (0: not assigned).
constexpr uint16_t kCp1252High[32] = {0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000,
                                      0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178};

// Windows-1252 byte for each DOS 850 byte 0x80 to 0xFF.
constexpr unsigned char kCp850To1252[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5, 0xC9, 0xE6, 0xC6,
    0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xF8, 0xA3, 0xD8, 0xD7, 0x83, 0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1,
    0xAA, 0xBA, 0xBF, 0xAE, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0xC1, 0xC2, 0xC0, 0xA9,
    0x5F, 0x5F, 0x5F, 0x5F, 0xA2, 0xA5, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0x5F, 0xE3, 0xC3, 0x5F, 0x5F, 0x5F, 0x5F,
    0x5F, 0x5F, 0x5F, 0xA4, 0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 0x5F, 0xCD, 0xCE, 0xCF, 0x5F, 0x5F, 0x5F, 0x5F, 0xA6, 0xCC,
    0x5F, 0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0xB5, 0xFE, 0xDE, 0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0xAF, 0xB4, 0xAD, 0xB1,
    0x5F, 0xBE, 0xB6, 0xA7, 0xF7, 0xB8, 0xB0, 0xA8, 0xB7, 0xB9, 0xB3, 0xB2, 0x5F, 0xA0,
};

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Windows-1252 byte of a code point, or -1.
int Cp1252FromCodePoint(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == cp) return 0x80 + i;
  // The five unassigned bytes round-trip as the C1 controls of the same value.
  if (cp >= 0x80 && cp < 0xA0 && kCp1252High[cp - 0x80] == 0) return static_cast<int>(cp);
  return -1;
}

}  // namespace

void AppendCp1252AsUtf8(const char* text, size_t size, std::string* out) {
  for (size_t i = 0; i < size; ++i) {
    // Runs of plain ASCII (nearly all of a list) are copied whole.
    size_t run = i;
    while (run < size && static_cast<unsigned char>(text[run]) < 0x80) ++run;
    if (run > i) {
      out->append(text + i, run - i);
      i = run;
      if (i == size) break;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0xA0) {
      uint16_t cp = kCp1252High[c - 0x80];
      AppendUtf8(out, cp ? cp : c);
    } else {
      AppendUtf8(out, c);
    }
  }
}

namespace {

// Each Windows-1252 byte's UTF-8 form: up to three bytes, and its length in
// the fourth (0 for the bytes Windows-1252 leaves undefined). The list
// converts every name beyond ASCII with it.
constexpr auto kUtf8Of1252 = [] {
  std::array<std::array<unsigned char, 4>, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    if (c >= 0x80 && IsControlCp1252(static_cast<unsigned char>(c))) continue;
    uint32_t cp = c;
    if (c >= 0x80 && c < 0xA0 && kCp1252High[c - 0x80]) cp = kCp1252High[c - 0x80];
    auto& u = table[c];
    if (cp < 0x80) {
      u = {static_cast<unsigned char>(cp), 0, 0, 1};
    } else if (cp < 0x800) {
      u = {static_cast<unsigned char>(0xC0 | (cp >> 6)), static_cast<unsigned char>(0x80 | (cp & 0x3F)), 0, 2};
    } else {
      u = {static_cast<unsigned char>(0xE0 | (cp >> 12)), static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)),
           static_cast<unsigned char>(0x80 | (cp & 0x3F)), 3};
    }
  }
  return table;
}();

}  // namespace

char* PutCp1252AsUtf8(const char* text, size_t size, char* out) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  for (size_t i = 0; i < size;) {
    // Most of a name beyond ASCII is ASCII: eight bytes at a time up to the
    // first that is not (eight written always: out has room for 24).
    if (i + 8 <= size) {
      uint64_t word;
      std::memcpy(&word, text + i, 8);
      std::memcpy(out, &word, 8);
      const uint64_t high = word & kHighBits;
      const size_t ascii = high == 0 ? 8 : static_cast<size_t>(__builtin_ctzll(high)) / 8;
      out += ascii;
      i += ascii;
      if (ascii == 8) continue;
    }
    // Three bytes written always (out has room for them), the length kept.
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const auto& u = kUtf8Of1252[c];
    if (u[3] == 0) [[unlikely]] {
      const char escape[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
      std::memcpy(out, escape, 4);
      out += 4;
      ++i;
      continue;
    }
    std::memcpy(out, u.data(), 3);
    out += u[3];
    ++i;
  }
  return out;
}

std::string ShowControlsCp1252(std::string_view text, bool keep_layout) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool layout = c == '\t' || c == '\n' || c == '\r';
    if (!IsControlCp1252(c) || (layout && keep_layout)) {
      out += ch;
    } else if (layout) {
      out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
    } else {
      out += "\\x";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xF];
    }
  }
  return out;
}

std::string Cp1252ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  AppendCp1252AsUtf8(text.data(), text.size(), &out);
  return out;
}

bool Utf8ToCp1252(const std::string& text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  size_t i = 0, n = text.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp;
    int extra;
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    i += extra + 1;
    int b = Cp1252FromCodePoint(cp);
    if (b < 0) return false;
    out->push_back(static_cast<char>(b));
  }
  return true;
}

std::string Cp850ToCp1252(const std::string& text) {
  std::string out = text;
  for (char& ch : out) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 0x80) ch = static_cast<char>(kCp850To1252[c - 0x80]);
  }
  return out;
}

unsigned char FoldCp1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<unsigned char>(c + 16);
  if (c == 0x9F) return 0xFF;
  return c;
}

unsigned char UpperCp1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
  if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<unsigned char>(c - 16);
  if (c == 0xFF) return 0x9F;
  return c;
}

bool EqualsIgnoreCaseCp1252(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCp1252(static_cast<unsigned char>(a[i])) != FoldCp1252(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace dovrane::platform
