#include "app/exception_report.h"

#include <cstdio>

#include "platform/messenger.h"

namespace dovrane::app {

namespace {

struct CodeText {
  uint32_t code;
  const char* text;
};

const CodeText kTexts[] = {
    {0xC000008C, "The thread tried to access an array element that is out of bounds and the underlying hardware supports bounds checking."},
    {0x80000003, "A breakpoint was encountered."},
    {0x80000002, "The thread tried to read or write data that is misaligned on hardware that does not provide alignment. For example, 16-bit values must be aligned on 2-byte boundaries; 32-bit values on 4-byte boundaries, and so on."},
    {0xC000008D, "One of the operands in a floating-point operation is denormal. A denormal value is one that is too small to represent as a standard floating-point value."},
    {0xC000008E, "The thread tried to divide a floating-point value by a floating-point divisor of zero."},
    {0xC000008F, "The result of a floating-point operation cannot be represented exactly as a decimal fraction."},
    {0xC0000090, "This exception represents any floating-point exception not included in this list."},
    {0xC0000091, "The exponent of a floating-point operation is greater than the magnitude allowed by the corresponding type."},
    {0xC0000092, "The stack overflowed or underflowed as the result of a floating-point operation."},
    {0xC0000093, "The exponent of a floating-point operation is less than the magnitude allowed by the corresponding type."},
    {0xC000001D, "The thread tried to execute an invalid instruction."},
    {0xC0000006, "The thread tried to access a page that was not present, and the _tsystem was unable to load the page. For example, this exception might occur if a network connection is lost while running a program over the network."},
    {0xC0000094, "The thread tried to divide an integer value by an integer divisor of zero."},
    {0xC0000095, "The result of an integer operation caused a carry out of the most significant bit of the result."},
    {0xC0000026, "An exception handler returned an invalid disposition to the exception dispatcher. Programmers using a high-level language such as C should never encounter this exception."},
    {0xC0000025, "The thread tried to continue execution after a noncontinuable exception occurred."},
    {0xC0000096, "The thread tried to execute an instruction whose operation is not allowed in the current machine mode."},
    {0x80000004, "A trace trap or other single-instruction mechanism signaled that one instruction has been executed."},
    {0xC00000FD, "The thread used up its stack."},
};

}  // namespace

std::string ExceptionText(const platform::CrashInfo& info) {
  char text[512];
  // Addresses are at least eight hexadecimal digits; a 64-bit address shows all of its digits.
  const unsigned long data = info.data_address, where = info.address;
  if (info.code == platform::kExceptionAccessViolation) {
    if (info.write)
      std::snprintf(text, sizeof text,
                    "The thread tried to write to the virtual address [%08lX] at location [%08lX] for which it does not have the appropriate access.",
                    data, where);
    else
      std::snprintf(text, sizeof text,
                    "The thread tried to read from the virtual address [%08lX] at location[%08lX] for which it does not have the appropriate access.",
                    data, where);
    return text;
  }
  for (const CodeText& t : kTexts)
    if (t.code == info.code) return t.text;
  std::snprintf(text, sizeof text, "Unknown exception:\nCode: 0x%08X\nAddress: 0x%08lx", info.code, where);
  return text;
}

int ExceptionReport(const platform::CrashInfo& info) {
  platform::CurrentMessenger()->MessageBox(ExceptionText(info), "Exception Information",
                                           platform::kMbIconError | platform::kMbTaskModal);
  return info.code == platform::kExceptionAccessViolation ? 1 : 0;
}

}  // namespace dovrane::app
