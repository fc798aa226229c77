#include "network/unc_root_enumerator.h"

#include <algorithm>
#include <strings.h>

#include "extlib/prj_record.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/share_mounts.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"

namespace dovrane::network {

namespace {

// The folders of a native folder, sorted without regard to case; names
// beginning with "." and names the Windows form cannot hold are left out.
NetListing Folders(const std::string& native) {
  NetListing out;
  std::vector<platform::DirEntry> entries;
  const int rc = native.empty() ? -ENOENT : platform::CurrentEnv()->ListDir(native, &entries);
  if (rc < 0) {
    out.error = NetErrorFromErrno(rc, false);
    return out;
  }
  for (const platform::DirEntry& e : entries) {
    if (e.name.empty() || e.name[0] == '.') continue;
    platform::FileInfo info;
    // Follows links: a host mounted elsewhere may be linked in.
    if (platform::CurrentEnv()->Stat(native + "/" + e.name, &info, true) < 0 ||
        info.type != platform::EntryType::kDirectory)
      continue;
    std::string name;
    if (!platform::Utf8ToCp1252(e.name, &name)) continue;
    out.entries.push_back({name, ""});
  }
  std::sort(out.entries.begin(), out.entries.end(),
            [](const NetEntry& a, const NetEntry& b) { return strcasecmp(a.name.c_str(), b.name.c_str()) < 0; });
  return out;
}

}  // namespace

NetListing UncRootEnumerator::Workgroups() {
  std::string domain = platform::DomainName();
  if (domain.empty()) domain = "WORKGROUP";
  return {NetError::kNone, {{domain, ""}}};
}

NetListing UncRootEnumerator::Computers(const std::string&) {
  NetListing l = Folders(platform::PathMap::Instance().UncRoot());
  std::erase_if(l.entries, [](const NetEntry& e) { return !extlib::IsValidHostName(e.name); });
  return l;
}

NetListing UncRootEnumerator::Shares(const std::string& computer) {
  std::string host, rest;
  if (!SplitUncPath("\\\\" + computer, &host, &rest) || !rest.empty()) return {NetError::kNameUnknown, {}};
  NetListing l = Folders(platform::NativePath("\\\\" + host));
  if (l.error == NetError::kNotFound) l.error = NetError::kNameUnknown;
  return l;
}

NetListing UncRootEnumerator::Directories(const std::string& unc_path) {
  std::string host, rest;
  if (!SplitUncPath(unc_path, &host, &rest) || rest.empty()) return {NetError::kNotFound, {}};
  return Folders(platform::NativePath("\\\\" + host + "\\" + rest));
}

std::string MountAdvice(const std::string& computer, const std::string& share) {
  const std::string root = platform::PathMap::Instance().UncRoot();
  std::string commands = platform::MountCommandsFor(computer, share, root);
  for (size_t p = 0; (p = commands.find('\n', p)) != std::string::npos; p += 3) commands.replace(p, 1, "\n  ");
  return "\\\\" + computer + "\\" + share + " is neither below the UNC root (" + root + "/" + computer + "/" + share +
         ") nor mounted, so it cannot be used yet.\nAn administrator mounts it, for example with:\n  " + commands;
}

}  // namespace dovrane::network
