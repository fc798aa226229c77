#include "fileops/wildcard.h"

#include "platform/text_codec.h"

namespace dovrane::fileops {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Iterative glob with one backtrack point: linear in practice, never exponential.
bool Glob(const std::string& p, const std::string& s) {
  size_t pi = 0, si = 0, star = std::string::npos, mark = 0;
  while (si < s.size()) {
    if (pi < p.size() && (p[pi] == '?' || Lower(p[pi]) == Lower(s[si]))) {
      if (p[pi] == '?') {
        // "?" is one character: skip a whole UTF-8 sequence.
        ++si;
        while (si < s.size() && (static_cast<unsigned char>(s[si]) & 0xC0) == 0x80) ++si;
      } else {
        ++si;
      }
      ++pi;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = si;
    } else if (star != std::string::npos) {
      pi = star + 1;
      si = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

bool MatchesWildcard(const std::string& pattern, const std::string& name) {
  const std::string p = platform::Cp1252ToUtf8(pattern);
  if (p == "*" || p == "*.*") return true;
  if (Glob(p, name)) return true;
  if (p.size() >= 2 && p.compare(p.size() - 2, 2, ".*") == 0 && name.find('.') == std::string::npos)
    return Glob(p.substr(0, p.size() - 2), name);
  return false;
}

}  // namespace dovrane::fileops
