#include "extlib/record_line.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "extlib/record_layout.h"

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
  if (n < 11) return -1;
  char text[12] = {};
  std::memcpy(text, bytes, 11);
  header->version = 0;
  if (std::sscanf(text, "%2d", &header->version) != 1) return -1;
  header->line_end = std::memchr(bytes, '\r', std::min<size_t>(n, 12)) ? 2 : 1;
  if (header->version < 1 || header->version > 3) return -1;
  text[L::kHeaderText] = '\0';
  unsigned number = 0;
  char tail = 0;
  std::string field(text + L::kHeaderNumber, L::kHeaderNumberWidth);
  if (std::sscanf(field.c_str(), "n%u%c", &number, &tail) != 1 || number > kMaxProjectNumber) {
    header->highest = 0;
    return -1;
  }
  header->highest = number;
  return 0;
}

bool FormatRecordV3(const PRJ& record, int containers, std::string* line) {
  std::string name(record.name, strnlen(record.name, kNameLength));
  std::string host(record.host, strnlen(record.host, kHostLength));
  if (name.find('@') != std::string::npos || host.find('@') != std::string::npos) return false;
  if (record.number > kMaxProjectNumber || record.owner > 999 || record.version > 99) return false;
  if (containers < 0 || containers > kMaxUserContainers) return false;
  char text[L::kV3Members + L::kV3ContainerWidth * kMaxUserContainers + 1];
  const char s = L::kSeparator;
  int n = std::snprintf(text, sizeof text, "%-50.50s@%s%c%02u%c%c%c%010u%c%08X", name.c_str(),
                        NumberText(record.number).c_str(), s, record.version, s,
                        record.status ? record.status : ' ', s, record.dbkey, s,
                        static_cast<uint32_t>(record.begin));
  if (n != L::kV3ShortLength) return false;
  if (containers > 0) {
    n += std::snprintf(text + n, sizeof text - n, "%c%-16.16s@%03u%c", s, host.c_str(), record.owner, s);
    for (int i = 0; i < 4 * containers; ++i)
      n += std::snprintf(text + n, sizeof text - n, "%02X", record.members[i]);
  }
  line->assign(text, n);
  return n == L::V3LineLength(containers);
}

int ParseRecordV3(const char* line, size_t length, int user_words, int containers_now,
                  bool network, PRJ* record) {
  if (length != static_cast<size_t>(L::V3LineLength(user_words))) return -1;
  char head[L::kV3ShortLength + 1];
  std::memcpy(head, line, L::kV3ShortLength);
  head[L::kV3ShortLength] = '\0';
  char name[L::kNameWidth + 1] = {};
  char number_text[16] = {};
  unsigned long version = 0, key = 0;
  unsigned begin = 0;
  char status = ' ';
  int fields = std::sscanf(head, "%50[^@]%*1s%8s%*1s%2lu%*1s%c%*1s%10lu%*1s%8X", name, number_text,
                           &version, &status, &key, &begin);
  uint32_t number = 0;
  if (fields != 6 || !ParseNumberText(number_text, &number) || number > kMaxProjectNumber ||
      line[L::kV3NameEnd] != '@')
    return -1;
  *record = PRJ{};
  SetPrjName(record, name);
  record->number = number;
  record->version = static_cast<unsigned char>(version);
  record->status = static_cast<unsigned char>(status);
  record->dbkey = static_cast<uint32_t>(key);
  record->begin = static_cast<int32_t>(begin);
  if (!network || user_words == 0) {
    SetLocal(record);
    return 0;
  }
  std::string rest(line + L::kV3Host, length - L::kV3Host);
  char host[L::kHostWidth + 1] = {};
  unsigned long owner = 0;
  if (std::sscanf(rest.c_str(), "%16[^@]%*1s%3lu", host, &owner) != 2 || line[L::kV3HostEnd] != '@')
    return -1;
  std::string h = host;
  while (!h.empty() && h.back() == ' ') h.pop_back();
  SetPrjHost(record, h);
  record->owner = static_cast<uint32_t>(owner);
  int bytes = 4 * std::min(user_words, containers_now);
  for (int i = 0; i < bytes; ++i) {
    char pair[3] = {line[L::kV3Members + 2 * i], line[L::kV3Members + 2 * i + 1], 0};
    unsigned value = 0;
    if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
        !std::isxdigit(static_cast<unsigned char>(pair[1])) || std::sscanf(pair, "%2X", &value) != 1)
      return -1;
    record->members[i] = static_cast<unsigned char>(value);
  }
  SetOwnerBit(record, containers_now);
  return 0;
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
  if (length != static_cast<size_t>(L::kV12LineLength)) return -1;
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
  if (fields != 23 || std::strlen(number_text) != 8 || !ParseNumberText(number_text, &number)) return -1;
  *record = PRJ{};
  SetPrjName(record, name);
  record->number = number;
  record->status = static_cast<unsigned char>(status);
  record->dbkey = static_cast<uint32_t>(key);
  record->begin = static_cast<int32_t>(begin);
  if (!network) {
    SetLocal(record);
    return 0;
  }
  SetPrjHost(record, host);
  record->owner = static_cast<uint32_t>(owner);
  int bytes = 4 * std::min(containers_now, 4);
  for (int i = 0; i < bytes; ++i) record->members[i] = static_cast<unsigned char>(m[i]);
  SetOwnerBit(record, containers_now);
  return 0;
}

}  // namespace dovrane::extlib
