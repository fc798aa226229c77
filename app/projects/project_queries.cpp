#include "app/projects/project_queries.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/projects/app_state.h"
#include "extlib/installation/general.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/project_list.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/project_scan.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/system_error.h"
#include "platform/terminal.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {

constexpr char kUnknown[] = " < unknown > ";
constexpr int kSlotWork = extlib::kSlotProjectData;

std::string Format(const char* format, const std::string& value) {
  std::vector<char> buf(value.size() + 64);
  std::snprintf(buf.data(), buf.size(), format, value.c_str());
  return buf.data();
}

std::string BeginText(int32_t begin) {
  if (begin == 0) return kUnknown;
  const std::time_t t = begin;
  std::tm tm{};
  int day = 0, month = 0, year = 0;
  if (localtime_r(&t, &tm)) {
    day = tm.tm_mday;
    month = tm.tm_mon + 1;
    year = tm.tm_year >= 40 ? tm.tm_year + 1900 : tm.tm_year + 2000;
  }
  char text[12];
  extlib::kgdate(&day, &month, &year, text);
  return text;
}

// The project folder and its size, or the unknown texts; the link line when
// the record is a link.
void FolderLines(extlib::OperationContext& ctx, const extlib::PRJ& record, std::string* out) {
  std::string dir, size = kUnknown;
  if (extlib::make_prj_dir(ctx, record, &dir) != 0) {
    dir = kUnknown;
  } else {
    std::string link;
    if (record.number != 0 && ((record.status - extlib::kStatusBlank) & extlib::kStatusLink) &&
        extlib::build_prj_dir(ctx, record, &link) == 0)
      *out += Format("PrjLink\t : %s\n", link);
    extlib::lfslash_cat(&dir);
    double kbytes = 0;
    if (extlib::lfinipC(ctx, kSlotWork, dir) == 0 && extlib::ldirleC(ctx, kSlotWork, 1, &kbytes) == 0) {
      char text[64];
      std::snprintf(text, sizeof text, "%12.3lf MByte", kbytes / 1024.0);
      size = text;
    }
  }
  *out += Format("PrjPath\t : %s\n", dir);
  *out += Format("PrjSize\t : %s\n", size);
}

std::string UserName(uint32_t index) {
  std::string name;
  (void)extlib::lzugnaC(index, &name);  // an unknown user is shown without a name
  std::vector<char> converted(name.size() + 1);
  extlib::AsciiTextToIso(name.c_str(), converted.data());
  return converted.data();
}

void MemberLines(const extlib::PRJ& record, std::string* out) {
  *out += Format("PrjOwner\t : %s\n", UserName(record.owner));
  *out += "PrjMembers:  ";
  const uint32_t users = 32u * static_cast<uint32_t>(extlib::lzuGetCountOfUserContainers());
  int shown = 0;
  for (uint32_t i = 1; i <= users; ++i) {
    if (i == record.owner || !extlib::MemberBit(record, i)) continue;
    if (++shown >= 5 && (shown - 5) % 5 == 0) *out += "\n  ";
    *out += Format("%-10.8s", UserName(i));
  }
  *out += "\n";
}

void NoAccess(extlib::OperationContext& ctx, const std::string& padded_name) {
  services::ToolMessageBox(ctx, services::kMessageWarning, "No access to project <%s>\n",
                           DisplayName(padded_name).c_str());
}

// Writes the result line, or leaves the file empty after a failed lookup.
int Answer(extlib::OperationContext& ctx, int lookup, const std::string& output_file, const std::string& line) {
  int written = WriteOutputFile(ctx, output_file, lookup == 0 ? line : "");
  return written != 0 ? -1 : lookup;
}

}  // namespace

std::string DisplayName(const std::string& padded_name) {
  std::vector<char> converted(padded_name.size() + 1);
  extlib::AsciiTextToIso(padded_name.c_str(), converted.data());
  return converted.data();
}

extlib::ProjectCode WriteOutputFile(extlib::OperationContext& ctx, const std::string& file, const std::string& text) {
  if (file.empty()) return extlib::kPrjFailed;
  std::string path;
  if (platform::IsUncPath(file) || platform::IsDrivePath(file)) {
    path = ctx.Native(file);
  } else {
    path = platform::Cp1252ToUtf8(file);  // as typed on the command line
    if (path[0] != '/' && !StartFolder().empty()) path = StartFolder() + "/" + path;
  }
  platform::Env* env = &ctx.Env();
  // A script reads the answer from the file: a failure is named, not only counted.
  auto failed = [&ctx, &file](int error) {
    services::ToolMessageBox(ctx, services::kMessageError, "Can't write the output file %s: %s\n", file.c_str(),
                             platform::SystemErrorText(error));
    return extlib::kPrjFailed;
  };
  int fd = env->Open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return failed(fd);
  const std::string bytes = platform::Cp1252ToUtf8(text);
  int64_t w = bytes.empty() ? 0 : env->Write(fd, bytes.data(), bytes.size());
  int closed = env->Close(fd);
  if (w < 0) return failed(static_cast<int>(w));
  if (w != static_cast<int64_t>(bytes.size())) return failed(-ENOSPC);
  return closed != 0 ? failed(closed) : extlib::kPrjOk;
}

// A run asks for one project: it is looked up by one pass over the
// administration instead of building the whole project table for it.
extlib::ProjectCode ProjectExist(extlib::OperationContext& ctx, const std::string& padded_name) {
  extlib::PRJ record;
  return extlib::AsProjectCode(extlib::ScanProjectInfo(ctx, padded_name, &record));
}

std::string ProjectInfoText(extlib::OperationContext& ctx, const std::string& display_name, const extlib::PRJ& record) {
  const bool network = extlib::lfnetg(ctx) != 0;
  char number[32];
  std::snprintf(number, sizeof number, "n%.7u", record.number);
  char dbkey[32];
  std::snprintf(dbkey, sizeof dbkey, "PrjDBkey\t : %.10lu\n", static_cast<unsigned long>(record.dbkey));
  // One line a field: a stored name or host cannot add lines or steer the terminal.
  std::string text = Format("PrjName\t : %s\n", platform::ShowControlsCp1252(display_name, false));
  text += Format("PrjNumber : %s\n", number);
  text += Format("PrjBegin\t : %s\n", BeginText(record.begin));
  text += dbkey;
  if (network) text += Format("PrjHost\t : %s\n", platform::ShowControlsCp1252(record.host, false));
  FolderLines(ctx, record, &text);
  if (network) MemberLines(record, &text);
  return text;
}

extlib::ProjectCode ProjectInfo(extlib::OperationContext& ctx, const std::string& padded_name) {
  extlib::PRJ record;
  int rc = extlib::ScanProjectInfo(ctx, padded_name, &record);
  if (rc != 0) {
    NoAccess(ctx, padded_name);
    return extlib::AsProjectCode(rc);
  }
  services::ToolMessageBox(ctx, services::kMessageInformation, "%s",
                           ProjectInfoText(ctx, DisplayName(padded_name), record).c_str());
  return extlib::kPrjOk;
}

extlib::ProjectCode ProjectGetPath(extlib::OperationContext& ctx, const std::string& padded_name, const std::string& output_file) {
  std::string dir;
  // ltpdirC's lookup and folder, with the lookup of a single project.
  extlib::PRJ record;
  int rc;
  {
    extlib::QuietContext quiet(ctx);
    rc = extlib::ScanProjectInfo(quiet, padded_name, &record);
    if (rc == 0) rc = extlib::make_prj_dir(quiet, record, &dir);
  }
  if (rc != 0) platform::Terminal::Beep();
  if (!output_file.empty()) return extlib::AsProjectCode(Answer(ctx, rc, output_file, dir + "\n"));
  // Without a file the path is shown, as the other two getters show theirs.
  if (rc == 0) services::ToolMessageBox(ctx, services::kMessageInformation, "%s\n", dir.c_str());
  return extlib::AsProjectCode(rc);
}

extlib::ProjectCode ProjectGetNumber(extlib::OperationContext& ctx, const std::string& padded_name, const std::string& output_file) {
  extlib::PRJ record;
  int rc = extlib::ScanProjectInfo(ctx, padded_name, &record);
  if (rc != 0) NoAccess(ctx, padded_name);
  char line[32];
  std::snprintf(line, sizeof line, "%07u\n", record.number);
  if (!output_file.empty()) return extlib::AsProjectCode(Answer(ctx, rc, output_file, line));
  if (rc == 0)
    services::ToolMessageBox(ctx, services::kMessageInformation, "Project name: %s\nProject number: %07u\n",
                             DisplayName(padded_name).c_str(), record.number);
  return extlib::AsProjectCode(rc);
}

extlib::ProjectCode ProjectGetDbId(extlib::OperationContext& ctx, const std::string& padded_name, const std::string& output_file) {
  uint32_t key = 0;
  extlib::PRJ record;
  int rc = extlib::ScanProjectInfo(ctx, padded_name, &record);
  if (rc == 0) key = record.dbkey;  // what get_project_key answers
  if (rc != 0) NoAccess(ctx, padded_name);
  // Keys are unsigned ten-digit values: printed unsigned, never negative.
  char line[32];
  std::snprintf(line, sizeof line, "%u\n", key);
  if (!output_file.empty()) return extlib::AsProjectCode(Answer(ctx, rc, output_file, line));
  if (rc == 0)
    services::ToolMessageBox(ctx, services::kMessageInformation, "PrjName: <%s>\nPrjDBkey: %u\n",
                             DisplayName(padded_name).c_str(), key);
  return extlib::AsProjectCode(rc);
}

}  // namespace dovrane::app
