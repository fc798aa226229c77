// The audit log \Net\dovrane.log: one line for every command that changes the
// installation (the command line's operations, the window's commands,
// check-out and check-in, host registration and removal), so an
// administrator can see who changed what and when.
//
// A line: time (UTC, ISO 8601), computer, user, command and arguments,
// result code and result text, separated by tabs, ended by CR LF so that an
// editor on either system shows it; Windows-1252 like every shared file.
// Each line is appended with one write under an exclusive lock of the whole
// file (O_APPEND as well), so concurrent programs never interleave within a
// line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

inline constexpr char kAuditLogName[] = "dovrane.log";

// The line for one command (without a time: now); control characters inside
// the fields become blanks, so one command is always one line.
std::string AuditLine(int64_t utc_seconds, const std::string& command, const std::vector<std::string>& arguments,
                      int result, const std::string& result_text);

// Appends the line for a command to the audit log in the \Net folder (slot
// 23). result_text "" names the result "OK" for 0 and "failed" otherwise.
// 0 or -errno; the caller's command has already run, so a failure only means
// the line is missing (callers pass it on to the trace, never fail for it).
// A log that is a symbolic link is never written through: a warning names
// it, and -ELOOP is returned.
[[nodiscard]] int AppendAuditLine(extlib::OperationContext& ctx, const std::string& command,
                                  const std::vector<std::string>& arguments, int result,
                                  const std::string& result_text = "");
// The same into the log file at a Windows path: for a command that has
// switched the installation to another \Net (a host check-out) and records
// itself in the network's.
[[nodiscard]] int AppendAuditLineTo(extlib::OperationContext& ctx, const std::string& log_file,
                                    const std::string& command, const std::vector<std::string>& arguments, int result,
                                    const std::string& result_text = "");
// Appends finished lines (another log's, as a laptop's at its check-in) in
// one write, their control characters other than TAB, CR and LF made blanks
// and a last line ended.
[[nodiscard]] int AppendAuditLinesTo(extlib::OperationContext& ctx, const std::string& log_file,
                                     const std::string& lines);

}  // namespace dovrane::admin
