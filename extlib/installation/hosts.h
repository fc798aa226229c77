// The hosts (data servers) of the installation: the host list data.cfg in
// the \Net folder (slot 23), the paths built from it, reachability and the
// check-out state of a host.
#pragma once

#include <string>
#include <vector>

namespace dovrane::extlib {

class OperationContext;

class Installation;

inline constexpr char kHostListFile[] = "data.cfg";

struct HostEntry {
  std::string name;
  std::string data_path;  // relative to the host, beginning with "\", or ""
};

// Parses data.cfg: one line per host, name, a blank or tab, data path. A
// line with a bad host name or path is left out (one unusable line must not
// hide every host) and the first such line's number (1-based) is in
// *bad_line, else 0. Always 0.
[[nodiscard]] int ParseHostList(const std::string& text, std::vector<HostEntry>* hosts, int* bad_line);
// Lines as the library writes them ("%s \%s" or the name alone), LF line ends.
std::string FormatHostList(const std::vector<HostEntry>& hosts);
// Reads slot 23's data.cfg of the operation's installation; an unusable line
// is told through the operation. 0, -2 missing, -1 unreadable or malformed.
[[nodiscard]] int ReadHostList(OperationContext& ctx, std::vector<HostEntry>* hosts);
// Replaces the list whole under its lock (extlib/host_list_lock.h). A
// change of the list belongs under the lock from its read on: this is for
// a list made anew, not for one read earlier and changed.
[[nodiscard]] int WriteHostList(extlib::OperationContext& ctx, const std::vector<HostEntry>& hosts);

// Non-zero for a network installation: the \Net folder holds data.cfg.
[[nodiscard]] int lfnetg(OperationContext& ctx);
// The hosts a scan or check walks, in data.cfg's order: a single-workstation
// installation has the one host "localhost". 0, or -1 when the list cannot be
// read (*hosts empty). Of the operation's installation.
[[nodiscard]] int GetHostList(OperationContext& ctx, std::vector<HostEntry>* hosts);
// The host names, `width` bytes each (zero-padded), allocated with malloc
// (release with free). A single-workstation installation has "localhost".
// 0, or -1 when the list cannot be read (nothing allocated).
[[nodiscard]] int get_host_list(OperationContext& ctx, char** list, int* count, int width);
// The host's data path from data.cfg. 0, -19 unknown host, -2 no data.cfg.
[[nodiscard]] int get_data_path(OperationContext& ctx, const std::string& host, std::string* data_path);
// The same path, as the host tree asks for it; non-zero: the host has none.
[[nodiscard]] int get_host_path(OperationContext& ctx, const std::string& host, std::string* path);
// The host's project folder "\\HOST" + data path + "\Prj" (no trailing
// backslash). 0, or -1 for a host name that is not valid.
[[nodiscard]] int lfBuildNetPath(const std::string& host, const std::string& data_path, std::string* path);
// The same for the host's own view; here every host is reached by its network path.
[[nodiscard]] int lfBuildNetPath_local(const std::string& host, const std::string& data_path, std::string* path);
// What lzcheck_path answers: not project codes.
enum PathCheck : int {
  kPathFolder = 1,
  kPathFile = 0,          // a link file
  kPathUnreachable = -1,  // the parent does not exist either
  kPathMissing = -2,      // missing below a reachable parent
};
// A PathCheck.
[[nodiscard]] int lzcheck_path(OperationContext& ctx, const std::string& path);
// Why the calling thread's last lzcheck_path answered kPathUnreachable: the
// path (Windows form) whose look-up failed first and its error (negative
// errno); error 0 when it answered otherwise. For the message of "not
// reachable", which then names the host and the cause.
struct UnreachablePath {
  std::string path;
  int error = 0;
};
UnreachablePath LastUnreachablePath();
// Non-zero when the path lies on an NFS file system mounted from elsewhere.
[[nodiscard]] int CheckForRemoteNFSPath(OperationContext& ctx, const std::string& path);
// This computer's name as the installation knows it.
std::string lzrnamC();
// 1 while the host's check-out information file "<host>.out" lies in \Net.
[[nodiscard]] int IsHostCheckedOut(OperationContext& ctx, const std::string& host);
// Shows the check-out information of a host, or of a project folder
// (n0000012.prj -> n0000012.out), as an information box. 0 shown, -1 none.
int DisplayCheckoutInfo(OperationContext& ctx, const std::string& name);

// The network layer of the ping.
[[nodiscard]] int _WSAInit();
[[nodiscard]] int _ping(const std::string& host, int, int size, int timeout_ms);
std::string _WSAGetErrorString(int code);

}  // namespace dovrane::extlib
