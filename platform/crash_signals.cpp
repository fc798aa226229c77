#include "platform/crash_signals.h"

#include <execinfo.h>
#include <pthread.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/mapped_file.h"

namespace dovrane::platform {

namespace {

CrashReporter g_reporter = nullptr;
uintptr_t g_stack_low = 0;  // lowest address of the main thread's stack
constexpr uintptr_t kGuardReach = 256 * 1024;

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

bool IsStackOverflow(uintptr_t fault) {
  return g_stack_low != 0 && fault + kGuardReach >= g_stack_low && fault < g_stack_low + 4096;
}

void FillFromContext(void* context, CrashInfo* info) {
  (void)context;
#if defined(__x86_64__)
  auto* uc = static_cast<ucontext_t*>(context);
  info->address = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
  info->write = (uc->uc_mcontext.gregs[REG_ERR] & 2) != 0;
#elif defined(__aarch64__)
  auto* uc = static_cast<ucontext_t*>(context);
  info->address = static_cast<uintptr_t>(uc->uc_mcontext.pc);
#endif
}

// The return addresses of the calls that led here. The unwinder is the C++
// runtime's own, linked in: backtrace() would load another copy of it at
// its first call, which a handler must not do and which cost every start a
// fifth of a millisecond to do beforehand.
int CallStack(void** frames, int most) {
  struct Walk {
    void** frames;
    int most;
    int count;
  } walk{frames, most, 0};
  _Unwind_Backtrace(
      [](_Unwind_Context* context, void* data) {
        auto* w = static_cast<Walk*>(data);
        if (w->count >= w->most) return _URC_END_OF_STACK;
        const _Unwind_Ptr ip = _Unwind_GetIP(context);
        if (ip == 0) return _URC_END_OF_STACK;
        w->frames[w->count++] = reinterpret_cast<void*>(ip);
        return _URC_NO_REASON;
      },
      &walk);
  return walk.count;
}

// The lowest address of the main thread's stack: its top less the limit of
// its size. The top is the end of the page that holds the program's file
// name, which the kernel puts at the very top; pthread_getattr_np, which
// reads the whole memory map for it, is the way where that fails.
uintptr_t MainStackLow() {
  struct rlimit limit;
  const auto name = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  const long page = ::sysconf(_SC_PAGESIZE);
  if (name && page > 0 && ::getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const uintptr_t end = reinterpret_cast<uintptr_t>(name) + std::strlen(name) + 1;
    const uintptr_t top = (end + static_cast<uintptr_t>(page) - 1) & ~(static_cast<uintptr_t>(page) - 1);
    int here = 0;
    const auto local = reinterpret_cast<uintptr_t>(&here);
    // Sound only if this very function runs on that stack, below its top.
    if (local < top && top - local < limit.rlim_cur && limit.rlim_cur < top) return top - limit.rlim_cur;
  }
  uintptr_t low = 0;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0) low = reinterpret_cast<uintptr_t>(addr);
    pthread_attr_destroy(&attr);
  }
  return low;
}

// Only async-signal-safe calls from here on, the reporter's included.
void Handler(int sig, siginfo_t* si, void* context) {
  const int saved_errno = errno;
  CrashInfo info;
  info.code = ExceptionCodeForSignal(sig, si->si_code);
  info.data_address = reinterpret_cast<uintptr_t>(si->si_addr);
  FillFromContext(context, &info);
  if (sig == SIGSEGV && IsStackOverflow(info.data_address)) info.code = kExceptionStackOverflow;
  if (info.address == 0 && sig != SIGSEGV && sig != SIGBUS) info.address = info.data_address;

  int decision = g_reporter ? g_reporter(info) : 0;
  if (decision == 1) {
    void* frames[64];
    int n = CallStack(frames, 64);
    static const char kHead[] = "\nCall stack:\n";
    if (::write(STDERR_FILENO, kHead, sizeof kHead - 1) < 0) {
    }
    ::backtrace_symbols_fd(frames, n, STDERR_FILENO);
    ::_exit(1);
  }
  // Pass on: the default action ends the process once the handler returns.
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
  errno = saved_errno;
}

}  // namespace

uint32_t ExceptionCodeForSignal(int signal, int si_code) {
  switch (signal) {
    case SIGSEGV: return kExceptionAccessViolation;
    case SIGBUS: return si_code == BUS_ADRALN ? kExceptionDatatypeMisalignment : kExceptionInPageError;
    case SIGILL:
      return (si_code == ILL_PRVOPC || si_code == ILL_PRVREG) ? kExceptionPrivInstruction
                                                               : kExceptionIllegalInstruction;
    case SIGTRAP: return si_code == TRAP_TRACE ? kExceptionSingleStep : kExceptionBreakpoint;
    case SIGFPE:
      switch (si_code) {
        case FPE_INTDIV: return kExceptionIntDivideByZero;
        case FPE_INTOVF: return kExceptionIntOverflow;
        case FPE_FLTDIV: return kExceptionFltDivideByZero;
        case FPE_FLTOVF: return kExceptionFltOverflow;
        case FPE_FLTUND: return kExceptionFltUnderflow;
        case FPE_FLTRES: return kExceptionFltInexactResult;
        case FPE_FLTSUB: return kExceptionArrayBoundsExceeded;
        default: return kExceptionFltInvalidOperation;
      }
    default: return 0;
  }
}

void InstallCrashHandlers(CrashReporter reporter) {
  g_reporter = reporter;
  g_stack_low = MainStackLow();

  // A used-up stack leaves no room for the handler: give it a stack of its own.
  static char* alt_stack = nullptr;
  if (!alt_stack) {
    const size_t size = 256 * 1024;
    alt_stack = static_cast<char*>(std::malloc(size));
    if (alt_stack) {
      stack_t ss;
      ss.ss_sp = alt_stack;
      ss.ss_size = size;
      ss.ss_flags = 0;
      ::sigaltstack(&ss, nullptr);
    }
  }

  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = Handler;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int sig : kSignals) {
    // A mapped file's guard stays in front: a file cut short meanwhile reads as zeros.
    if (sig == SIGBUS && ChainBehindMappingGuard(sa)) continue;
    ::sigaction(sig, &sa, nullptr);
  }
}

}  // namespace dovrane::platform
