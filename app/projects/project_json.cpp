#include "app/projects/project_json.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "admin/restore_update.h"
#include "app/projects/project_error.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/project_scan.h"
#include "extlib/records/project_table.h"
#include "extlib/installation/users.h"
#include "extlib/records/written_line.h"
#include "platform/bulk_buffer.h"
#include "platform/terminal.h"
#include "platform/text_codec.h"

namespace dovrane::app {

namespace {

std::string Utf8(const std::string& cp1252) { return platform::Cp1252ToUtf8(cp1252); }

// JSON escapes what it must itself: it goes out as it is.
void WriteOut(const std::string& utf8) { platform::Terminal::WriteOutUtf8(utf8); }

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

void WriteQueryFailureAsJson(const std::string& padded_name, int rc, std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  nlohmann::ordered_json o;
  o["name"] = Utf8(extlib::TrimmedName(padded_name.c_str()));
  o["result"] = rc;
  o["error"] = Utf8(text);
  WriteOut(o.dump() + "\n");
}

extlib::ProjectCode RunQueryAsJson(extlib::OperationContext& ctx, const std::string& option, const CommandArgs& args) {
  extlib::PRJ record;
  int rc;
  std::string dir;
  {
    extlib::QuietContext quiet(ctx);  // the answer is the JSON, not a box
    rc = extlib::ScanProjectInfo(quiet, args.padded_name, &record);
    if (rc == 0 && extlib::make_prj_dir(quiet, record, &dir) != 0) dir.clear();
  }
  nlohmann::ordered_json o;
  if (rc != 0) {
    WriteQueryFailureAsJson(args.padded_name, rc, ProjectErrorText(rc));
    return extlib::AsProjectCode(rc);
  } else {
    UserNames users;
    o = RecordObject(record, users);
    o["path"] = Utf8(dir);
    o["result"] = 0;
  }
  (void)option;  // every query answers with the whole record
  WriteOut(o.dump() + "\n");
  return extlib::AsProjectCode(rc);
}

namespace {

// Text in UTF-8 at p; returns the end. Plain ASCII (nearly every name) is
// copied whole, in one of three fixed sizes, which the compiler turns into
// a few vector moves: the text may be read up to the next of 16, 32 or 64
// bytes (a record line or record holds that much), and p has room for them.
[[gnu::always_inline]] inline char* PutText(char* p, const char* text, size_t size, bool ascii) {
  if (!ascii) return platform::PutCp1252AsUtf8(text, size, p);
  if (size <= 16) {
    std::memcpy(p, text, 16);
  } else if (size <= 32) {
    std::memcpy(p, text, 32);
  } else {
    std::memcpy(p, text, 64);
  }
  return p + size;
}

bool IsAscii(const char* text, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  return true;
}

char* PutNumber(char* p, unsigned value) {
  *p++ = '\t';
  return std::to_chars(p, p + 10, value).ptr;
}

// A tab and the number of 2 or 10 zero-filled digits without their leading
// zeros ("0" when all are). Reads and writes 16 bytes from where the digits
// begin: the text they come from and the line have room for that.
[[gnu::always_inline]] inline char* PutDigits(char* p, const char* digits, size_t width) {
  *p++ = '\t';
  // The zeros in front: eight digits at a time, the first digit the lowest byte.
  uint64_t word;
  std::memcpy(&word, digits, 8);
  word ^= 0x3030303030303030ull;
  size_t zeros = word == 0 ? 8 : static_cast<size_t>(__builtin_ctzll(word)) / 8;
  if (zeros == 8)
    while (zeros + 1 < width && digits[zeros] == '0') ++zeros;
  zeros = std::min(zeros, width - 1);
  std::memcpy(p, digits + zeros, 16);
  return p + width - zeros;
}

// The longest line: every character of name and host four bytes (a control
// character shown as \xHH). Past its end, room for the last number's whole
// 16-byte copy.
constexpr size_t kMaxListLine =
    4 * extlib::kNameLength + 1 + extlib::kNumberTextLength + 1 + 4 * extlib::kHostLength + 3 * 11 + 1 + 16;

// One line of the list at p (room for kMaxListLine); returns its end.
char* PutListLine(char* p, const extlib::WrittenFields& f) {
  p = PutText(p, f.name, f.name_length, f.name_ascii);
  *p++ = '\t';
  if (f.number) {
    std::memcpy(p, f.number, extlib::kNumberTextLength);
    p += extlib::kNumberTextLength;
  }
  *p++ = '\t';
  p = PutText(p, f.host, f.host_length, f.host_ascii);
  p = PutNumber(p, extlib::StatusFlags(f.status));
  p = PutDigits(p, f.version, 2);
  p = PutDigits(p, f.key, 10);
  *p++ = '\n';
  return p;
}

// Room for the text of the numbers the list shows of a parsed record, and
// for a name or host whose control characters are shown.
struct ListNumbers {
  char number[extlib::kNumberTextLength];
  char version[2];
  char key[10];
  char room[16];  // PutDigits reads 16 bytes from the digits
  std::string name, host;
};

// A field of the list never holds a TAB or a line end, nor anything that
// steers a terminal: such characters are shown (\t, \xHH), in *shown.
void ShowControls(const char** text, size_t* size, bool* ascii, std::string* shown) {
  const std::string_view field(*text, *size);
  if (std::none_of(field.begin(), field.end(), [](char c) { return platform::IsControlCp1252(static_cast<unsigned char>(c)); }))
    return;
  *shown = platform::ShowControlsCp1252(field, false);
  *text = shown->data();
  *size = shown->size();
  *ascii = false;  // the general writer: any length, nothing read past the end
}

// The fields the list shows of a parsed record.
extlib::WrittenFields ListFields(const extlib::PRJ& record, ListNumbers* text) {
  extlib::WrittenFields f;
  f.name = record.name;
  f.name_length = extlib::TrimmedLength(record.name, strnlen(record.name, extlib::kNameLength));
  f.name_ascii = IsAscii(f.name, f.name_length);
  f.number = extlib::PutNumberText(record.number, text->number) ? text->number : nullptr;  // none beyond the largest
  f.host = record.host;
  f.host_length = strnlen(record.host, sizeof record.host);
  f.host_ascii = IsAscii(f.host, f.host_length);
  ShowControls(&f.name, &f.name_length, &f.name_ascii, &text->name);
  ShowControls(&f.host, &f.host_length, &f.host_ascii, &text->host);
  f.status = record.status;
  // A stored version has two digits (the writer refuses more).
  text->version[0] = static_cast<char>('0' + record.version / 10 % 10);
  text->version[1] = static_cast<char>('0' + record.version % 10);
  uint32_t key = record.dbkey;
  for (int i = 9; i >= 0; --i, key /= 10) text->key[i] = static_cast<char>('0' + key % 10);
  f.version = text->version;
  f.key = text->key;
  return f;
}

void AppendListLine(const extlib::WrittenFields& f, platform::BulkBuffer* out) {
  out->Reserve(kMaxListLine);
  out->Grow(static_cast<size_t>(PutListLine(out->end(), f) - out->end()));
}

// One listing thread's lines.
struct Lines {
  platform::BulkBuffer text;
  std::vector<std::pair<long, size_t>> pieces;  // first slot, where its lines begin
};

// Every piece's lines, in the order of the file.
std::vector<std::string_view> InFileOrder(const std::vector<Lines>& out) {
  struct Piece {
    long first_slot;
    std::string_view lines;
  };
  std::vector<Piece> pieces;
  for (const Lines& lines : out) {
    const std::string_view text = lines.text.view();
    for (size_t i = 0; i < lines.pieces.size(); ++i) {
      const size_t end = i + 1 < lines.pieces.size() ? lines.pieces[i + 1].second : text.size();
      pieces.push_back({lines.pieces[i].first, text.substr(lines.pieces[i].second, end - lines.pieces[i].second)});
    }
  }
  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.first_slot < b.first_slot; });
  std::vector<std::string_view> text;
  text.reserve(pieces.size());
  for (const Piece& piece : pieces) text.push_back(piece.lines);
  return text;
}

}  // namespace

std::string ListLine(const extlib::PRJ& record) {
  ListNumbers numbers;
  char line[kMaxListLine];
  return std::string(line, PutListLine(line, ListFields(record, &numbers)));
}

std::string WrittenListLine(const extlib::WrittenFields& fields) {
  char text[kMaxListLine];
  return std::string(text, PutListLine(text, fields));
}

extlib::ProjectCode ListProjects(extlib::OperationContext& ctx, const LongOptions& options) {
  // The records go straight from the file into the lines: no table of them
  // is kept (its memory, not the parse, was most of a list's time). A large
  // file is read by two threads, each into its own lines, noting where each
  // piece of the file begins there; the pieces are then written in file
  // order. The JSON list reads with one (its user names are looked up as it
  // goes).
  // Half an administration listed as a whole one would mislead a script;
  // looked at again before anything is written, for a rebuild begun meanwhile.
  if (admin::RebuildPending(ctx)) return extlib::AsProjectCode(admin::ReportRebuildPending(ctx));
  const int threads = options.json ? 1 : 2;
  std::vector<Lines> out(static_cast<size_t>(threads));
  UserNames users;
  auto on_host = [&options](const char* host, size_t length) {
    return !options.has_host || (length == options.host.size() && strncasecmp(host, options.host.c_str(), length) == 0);
  };
  const int rc = ctx.installation().Projects().Walk(ctx, 
      threads,
      [&out, threads](int64_t file_size) {
        for (Lines& lines : out) {
          lines.text.Clear();
          lines.pieces.clear();
          // A line is about a third of its record: room reserved is only
          // touched as far as the lines need it.
          lines.text.Reserve(static_cast<size_t>(file_size / 2 / threads) + 4096);
        }
      },
      [&out](long first_slot, int thread) {
        Lines& lines = out[static_cast<size_t>(thread)];
        lines.pieces.emplace_back(first_slot, lines.text.view().size());
      },
      [&](const extlib::PRJ& record, int thread) {
        if (!on_host(record.host, strnlen(record.host, sizeof record.host))) return;
        platform::BulkBuffer& text = out[static_cast<size_t>(thread)].text;
        if (options.json) {
          std::string object = RecordObject(record, users).dump();  // UTF-8 already
          object += '\n';
          text.Reserve(object.size());
          std::memcpy(text.end(), object.data(), object.size());
          text.Grow(object.size());
        } else {
          ListNumbers numbers;
          AppendListLine(ListFields(record, &numbers), &text);
        }
      },
      // JSON shows every field: only the tab-separated list takes lines unparsed.
      options.json ? std::function<void(const extlib::WrittenFields*, size_t, int)>()
                   : [&](const extlib::WrittenFields* fields, size_t count, int thread) {
                       platform::BulkBuffer& text = out[static_cast<size_t>(thread)].text;
                       text.Reserve(count * kMaxListLine);
                       char* p = text.end();
                       for (size_t i = 0; i < count; ++i)
                         if (on_host(fields[i].host, fields[i].host_length)) p = PutListLine(p, fields[i]);
                       text.Grow(static_cast<size_t>(p - text.end()));
                     });
  if (rc != 0) return extlib::AsProjectCode(rc);
  if (admin::RebuildPending(ctx)) return extlib::AsProjectCode(admin::ReportRebuildPending(ctx));
  platform::Terminal::WriteOutUtf8(InFileOrder(out));
  return extlib::kPrjOk;
}

}  // namespace dovrane::app
