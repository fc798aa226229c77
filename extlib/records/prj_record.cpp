#include "extlib/records/prj_record.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace dovrane::extlib {

void SetPrjName(PRJ* record, const std::string& text) {
  std::string padded = PadName(text);
  std::memcpy(record->name, padded.data(), kNameLength);
  record->name[kNameLength] = '\0';
}

void SetPrjHost(PRJ* record, const std::string& text) {
  std::memset(record->host, 0, sizeof record->host);
  std::memcpy(record->host, text.data(), std::min<size_t>(text.size(), kHostLength));
}

size_t TrimmedLength(const char* text, size_t size) {
  // Eight blanks at a time: a padded name is mostly blanks.
  constexpr uint64_t kBlanks = 0x2020202020202020ull;
  uint64_t word;
  while (size >= 8 && (std::memcpy(&word, text + size - 8, 8), word == kBlanks)) size -= 8;
  while (size > 0 && text[size - 1] == ' ') --size;
  return size;
}

std::string TrimmedName(const char* padded) {
  return std::string(padded, TrimmedLength(padded, strnlen(padded, kNameLength)));
}

std::string PadName(const std::string& text) {
  std::string s = text.substr(0, std::min<size_t>(text.size(), kNameLength));
  s.resize(kNameLength, ' ');
  return s;
}

bool IsDeleted(const PRJ& record) { return record.name[0] == kDeletedMark; }

bool MemberBit(const PRJ& record, uint32_t user) {
  if (user == 0 || user > 32u * kMaxUserContainers) return false;
  return (record.members[(user - 1) / 8] >> ((user - 1) % 8)) & 1;
}

void SetMemberBit(PRJ* record, uint32_t user, bool on) {
  if (user == 0 || user > 32u * kMaxUserContainers) return;
  unsigned char bit = static_cast<unsigned char>(1u << ((user - 1) % 8));
  if (on)
    record->members[(user - 1) / 8] |= bit;
  else
    record->members[(user - 1) / 8] &= static_cast<unsigned char>(~bit);
}

bool PutNumberText(uint32_t number, char* out) {
  if (number > kMaxProjectNumber) return false;
  // Written digit by digit: a list formats every record's number.
  out[0] = 'n';
  for (int i = 7; i >= 1; --i, number /= 10) out[i] = static_cast<char>('0' + number % 10);
  return true;
}

std::string NumberText(uint32_t number) {
  char text[kNumberTextLength];
  return PutNumberText(number, text) ? std::string(text, sizeof text) : std::string();
}

bool ParseNumberText(const std::string& text, uint32_t* number) {
  return ParseNumberText(text.data(), text.size(), number);
}

bool ParseNumberText(const char* text, size_t size, uint32_t* number) {
  if (size != 8 || (text[0] != 'n' && text[0] != 'N')) return false;
  uint32_t value = 0;
  for (size_t i = 1; i < 8; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  *number = value;
  return true;
}

uint32_t NullRecordHighest(const NullRecord& null_record) {
  uint32_t number = 0;
  std::string text(null_record.highest, strnlen(null_record.highest, sizeof null_record.highest));
  return ParseNumberText(text, &number) ? number : 0;
}

void SetNullRecordHighest(NullRecord* null_record, uint32_t number) {
  std::memset(null_record->highest, 0, sizeof null_record->highest);
  std::string text = NumberText(number);
  std::memcpy(null_record->highest, text.data(), text.size());
}

bool IsValidProjectName(const std::string& name) {
  std::string s = name;
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty() || s.size() > kNameLength || s[0] == '#' || s[0] == ' ') return false;
  if (s.find("..") != std::string::npos) return false;
  for (unsigned char c : s) {
    if (c < 32 || c == 127) return false;
    if (std::strchr("@%\\/:*?\"<>|", c) && c != 0) return false;
  }
  return true;
}

std::string SafeProjectName(const std::string& name) {
  std::string s = name.substr(0, std::min<size_t>(name.size(), kNameLength));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty()) return "";
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const bool dots = c == '.' && ((i > 0 && name[i - 1] == '.') || (i + 1 < name.size() && name[i + 1] == '.'));
    if (c < 32 || c == 127 || std::strchr("@%\\/:*?\"<>|", c) || dots) s[i] = '_';
  }
  if (s[0] == '#' || s[0] == ' ') s[0] = '_';
  return s;
}

unsigned char StatusCharacter(unsigned char flags) {
  return static_cast<unsigned char>(kStatusBlank + (flags & kStatusKnownBits));
}

bool IsValidHostName(const std::string& host) {
  if (host.empty() || host.size() > kHostLength || host == "." || host == "..") return false;
  for (unsigned char c : host)
    if (!(std::isalnum(c) || c == '-' || c == '_' || c == '.')) return false;
  return true;
}

}  // namespace dovrane::extlib
