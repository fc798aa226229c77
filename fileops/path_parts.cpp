#include "fileops/path_parts.h"

#include "platform/path_map.h"

namespace dovrane::fileops {

namespace {
bool IsSeparator(char c, bool windows) { return c == '/' || (windows && c == '\\'); }
}  // namespace

bool IsWindowsForm(const std::string& path) {
  return platform::IsUncPath(path) || platform::IsDrivePath(path) ||
         path.find('\\') != std::string::npos;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  const char sep = IsWindowsForm(dir) ? '\\' : '/';
  if (!dir.empty() && (dir.back() == sep || dir.back() == '/')) return dir + name;
  return dir + sep + name;
}

std::string ParentPath(const std::string& path) {
  const bool windows = IsWindowsForm(path);
  for (size_t i = path.size(); i-- > 0;)
    if (IsSeparator(path[i], windows)) return path.substr(0, i);
  return "";
}

std::vector<std::string> DirectoryChain(const std::string& dir, size_t* fixed) {
  const bool windows = IsWindowsForm(dir);
  const char sep = windows ? '\\' : '/';
  std::vector<std::string> chain;
  std::string prefix;
  size_t pos = 0;
  *fixed = 0;
  if (platform::IsUncPath(dir)) {
    prefix = "\\\\";
    pos = 2;
    *fixed = 2;
  } else if (platform::IsDrivePath(dir)) {
    prefix = dir.substr(0, 2);
    pos = 2;
    chain.push_back(prefix);
    *fixed = 1;
  } else if (!dir.empty() && IsSeparator(dir[0], windows)) {
    prefix = std::string(1, dir[0]);
    pos = 1;
  }
  while (pos < dir.size()) {
    size_t end = pos;
    while (end < dir.size() && !IsSeparator(dir[end], windows)) ++end;
    if (end > pos) {
      std::string component = dir.substr(pos, end - pos);
      // No separator after the leading "\\\\" or the root.
      bool bare = prefix.empty() || prefix == "\\\\" || (prefix.size() == 1 && IsSeparator(prefix[0], windows));
      prefix = bare ? prefix + component : prefix + sep + component;
      chain.push_back(prefix);
    }
    pos = end + 1;
  }
  if (*fixed > chain.size()) *fixed = chain.size();
  return chain;
}

}  // namespace dovrane::fileops
