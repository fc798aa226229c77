// Windows file attributes on Linux: read-only is the absence of write bits,
// hidden is kept (best effort) in the DOS attribute extended attribute that
// Samba uses, normal clears both.
#pragma once

#include <string>

namespace dovrane::platform {

inline constexpr unsigned kAttrReadOnly = 0x01;
inline constexpr unsigned kAttrHidden = 0x02;
inline constexpr unsigned kAttrDirectory = 0x10;
inline constexpr unsigned kAttrNormal = 0x80;

// The attributes of the file at native path, or -errno.
int GetFileAttributes(const std::string& path, unsigned* attributes);
// Sets exactly the given attributes (kAttrNormal: none). Read-only clears the
// write bits, its absence gives the owner write permission back. A file system
// without extended attributes loses only the hidden mark. A symbolic link is
// left as it is (-ELOOP), never what it points to. 0 or -errno.
int SetFileAttributes(const std::string& path, unsigned attributes);

}  // namespace dovrane::platform
