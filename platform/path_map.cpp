#include "platform/path_map.h"

#include <cctype>
#include <vector>

#include "platform/env.h"
#include "platform/text_codec.h"

namespace dovrane::platform {

namespace {

std::string StripTrailingSlashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string Utf8Name(const std::string& cp1252) { return Cp1252ToUtf8(cp1252); }

// Splits the part after the root into components, dropping empty ones and ".".
std::vector<std::string> Components(const std::string& rest) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : rest) {
    if (c == '\\' || c == '/') {
      if (!cur.empty() && cur != ".") out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty() && cur != ".") out.push_back(cur);
  return out;
}

bool PathEqualsIgnoreCase(const std::string& utf8_a, const std::string& utf8_b) {
  std::string a, b;
  if (!Utf8ToCp1252(utf8_a, &a) || !Utf8ToCp1252(utf8_b, &b)) return utf8_a == utf8_b;
  return EqualsIgnoreCaseCp1252(a, b);
}

}  // namespace

PathMap& PathMap::Instance() {
  static PathMap map = [] {
    PathMap m;
    std::string root = CurrentEnv()->GetEnv("DOVRANE_UNC_ROOT");
    if (!root.empty()) m.SetUncRoot(root);
    return m;
  }();
  return map;
}

void PathMap::SetUncRoot(const std::string& native_root) { unc_root_ = StripTrailingSlashes(native_root); }

void PathMap::SetDriveFolder(char letter, const std::string& native_folder) {
  char l = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (native_folder.empty())
    drives_.erase(l);
  else
    drives_[l] = StripTrailingSlashes(native_folder);
}

std::string PathMap::DriveFolder(char letter) const {
  auto it = drives_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  return it == drives_.end() ? "" : it->second;
}

bool IsUncPath(const std::string& path) {
  return path.size() > 2 && path[0] == '\\' && path[1] == '\\';
}

bool IsDrivePath(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::string PathMap::ToNativeLexical(const std::string& path) const {
  std::string base, rest;
  if (IsUncPath(path)) {
    base = unc_root_;
    rest = path.substr(2);
  } else if (IsDrivePath(path)) {
    base = DriveFolder(path[0]);
    if (base.empty()) return "";
    rest = path.substr(2);
  } else if (!path.empty() && path[0] == '/') {
    return path;
  } else {
    // Relative, or rooted on the current drive: spelling only changes.
    std::string out;
    for (char c : path) out.push_back(c == '\\' ? '/' : c);
    return Utf8Name(out);
  }
  std::string out = base;
  for (const std::string& c : Components(rest)) out += "/" + Utf8Name(c);
  if (out.empty()) out = "/";
  return out;
}

std::string PathMap::ToNative(const std::string& path) const {
  std::string lexical = ToNativeLexical(path);
  if (lexical.empty()) return lexical;
  Env* env = CurrentEnv();
  FileInfo info;
  if (env->Stat(lexical, &info, false) == 0) return lexical;  // exact spelling exists: one call

  // Resolve component by component below the fixed root part.
  std::string resolved;
  std::string rest;
  if (lexical[0] == '/') {
    resolved = "";
    rest = lexical.substr(1);
  } else {
    resolved = ".";
    rest = lexical;
  }
  std::vector<std::string> parts = Components(rest);
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string candidate = resolved + "/" + parts[i];
    if (env->Stat(candidate, &info, false) == 0) {
      resolved = candidate;
      continue;
    }
    std::vector<DirEntry> entries;
    std::string dir = resolved.empty() ? "/" : resolved;
    bool found = false;
    if (env->ListDir(dir, &entries) == 0) {
      for (const DirEntry& e : entries) {
        if (PathEqualsIgnoreCase(e.name, parts[i])) {
          resolved += "/" + e.name;
          found = true;
          break;
        }
      }
    }
    if (!found) {
      // The rest does not exist: keep it as written (new names are created so).
      for (size_t k = i; k < parts.size(); ++k) resolved += "/" + parts[k];
      break;
    }
  }
  if (resolved.empty()) resolved = "/";
  if (resolved.rfind("./", 0) == 0) resolved = resolved.substr(2);
  return resolved;
}

std::string PathMap::ToWindows(const std::string& path) const {
  if (path.empty() || path[0] != '/') return path;
  auto below = [&path](const std::string& root, std::string* rest) {
    if (root.empty() || path.compare(0, root.size(), root) != 0) return false;
    if (path.size() > root.size() && path[root.size()] != '/') return false;
    *rest = path.substr(root.size());
    return true;
  };
  auto to_windows_rest = [](const std::string& rest) {
    std::string out;
    for (char c : rest) out.push_back(c == '/' ? '\\' : c);
    std::string cp;
    return Utf8ToCp1252(out, &cp) ? cp : out;
  };
  std::string rest;
  if (below(unc_root_, &rest) && rest.size() > 1) return "\\" + to_windows_rest(rest);
  for (const auto& [letter, folder] : drives_) {
    if (below(folder, &rest)) {
      std::string w = to_windows_rest(rest);
      return std::string(1, letter) + ":" + (w.empty() ? "\\" : w);
    }
  }
  return path;
}

std::string NativePath(const std::string& path) { return PathMap::Instance().ToNative(path); }
std::string WindowsPath(const std::string& path) { return PathMap::Instance().ToWindows(path); }

}  // namespace dovrane::platform
