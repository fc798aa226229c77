// Hardware faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, stack overflow)
// mapped to the exception codes of the crash report.
#pragma once

#include <cstdint>

namespace dovrane::platform {

inline constexpr uint32_t kExceptionAccessViolation = 0xC0000005;
inline constexpr uint32_t kExceptionInPageError = 0xC0000006;
inline constexpr uint32_t kExceptionIllegalInstruction = 0xC000001D;
inline constexpr uint32_t kExceptionArrayBoundsExceeded = 0xC000008C;
inline constexpr uint32_t kExceptionFltDenormalOperand = 0xC000008D;
inline constexpr uint32_t kExceptionFltDivideByZero = 0xC000008E;
inline constexpr uint32_t kExceptionFltInexactResult = 0xC000008F;
inline constexpr uint32_t kExceptionFltInvalidOperation = 0xC0000090;
inline constexpr uint32_t kExceptionFltOverflow = 0xC0000091;
inline constexpr uint32_t kExceptionFltStackCheck = 0xC0000092;
inline constexpr uint32_t kExceptionFltUnderflow = 0xC0000093;
inline constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094;
inline constexpr uint32_t kExceptionIntOverflow = 0xC0000095;
inline constexpr uint32_t kExceptionPrivInstruction = 0xC0000096;
inline constexpr uint32_t kExceptionStackOverflow = 0xC00000FD;
inline constexpr uint32_t kExceptionDatatypeMisalignment = 0x80000002;
inline constexpr uint32_t kExceptionBreakpoint = 0x80000003;
inline constexpr uint32_t kExceptionSingleStep = 0x80000004;

struct CrashInfo {
  uint32_t code = 0;
  uintptr_t address = 0;       // where the fault occurred
  uintptr_t data_address = 0;  // for an access violation: the address accessed
  bool write = false;          // for an access violation: a write, else a read
};

// The report decides: 1 handles the fault (a backtrace goes to standard error
// and the process exits with status 1), 0 passes it on to the system's own
// handling (the default action of the signal).
// It runs inside the signal handler, on whatever thread faulted and with the
// fault's state (a broken heap, a held lock): it may only use
// async-signal-safe calls: no allocation, no stdio, no locks, and so never a
// message box of the main window; it writes its text and decides.
using CrashReporter = int (*)(const CrashInfo& info);

// Call from the main thread: it notes where that thread's stack ends, to
// tell a stack overflow.
void InstallCrashHandlers(CrashReporter reporter);

// The exception code for a signal and its si_code, for the mapping's tests.
uint32_t ExceptionCodeForSignal(int signal, int si_code);

}  // namespace dovrane::platform
