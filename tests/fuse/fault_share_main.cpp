// fault_share SOURCE MOUNTPOINT CONTROL_SOCKET [FSNAME SUBTYPE]: a FUSE file
// system for the tests that passes the folder SOURCE through at MOUNTPOINT (SOURCE
// may be MOUNTPOINT itself: the folder is opened before the mount hides it) and lets
// a test, through commands on the Unix socket CONTROL_SOCKET, delay chosen
// calls, fail them with an error, hang them until released, or make the
// whole share dead. It stands in for a network share whose server is slow,
// failing or gone: a call on it really waits in the kernel. The mount table shows
// FSNAME as its source and fuse.SUBTYPE as its type (neither with a comma: they go
// into the mount's option list), so it can pass for an SMB client.
//
// Commands (one line per connection; the answer is one line, "ok ..." or
// "error ..."):
//   delay OPS MS [after N] [times M]   each matching call waits MS ms first
//   fail OPS ERRNO [after N] [times M] matching calls fail with ERRNO (number or name)
//   hang OPS [after N] [times M]       matching calls wait until "release"
//   dead enotconn|hang [after N]       after N more calls every call fails or hangs
//   release                            hung calls go on (and hang rules end)
//   clear                              no rules, not dead, hung calls go on
//   calls                              "ok COUNT": calls counted so far
//   hung                               "ok COUNT": calls waiting right now
//   wait hung N MS                     answers once N calls wait (at most MS ms):
//                                      "ok COUNT" with the calls waiting then
//   log on|off                         each call's name and path to standard error
// OPS is "all" or a comma list of: getattr readlink mkdir unlink rmdir
// symlink rename link chmod chown truncate open create read write flush
// fsync opendir readdir statfs access utimens xattr. The file's closing
// (release) is never delayed, failed or counted: the kernel does not wait
// for it. Nor is the kernel's look-up of a file's security names before each
// write, which a CIFS mount answers without its server.
//
// Every call reaches the file system; FAULT_SHARE_CACHE_SECONDS=S lets the
// kernel cache names and attributes S seconds, as a CIFS mount does (actimeo).
//
// A hanging call ends when the calling thread is being killed (its process
// ends), as a call on a hard-mounted CIFS share does; any other signal leaves
// it waiting. The caller is looked up in /proc by the process id the kernel
// gives, so /proc must show the file system's own process namespace.
#define FUSE_USE_VERSION 312
#include <fuse3/fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

enum Op : unsigned {
  kGetattr, kReadlink, kMkdir, kUnlink, kRmdir, kSymlink, kRename, kLink, kChmod, kChown,
  kTruncate, kOpen, kCreate, kRead, kWrite, kFlush, kFsync, kOpendir, kReaddir, kStatfs,
  kAccess, kUtimens, kXattr, kOpCount
};
const char* const kOpNames[kOpCount] = {
    "getattr", "readlink", "mkdir", "unlink", "rmdir", "symlink", "rename", "link", "chmod",
    "chown", "truncate", "open", "create", "read", "write", "flush", "fsync", "opendir",
    "readdir", "statfs", "access", "utimens", "xattr"};

enum class Action { kDelay, kFail, kHang };
enum class Dead { kAlive, kEnotconn, kHang };

struct Rule {
  unsigned ops = 0;  // bit per Op
  Action action = Action::kDelay;
  int value = 0;     // ms or errno
  long after = 0;    // matching calls let through first
  long times = -1;   // matching calls affected (-1: all)
};

struct State {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<Rule> rules;
  Dead dead = Dead::kAlive;
  long dead_after = -1;  // calls still let through before dying (-1: not armed)
  Dead dead_mode = Dead::kAlive;
  long calls = 0;
  long hung = 0;
  unsigned long release_generation = 0;
  bool log = false;
};

int g_root = -1;  // the passed-through folder, opened before the mount
State g_state;

// Whether thread tid has SIGKILL pending: its process is ending (exit_group
// or a kill), and a call on a hard-mounted share would end too.
bool BeingKilled(pid_t tid) {
  std::ifstream in("/proc/" + std::to_string(tid) + "/status");
  if (!in.is_open()) return true;  // gone: not waiting any more either
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
      unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
      if (mask & (1ULL << (SIGKILL - 1))) return true;
    }
  }
  return false;
}

// Waits (lock held) until released, or the caller is being killed (-EINTR).
int HangLocked(std::unique_lock<std::mutex>& lock, Dead* dead_seen) {
  const unsigned long generation = g_state.release_generation;
  const pid_t caller = fuse_get_context()->pid;
  ++g_state.hung;
  g_state.cv.notify_all();
  int result = 0;
  while (g_state.release_generation == generation) {
    g_state.cv.wait_for(lock, std::chrono::milliseconds(10));
    if (fuse_interrupted() && BeingKilled(caller)) {
      result = -EINTR;
      break;
    }
  }
  --g_state.hung;
  g_state.cv.notify_all();
  if (dead_seen) *dead_seen = g_state.dead;
  return result;
}

// Every counted call passes here first: 0 to carry it out, or -errno.
int Gate(Op op, const char* path) {
  std::unique_lock<std::mutex> lock(g_state.mu);
  ++g_state.calls;
  if (g_state.log) std::fprintf(stderr, "fault_share: %ld %s %s\n", g_state.calls, kOpNames[op], path ? path : "");
  if (g_state.dead_after == 0) {
    g_state.dead = g_state.dead_mode;
    g_state.dead_after = -1;
  } else if (g_state.dead_after > 0) {
    --g_state.dead_after;
  }
  int delay_ms = 0;
  for (Rule& r : g_state.rules) {
    if (!(r.ops & (1u << op))) continue;
    if (r.after > 0) {
      --r.after;
      continue;
    }
    if (r.times == 0) continue;
    if (r.times > 0) --r.times;
    switch (r.action) {
      case Action::kDelay:
        delay_ms += r.value;
        break;
      case Action::kFail:
        return -r.value;
      case Action::kHang: {
        Dead after = Dead::kAlive;
        if (int rc = HangLocked(lock, &after); rc != 0) return rc;
        if (after == Dead::kEnotconn) return -ENOTCONN;
        break;
      }
    }
  }
  while (g_state.dead != Dead::kAlive) {
    if (g_state.dead == Dead::kEnotconn) return -ENOTCONN;
    Dead after = Dead::kAlive;
    if (int rc = HangLocked(lock, &after); rc != 0) return rc;
    if (after == Dead::kHang && g_state.dead == Dead::kHang) continue;  // released but still dead
    break;
  }
  lock.unlock();
  if (delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  return 0;
}

std::string Rel(const char* path) {
  while (*path == '/') ++path;
  return *path ? std::string(path) : std::string(".");
}
std::string ProcPath(const char* path) {
  return "/proc/self/fd/" + std::to_string(g_root) + "/" + Rel(path);
}
int Err(int rc) { return rc < 0 ? -errno : rc; }

#define GATE(op, path)                       \
  do {                                       \
    if (int gate_rc = Gate(op, path)) return gate_rc; \
  } while (0)

int DoGetattr(const char* path, struct stat* st, fuse_file_info* fi) {
  GATE(kGetattr, path);
  if (fi) return Err(fstat(static_cast<int>(fi->fh), st));
  return Err(fstatat(g_root, Rel(path).c_str(), st, AT_SYMLINK_NOFOLLOW));
}
int DoReadlink(const char* path, char* buf, size_t size) {
  GATE(kReadlink, path);
  ssize_t n = readlinkat(g_root, Rel(path).c_str(), buf, size - 1);
  if (n < 0) return -errno;
  buf[n] = '\0';
  return 0;
}
int DoMkdir(const char* path, mode_t mode) {
  GATE(kMkdir, path);
  return Err(mkdirat(g_root, Rel(path).c_str(), mode));
}
int DoUnlink(const char* path) {
  GATE(kUnlink, path);
  return Err(unlinkat(g_root, Rel(path).c_str(), 0));
}
int DoRmdir(const char* path) {
  GATE(kRmdir, path);
  return Err(unlinkat(g_root, Rel(path).c_str(), AT_REMOVEDIR));
}
int DoSymlink(const char* target, const char* path) {
  GATE(kSymlink, path);
  return Err(symlinkat(target, g_root, Rel(path).c_str()));
}
int DoRename(const char* from, const char* to, unsigned int flags) {
  GATE(kRename, from);
  return Err(renameat2(g_root, Rel(from).c_str(), g_root, Rel(to).c_str(), flags));
}
int DoLink(const char* from, const char* to) {
  GATE(kLink, to);
  return Err(linkat(g_root, Rel(from).c_str(), g_root, Rel(to).c_str(), 0));
}
int DoChmod(const char* path, mode_t mode, fuse_file_info* fi) {
  GATE(kChmod, path);
  if (fi) return Err(fchmod(static_cast<int>(fi->fh), mode));
  return Err(fchmodat(g_root, Rel(path).c_str(), mode, 0));
}
int DoChown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
  GATE(kChown, path);
  if (fi) return Err(fchown(static_cast<int>(fi->fh), uid, gid));
  return Err(fchownat(g_root, Rel(path).c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}
int DoTruncate(const char* path, off_t size, fuse_file_info* fi) {
  GATE(kTruncate, path);
  if (fi) return Err(ftruncate(static_cast<int>(fi->fh), size));
  int fd = openat(g_root, Rel(path).c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -errno;
  int rc = Err(ftruncate(fd, size));
  close(fd);
  return rc;
}
int DoUtimens(const char* path, const timespec tv[2], fuse_file_info* fi) {
  GATE(kUtimens, path);
  if (fi) return Err(futimens(static_cast<int>(fi->fh), tv));
  return Err(utimensat(g_root, Rel(path).c_str(), tv, AT_SYMLINK_NOFOLLOW));
}
int DoOpen(const char* path, fuse_file_info* fi) {
  GATE(kOpen, path);
  int fd = openat(g_root, Rel(path).c_str(), (fi->flags | O_NOFOLLOW | O_CLOEXEC) & ~O_CREAT);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}
int DoCreate(const char* path, mode_t mode, fuse_file_info* fi) {
  GATE(kCreate, path);
  int fd = openat(g_root, Rel(path).c_str(), fi->flags | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}
int DoRead(const char* path, char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  GATE(kRead, path);
  ssize_t n = pread(static_cast<int>(fi->fh), buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}
int DoWrite(const char* path, const char* buf, size_t size, off_t offset, fuse_file_info* fi) {
  GATE(kWrite, path);
  ssize_t n = pwrite(static_cast<int>(fi->fh), buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}
int DoStatfs(const char* path, struct statvfs* st) {
  GATE(kStatfs, path);
  return Err(fstatvfs(g_root, st));
}
int DoFlush(const char* path, fuse_file_info* fi) {
  GATE(kFlush, path);
  // A close of a duplicate reports what close would (delayed write errors).
  return Err(close(dup(static_cast<int>(fi->fh))));
}
int DoRelease(const char*, fuse_file_info* fi) {
  close(static_cast<int>(fi->fh));
  return 0;
}
int DoFsync(const char* path, int datasync, fuse_file_info* fi) {
  GATE(kFsync, path);
  int fd = static_cast<int>(fi->fh);
  return Err(datasync ? fdatasync(fd) : fsync(fd));
}
int DoSetxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
  GATE(kXattr, path);
  return Err(lsetxattr(ProcPath(path).c_str(), name, value, size, flags));
}
int DoGetxattr(const char* path, const char* name, char* value, size_t size) {
  // Asked by the kernel before every write; a CIFS mount answers it without its server.
  if (std::strncmp(name, "security.", 9) != 0) GATE(kXattr, path);
  ssize_t n = lgetxattr(ProcPath(path).c_str(), name, value, size);
  return n < 0 ? -errno : static_cast<int>(n);
}
int DoListxattr(const char* path, char* list, size_t size) {
  GATE(kXattr, path);
  ssize_t n = llistxattr(ProcPath(path).c_str(), list, size);
  return n < 0 ? -errno : static_cast<int>(n);
}
int DoRemovexattr(const char* path, const char* name) {
  GATE(kXattr, path);
  return Err(lremovexattr(ProcPath(path).c_str(), name));
}
int DoOpendir(const char* path, fuse_file_info* fi) {
  GATE(kOpendir, path);
  int fd = openat(g_root, Rel(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -errno;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    int e = errno;
    close(fd);
    return -e;
  }
  fi->fh = reinterpret_cast<uint64_t>(dir);
  return 0;
}
int DoReaddir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info* fi,
              fuse_readdir_flags) {
  GATE(kReaddir, path);
  DIR* dir = reinterpret_cast<DIR*>(fi->fh);
  rewinddir(dir);
  errno = 0;
  while (dirent* e = readdir(dir)) {
    struct stat st {};
    st.st_ino = e->d_ino;
    st.st_mode = static_cast<mode_t>(DTTOIF(e->d_type));
    if (filler(buf, e->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0))) break;
    errno = 0;
  }
  return errno ? -errno : 0;
}
int DoReleasedir(const char*, fuse_file_info* fi) {
  closedir(reinterpret_cast<DIR*>(fi->fh));
  return 0;
}
int DoAccess(const char* path, int mask) {
  GATE(kAccess, path);
  return Err(faccessat(g_root, Rel(path).c_str(), mask, AT_SYMLINK_NOFOLLOW));
}

void* DoInit(fuse_conn_info*, fuse_config* cfg) {
  // No cached names or attributes unless asked for (see the top); a file
  // removed while open is removed, not hidden under another name.
  const char* seconds = std::getenv("FAULT_SHARE_CACHE_SECONDS");
  const double cache = seconds ? std::atof(seconds) : 0;
  cfg->use_ino = 1;
  cfg->entry_timeout = cache;
  cfg->attr_timeout = cache;
  cfg->negative_timeout = 0;
  cfg->hard_remove = 1;
  cfg->nullpath_ok = 1;
  return nullptr;
}

// --- control ------------------------------------------------------------

bool ParseOps(const std::string& text, unsigned* ops) {
  if (text == "all") {
    *ops = (1u << kOpCount) - 1;
    return true;
  }
  *ops = 0;
  std::stringstream in(text);
  for (std::string name; std::getline(in, name, ',');) {
    const auto* const end = kOpNames + kOpCount;
    const auto* const at = std::find(kOpNames, end, name);
    if (at == end) return false;
    *ops |= 1u << (at - kOpNames);
  }
  return *ops != 0;
}

int ParseErrno(const std::string& text) {
  static const std::map<std::string, int> names = {
      {"EIO", EIO},           {"ENOTCONN", ENOTCONN}, {"ETIMEDOUT", ETIMEDOUT}, {"ESTALE", ESTALE},
      {"ENOSPC", ENOSPC},     {"EACCES", EACCES},     {"EHOSTDOWN", EHOSTDOWN}, {"ENOENT", ENOENT},
      {"EROFS", EROFS},       {"EPERM", EPERM},       {"EBUSY", EBUSY},         {"ECONNRESET", ECONNRESET}};
  if (auto it = names.find(text); it != names.end()) return it->second;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  return (end && *end == '\0' && v > 0 && v < 4096) ? static_cast<int>(v) : 0;
}

// Reads "after N" and "times M" at the end of a rule.
bool ParseLimits(std::istringstream& in, Rule* r) {
  for (std::string word; in >> word;) {
    long v = -1;
    if (!(in >> v) || v < 0) return false;
    if (word == "after") r->after = v;
    else if (word == "times") r->times = v;
    else return false;
  }
  return true;
}

std::string Command(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  std::unique_lock<std::mutex> lock(g_state.mu);
  if (verb == "delay" || verb == "fail" || verb == "hang") {
    Rule r;
    std::string ops, value;
    if (!(in >> ops) || !ParseOps(ops, &r.ops)) return "error: which calls?";
    if (verb != "hang") {
      if (!(in >> value)) return "error: missing value";
      if (verb == "delay") {
        r.action = Action::kDelay;
        r.value = std::atoi(value.c_str());
      } else {
        r.action = Action::kFail;
        r.value = ParseErrno(value);
        if (r.value == 0) return "error: unknown error " + value;
      }
    } else {
      r.action = Action::kHang;
    }
    if (!ParseLimits(in, &r)) return "error: bad after/times";
    g_state.rules.push_back(r);
    return "ok";
  }
  if (verb == "dead") {
    std::string mode, word;
    long after = 0;
    in >> mode;
    if (in >> word && (word != "after" || !(in >> after) || after < 0)) return "error: bad after";
    Dead d = mode == "enotconn" ? Dead::kEnotconn : mode == "hang" ? Dead::kHang : Dead::kAlive;
    if (d == Dead::kAlive) return "error: enotconn or hang";
    if (after == 0) {
      g_state.dead = d;
      g_state.dead_after = -1;
    } else {
      g_state.dead_mode = d;
      g_state.dead_after = after;
    }
    return "ok";
  }
  if (verb == "release" || verb == "clear") {
    std::erase_if(g_state.rules, [](const Rule& r) { return r.action == Action::kHang; });
    if (verb == "clear") {
      g_state.rules.clear();
      g_state.dead = Dead::kAlive;
      g_state.dead_after = -1;
    } else if (g_state.dead == Dead::kHang) {
      g_state.dead = Dead::kAlive;
    }
    ++g_state.release_generation;
    g_state.cv.notify_all();
    return "ok";
  }
  if (verb == "calls") return "ok " + std::to_string(g_state.calls);
  if (verb == "hung") return "ok " + std::to_string(g_state.hung);
  if (verb == "wait") {
    std::string what;
    long n = 0, ms = 0;
    if (!(in >> what >> n >> ms) || what != "hung" || ms < 0) return "error: wait hung N MS";
    // Woken by every change of the count: no polling.
    g_state.cv.wait_for(lock, std::chrono::milliseconds(ms), [n] { return g_state.hung >= n; });
    return "ok " + std::to_string(g_state.hung);
  }
  if (verb == "log") {
    std::string v;
    in >> v;
    g_state.log = v == "on";
    return "ok";
  }
  return "error: unknown command";
}

void Answer(int c) {
  std::string line;
  char ch;
  while (line.size() < 4096 && read(c, &ch, 1) == 1 && ch != '\n') line += ch;
  std::string answer = Command(line) + "\n";
  ssize_t ignored = write(c, answer.data(), answer.size());
  (void)ignored;
  close(c);
}

// One thread per connection: a "wait" must not hold up the "release" that
// ends it.
void ServeControl(int listener) {
  for (;;) {
    int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) {
      if (errno == EINTR) continue;
      return;
    }
    std::thread(Answer, c).detach();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) {
    std::fprintf(stderr, "usage: %s SOURCE MOUNTPOINT CONTROL_SOCKET [FSNAME SUBTYPE]\n", argv[0]);
    return 2;
  }
  const std::string fsname = argc == 6 ? argv[4] : "dovrane-fault-share", type = argc == 6 ? argv[5] : "faultshare";
  g_root = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (g_root < 0) {
    std::perror(argv[1]);
    return 1;
  }
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(argv[3]) >= sizeof addr.sun_path) {
    std::fprintf(stderr, "control socket path too long\n");
    return 2;
  }
  std::strcpy(addr.sun_path, argv[3]);
  unlink(argv[3]);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, 16) != 0) {
    std::perror("control socket");
    return 1;
  }

  static fuse_operations ops{};
  ops.getattr = DoGetattr;
  ops.readlink = DoReadlink;
  ops.mkdir = DoMkdir;
  ops.unlink = DoUnlink;
  ops.rmdir = DoRmdir;
  ops.symlink = DoSymlink;
  ops.rename = DoRename;
  ops.link = DoLink;
  ops.chmod = DoChmod;
  ops.chown = DoChown;
  ops.truncate = DoTruncate;
  ops.open = DoOpen;
  ops.read = DoRead;
  ops.write = DoWrite;
  ops.statfs = DoStatfs;
  ops.flush = DoFlush;
  ops.release = DoRelease;
  ops.fsync = DoFsync;
  ops.setxattr = DoSetxattr;
  ops.getxattr = DoGetxattr;
  ops.listxattr = DoListxattr;
  ops.removexattr = DoRemovexattr;
  ops.opendir = DoOpendir;
  ops.readdir = DoReaddir;
  ops.releasedir = DoReleasedir;
  ops.access = DoAccess;
  ops.create = DoCreate;
  ops.utimens = DoUtimens;
  ops.init = DoInit;

  const std::string options = "fsname=" + fsname + ",subtype=" + type;
  std::vector<const char*> args = {argv[0], "-o", options.c_str()};
  fuse_args fargs = FUSE_ARGS_INIT(static_cast<int>(args.size()), const_cast<char**>(args.data()));
  fuse* f = fuse_new(&fargs, &ops, sizeof ops, nullptr);
  if (!f) return 1;
  if (fuse_mount(f, argv[2]) != 0) {
    fuse_destroy(f);
    return 1;
  }
  // An unmount (fusermount3 -u) ends the loop; SIGTERM does too.
  if (fuse_set_signal_handlers(fuse_get_session(f)) != 0) return 1;
  std::thread(ServeControl, listener).detach();
  std::printf("mounted\n");
  std::fflush(stdout);
  fuse_loop_config* config = fuse_loop_cfg_create();
  fuse_loop_cfg_set_max_threads(config, 200);
  int rc = fuse_loop_mt(f, config);
  fuse_loop_cfg_destroy(config);
  // Hung calls go on so that their threads end.
  {
    std::lock_guard<std::mutex> lock(g_state.mu);
    g_state.dead = Dead::kAlive;
    g_state.rules.clear();
    ++g_state.release_generation;
    g_state.cv.notify_all();
  }
  fuse_remove_signal_handlers(fuse_get_session(f));
  fuse_unmount(f);
  fuse_destroy(f);
  unlink(argv[3]);
  return rc == 0 ? 0 : 1;
}
