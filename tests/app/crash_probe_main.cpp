// Provokes a real fault below the crash report, as the program would meet it:
//   crash_probe write|read|intdiv|trap|overflow [open-lines]
// open-lines first leaves a progress text and a question without line end.
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "app/exception_report.h"
#include "platform/crash_signals.h"
#include "platform/terminal.h"

namespace {

volatile int g_zero = 0;
volatile uintptr_t g_bad = 0;

__attribute__((noinline, no_sanitize("address", "undefined"))) void WriteInvalid() {
  volatile int* p = reinterpret_cast<volatile int*>(g_bad + 0x10);
  *p = 1;
}

__attribute__((noinline, no_sanitize("address", "undefined"))) int ReadInvalid() {
  volatile int* p = reinterpret_cast<volatile int*>(g_bad + 0x20);
  return *p;
}

__attribute__((noinline, no_sanitize("undefined"))) int DivideByZero() { return 7 / g_zero; }

// Calls itself until the main thread's stack is used up.
__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[512];
  pad[depth % 512] = static_cast<char>(depth);
  if (g_zero < 0) return 0;
  return Recurse(depth + 1) + pad[depth % 512];
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dovrane;
  platform::Terminal::CaptureOriginalStreams();
  platform::RedirectStandardStreams("STDERR.OUT");
  platform::InstallCrashHandlers(app::ExceptionReport);
  std::string what = argc > 1 ? argv[1] : "";
  if (argc > 2 && std::strcmp(argv[2], "open-lines") == 0) {
    platform::Terminal::WriteErr("Continue? ");
    platform::Terminal::WriteProgress("Copying ");
  }
  if (what == "write") WriteInvalid();
  if (what == "read") return ReadInvalid();
  if (what == "intdiv") return DivideByZero();
  if (what == "trap") std::raise(SIGTRAP);
  if (what == "overflow") return Recurse(0);
  return 0;
}
