#include "network/smb_enumerator.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "extlib/installation/general.h"
#include "extlib/installation/operation_context.h"
#include "network/deadline_call.h"
#include "network/smb_library.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/smb_port.h"
#include "platform/text_codec.h"

namespace dovrane::network {

namespace {

struct Credentials {
  std::string user, password, workgroup;
};

// libsmbclient keeps process-wide state: its configuration, and (Debian's
// build offers no smbc_thread_posix) one talloc stack frame for all threads.
// Two listings at once abort the process ("Freed frame ..."), as two browse
// dialogs opened one after the other did. So one listing at a time; one that
// cannot start within its deadline gives up, as its caller already has.
std::mutex& SessionMutex() {
  static std::mutex mutex;
  return mutex;
}

// The session within deadline_ms, polled with try_lock: this C++ library's
// timed lock is invisible to ThreadSanitizer, which then reports the unlock.
std::unique_lock<std::mutex> TakeSession(int deadline_ms) {
  std::unique_lock<std::mutex> session(SessionMutex(), std::try_to_lock);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
  while (!session.owns_lock() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    (void)session.try_lock();
  }
  return session;
}

void Authenticate(SMBCCTX* ctx, const char*, const char*, char* workgroup, int wglen, char* username, int unlen,
                  char* password, int pwlen) {
  auto* c = static_cast<Credentials*>(LoadSmbLibrary()->get_user_data(ctx));
  if (!c) return;
  if (!c->workgroup.empty()) snprintf(workgroup, static_cast<size_t>(wglen), "%s", c->workgroup.c_str());
  snprintf(username, static_cast<size_t>(unlen), "%s", c->user.empty() ? "guest" : c->user.c_str());
  snprintf(password, static_cast<size_t>(pwlen), "%s", c->password.c_str());
}

// The client's own smb.conf: its caches in our folder, names by DNS or
// broadcast only (no WINS or lmhosts waits), no log files.
std::string ClientConfiguration(const std::string& dir) {
  if (dir.empty() || platform::MakeDirectories(dir) < 0) return "";
  const std::string path = dir + "/smb.conf";
  const std::string text = "[global]\n"
                           "  cache directory = " + dir + "\n"
                           "  lock directory = " + dir + "\n"
                           "  state directory = " + dir + "\n"
                           "  private dir = " + dir + "\n"
                           "  ncalrpc dir = " + dir + "/ncalrpc\n"
                           "  name resolve order = host bcast\n"
                           "  log level = 0\n"
                           "  client use kerberos = off\n";
  std::string now;
  if (platform::ReadWholeFile(path, &now) == 0 && now == text) return path;
  return platform::WriteFileAtomic(path, text) == 0 ? path : "";
}

// Percent-encodes a Windows-1252 path part for an smb:// URL (UTF-8 inside).
std::string UrlPart(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : platform::Cp1252ToUtf8(text)) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/' || c == '$') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The listing itself, run on the helper thread with copies of everything.
NetListing ListNow(const std::string& url, unsigned kind, bool browse, const SmbOptions& options,
                   const std::string& conf) {
  NetListing result;
  std::string missing;
  const SmbLibrary* smb = LoadSmbLibrary(&missing);
  if (!smb) {
    extlib::lfperrC(extlib::DefaultContext(), "%s\n", missing.c_str());
    result.error = NetError::kFailed;
    return result;
  }
  std::unique_lock<std::mutex> session = TakeSession(options.deadline_ms);
  if (!session.owns_lock()) {
    result.error = browse ? NetError::kNoMasterBrowser : NetError::kNotReachable;
    return result;
  }
  auto credentials = std::make_unique<Credentials>(Credentials{options.user, options.password, options.workgroup});
  SMBCCTX* ctx = nullptr;
  {
    ctx = smb->new_context();
    if (ctx) {
      smb->set_debug(ctx, 0);
      if (!conf.empty()) smb->set_configuration(ctx, conf.c_str());
      smb->set_timeout(ctx, options.deadline_ms);
      smb->set_port(ctx, static_cast<uint16_t>(options.port));
      smb->set_use_kerberos(ctx, 0);
      smb->set_fallback_after_kerberos(ctx, 1);
      smb->set_no_auto_anonymous_login(ctx, 0);
      smb->set_user_data(ctx, credentials.get());
      smb->set_auth_function(ctx, Authenticate);
      // The bounds are process-wide in libsmbclient: every context sets its own.
      if (browse)
        smb->set_protocols(ctx, "NT1", "NT1");
      else
        smb->set_protocols(ctx, "SMB2_02", "SMB3");
      if (!smb->init_context(ctx)) {
        smb->free_context(ctx, 0);
        ctx = nullptr;
      }
    }
  }
  if (!ctx) {
    result.error = NetError::kFailed;
    return result;
  }
  SMBCFILE* dir = smb->get_opendir(ctx)(ctx, url.c_str());
  if (!dir) {
    result.error = NetErrorFromErrno(errno, browse);
  } else {
    while (smbc_dirent* e = smb->get_readdir(ctx)(ctx, dir)) {
      if (e->smbc_type != kind) continue;
      std::string name;
      if (!platform::Utf8ToCp1252(e->name, &name) || name.empty() || name[0] == '.') continue;
      // Hidden and administrative shares are not offered as data servers.
      if (kind == SMBC_FILE_SHARE && name.back() == '$') continue;
      std::string comment;
      if (!platform::Utf8ToCp1252(e->comment, &comment)) comment.clear();
      result.entries.push_back({name, comment});
    }
    smb->get_closedir(ctx)(ctx, dir);
  }
  smb->free_context(ctx, 1);
  return result;
}

}  // namespace

SmbEnumerator::SmbEnumerator(SmbOptions options) : options_(std::move(options)) {
  if (options_.cache_dir.empty()) options_.cache_dir = DefaultCacheDir();
}

std::string SmbEnumerator::DefaultCacheDir() {
  platform::Env* env = platform::CurrentEnv();
  std::string base = env->GetEnv("XDG_CACHE_HOME");
  if (base.empty()) {
    const std::string home = env->GetEnv("HOME");
    base = (home.empty() ? std::string("/tmp") : home) + "/.cache";
  }
  return base + "/dovrane/smb";
}

NetListing SmbEnumerator::List(const std::string& url, unsigned kind, bool browse, const std::string& probe_host) {
  const auto start = std::chrono::steady_clock::now();
  if (!probe_host.empty()) {
    // A name DNS does not know may still answer a NetBIOS broadcast: only a
    // resolved address that does not answer ends the call here.
    const int rc = platform::ProbeTcpPort(probe_host, options_.port, options_.probe_ms);
    if (rc < 0 && rc != -ENOENT) return {NetError::kNotReachable, {}};
  }
  const std::string conf = ClientConfiguration(options_.cache_dir);
  const int spent = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  const int left = options_.deadline_ms - spent;
  if (left <= 0) return {NetError::kNotReachable, {}};
  std::optional<NetListing> got = RunWithDeadline<NetListing>(
      [url, kind, browse, options = options_, conf] { return ListNow(url, kind, browse, options, conf); }, left);
  if (!got) return {browse ? NetError::kNoMasterBrowser : NetError::kNotReachable, {}};
  if (got->error == NetError::kNoMasterBrowser && !browse) got->error = NetError::kNameUnknown;
  return *got;
}

NetListing SmbEnumerator::Workgroups() { return List("smb://", SMBC_WORKGROUP, true, ""); }

NetListing SmbEnumerator::Computers(const std::string& workgroup) {
  if (workgroup.empty() || workgroup.find('/') != std::string::npos) return {NetError::kNameUnknown, {}};
  return List("smb://" + UrlPart(workgroup), SMBC_SERVER, true, "");
}

NetListing SmbEnumerator::Shares(const std::string& computer) {
  std::string host, rest;
  if (!SplitUncPath("\\\\" + computer, &host, &rest) || !rest.empty()) return {NetError::kNameUnknown, {}};
  NetListing l = List("smb://" + UrlPart(host), SMBC_FILE_SHARE, false, host);
  if (l.error == NetError::kNotFound) l.error = NetError::kNameUnknown;
  return l;
}

NetListing SmbEnumerator::Directories(const std::string& unc_path) {
  std::string host, rest;
  if (!SplitUncPath(unc_path, &host, &rest) || rest.empty()) return {NetError::kNotFound, {}};
  std::string path = rest;
  for (char& c : path)
    if (c == '\\') c = '/';
  return List("smb://" + UrlPart(host) + "/" + UrlPart(path), SMBC_DIR, false, host);
}

}  // namespace dovrane::network
