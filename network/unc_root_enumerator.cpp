#include "network/unc_root_enumerator.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

#include "extlib/installation/language.h"
#include "extlib/records/prj_record.h"
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

// Adds the name unless the listing has it (without regard to case), and sorts.
void AddEntry(NetListing* l, const std::string& name) {
  for (const NetEntry& e : l->entries)
    if (strcasecmp(e.name.c_str(), name.c_str()) == 0) return;
  l->entries.push_back({name, ""});
  std::sort(l->entries.begin(), l->entries.end(),
            [](const NetEntry& a, const NetEntry& b) { return strcasecmp(a.name.c_str(), b.name.c_str()) < 0; });
}

}  // namespace

NetListing UncRootEnumerator::Workgroups() {
  std::string domain = platform::DomainName();
  if (domain.empty()) domain = "WORKGROUP";
  return {NetError::kNone, {{domain, ""}}};
}

// The computers below the UNC root, and those whose shares the system has
// mounted elsewhere (CIFS mounts, the desktop's GVfs mounts).
NetListing UncRootEnumerator::Computers(const std::string&) {
  NetListing l = Folders(paths_.UncRoot());
  for (const platform::ShareMount& m : platform::SystemShareMounts()) {
    std::string name;
    if (!platform::Utf8ToCp1252(m.host, &name)) continue;
    for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (extlib::IsValidHostName(name)) AddEntry(&l, name);
  }
  std::erase_if(l.entries, [](const NetEntry& e) { return !extlib::IsValidHostName(e.name); });
  if (!l.entries.empty()) l.error = NetError::kNone;
  return l;
}

NetListing UncRootEnumerator::Shares(const std::string& computer) {
  std::string host, rest;
  if (!SplitUncPath("\\\\" + computer, &host, &rest) || !rest.empty()) return {NetError::kNameUnknown, {}};
  NetListing l = Folders(paths_.ToNative("\\\\" + host));
  for (const platform::ShareMount& m : platform::SystemShareMounts()) {
    std::string share;
    if (strcasecmp(m.host.c_str(), host.c_str()) != 0 || !platform::Utf8ToCp1252(m.share, &share)) continue;
    AddEntry(&l, share);
  }
  if (!l.entries.empty()) l.error = NetError::kNone;
  if (l.error == NetError::kNotFound) l.error = NetError::kNameUnknown;
  return l;
}

NetListing UncRootEnumerator::Directories(const std::string& unc_path) {
  std::string host, rest;
  if (!SplitUncPath(unc_path, &host, &rest) || rest.empty()) return {NetError::kNotFound, {}};
  return Folders(paths_.ToNative("\\\\" + host + "\\" + rest));
}

std::string MountAdvice(const platform::PathMap& paths, const std::string& computer, const std::string& share) {
  const std::string root = paths.UncRoot();
  std::string commands = platform::MountCommandsFor(computer, share, root);
  for (size_t p = 0; (p = commands.find('\n', p)) != std::string::npos; p += 3) commands.replace(p, 1, "\n  ");
  return extlib::LanguageTextWith(extlib::kCheckoutTexts, 9,
                                  {"\\\\" + computer + "\\" + share, root + "/" + computer + "/" + share}) +
         "\n  " + commands;
}

}  // namespace dovrane::network
