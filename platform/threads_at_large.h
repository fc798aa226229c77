// Threads that may outlive the code that started them: a look-up stuck on a
// dead share or name server is left to end on its own. While one runs, the
// process must not end through std::exit, which destroys the static objects
// such a thread may still use.
#pragma once

namespace dovrane::platform {

// Counts a thread in (before it is started or left behind) and out (its last step).
void ThreadAtLargeStarts();
void ThreadAtLargeEnds();
int ThreadsAtLarge();

// Ends the process with status: through std::exit when no thread is at
// large; otherwise with the standard streams flushed and no static object
// destroyed (std::_Exit).
[[noreturn]] void EndProcess(int status);

}  // namespace dovrane::platform
