#include "network/data_server_choice.h"

#include <fcntl.h>
#include <strings.h>

#include "extlib/installation/operation_context.h"
#include "fileops/file_messages.h"
#include "network/network_enumerator.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/system_error.h"
#include "services/ui_text_table.h"

namespace dovrane::network {

using platform::CurrentEnv;

namespace {

// The first line of a small regular file, "" when there is none.
bool FirstLine(extlib::OperationContext& ctx, const std::string& windows, std::string* line) {
  std::string text;
  if (platform::ReadWholeFile(ctx.Native(windows), &text) < 0) return false;
  *line = text.substr(0, text.find_first_of("\r\n"));
  return true;
}

// Makes a folder; one that is there already is fine. 0 or -errno.
int MakeFolder(extlib::OperationContext& ctx, const std::string& windows) {
  const int rc = ctx.Env().MkDir(ctx.Native(windows), 0755);
  return rc == -EEXIST ? 0 : rc;
}

}  // namespace

DataServerChoice CheckDataServerChoice(extlib::OperationContext& ctx, const std::string& field) {
  DataServerChoice c;
  std::string path = field;
  const bool plain = path.find('*') != std::string::npos;
  if (plain) {
    path = path.substr(0, path.find('*'));
    path = path.substr(0, path.rfind('\\'));
  }
  std::string host, rest;
  // A single backslash, or anything that leaves the host, only beeps.
  if (!SplitUncPath(path, &host, &rest)) return c;
  c.path = path;
  if (plain) {
    for (const char* sub : {"\\Prj", "\\Usr"}) {
      const int rc = MakeFolder(ctx, path + sub);
      if (rc < 0) {
        c.message = fileops::FileErrorMessage(4, path + sub, rc);
        return c;
      }
      c.created = true;
    }
  } else {
    std::string line;
    if (FirstLine(ctx, path + "\\net\\data.cfg", &line)) {
      size_t cut = line.find(' ');
      if (cut == std::string::npos) cut = line.find('\t');
      if (strcasecmp(line.substr(0, cut).c_str(), host.c_str()) == 0) {
        c.message = services::UiText(132, 1);
        c.error_icon = false;
        return c;
      }
    }
    if (FirstLine(ctx, path + "\\prj\\project.srv", &line)) {
      c.message = services::UiText(132, 2, line.c_str());
      c.error_icon = false;
      return c;
    }
  }
  const std::string check = ctx.Native(path + "\\Usr\\__check__");
  const int fd = ctx.Env().Open(check, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    c.message = platform::SystemErrorText(fd);
    return c;
  }
  platform::CloseNothingPending(&ctx.Env(), fd);
  (void)ctx.Env().Unlink(check);
  c.rc = 1;
  return c;
}

}  // namespace dovrane::network
