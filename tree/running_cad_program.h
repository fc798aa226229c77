// Whether the CAD program runs on this computer: the host check-in and the
// removal of a host refuse to change what it works with while it does. The
// processes are read from /proc; a process is the CAD program when its
// program file's name, its process name, the name it was started by (a
// link's), or, for an interpreter or emulator (sh, python, wine...), the
// program it runs contains the CAD program's name, in any letter case.
#pragma once

#include <string>

namespace dovrane::tree {

inline constexpr size_t kMaxProcesses = 1024;
inline constexpr size_t kMaxModuleName = 255;
inline constexpr size_t kMaxCommandLine = 128 * 1024;  // a longer one is not read

// The word looked for: HKLM "InstallRoot\CadProgram" when set, else "pelomar";
// in lower case.
std::string CadProgramName();

// 1 with *name (the matching name in lower case, at most 255 characters)
// and *process_id of the first of at most 1024 processes known by a name
// that contains `word` (lower case); 0 when none is or
// the process list cannot be read ("ProcessView" error box
// "/proc not readable!" first). Processes that cannot be looked at (other
// users', gone meanwhile) are skipped silently.
[[nodiscard]] int FindRunningCadProgram(const std::string& word, std::string* name, int* process_id);
// The same for CadProgramName().
[[nodiscard]] int FindRunningCadProgram(std::string* name, int* process_id);

}  // namespace dovrane::tree
