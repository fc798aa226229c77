// Start and end of the file-access library, its path slots and the CAD
// system's working folder.
#pragma once

#include <string>

namespace dovrane::extlib {

class OperationContext;

// Slot 23 is the network \Net\ folder, 31 the local project folder, 18 and 19
// project folders under work. Paths are kept in Windows form, ending in "\".
inline constexpr int kSlotNet = 23;
inline constexpr int kSlotLocalProjects = 31;
inline constexpr int kSlotProjectData = 18;  // the project folder of project-level work
inline constexpr int kSlotProjectWork = 19;  // a second project folder (version, identifier)
inline constexpr int kSlotConversion = 1;    // the project folder whose version a conversion reads
inline constexpr int kSlotCount = 64;

// Sets slot to path (which must end in a backslash; one is added otherwise).
// 0 or -1 for a bad slot.
int lfinipC(OperationContext& ctx, int slot, const std::string& path);
// The slot's path, "" when unset.
std::string lfinigC(OperationContext& ctx, int slot);

// Reads the installation paths from the settings and fills the slots. Returns
// 0 when they can be used, non-zero otherwise (mode is the caller's, 2).
[[nodiscard]] int lzinit(extlib::OperationContext& ctx, int* mode, int, int, int, int, int);
void lzende(extlib::OperationContext& ctx);
bool LibraryInitialised();
// Reports that the installation paths cannot be used. The caller ends the
// program: library code never exits.
void lgstop_C_(OperationContext& ctx, const char* where);

// Makes the CAD system's working folder the current folder: HKCU
// Settings\WorkPath, else HKLM InstallRoot\WorkPath (created when missing);
// without either the current folder stays. Returns 0 or -errno.
int VekArbeitsVerzeichnis(extlib::OperationContext& ctx);

}  // namespace dovrane::extlib
