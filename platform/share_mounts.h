// Where the system has an office's shares mounted, besides the UNC root: the
// kernel's CIFS (SMB3) mounts of /proc/self/mountinfo, at any mount point, the
// FUSE mounts there that name a share as their source, and the desktop's GVfs
// SMB mounts of the running user (/run/user/UID/gvfs/smb-share:server=srv1,share=cad).
#pragma once

#include <string>
#include <vector>

namespace dovrane::platform {

enum class MountKind { kCifs, kGvfs, kFuse };

struct ShareMount {
  std::string host;         // as the mount names it (a name or an address), UTF-8
  std::string share;        // UTF-8
  std::string address;      // the server's address a CIFS mount names ("addr="), or ""
  std::string mount_point;  // native
  MountKind kind = MountKind::kCifs;
};

// The mounts of a mountinfo text whose source is a whole share ("//HOST/share")
// mounted at its own root: the kernel's (cifs, smb3), and FUSE file systems
// (fuse, fuse.*) mounted by user or by root. Another user's FUSE mount is left
// out: with user_allow_other anyone may mount one that calls itself //SRV1/cad.
// A mount of a folder inside a share and a bind mount of a folder of a mounted
// share are left out too, and so are FUSE mounts of a whole network (GVfs's
// own, smbnetfs), whose source names no share. Mount points are unescaped
// (\040 is a blank). Lines that cannot be read are skipped.
std::vector<ShareMount> ParseMountInfo(const std::string& text, unsigned user);
// The GVfs SMB mounts among the names of the entries of gvfs_dir
// ("smb-share:server=HOST,share=SHARE" with further keys in any order;
// values %-escaped).
std::vector<ShareMount> GvfsShareMounts(const std::string& gvfs_dir, const std::vector<std::string>& names);
// The system's, read through the Env: $DOVRANE_MOUNTINFO (a file in the
// mountinfo format, for tests), else /proc/self/mountinfo (at most 4 MiB),
// its FUSE mounts those of the running user or root; and $DOVRANE_GVFS_DIR,
// else $XDG_RUNTIME_DIR/gvfs, else /run/user/UID/gvfs.
// Mounts that cannot be read are missing, never an error.
std::vector<ShareMount> SystemShareMounts();
// The first mount of \\host\share (Windows-1252, as in a Windows path): names
// compared without regard to case; a host given as an address also matches
// the address a mount names. Null when there is none.
const ShareMount* FindShareMount(const std::vector<ShareMount>& mounts, const std::string& host,
                                 const std::string& share);
// The mounts that name their server by address: whether asking a name's
// address could find more.
bool AnyMountByAddress(const std::vector<ShareMount>& mounts);
// How a person mounts \\host\share (Windows-1252), one command a line: the
// kernel's CIFS client at the folder the UNC root has for it, and GVfs. In
// UTF-8.
std::string MountCommandsFor(const std::string& host, const std::string& share, const std::string& unc_root);
// "CIFS mount", "GVfs" or "FUSE mount".
const char* MountKindName(MountKind kind);
// True for a dotted IPv4 address.
bool IsDottedAddress(const std::string& host);

}  // namespace dovrane::platform
