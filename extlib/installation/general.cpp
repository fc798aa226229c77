#include "extlib/installation/general.h"

#include <sys/utsname.h>

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "extlib/installation/installation.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "platform/env.h"
#include "platform/messenger.h"
#include "platform/system_error.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"

namespace dovrane::extlib {

int String2ArgcArgv(const std::string& line, int* argc, std::vector<std::string>* argv) {
  const int max = *argc;
  argv->clear();
  size_t i = 0, n = line.size();
  while (true) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (line[i] == '\\') {
        size_t slashes = 0;
        while (i < n && line[i] == '\\') ++slashes, ++i;
        if (i < n && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg.push_back('"');
            ++i;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (line[i] == '"') {
        quoted = !quoted;
        ++i;
      } else {
        arg.push_back(line[i++]);
      }
    }
    if (quoted) return 0;
    argv->push_back(arg);
    if (static_cast<int>(argv->size()) > max) return 0;
  }
  *argc = static_cast<int>(argv->size());
  return 1;
}

int lfperrC(OperationContext& ctx, const char* format, ...) {
  char buffer[2048];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  if (ctx.installation().perr_mode == 1) {
    std::fputs(buffer, stderr);
    std::fflush(stderr);
  } else {
    ctx.Messenger().MessageBox(buffer, kCaption, platform::kMbIconWarning);
  }
  return n;
}

void lfperrC_SetMode(int mode) { ProcessInstallation().perr_mode = mode; }

int lfperrC_IsOEMConverting() { return 0; }

void lf_perror(OperationContext& ctx, const char* name) {
  std::string text = std::string(name ? name : "") + ": " + platform::LastSystemErrorText();
  LibraryMessage(ctx, 1, text);
}

void lfPrintSystemInfo(FILE* stream) {
  char date[16];
  int d, m, y;
  TodayDate(&d, &m, &y);
  kgdate(&d, &m, &y, date);
  std::time_t now = std::time(nullptr);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M:%S", std::localtime(&now));
  struct utsname u;
  std::memset(&u, 0, sizeof u);
  ::uname(&u);
  std::string cwd;
  (void)platform::CurrentEnv()->GetCwd(&cwd);
  std::fprintf(stream,
               "System information\n"
               "\tDate     : %s %s\n"
               "\tProgram  : dovrane\n"
               "\tComputer : %s\n"
               "\tUser     : %s\n"
               "\tDomain   : %s\n"
               "\tSystem   : %s %s %s\n"
               "\tFolder   : %s\n",
               date, clock, platform::ComputerName().c_str(), platform::UserName().c_str(),
               platform::DomainName().c_str(), u.sysname, u.release, u.machine, cwd.c_str());
  std::fflush(stream);
}

void setFileAccessTrace(int on) { ProcessInstallation().trace = on; }
int getFileAccessTrace() { return ProcessInstallation().trace; }

void TodayDate(int* day, int* month, int* year) {
  std::time_t now = std::time(nullptr);
  std::tm tm;
  localtime_r(&now, &tm);
  *day = tm.tm_mday;
  *month = tm.tm_mon + 1;
  *year = tm.tm_year + 1900;
}

void kgdate(int* day, int* month, int* year, char* out) {
  if (out) std::snprintf(out, 11, "%02d.%02d.%04d", *day % 100, *month % 100, *year % 10000);
}

void StringGross(char* text, int length) {
  for (int i = 0; i < length && text[i]; ++i)
    text[i] = static_cast<char>(platform::UpperCp1252(static_cast<unsigned char>(text[i])));
}

int StringLaenge0(const char* text, int max) {
  int n = 0;
  while (n < max && text[n]) ++n;
  while (n > 0 && text[n - 1] == ' ') --n;
  return n;
}

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, at, end - at);
    if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    at = end + 1;
  }
  return lines;
}

}  // namespace dovrane::extlib
