// Backups of the shared files before a repair, a check-out, a check-in or a
// host removal rewrites them: project.dat, data.cfg, the user table and
// net.id are copied into \Net\backup\<time stamp>\ and flushed before the
// caller writes anything. The newest sets are kept (10, or HKLM
// InstallRoot\BackupSetsKept); older ones are removed after a new set is
// whole. A set is put back by copying its files into \Net while nobody works
// with the installation.
//
// Anyone who may write \Net may leave links there. A set is a real folder
// the program made; the backup folder, the sets and the files in them are
// created, listed and removed without following a link (platform/no_follow.h),
// and a link or other entry that is no set is left alone and named in a
// warning. Sets are pruned in the order they were made (the file system's time
// of the folder, not only the name a workstation's clock gave it); the new set
// is never pruned, and sets dated in the future are named in a warning.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

inline constexpr char kBackupFolder[] = "backup";
inline constexpr int kBackupSetsKept = 10;

// The files a set holds, those of them that exist.
const std::vector<std::string>& BackedUpFiles();

// The folder name of a set made at utc_seconds: "20261207T191905Z"; a second
// set of the same second gets "-2", "-3", ... appended.
std::string BackupSetName(int64_t utc_seconds);

// How many sets are kept: the machine setting when it is 1 to 1000, else 10.
[[nodiscard]] int BackupSetsKept();

// Makes a new set of the files in the \Net folder (slot 23) and removes the
// oldest sets beyond the kept count. *set_folder (may be null) receives the
// Windows path of the new set. 0, or -errno of the first failure: the set is
// then removed again, and the caller must not write (the caller reports it
// with BackupFailedText; here only a link is named: -ELOOP when \Net\backup
// is one). A shared file that is a link is not copied; the set goes without
// it and a warning names it.
[[nodiscard]] int BackupSharedFiles(extlib::OperationContext& ctx, std::string* set_folder = nullptr);

// The caller's report of a failed backup.
std::string BackupFailedText(int error);

}  // namespace dovrane::admin
