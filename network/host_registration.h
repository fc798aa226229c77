// Adding a data server to the network installation and taking it away again.
// A host belongs to the installation when three things agree: its line in
// \Net\data.cfg, the marker prj\project.srv in its data folder naming the
// administration's server, and its projects' lines in project.dat.
//
// Every whole-file change here is crash-safe (new file, flush, rename): a kill
// at any moment leaves the old or the new data.cfg and project.dat whole.
// Failures are reported once, in a message box with the program's caption.
// Registration (RegisterHostInDataCfg, then AddHostToAdministration) and
// removal (UnregisterHostInDataCfg, then RemoveHostFromAdministration) leave
// one audit line each ("register host", "remove host"), written by the step
// that ends them. A removal backs up the shared files before its first write
// (one set for both steps); a failed backup stops it with nothing written.
#pragma once

#include <string>

#include "extlib/installation/operation_context.h"
#include "platform/path_map.h"

namespace dovrane::network {

// The marker file below a host's data folder.
inline constexpr char kHostMarkerFile[] = "prj\\project.srv";

// uncPath: "\\HOST" optionally followed by "\data\path". Appends the host's
// line to data.cfg (a line feed first when the file ends without one). 1 after
// appending; 0 for a path that is not "\\HOST...", a host or path that is not
// valid, a host listed already (UI text (1015, 4124) naming its path), or a
// data.cfg that cannot be read or rewritten.
[[nodiscard]] int RegisterHostInDataCfg(extlib::OperationContext& ctx, const std::string& unc_path);

// Rewrites data.cfg without every line of host (compared without regard to
// case) and deletes the host's marker file. 1 when data.cfg now lacks the
// host; 0 when it could not be read or rewritten (then it is unchanged).
[[nodiscard]] int UnregisterHostInDataCfg(extlib::OperationContext& ctx, const std::string& host);

// host: "\\HOST"; path: the host's data path (with or without its leading
// backslash). Registers the host's project folders in the administration and
// checks the host's records, then writes the administration server's name
// into the host's marker file. 1; 0 when host is not "\\HOST".
[[nodiscard]] int AddHostToAdministration(extlib::OperationContext& ctx, const std::string& path,
                                          const std::string& host);

// Rewrites project.dat without the host's project lines, every other line
// byte for byte, holding the whole file locked so no record changes
// meanwhile. 1, or 0 after a message (nothing changed). An administration in
// an older layout is refused: it is converted first (-update).
[[nodiscard]] int RemoveHostFromAdministration(extlib::OperationContext& ctx, const std::string& host);

// The host field of a record line: host left-aligned in 16 blanks, then "@".
std::string HostMarker(const std::string& host);
// A record line of the administration (version 3, line end or not) whose
// host field holds host, compared without regard to case. The field is read
// at its place, so a host named SRV10 or a name holding the text is no match.
bool IsProjectLineOfHost(const std::string& line, const std::string& host);

// The name of the computer that holds the network data path: the server of a
// UNC path, the server of the folder a drive letter maps to below the UNC
// root, this computer for a local path. "" when it cannot be told.
std::string AdministrationServerName(const platform::PathMap& paths);

}  // namespace dovrane::network
