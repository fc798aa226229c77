// The whole-administration procedures of the command line: rebuild a
// missing administration, update (and rebuild when numbers are duplicated),
// update one host, and the compression of the attribute database.
#pragma once

#include <string>

namespace dovrane::admin {

inline constexpr char kSavedAdministrationFile[] = "project.dat.sav";
// Present in \Net while a rebuild of the administration is under way; a rebuild
// that stopped (failure, crash) leaves it, and the next update completes it.
inline constexpr char kRebuildMarkerFile[] = "project.dat.rebuild";

// Creates project.dat when it is missing and registers every project of
// every host; then the network identifier and the attribute compression.
// 0 or the first failing step's result.
[[nodiscard]] int RestoreAdministration();
// The header of project.dat cannot be read (not a newer version's file).
bool AdministrationUnreadable();
// For a project.dat that cannot be read: kept as project.dat.sav, then the
// administration is rebuilt as RestoreAdministration does.
[[nodiscard]] int RestoreDamagedAdministration();
// update_only: stop after the unique-number check when it finds nothing, and
// fail (-1) when the records cannot be read. Otherwise check every record and
// scan every host. Duplicate numbers (and, without update_only, records that
// cannot be read) keep the old file as project.dat.sav and rebuild from the
// hosts. Two hosts reaching one folder refuse every rebuild (-1). 0, -1, -2,
// or a failing step's result.
[[nodiscard]] int UpdateAdministration(bool update_only);
// Registers what lies on host and checks the host's records. -1 for no host,
// a host whose folder cannot be scanned, or one sharing its folder with another;
// kEntriesLeftUnregistered when an entry of the host could not be registered.
[[nodiscard]] int UpdateHost(const std::string& host);
// VACUUM of the attribute database. 0.
[[nodiscard]] int CompressAttributes(long console);

}  // namespace dovrane::admin
