#include "app/exception_report.h"

#include "platform/terminal.h"

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

// Appends into a fixed buffer, always leaving it terminated; a text that does
// not fit is cut. Plain loops only: this runs inside the crash handler.
struct FixedText {
  char* out;
  size_t size;
  size_t len = 0;

  void Add(const char* text) {
    while (*text && len + 1 < size) out[len++] = *text++;
    out[len] = '\0';
  }
  // At least eight hexadecimal digits; a 64-bit address shows all of its digits.
  void AddHex(uint64_t value, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char hex[17];
    int n = 0;
    do {
      hex[n++] = digits[value & 0xF];
      value >>= 4;
    } while (value != 0);
    while (n < 8) hex[n++] = '0';
    char text[17];
    for (int i = 0; i < n; ++i) text[i] = hex[n - 1 - i];
    text[n] = '\0';
    Add(text);
  }
};

}  // namespace

size_t FormatExceptionText(const platform::CrashInfo& info, char* out, size_t size) {
  if (size == 0) return 0;
  FixedText text{out, size};
  out[0] = '\0';
  if (info.code == platform::kExceptionAccessViolation) {
    text.Add(info.write ? "The thread tried to write to the virtual address [" : "The thread tried to read from the virtual address [");
    text.AddHex(info.data_address, true);
    text.Add(info.write ? "] at location [" : "] at location[");
    text.AddHex(info.address, true);
    text.Add("] for which it does not have the appropriate access.");
    return text.len;
  }
  for (const CodeText& t : kTexts) {
    if (t.code == info.code) {
      text.Add(t.text);
      return text.len;
    }
  }
  text.Add("Unknown exception:\nCode: 0x");
  text.AddHex(info.code, true);
  text.Add("\nAddress: 0x");
  text.AddHex(info.address, false);
  return text.len;
}

std::string ExceptionText(const platform::CrashInfo& info) {
  char text[kExceptionTextSize];
  return std::string(text, FormatExceptionText(info, text, sizeof text));
}

// Runs inside the crash handler: no allocation, no stdio, no locks, no
// message box; the text is written straight to the terminal.
int ExceptionReport(const platform::CrashInfo& info) {
  char text[kExceptionTextSize + 1];
  size_t len = FormatExceptionText(info, text, kExceptionTextSize);
  text[len++] = '\n';
  platform::Terminal::WriteErrInHandler(text, len);
  return info.code == platform::kExceptionAccessViolation ? 1 : 0;
}

}  // namespace dovrane::app
