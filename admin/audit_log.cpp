#include "admin/audit_log.h"

#include <fcntl.h>

#include <cstdint>
#include <ctime>

#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

namespace {

// A peer holding the lock for longer than this is stuck; the line is given up.
constexpr int kLockTimeoutMs = 10000;

std::string Field(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return out;
}

std::string IsoTime(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace

std::string AuditLine(int64_t utc_seconds, const std::string& command, const std::vector<std::string>& arguments,
                      int result, const std::string& result_text) {
  std::string call = command;
  for (const std::string& a : arguments) {
    const std::string trimmed = Field(a.substr(0, a.find_last_not_of(' ') + 1));  // padded names as typed
    call += ' ';
    call += trimmed.find(' ') == std::string::npos && !trimmed.empty() ? trimmed : "\"" + trimmed + "\"";
  }
  std::string text = result_text.empty() ? (result == 0 ? "OK" : "failed") : result_text;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::string computer, user;
  if (!platform::Utf8ToCp1252(platform::ComputerName(), &computer)) computer = "?";
  if (!platform::Utf8ToCp1252(platform::UserName(), &user)) user = "?";
  return IsoTime(utc_seconds) + "\t" + Field(computer) + "\t" + Field(user) + "\t" + Field(call) + "\t" +
         std::to_string(result) + "\t" + Field(text) + "\r\n";
}

int AppendAuditLine(extlib::OperationContext& ctx, const std::string& command,
                    const std::vector<std::string>& arguments, int result, const std::string& result_text) {
  std::string windows;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, kAuditLogName, &windows) != 0) return -ENOENT;
  return AppendAuditLineTo(ctx, windows, command, arguments, result, result_text);
}

int AppendAuditLineTo(extlib::OperationContext& ctx, const std::string& windows, const std::string& command,
                      const std::vector<std::string>& arguments, int result, const std::string& result_text) {
  return AppendAuditLinesTo(ctx, windows, AuditLine(ctx.Env().NowSeconds(), command, arguments, result, result_text));
}

int AppendAuditLinesTo(extlib::OperationContext& ctx, const std::string& windows, const std::string& lines) {
  if (lines.empty()) return 0;
  std::string line = lines;
  // Whatever another log held, it stays lines of text here.
  for (char& c : line) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F) c = ' ';
  }
  if (line.back() != '\n') line += "\r\n";
  platform::Env* env = &ctx.Env();
  const std::string path = ctx.Native(windows);
  // Anyone who may write \Net may put a link here: the administrator's
  // program must not append to (or create) whatever file it points to.
  int fd = platform::OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW);
  if (fd == -ELOOP && platform::IsSymbolicLink(path))
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kRepairTexts, 5, {windows}).c_str());
  if (fd < 0) return fd;
  int rc = env->Lock(fd, 0, 0, platform::LockMode::kExclusive, kLockTimeoutMs);
  if (rc == 0) {
    // One write: the whole text lands at the end, or (disk full) nothing of it is counted.
    const int64_t written = env->Write(fd, line.data(), line.size());
    rc = written < 0 ? static_cast<int>(written) : 0;
    if (rc == 0) rc = env->Sync(fd);
    (void)env->Lock(fd, 0, 0, platform::LockMode::kUnlock, 0);  // the close below releases it anyway
  }
  const int closed = env->Close(fd);
  return rc != 0 ? rc : closed;
}

}  // namespace dovrane::admin
