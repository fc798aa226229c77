// Whole-file reading and the crash-safe rewrite of shared files.
#pragma once

#include <string>

namespace dovrane::platform {

// Reads the whole file at native path. 0 or -errno.
int ReadWholeFile(const std::string& path, std::string* contents);
// The same for a name relative to the open folder dirfd (a short path walk
// when many files below one folder are read).
int ReadWholeFileAt(int dirfd, const std::string& name, std::string* contents);

// Replaces the file at native path with contents, crash-safe: writes a new
// file beside it, flushes it, checks the close, renames it into place and
// flushes the folder. A crash at any moment leaves the old or the new file
// whole. 0 or -errno; on
// failure the old file is untouched and the new one removed.
int WriteFileAtomic(const std::string& path, const std::string& contents);

// Flushes the directory entry changes of a folder (after a rename or create).
int SyncDirectory(const std::string& dir);

// Creates a folder and its missing parents. 0 or -errno.
int MakeDirectories(const std::string& path);

// The folder part of a native path ("." when there is none).
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);

}  // namespace dovrane::platform
