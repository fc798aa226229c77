// Creating, copying, removing and renaming projects: the project folder on
// its host and the project's record in the administration change together.
// New numbers and names are decided under the null record lock, so several
// workstations creating projects at once never share a number or lose a record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {

class OperationContext;

// Creates project `name` on `host` ("localhost" / ignored on a single
// workstation): a free number, the folder n%07u.prj with version.txt, the
// project's data and prjinfo.dat, and its record (owner: the current user,
// members: `members`, 4 bytes per container as the user table names them
// when the record is written, may be null; a caller that cannot hold the
// count still passes 4 × kMaxUserContainers bytes). The other
// arguments are the callers' switches and are not used. 0, -8 bad name,
// -4 name in use, -19 unknown host, -6 host not reachable, -7 administration
// locked, -2 no administration, -1 failure (nothing left behind).
[[nodiscard]] int ltbpcrC(OperationContext& ctx, int slot, const std::string& name, const std::string& host,
                          const unsigned char* members, int, int name_control, int, int, PRJ* out, uint32_t* number);
// Copies the folder of `source` into a new project `new_name` on `host`
// (the source's host when empty). Codes as ltbpcrC.
[[nodiscard]] int ltbpcpC(OperationContext& ctx, const PRJ& source, const std::string& host,
                          const std::string& new_name, const unsigned char* members, int, int, PRJ* out,
                          uint32_t* new_number);
// Fills the folder `to` (native, not there yet) from the source project's
// folder `from`: 0, -ECANCELED (the person stopped it) or -errno, with
// nothing left at `to` on failure.
using FolderCopier = std::function<int(const std::string& from, const std::string& to)>;
// As ltbpcpC with the files copied by `copier`; a cancelled copy gives
// kPrjInterrupted and leaves nothing behind.
[[nodiscard]] int CopyProjectWith(OperationContext& ctx, const PRJ& source, const std::string& host,
                                  const std::string& new_name, const unsigned char* members, const FolderCopier& copier,
                                  PRJ* out, uint32_t* new_number);
// Removes a project: its folder (or link file) and its record. 0, -3, -7
// (record locked, or the project open in a session: nothing removed), -6
// (host not reachable: nothing removed), -1.
[[nodiscard]] int ltbprmC(OperationContext& ctx, int slot, const std::string& name, uint32_t* number);
// Renames a project: its record and the record its folder keeps. 0, or the refusal's project error code (-8 bad name,
// -4 name in use, -3 unknown, -7 locked, -1), also given in *result.
[[nodiscard]] int ltbpreC(OperationContext& ctx, int slot, const std::string& old_name, const std::string& new_name,
                          std::string* buffer, int* result);

}  // namespace dovrane::extlib
