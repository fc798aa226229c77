#include "app/project_json.h"

#include <strings.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <nlohmann/json.hpp>

#include "app/project_error.h"
#include "extlib/messages.h"
#include "extlib/operation_context.h"
#include "extlib/project_paths.h"
#include "extlib/project_scan.h"
#include "extlib/project_table.h"
#include "extlib/users.h"
#include "platform/terminal.h"
#include "platform/text_codec.h"

namespace dovrane::app {

namespace {

std::string Utf8(const std::string& cp1252) { return platform::Cp1252ToUtf8(cp1252); }

// The terminal takes Windows-1252 and writes UTF-8: the JSON's UTF-8 goes
// back first (every character in it came from Windows-1252 text).
void WriteOut(const std::string& utf8) {
  std::string cp;
  if (!platform::Utf8ToCp1252(utf8, &cp)) cp = utf8;
  platform::Terminal::WriteOut(cp);
}

// The user table is looked up once per user, not once per record: a list of
// 100,000 projects names the same few hundred users again and again.
class UserNames {
 public:
  const std::string& Name(uint32_t index) {
    auto [it, added] = names_.try_emplace(index);
    if (added && extlib::lzugnaC(index, &it->second) != 0) it->second.clear();  // unknown: no name
    return it->second;
  }
  uint32_t Count() {
    if (count_ == 0) count_ = 32u * static_cast<uint32_t>(extlib::lzuGetCountOfUserContainers());
    return count_;
  }

 private:
  std::unordered_map<uint32_t, std::string> names_;
  uint32_t count_ = 0;
};

nlohmann::ordered_json RecordObject(const extlib::PRJ& record, UserNames& users) {
  const unsigned char flags = extlib::StatusFlags(record.status);
  nlohmann::ordered_json o;
  o["name"] = Utf8(extlib::TrimmedName(record.name));
  o["number"] = record.number;
  o["number_text"] = extlib::NumberText(record.number);
  o["host"] = Utf8(record.host);
  o["status"] = flags;
  o["checked_out"] = (flags & (extlib::kStatusProjectOut | extlib::kStatusHostOut)) != 0;
  o["link"] = (flags & extlib::kStatusLink) != 0;
  o["version"] = record.version;
  o["dbkey"] = record.dbkey;
  o["begin"] = record.begin;
  o["owner"] = record.owner != 0 ? Utf8(users.Name(record.owner)) : std::string();
  nlohmann::ordered_json members = nlohmann::ordered_json::array();
  const uint32_t count = users.Count();
  for (uint32_t i = 1; i <= count; ++i) {
    if (i == record.owner || !extlib::MemberBit(record, i)) continue;
    if (const std::string& name = users.Name(i); !name.empty()) members.push_back(Utf8(name));
  }
  o["members"] = members;
  return o;
}

}  // namespace

std::string RecordJson(const extlib::PRJ& record) {
  UserNames users;
  return RecordObject(record, users).dump();
}

int RunQueryAsJson(const std::string& option, const CommandArgs& args) {
  extlib::PRJ record;
  int rc;
  std::string dir;
  {
    extlib::LibraryMessagesOff quiet;  // the answer is the JSON, not a box
    rc = extlib::ScanProjectInfo(args.padded_name, &record);
    if (rc == 0 && extlib::make_prj_dir(record, &dir) != 0) dir.clear();
  }
  nlohmann::ordered_json o;
  if (rc != 0) {
    o["name"] = Utf8(extlib::TrimmedName(args.padded_name.c_str()));
    o["result"] = rc;
    std::string text = ProjectErrorText(rc);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    o["error"] = Utf8(text);
  } else {
    UserNames users;
    o = RecordObject(record, users);
    o["path"] = Utf8(dir);
    o["result"] = 0;
  }
  (void)option;  // every query answers with the whole record
  WriteOut(o.dump() + "\n");
  return rc;
}

namespace {

// Copies plain ASCII text to p and returns its end; nullptr when the text has
// a Windows-1252 character beyond ASCII (the slow way converts it).
char* PutAscii(char* p, const char* text, size_t size) {
  // Eight bytes at a time: any high bit is a character beyond ASCII.
  size_t i = 0;
  for (uint64_t word; i + 8 <= size; i += 8) {
    std::memcpy(&word, text + i, 8);
    if (word & 0x8080808080808080ull) return nullptr;
  }
  for (; i < size; ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return nullptr;
  }
  std::memcpy(p, text, size);
  return p + size;
}

char* PutNumber(char* p, unsigned value) {
  *p++ = '\t';
  return std::to_chars(p, p + 10, value).ptr;
}

// The list's line appended to out in UTF-8. Built in one buffer and appended
// once: a list writes 100,000 of them.
void AppendListLine(const extlib::PRJ& record, std::string* out) {
  const size_t name = extlib::TrimmedLength(record.name, strnlen(record.name, extlib::kNameLength));
  const size_t host = strnlen(record.host, sizeof record.host);
  char line[extlib::kNameLength + 1 + extlib::kNumberTextLength + 1 + extlib::kHostLength + 3 * 11 + 1];
  char* p = PutAscii(line, record.name, name);
  if (!p) {
    platform::AppendCp1252AsUtf8(record.name, name, out);
    p = line;
  }
  *p++ = '\t';
  if (extlib::PutNumberText(record.number, p)) p += extlib::kNumberTextLength;
  *p++ = '\t';
  if (char* end = PutAscii(p, record.host, host)) {
    p = end;
  } else {
    out->append(line, p);
    platform::AppendCp1252AsUtf8(record.host, host, out);
    p = line;
  }
  p = PutNumber(p, extlib::StatusFlags(record.status));
  p = PutNumber(p, record.version);
  p = PutNumber(p, record.dbkey);
  *p++ = '\n';
  out->append(line, p);
}

}  // namespace

std::string ListLine(const extlib::PRJ& record) {
  std::string line;
  AppendListLine(record, &line);
  return line;
}

int ListProjects(const LongOptions& options) {
  // The records go straight from the file into the lines: no table of them
  // is kept (its memory, not the parse, was most of a list's time).
  std::string out;
  UserNames users;
  const int rc = extlib::ProjectTable::Default().Walk(
      [&out](int64_t file_size) {
        out.clear();
        // A line is about a third of its record: room reserved is only
        // touched as far as the lines need it.
        out.reserve(static_cast<size_t>(file_size / 2) + 4096);
      },
      [&](const extlib::PRJ& record) {
        if (options.has_host && strcasecmp(record.host, options.host.c_str()) != 0) return;
        if (options.json) {
          out += RecordObject(record, users).dump();  // UTF-8 already
          out += '\n';
        } else {
          AppendListLine(record, &out);
        }
      });
  if (rc != 0) return rc;
  platform::Terminal::WriteOutUtf8(out);
  return 0;
}

}  // namespace dovrane::app
