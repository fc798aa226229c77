// Acting in a shared folder without following symbolic links. Anyone who may
// write a share may leave a link where a file or folder is expected; the
// administrator's program must not create, write or remove through it. Names
// are taken relative to an open folder (openat, unlinkat), so a name swapped
// for a link between a look and the act is refused by the act itself.
#pragma once

#include <string>

namespace dovrane::platform {

// Deeper folders are not removed by RemoveTreeAt: a hostile nesting must not
// exhaust the stack, and nothing the program writes is nested.
inline constexpr int kMaxRemovalDepth = 8;

// Opens the real folder name in dirfd (AT_FDCWD and a path: only its last
// part is checked) for reading. A link there gives -ELOOP, anything else that
// is no folder -ENOTDIR. The descriptor or -errno.
int OpenFolderNoFollow(int dirfd, const std::string& name);

// The absolute path of the folder open as fd with every link resolved, for a
// library that opens by name (the attribute database): the links up to that
// folder were followed on purpose when it was opened. 0 or -errno.
int FolderPathOf(int fd, std::string* path);

// Whether the last part of the native path is a symbolic link; *target (may
// be null) receives the text it holds.
bool IsSymbolicLink(const std::string& path, std::string* target = nullptr);

// Removes the real folder name in dirfd with everything in it; a link inside
// is removed itself, never followed. A link or file at name is left alone
// (-ELOOP, -ENOTDIR), and so is what lies deeper than kMaxRemovalDepth (the
// folders above it stay, -ENOTEMPTY). 0 or the first -errno.
int RemoveTreeAt(int dirfd, const std::string& name);

}  // namespace dovrane::platform
