// Files and folders named by a path slot and a name: the library's way of
// reaching the administration folder (slot 23), the project folders under
// work (18, 19) and any folder a caller puts into a slot. Paths are Windows
// form; they are mapped to native paths here, at the boundary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::extlib {

class Installation;

// The Windows path of name in slot (slot path + name) into *path. 0 when the
// file or folder exists; -2 when it does not (the path is still given); -1 for
// an unset slot or a name that climbs out of the slot ("..", leading "\").
[[nodiscard]] int lffnamC(OperationContext& ctx, int slot, const std::string& name, std::string* path);
// As lffnamC, for a file about to be made: 0 whenever the path can be built.
[[nodiscard]] int lffnamC_new(OperationContext& ctx, int slot, const std::string& name, std::string* path);
// The same in a given installation's slot (lffnamC_new acts on the process default).
[[nodiscard]] int SlotFileName(const Installation& installation, int slot, const std::string& name, std::string* path);
// 0 a file, 1 a folder, negative: missing (-2) or not reachable (-1). mode unused.
[[nodiscard]] int lftypeC(OperationContext& ctx, int slot, const std::string& name, int mode);
// Opens name in slot with an fopen mode; null on failure. Close with lfilclC.
FILE* lfilopC(extlib::OperationContext& ctx, int slot, const std::string& name, const char* mode);
[[nodiscard]] int lfilclC(FILE* file);
// Renames (moves) slot1\name1 to slot2\name2. mode 1 replaces an existing
// target, 0 refuses one (-17). 0 or -errno.
[[nodiscard]] int lfilmvC(OperationContext& ctx, int slot1, const std::string& name1, int slot2,
                          const std::string& name2, int mode);
// 0 when the slot's folder exists and can be listed, negative otherwise.
[[nodiscard]] int ldirexC(OperationContext& ctx, int slot, int mode);
// Size of the slot's folder tree in kilobytes (mode 1: with sub-folders,
// 0: files directly in it). 0 or negative.
[[nodiscard]] int ldirleC(OperationContext& ctx, int slot, int mode, double* kbytes);
// Moves a folder tree (Windows paths). A plain rename where both lie on one
// file system; across hosts: copy, verify, then remove the source. 0 or -errno;
// on failure the source is whole and no partial target is left.
[[nodiscard]] int ldirreC(OperationContext& ctx, const std::string& from, const std::string& to);
// Removes a folder tree (Windows path). 0 or -errno.
[[nodiscard]] int ldirrmc(OperationContext& ctx, const std::string& path);
// Appends a backslash unless the path ends in one.
void lfslash_cat(std::string* path);
// Removes one trailing backslash.
void lfslash_cut(std::string* path);
// The path without its last component (and without the trailing backslash):
// "\\S\d\Prj\n0000001.prj" -> "\\S\d\Prj".
std::string ParentPath(const std::string& path);
// The last component of a Windows path.
std::string LastComponent(const std::string& path);

}  // namespace dovrane::extlib
