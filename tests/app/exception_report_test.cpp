#include "app/exception_report.h"

#include <csignal>
#include <cstring>

#include <gtest/gtest.h>

#include <algorithm>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

using platform::CrashInfo;

TEST(ExceptionReportTest, TextsNameTheFault) {
  CrashInfo write{platform::kExceptionAccessViolation, 0x401000, 0x10, true};
  EXPECT_EQ(ExceptionText(write),
            "The thread tried to write to the virtual address [00000010] at location [00401000] for which it "
            "does not have the appropriate access.");
  CrashInfo read{platform::kExceptionAccessViolation, 0xABCDEF, 0x20, false};
  EXPECT_EQ(ExceptionText(read),
            "The thread tried to read from the virtual address [00000020] at location[00ABCDEF] for which it does "
            "not have the appropriate access.");
  EXPECT_EQ(ExceptionText({0xC0000094, 1, 0, false}),
            "The thread tried to divide an integer value by an integer divisor of zero.");
  EXPECT_EQ(ExceptionText({0xC00000FD, 1, 0, false}), "The thread used up its stack.");
  EXPECT_EQ(ExceptionText({0xE06D7363, 0xBEEF, 0, false}), "Unknown exception:\nCode: 0xE06D7363\nAddress: 0x0000beef");
}

TEST(ExceptionReportTest, FixedBufferTextsShowEveryAddressDigit) {
  struct Case {
    CrashInfo info;
    const char* text;
  } cases[] = {
      {{0xC0000005, 0x7FFF12345678, 0xFFFFFFFF80001234, true},
       "The thread tried to write to the virtual address [FFFFFFFF80001234] at location [7FFF12345678] for "
       "which it does not have the appropriate access."},
      {{0xC0000005, 0, 0, false},
       "The thread tried to read from the virtual address [00000000] at location[00000000] for which it does not "
       "have the appropriate access."},
      {{0x80000003, 0x1234, 0, false}, "A breakpoint was encountered."},
      {{0xC0000025, 0, 0, false}, "The thread tried to continue execution after a noncontinuable exception occurred."},
      {{0x00000001, 0xABCDEF0123456789, 0, false}, "Unknown exception:\nCode: 0x00000001\nAddress: 0xabcdef0123456789"},
      {{0xFFFFFFFF, 0x100000000, 0, false}, "Unknown exception:\nCode: 0xFFFFFFFF\nAddress: 0x100000000"},
  };
  for (const Case& c : cases) {
    char text[kExceptionTextSize];
    EXPECT_EQ(std::string(text, FormatExceptionText(c.info, text, sizeof text)), c.text);
  }
}

TEST(ExceptionReportTest, TooSmallBufferIsCutAndTerminated) {
  char text[12];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(FormatExceptionText({0xC0000005, 1, 2, true}, text, 10), 9u);
  EXPECT_STREQ(text, "The threa");
  EXPECT_EQ(text[10], 'x');
  EXPECT_EQ(FormatExceptionText({0xC0000005, 1, 2, true}, text, 0), 0u);
}

TEST(ExceptionReportTest, SignalsMapToTheirExceptionCodes) {
  EXPECT_EQ(platform::ExceptionCodeForSignal(SIGSEGV, SEGV_MAPERR), 0xC0000005u);
  EXPECT_EQ(platform::ExceptionCodeForSignal(SIGFPE, FPE_INTDIV), 0xC0000094u);
  EXPECT_EQ(platform::ExceptionCodeForSignal(SIGFPE, FPE_FLTDIV), 0xC000008Eu);
  EXPECT_EQ(platform::ExceptionCodeForSignal(SIGBUS, BUS_ADRALN), 0x80000002u);
  EXPECT_EQ(platform::ExceptionCodeForSignal(SIGILL, ILL_PRVOPC), 0xC0000096u);
  EXPECT_EQ(platform::ExceptionCodeForSignal(SIGTRAP, TRAP_BRKPT), 0x80000003u);
}

TEST(ExceptionReportTest, AccessViolationIsHandledWithStatusOneAndACallStack) {
  testing::TempDir dir;
  auto r = testing::RunProgram(DOVRANE_CRASH_PROBE, {"write"}, {}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.signal, 0);
  EXPECT_NE(r.err.find("The thread tried to write to the virtual address [00000010] at location ["),
            std::string::npos) << r.err;
  // The handler's frames, the faulting function's and main's at least.
  const std::string trace = testing::ReadFile(dir / "STDERR.OUT");
  const size_t at = trace.find("Call stack:\n");
  ASSERT_NE(at, std::string::npos) << trace;
  EXPECT_GE(std::count(trace.begin() + static_cast<long>(at), trace.end(), '\n'), 4) << trace;
  r = testing::RunProgram(DOVRANE_CRASH_PROBE, {"read"}, {}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("read from the virtual address [00000020]"), std::string::npos) << r.err;
}

// The main thread's stack used up is told as such (the handler runs on a
// stack of its own, and knows where the main thread's ends).
TEST(ExceptionReportTest, AUsedUpStackIsToldAsSuch) {
  testing::TempDir dir;
  auto r = testing::RunProgram(DOVRANE_CRASH_PROBE, {"overflow"}, {}, dir.path());
  EXPECT_NE(r.err.find("The thread used up its stack."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("virtual address"), std::string::npos) << r.err;
}

TEST(ExceptionReportTest, ReportStartsOnALineOfItsOwnAfterOpenLines) {
  testing::TempDir dir;
  auto r = testing::RunProgram(DOVRANE_CRASH_PROBE, {"write", "open-lines"}, {}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Copying \n");
  EXPECT_EQ(r.err.rfind("Continue? \nThe thread tried to write to the virtual address [00000010] at location [", 0), 0u)
      << r.err;
  EXPECT_EQ(r.err.back(), '\n');
}

TEST(ExceptionReportTest, OtherFaultsAreShownAndPassedOnToTheSystem) {
  testing::TempDir dir;
  auto r = testing::RunProgram(DOVRANE_CRASH_PROBE, {"intdiv"}, {}, dir.path());
  EXPECT_EQ(r.signal, SIGFPE);
  EXPECT_NE(r.err.find("divide an integer value by an integer divisor of zero"), std::string::npos) << r.err;
  r = testing::RunProgram(DOVRANE_CRASH_PROBE, {"trap"}, {}, dir.path());
  EXPECT_EQ(r.signal, SIGTRAP);
  EXPECT_NE(r.err.find("A breakpoint was encountered."), std::string::npos);
}

}  // namespace
}  // namespace dovrane::app
