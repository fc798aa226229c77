// Whole-file reading and the crash-safe rewrite of shared files.
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace dovrane::platform {

// Every file in a shared folder may be hostile: a FIFO would block a reader
// forever, a device or a sparse file would fill memory. Small files (stored
// project records, link files, version.txt, the host list, the user table,
// settings) are read with this limit unless a caller names another.
inline constexpr uint64_t kSmallFileLimit = uint64_t{1} << 20;

// The type of a listed entry of dir; looked up without following a link
// when the listing did not say (kUnknown when that fails too).
EntryType TypeOfEntry(const std::string& dir, const DirEntry& entry);

// Opens a regular file only, never waiting (a FIFO without a writer would
// block the open or the first read): anything else that is there is refused
// with -EINVAL, a folder with -EISDIR. Opened for writing (or creating), a
// symbolic link as the last part is refused with -ELOOP; a reader follows
// it. The descriptor or -errno.
int OpenRegularFile(const std::string& path, int flags);
int OpenRegularFileAt(int dirfd, const std::string& name, int flags);

// Waits (at most timeout_ms) until nobody holds an exclusive lock on the whole
// file open as fd, as a whole-file rewrite (a conversion) does while it
// replaces the file. Locks of single records are not waited for: only a
// byte far past any record is locked (shared) and released again. fd may be
// open for reading only. True when such a lock was held (there was something
// to wait for), false when the file was free at once.
bool WaitForWholeFileLock(int fd, int timeout_ms);
// The same byte locked (shared) and kept: while it is held no whole-file
// rewrite can begin, and one under way was waited for (at most timeout_ms).
// Record locks are not touched. 0, or -errno (the wait ran out). The lock goes
// with ReleaseWholeFileHold or when the description is closed.
[[nodiscard]] int HoldOffWholeFileLock(int fd, int timeout_ms);
void ReleaseWholeFileHold(int fd);

// The file open as fd is the one at path now (same device and inode): false
// once another file was renamed into its place.
bool IsFileAtPath(int fd, const std::string& path);

// True while another process holds a lock on the open file fd, as a CAD
// session holds its lock file. A test that fails (but for a share without
// locks, where no session can hold one) counts as held: the callers are about
// to delete the file or take the project over.
bool HeldByOtherProcess(int fd);

// Reads the whole regular file at native path, at most limit bytes (a longer
// one gives -EFBIG and no contents). 0 or -errno.
int ReadWholeFile(const std::string& path, std::string* contents, uint64_t limit = kSmallFileLimit);
// The same for a name relative to the open folder dirfd (a short path walk
// when many files below one folder are read).
int ReadWholeFileAt(int dirfd, const std::string& name, std::string* contents,
                    uint64_t limit = kSmallFileLimit);

// Replaces the file at native path with contents, crash-safe: writes a new
// file beside it, flushes it, checks the close, renames it into place and
// flushes the folder. A crash at any moment leaves the old or the new file
// whole. 0 or -errno; on
// failure the old file is untouched and the new one removed.
int WriteFileAtomic(const std::string& path, const std::string& contents);

// True when name is head followed by a process id (digits only): the work
// name a writer of head's file gives its new file ("list.new~" + id for
// WriteFileAtomic), which a writer killed meanwhile leaves behind.
bool IsProcessWorkName(const std::string& name, const std::string& head);
// True when the native path is a regular file itself (a link is not followed).
bool IsRegularFileNoFollow(const std::string& path);
// 1 when path is there (not followed), 0 when it is known not to be, or
// -errno when that cannot be told (its host does not answer): a clean-up must
// not take "cannot tell" for "gone".
[[nodiscard]] int PathPresence(const std::string& path);

// Flushes the directory entry changes of a folder (after a rename or create).
int SyncDirectory(const std::string& dir);

// Creates a folder and its missing parents. 0 or -errno.
int MakeDirectories(const std::string& path);

// The folder part of a native path ("." when there is none).
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);

}  // namespace dovrane::platform
