// The version check of the project administration and its conversion into
// version 3 for the installation's number of user containers.
//
// The conversion is crash-safe: the new administration is written beside the
// old one as a whole and flushed, the old file is kept as project.dat.old, and
// the new one is renamed over project.dat. A kill at any moment leaves the old administration or the
// complete new one. It holds the whole old file locked throughout (deny read
// and write), so it refuses to start while a workstation holds a record lock,
// no record can change under it, and readers and writers that meet the old
// layout wait for its lock and then take the new file.
#pragma once

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

inline constexpr char kOldAdministrationFile[] = "project.dat.old";

// 0 when the administration is current; otherwise the conversion's result,
// -15 for an unknown version, -2 when it cannot be opened.
[[nodiscard]] int CheckAdministrationVersion(extlib::OperationContext& ctx);
// 0, -2 (files; also when not one line could be read, which changes
// nothing), -7 (in use by another workstation), or the failing rename's or
// copy's error. Unreadable lines are left out and named in one warning;
// every readable record is converted, deleted ones are dropped and the rest
// renumbered from slot 1.
[[nodiscard]] int ConvertAdministration(extlib::OperationContext& ctx);
// The same for a caller that already keeps every other process out of the
// file with an exclusive lock on the whole file (the user count change, which
// holds it from before the count changes until the conversion is done).
[[nodiscard]] int ConvertLockedAdministration(extlib::OperationContext& ctx);

// Removes what a user count change or conversion killed half-way left in
// \Net: the temporaries of its writes ("users.dat.new~<pid>",
// "project.dat.conv~<pid>", "project.dat.old.new~<pid>"), which nothing reads,
// and the new empty administration's ("project.dat.new~<pid>").
// Only regular files of exactly those forms go, and only under an exclusive
// lock on the whole administration, which every such writer holds while its
// temporary exists; the empty one's is written only while there is no
// administration to lock, so a locked one proves its writer ended. While
// anyone holds a lock they stay for the next run.
// Returns how many were removed.
int RemoveConversionTemporaries(extlib::OperationContext& ctx);

}  // namespace dovrane::admin
