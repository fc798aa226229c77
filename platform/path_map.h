// Windows-style paths, as the system keeps them in memory and in every stored
// file, mapped to native paths at the file-system boundary:
//   \\HOST\share\rest  ->  <UNC root>/HOST/share/rest
//   X:\rest            ->  <folder the settings map X: to>/rest
// Each component is matched case-insensitively when the exact name does not
// exist, as an SMB server does; names that do not exist yet keep their spelling.
// Native names are UTF-8; the Windows form is Windows-1252.
#pragma once

#include <map>
#include <string>

namespace dovrane::platform {

class PathMap {
 public:
  // The process-wide map, configured at start from DOVRANE_UNC_ROOT and the settings.
  static PathMap& Instance();

  void SetUncRoot(const std::string& native_root);
  const std::string& UncRoot() const { return unc_root_; }
  // letter 'A'..'Z'; an empty folder removes the mapping.
  void SetDriveFolder(char letter, const std::string& native_folder);
  std::string DriveFolder(char letter) const;

  // Windows form (or a native path, which passes unchanged) to the native path
  // that exists, resolving letter case per component. An unmapped drive gives "".
  std::string ToNative(const std::string& path) const;
  // The spelling only, without looking at the disk.
  std::string ToNativeLexical(const std::string& path) const;
  // A native path below the UNC root or a mapped drive folder in its Windows
  // form; a Windows form stays as it is; any other path is returned unchanged.
  std::string ToWindows(const std::string& path) const;

 private:
  std::string unc_root_ = "/net";
  std::map<char, std::string> drives_;
};

// Convenience wrappers over PathMap::Instance().
std::string NativePath(const std::string& path);
std::string WindowsPath(const std::string& path);

bool IsUncPath(const std::string& path);
bool IsDrivePath(const std::string& path);

}  // namespace dovrane::platform
