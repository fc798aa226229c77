#include "extlib/records/record_line.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "extlib/records/record_layout.h"

namespace dovrane::extlib {

namespace L = layout;

namespace {

void SetOwnerBit(PRJ* record, int containers_now) {
  if (record->owner != 0 && record->owner <= 32u * static_cast<uint32_t>(containers_now))
    SetMemberBit(record, record->owner, true);
}

void SetLocal(PRJ* record) {
  record->owner = 0;
  SetPrjHost(record, "localhost");
  std::memset(record->members, 0, sizeof record->members);
}

}  // namespace

std::string FormatHeader(int version, uint32_t highest, int line_end) {
  char text[32];
  std::snprintf(text, sizeof text, "%2d%s%s", version, NumberText(std::min(highest, kMaxProjectNumber)).c_str(),
                line_end == 2 ? "\r\n" : "\n");
  return text;
}

int ParseHeaderBytes(const char* bytes, size_t n, AdminHeader* header) {
  if (n < 11) return kLineBad;
  char text[12] = {};
  std::memcpy(text, bytes, 11);
  header->version = 0;
  if (std::sscanf(text, "%2d", &header->version) != 1) return kLineBad;
  header->line_end = std::memchr(bytes, '\r', std::min<size_t>(n, 12)) ? 2 : 1;
  if (header->version < 1 || header->version > 3) return kLineBad;
  text[L::kHeaderText] = '\0';
  unsigned number = 0;
  char tail = 0;
  std::string field(text + L::kHeaderNumber, L::kHeaderNumberWidth);
  const bool ends = bytes[L::kHeaderText] == (header->line_end == 2 ? '\r' : '\n');
  if (!ends || std::sscanf(field.c_str(), "n%u%c", &number, &tail) != 1 || number > kMaxProjectNumber) {
    header->highest = 0;
    return kLineBad;
  }
  header->highest = number;
  return kLineParsed;
}

namespace {

// Writes value as `width` digits of `base`, zero-filled, at p (upper-case hex).
void PutDigits(char* p, int width, uint64_t value, unsigned base) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = width - 1; i >= 0; --i) {
    p[i] = kDigits[value % base];
    value /= base;
  }
}

}  // namespace

bool FormatRecordV3(const PRJ& record, int containers, std::string* line) {
  const size_t name_len = strnlen(record.name, kNameLength), host_len = strnlen(record.host, kHostLength);
  if (std::memchr(record.name, '@', name_len) || std::memchr(record.host, '@', host_len)) return false;
  if (record.number > kMaxProjectNumber || record.owner > 999 || record.version > 99) return false;
  if (containers < 0 || containers > kMaxUserContainers) return false;
  // Fixed offsets, written directly: the conversion formats every record.
  line->assign(static_cast<size_t>(L::V3LineLength(containers)), ' ');
  char* p = line->data();
  std::memcpy(p, record.name, name_len);
  p[L::kV3NameEnd] = '@';
  p[L::kV3Number] = 'n';
  PutDigits(p + L::kV3Number + 1, 7, record.number, 10);
  p[L::kV3Version - 1] = L::kSeparator;
  PutDigits(p + L::kV3Version, L::kV3VersionWidth, record.version, 10);
  p[L::kV3Status - 1] = L::kSeparator;
  p[L::kV3Status] = static_cast<char>(record.status ? record.status : ' ');
  p[L::kV3Key - 1] = L::kSeparator;
  PutDigits(p + L::kV3Key, L::kKeyWidth, record.dbkey, 10);
  p[L::kV3Begin - 1] = L::kSeparator;
  PutDigits(p + L::kV3Begin, L::kBeginWidth, static_cast<uint32_t>(record.begin), 16);
  if (containers > 0) {
    p[L::kV3Host - 1] = L::kSeparator;
    std::memcpy(p + L::kV3Host, record.host, host_len);
    p[L::kV3HostEnd] = '@';
    PutDigits(p + L::kV3Owner, L::kOwnerWidth, record.owner, 10);
    p[L::kV3Members - 1] = L::kSeparator;
    for (int i = 0; i < 4 * containers; ++i) PutDigits(p + L::kV3Members + 2 * i, 2, record.members[i], 16);
  }
  return true;
}

namespace {

// Each byte's value as a hexadecimal digit, or -1: one load per character
// of the fields every record check reads.
constexpr std::array<signed char, 256> kHexValue = [] {
  std::array<signed char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
               : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
               : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                                      : -1;
  }
  return table;
}();

// A hexadecimal digit's value, or -1.
int HexDigit(char c) { return kHexValue[static_cast<unsigned char>(c)]; }

// Digits (leading blanks allowed) of a fixed field into *value; false
// otherwise. Width and base are constants, so each field's loop is unrolled:
// every query checks every record.
template <int kWidth, int kBase>
bool FixedNumber(const char* p, uint64_t* value) {
  {
    // Without leading blanks (as this program writes the fields): a plain
    // unrolled loop.
    uint64_t v = 0;
    int bad = 0;
    for (int i = 0; i < kWidth; ++i) {
      const int d = kBase == 10 ? static_cast<unsigned char>(p[i]) - '0' : HexDigit(p[i]);
      bad |= kBase == 10 ? (d < 0 || d > 9) : d < 0;
      v = v * kBase + static_cast<uint64_t>(d);
    }
    if (bad == 0) {
      *value = v;
      return true;
    }
  }
  uint64_t v = 0;
  bool digits = false;
  for (int i = 0; i < kWidth; ++i) {
    if (!digits && p[i] == ' ') continue;
    int d;
    if constexpr (kBase == 10) {
      d = static_cast<unsigned char>(p[i]) - '0';
      if (d < 0 || d > 9) return false;
    } else {
      d = HexDigit(p[i]);
      if (d < 0) return false;
    }
    digits = true;
    v = v * static_cast<uint64_t>(kBase) + static_cast<uint64_t>(d);
  }
  *value = v;
  return digits;
}

bool Separator(char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0'; }

}  // namespace

namespace {

// The checks of a version 3 line and, when kFill, the record's fields: one
// function, so that a line found valid is exactly a line that parses.
template <bool kFill>
int ReadV3(const char* line, size_t length, int user_words, int containers_now, bool network, PRJ* record) {
  if (length != static_cast<size_t>(L::V3LineLength(user_words))) return kLineBad;
  // Fixed offsets: each field where the layout puts it, separators non-blank.
  if (line[L::kV3NameEnd] != '@' || std::memchr(line, '@', L::kNameWidth) ||
      !Separator(line[L::kV3Version - 1]) || !Separator(line[L::kV3Status - 1]) ||
      !Separator(line[L::kV3Key - 1]) || !Separator(line[L::kV3Begin - 1]))
    return kLineBad;
  uint32_t number = 0;
  uint64_t version = 0, key = 0, begin = 0;
  if (!ParseNumberText(line + L::kV3Number, L::kNumberWidth, &number) ||
      !FixedNumber<L::kV3VersionWidth, 10>(line + L::kV3Version, &version) ||
      !FixedNumber<L::kKeyWidth, 10>(line + L::kV3Key, &key) || key > 0xFFFFFFFFu ||
      !FixedNumber<L::kBeginWidth, 16>(line + L::kV3Begin, &begin))
    return kLineBad;
  if constexpr (kFill) {
    // Field by field: clearing the whole record first cost a fifth of a list.
    std::memcpy(record->name, line, L::kNameWidth);
    record->name[L::kNameWidth] = '\0';
    // A NUL ends the name, as the writer takes it: blanks from there, so the
    // record stays the same one when it is written again.
    if (void* nul = std::memchr(record->name, '\0', L::kNameWidth))
      std::memset(nul, ' ', static_cast<size_t>(record->name + L::kNameWidth - static_cast<char*>(nul)));
    // Copies of zeros, which the compiler writes as a few vector stores.
    static constexpr PRJ kBlank{};
    std::memcpy(record->host, kBlank.host, sizeof record->host);
    std::memcpy(record->members, kBlank.members, sizeof record->members);
    record->owner = 0;
    record->number = number;
    record->version = static_cast<unsigned char>(version);
    // A NUL status is the blank, which the writer puts for it.
    record->status = line[L::kV3Status] ? static_cast<unsigned char>(line[L::kV3Status]) : kStatusBlank;
    record->dbkey = static_cast<uint32_t>(key);
    record->begin = static_cast<int32_t>(static_cast<uint32_t>(begin));
  }
  if (!network || user_words == 0) {
    if constexpr (kFill) SetLocal(record);
    return kLineParsed;
  }
  uint64_t owner = 0;
  if (!Separator(line[L::kV3Host - 1]) || line[L::kV3HostEnd] != '@' ||
      std::memchr(line + L::kV3Host, '@', L::kHostWidth) || !Separator(line[L::kV3Members - 1]) ||
      !FixedNumber<L::kOwnerWidth, 10>(line + L::kV3Owner, &owner))
    return kLineBad;
  if constexpr (kFill) {
    // Up to a NUL, as with the name, and without the blanks before it.
    const char* host = line + L::kV3Host;
    std::memcpy(record->host, host, TrimmedLength(host, strnlen(host, L::kHostWidth)));
    record->owner = static_cast<uint32_t>(owner);
  }
  int bytes = 4 * std::min(user_words, containers_now);
  for (int i = 0; i < bytes; ++i) {
    const int high = HexDigit(line[L::kV3Members + 2 * i]), low = HexDigit(line[L::kV3Members + 2 * i + 1]);
    if (high < 0 || low < 0) return kLineBad;
    if constexpr (kFill) record->members[i] = static_cast<unsigned char>(high * 16 + low);
  }
  if constexpr (kFill) SetOwnerBit(record, containers_now);
  return kLineParsed;
}

}  // namespace

int ParseRecordV3(const char* line, size_t length, int user_words, int containers_now,
                  bool network, PRJ* record) {
  return ReadV3<true>(line, length, user_words, containers_now, network, record);
}

bool RecordV3Valid(const char* line, size_t length, int user_words, int containers_now, bool network) {
  return ReadV3<false>(line, length, user_words, containers_now, network, nullptr) == kLineParsed;
}

bool UnterminatedRecord(const char* tail, size_t n, size_t length, int line_end) {
  return n == length || (line_end == 2 && n == length + 1 && tail[length] == '\r');
}

bool FormatRecordV12(const PRJ& record, std::string* line) {
  std::string name(record.name, strnlen(record.name, kNameLength));
  std::string host(record.host, strnlen(record.host, kHostLength));
  if (name.find('@') != std::string::npos || host.empty() || host.find(' ') != std::string::npos)
    return false;
  if (record.number > kMaxProjectNumber || record.owner > 999) return false;
  char text[L::kV12LineLength + 1];
  const char s = L::kSeparator;
  int n = std::snprintf(text, sizeof text, "%-50.50s@%-16.16s%c%s%c%03u%c", name.c_str(), host.c_str(), s,
                        NumberText(record.number).c_str(), s, record.owner, s);
  for (int i = 0; i < L::kV12MemberBytes; ++i)
    n += std::snprintf(text + n, sizeof text - n, "%02X", record.members[i]);
  n += std::snprintf(text + n, sizeof text - n, "%c%c%c%010u%c%08X", s, record.status ? record.status : ' ', s,
                     record.dbkey, s, static_cast<uint32_t>(record.begin));
  line->assign(text, n);
  return n == L::kV12LineLength;
}

int ParseRecordV12(const char* line, size_t length, int containers_now, bool network, PRJ* record) {
  if (length != static_cast<size_t>(L::kV12LineLength)) return kLineBad;
  char text[L::kV12LineLength + 1];
  std::memcpy(text, line, L::kV12LineLength);
  text[L::kV12LineLength] = '\0';
  char name[L::kNameWidth + 1] = {}, host[L::kHostWidth + 1] = {}, number_text[16] = {};
  unsigned long owner = 0, key = 0;
  unsigned m[16] = {}, begin = 0;
  char status = ' ';
  int fields = std::sscanf(
      text,
      "%50[^@]%*1s%16s%*1s%8s%*1s%3lu%*1s%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%*1s%c%*1s%10lu%*1s%8X",
      name, host, number_text, &owner, &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7], &m[8], &m[9],
      &m[10], &m[11], &m[12], &m[13], &m[14], &m[15], &status, &key, &begin);
  uint32_t number = 0;
  if (fields != 23 || std::strlen(number_text) != 8 || !ParseNumberText(number_text, &number)) return kLineBad;
  *record = PRJ{};
  SetPrjName(record, name);
  record->number = number;
  record->status = static_cast<unsigned char>(status);
  record->dbkey = static_cast<uint32_t>(key);
  record->begin = static_cast<int32_t>(begin);
  if (!network) {
    SetLocal(record);
    return kLineParsed;
  }
  SetPrjHost(record, host);
  record->owner = static_cast<uint32_t>(owner);
  int bytes = 4 * std::min(containers_now, 4);
  for (int i = 0; i < bytes; ++i) record->members[i] = static_cast<unsigned char>(m[i]);
  SetOwnerBit(record, containers_now);
  return kLineParsed;
}

}  // namespace dovrane::extlib
