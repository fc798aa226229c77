// The whole-administration procedures of the command line: rebuild a
// missing administration, update (and rebuild when numbers are duplicated),
// update one host, and the compression of the attribute database.
#pragma once

#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::admin {

inline constexpr char kSavedAdministrationFile[] = "project.dat.sav";
// Present in \Net while a rebuild of the administration is under way; a rebuild
// that stopped (failure, crash) leaves it, and the next update completes it.
inline constexpr char kRebuildMarkerFile[] = "project.dat.rebuild";
// The marker is there: the administration is being rebuilt (or a rebuild
// stopped), and what it holds is not every project.
bool RebuildPending(extlib::OperationContext& ctx);
// For a reader that met the marker: says so (the administration's answer
// would be incomplete) and gives the reader's result, -1.
[[nodiscard]] int ReportRebuildPending(extlib::OperationContext& ctx);

// Creates project.dat when it is missing and registers every project of
// every host; then the network identifier and the attribute compression.
// 0 or the first failing step's result; kPrjInterrupted when the person
// stopped it (the rebuild stays marked unfinished, the next -update completes
// it). Progress lines and questions go through the context.
[[nodiscard]] int RestoreAdministration(extlib::OperationContext& ctx);
// The header of project.dat cannot be read (not a newer version's file).
bool AdministrationUnreadable(extlib::OperationContext& ctx);
// For a project.dat that cannot be read: kept as project.dat.sav, then the
// administration is rebuilt as RestoreAdministration does.
[[nodiscard]] int RestoreDamagedAdministration(extlib::OperationContext& ctx);
// update_only: stop after the unique-number check when it finds nothing, and
// fail (-1) when the records cannot be read. Otherwise check every record and
// scan every host. Duplicate numbers (and, without update_only, records that
// cannot be read) keep the old file as project.dat.sav and rebuild from the
// hosts. Two hosts reaching one folder refuse every rebuild (-1). 0, -1, -2,
// or a failing step's result. Stopped by the person during the check of the
// records, the administration is whole and no rebuild is pending:
// kPrjInterrupted.
[[nodiscard]] int UpdateAdministration(extlib::OperationContext& ctx, bool update_only);
// Registers what lies on host and checks the host's records. -1 for no host,
// a host whose folder cannot be scanned, or one sharing its folder with another;
// kEntriesLeftUnregistered when an entry of the host could not be registered.
[[nodiscard]] int UpdateHost(extlib::OperationContext& ctx, const std::string& host);
// VACUUM of the attribute database. 0.
[[nodiscard]] int CompressAttributes(extlib::OperationContext& ctx);

}  // namespace dovrane::admin
