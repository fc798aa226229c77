// Windows-style paths, as the system keeps them in memory and in every stored
// file, mapped to native paths at the file-system boundary:
//   \\HOST\share\rest  ->  <UNC root>/HOST/share/rest, else where the system has
//                        the share mounted (CIFS, GVfs: platform/share_mounts.h)
//   X:\rest            ->  <folder the settings map X: to>/rest
// Each component is matched case-insensitively when the exact name does not
// exist, as an SMB server does; names that do not exist yet keep their spelling.
// Native names are UTF-8; the Windows form is Windows-1252.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/share_mounts.h"

namespace dovrane::platform {

// Where a share \\HOST\share was found.
enum class ShareFound { kUncRoot, kCifs, kGvfs, kFuse, kNowhere };

struct ShareLocation {
  ShareFound how = ShareFound::kNowhere;
  // The share's native folder; for kNowhere the folder the UNC root would have.
  std::string folder;
};

class PathMap {
 public:
  PathMap();
  ~PathMap();
  PathMap(PathMap&&) noexcept;
  PathMap& operator=(PathMap&&) noexcept;

  // The process-wide map, configured at start from DOVRANE_UNC_ROOT and the
  // settings: the process default installation's. Everything below the mains
  // reaches a map through its installation (OperationContext::Native).
  static PathMap& Instance();

  // Forgets where shares were found.
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
  // A native path below a share's mount point is \\HOST\share\... too.
  std::string ToWindows(const std::string& path) const;

  // Where \\host\share (Windows-1252) is: the UNC root's folder for it (the
  // exact name, else one that differs in letter case only) wins; else a
  // mount of the share (names without regard to case; a mount that names an
  // address matches a host whose address it is). Decided once per share and
  // kept; a share found nowhere is looked for again after two seconds.
  // Safe from any thread.
  ShareLocation LocateShare(const std::string& host, const std::string& share) const;
  // A fixed mount table instead of the system's (tests); forgets decisions.
  void SetShareMounts(std::vector<ShareMount> mounts);
  // The system's mount table again (SystemShareMounts); forgets decisions.
  void UseSystemShareMounts();

 private:
  struct Shares;
  ShareLocation Decide(const std::string& host, const std::string& share) const;

  std::string unc_root_ = "/net";
  std::map<char, std::string> drives_;
  std::unique_ptr<Shares> shares_;
};

// How a share was found, for people: "UNC root", "CIFS mount", "GVfs", "FUSE mount", "not found".
const char* ShareFoundName(ShareFound how);

// For a message about a path that cannot be reached: true when it lies on a
// share found nowhere, with the share ("\\HOST\share"), the UNC root and the
// commands that would mount it, one a line (all Windows-1252). The message's
// words are the caller's (they are in the user's language).
struct ShareNowhere {
  std::string share;
  std::string root;
  std::vector<std::string> commands;
};
bool FindShareNowhere(const PathMap& map, const std::string& windows_path, ShareNowhere* nowhere);

bool IsUncPath(const std::string& path);
bool IsDrivePath(const std::string& path);

}  // namespace dovrane::platform
