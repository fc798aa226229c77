#include "extlib/projects/attribute_cache_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "extlib/projects/checksum.h"

namespace dovrane::extlib {

namespace {
constexpr char kMagic[] = "DOVRANE-ATTRCACHE 1";

std::string Escape(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out.push_back(c);
  }
  return out;
}

bool Unescape(const std::string& text, std::string* value) {
  value->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') return false;
    if (c != '\\') {
      value->push_back(c);
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\': value->push_back('\\'); break;
      case 'n': value->push_back('\n'); break;
      case 'r': value->push_back('\r'); break;
      default: return false;
    }
  }
  return true;
}
}  // namespace

bool ValidAttributeName(const std::string& name) {
  if (name.empty() || name.size() > kMaxAttributeNameBytes) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '.' || c == '-';
  });
}

int FormatAttributeCache(const AttributeValues& values, std::string* text) {
  std::string out = std::string(kMagic) + "\n";
  for (const auto& [name, value] : values) {
    if (!ValidAttributeName(name) || value.size() > kMaxAttributeValueBytes) return -EINVAL;
    out += name + "=" + Escape(value) + "\n";
  }
  out += "END " + std::to_string(values.size()) + " " + Crc32Hex(out) + "\n";
  *text = std::move(out);
  return 0;
}

int ParseAttributeCache(const std::string& text, AttributeValues* values) {
  if (text.empty() || text.back() != '\n') return -EBADMSG;
  size_t end_line = text.rfind('\n', text.size() - 2);
  if (end_line == std::string::npos) return -EBADMSG;
  std::string_view body = std::string_view(text).substr(0, end_line + 1);
  std::string end = text.substr(end_line + 1, text.size() - end_line - 2);
  // "END <count> <check value of everything before this line>"
  size_t blank = end.find(' ', 4);
  if (end.rfind("END ", 0) != 0 || blank == std::string::npos ||
      end.substr(blank + 1) != Crc32Hex(body))
    return -EBADMSG;
  size_t count = 0;
  auto [ptr, ec] = std::from_chars(end.data() + 4, end.data() + blank, count);
  if (ec != std::errc() || ptr != end.data() + blank) return -EBADMSG;
  if (body.substr(0, sizeof kMagic) != std::string(kMagic) + "\n") return -EBADMSG;

  AttributeValues out;
  size_t pos = sizeof kMagic;  // after the header's line end
  while (pos < body.size()) {
    size_t eol = body.find('\n', pos);
    std::string line(body.substr(pos, eol - pos));
    pos = eol + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return -EBADMSG;
    std::string name = line.substr(0, eq), value;
    if (!ValidAttributeName(name) || !Unescape(line.substr(eq + 1), &value) ||
        value.size() > kMaxAttributeValueBytes || !out.emplace(name, value).second)
      return -EBADMSG;
  }
  if (out.size() != count) return -EBADMSG;
  *values = std::move(out);
  return 0;
}

}  // namespace dovrane::extlib
