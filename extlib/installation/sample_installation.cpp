#include "extlib/installation/sample_installation.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_data.h"
#include "extlib/projects/project_data_file.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

using platform::CurrentEnv;

namespace {

// splitmix64: the same numbers for a seed on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(Next() % n) : 0; }

 private:
  uint64_t state_;
};

// Latin-1 in octal escapes, which end after three digits (a hex escape would
// take the next letters in).
const char* const kFirst[] = {"Bahnhof", "Rathaus", "Schule", "Klinik", "Wohnpark", "Halle", "Museum",
                              "Br\374cke", "Kita", "Stadion", "Markt", "Turm", "Hafen", "Villa"};
const char* const kSecond[] = {"Nord", "S\374d", "Ost", "West", "Mitte", "am See", "Umbau", "Neubau",
                               "Erweiterung", "Sanierung", "Gro\337e Stra\337e", "Altstadt"};
const char* const kUsers[] = {"ADMIN", "MUELLER", "SCHMIDT", "SCHNEIDER", "FISCHER", "WEBER", "MEYER",
                              "WAGNER", "BECKER", "SCHULZ", "HOFFMANN", "KOCH", "RICHTER", "KLEIN"};

// Plain writes: a fresh installation is made again rather than repaired.
int PutFile(OperationContext& ctx, const std::string& path, const std::string& contents) {
  int fd = ctx.Env().Open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return fd;
  int64_t w = ctx.Env().Write(fd, contents.data(), contents.size());
  int rc = ctx.Env().Close(fd);
  return w < 0 ? static_cast<int>(w) : rc;
}

int MakeDir(const std::string& path) { return platform::MakeDirectories(path); }

// Host 0 is the laptop: this computer as the environment names it.
std::string Host(int i) { return i == 0 ? "WS01" : "SRV" + std::to_string(i); }

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

Uuid SeededUuid(Random* random) {
  Uuid id;
  uint64_t a = random->Next(), b = random->Next();
  std::memcpy(id.bytes.data(), &a, 8);
  std::memcpy(id.bytes.data() + 8, &b, 8);
  id.bytes[6] = static_cast<uint8_t>((id.bytes[6] & 0x0F) | 0x40);
  id.bytes[8] = static_cast<uint8_t>((id.bytes[8] & 0x3F) | 0x80);
  return id;
}

int WriteProjectFolder(OperationContext& ctx, const std::string& folder, const PRJ& record, uint32_t net_id,
                       int containers, int version, bool with_data, Random* random) {
  int rc = ctx.Env().MkDir(folder);
  if (rc == 0) rc = PutFile(ctx, folder + "/version.txt", std::to_string(version) + "\r\n");
  if (rc || !with_data) return rc;
  if (rc == 0) rc = PutFile(ctx, folder + "/" + kProjectInfoFile, FormatProjectInfo(net_id, record, containers));
  if (rc) return rc;
  ProjectData data;
  ProjectObject drawings{SeededUuid(random), "FOLDER", "Drawings", false, {}};
  ProjectObject layer{SeededUuid(random), "LAYER", "0", false, {}};
  ProjectObject plan{SeededUuid(random), "VIEW", "Plan", false, {layer.id}};
  ProjectObject project{SeededUuid(random), "PROJECT", "Project", false, {drawings.id, layer.id, plan.id}};
  data.objects = {project, drawings, layer, plan};
  std::string objects;
  if ((rc = FormatProjectObjects(data, &objects)) != 0) return rc;
  rc = PutFile(ctx, folder + "/" + kProjectObjectsFile, objects);
  if (rc == 0) rc = PutFile(ctx, folder + "/" + kProjectIndexFile, FormatProjectIndex(data, objects));
  return rc;
}

int WriteOfficeStandard(OperationContext& ctx, const std::string& std_dir) {
  const char* const kTrees[] = {"Sym", "objekt", "design", "Assistent", "bspbruns", "fact", "Kukat1",
                                "vek_all", "vek_ele", "vek_pos", "Prod", "res"};
  int rc = MakeDir(std_dir);
  for (const char* t : kTrees)
    if (rc == 0 && (rc = MakeDir(std_dir + "/" + t)) == 0)
      rc = PutFile(ctx, std_dir + "/" + t + "/" + t + ".dat", std::string("office standard ") + t + "\r\n");
  for (const char* f : {"zsy001.dat", "ztx001.dat", "zsg001.dat", "zsb001.dat", "std.cfg"})
    if (rc == 0) rc = PutFile(ctx, std_dir + "/" + f, std::string(f) + "\r\n");
  if (rc == 0) rc = PutFile(ctx, std_dir + "/version.txt", std::to_string(kCurrentProjectVersion) + "\r\n");
  return rc;
}

struct Paths {
  std::string root, unc, local;
  std::string Share(int host) const { return unc + "/" + Host(host) + "/cad"; }
  std::string Net() const { return Share(1) + "/Net"; }
};

int WriteSettings(OperationContext& ctx, const Paths& p) {
  std::string hklm = "[InstallRoot]\nNetDrive = '\\\\SRV1'\nNetPath = '\\cad'\nDataDrive = 'L:'\n"
                     "DataPath = '\\Pelomar'\nWorkPath = 'L:\\Pelomar\\work'\n\n[Drives]\nL = " +
                     Quote(p.local) + "\n\n[Platform]\nUncRoot = " + Quote(p.unc) + "\n";
  int rc = PutFile(ctx, p.root + "/hklm.toml", hklm);
  return rc ? rc : PutFile(ctx, p.root + "/hkcu.toml", "[Settings]\n");
}

// The letters of the sample names in DOS text (code page 850), as old
// administrations and old projects hold them.
void ToDosText(char* text) {
  for (char* c = text; *c; ++c) switch (static_cast<unsigned char>(*c)) {
      case 0xFC: *c = static_cast<char>(0x81); break;  // u umlaut
      case 0xE4: *c = static_cast<char>(0x84); break;  // a umlaut
      case 0xF6: *c = static_cast<char>(0x94); break;  // o umlaut
      case 0xDF: *c = static_cast<char>(0xE1); break;  // sharp s
      default: break;
    }
}

PRJ SampleRecord(int i, const SampleOptions& o, int users, Random* random) {
  PRJ r;
  std::string name = std::string(kFirst[random->Below(std::size(kFirst))]) + " " +
                     kSecond[random->Below(std::size(kSecond))] + " " + std::to_string(i);
  SetPrjName(&r, name);
  SetPrjHost(&r, Host((o.laptop ? 0 : 1) + static_cast<int>(random->Below(static_cast<uint32_t>(o.hosts + o.laptop)))));
  r.number = static_cast<uint32_t>(i);
  r.begin = static_cast<int32_t>(1262304000 + random->Below(400000000));
  r.owner = 1 + random->Below(static_cast<uint32_t>(users));
  for (int m = 0; m < 3; ++m) SetMemberBit(&r, 1 + random->Below(static_cast<uint32_t>(users)), true);
  SetMemberBit(&r, r.owner, true);
  return r;
}

// project.dat and the folders, streamed: one record at a time. 0, or
// kPrjFailed with *error.
int WriteSampleProjects(OperationContext& ctx, const Paths& p, const SampleOptions& o, int users, uint32_t net_id,
                        Random* random, std::string* error) {
  auto fail = [&](int rc, const std::string& what) {
    *error = what + ": " + platform::ErrorName(rc);
    return kPrjFailed;
  };
  int rc = 0;
  const std::string admin_path = p.Net() + "/project.dat";
  int fd = ctx.Env().Open(admin_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return fail(fd, admin_path);
  std::string out = FormatHeader(o.admin_version, static_cast<uint32_t>(o.projects), 2);
  for (int i = 1; rc == 0 && i <= o.projects; ++i) {
    PRJ r = SampleRecord(i, o, users, random);
    int version = o.admin_version == 3 ? 15 + static_cast<int>(random->Below(6)) : 12 + static_cast<int>(random->Below(9));
    r.version = static_cast<unsigned char>(version);
    if (o.admin_version == 1 || (o.admin_version == 2 && version < 18)) ToDosText(r.name);
    std::string line;
    bool ok = o.admin_version == 3 ? FormatRecordV3(r, o.containers, &line) : FormatRecordV12(r, &line);
    if (!ok) return fail(-EINVAL, "record " + std::to_string(i));
    out += line + "\r\n";
    if (o.project_folders)
      rc = WriteProjectFolder(
          ctx, p.Share(r.host[0] == 'S' ? std::atoi(r.host + 3) : 0) + "/Prj/" + NumberText(r.number) + ".prj", r,
          net_id, o.containers, version, o.project_data, random);
    if (out.size() > (1u << 20) || i == o.projects) {
      int64_t w = ctx.Env().Write(fd, out.data(), out.size());
      if (w < 0) rc = static_cast<int>(w);
      out.clear();
    }
  }
  if (!out.empty() && rc == 0) {
    int64_t w = ctx.Env().Write(fd, out.data(), out.size());
    if (w < 0) rc = static_cast<int>(w);
  }
  int rc_close = ctx.Env().Close(fd);
  if (rc == 0) rc = rc_close;
  if (rc) return fail(rc, admin_path);
  return 0;
}

}  // namespace

std::string AbsoluteFolder(OperationContext& ctx, const std::string& dir) {
  if (!dir.empty() && dir[0] == '/') return dir;
  std::string cwd;
  (void)ctx.Env().GetCwd(&cwd);
  return cwd + "/" + dir;
}

int MakeSampleInstallation(OperationContext& ctx, const std::string& dir_in, const SampleOptions& o,
                           std::string* error) {
  if (o.hosts < 1 || o.hosts > 999 || o.projects < 0 || o.projects > static_cast<int>(kMaxProjectNumber) ||
      o.admin_version < 1 || o.admin_version > 3 || o.containers < 1 || o.containers > kMaxUserContainers ||
      (o.admin_version < 3 && o.containers > 4)) {
    *error = "invalid options";
    return kPrjFailed;
  }
  Paths p;
  p.root = AbsoluteFolder(ctx, dir_in);
  p.unc = p.root + "/unc";
  p.local = p.root + "/local";
  platform::FileInfo info;
  if (ctx.Env().Stat(p.unc, &info) == 0) {
    *error = p.root + " already holds an installation";
    return kPrjFailed;
  }
  auto fail = [&](int rc, const std::string& what) {
    *error = what + ": " + platform::ErrorName(rc);
    return kPrjFailed;
  };
  int rc = MakeDir(p.Net());
  if (rc == 0) rc = MakeDir(p.local + "/Pelomar/prj");
  if (rc == 0) rc = MakeDir(p.local + "/Pelomar/work");
  if (rc == 0) rc = WriteSettings(ctx, p);
  if (rc) return fail(rc, p.root);
  std::string data_cfg;
  for (int h = o.laptop ? 0 : 1; h <= o.hosts; ++h) {
    data_cfg += Host(h) + " \\cad\n";
    rc = MakeDir(p.Share(h) + "/Prj");
    if (rc == 0) rc = MakeDir(p.Share(h) + "/Usr/" + kUsers[h % std::size(kUsers)]);
    if (rc == 0) rc = PutFile(ctx, p.Share(h) + "/Prj/project.srv", "SRV1");
    if (rc) return fail(rc, p.Share(h));
  }
  const int users = std::min<int>(static_cast<int>(std::size(kUsers)), 32 * o.containers);
  UserTable table;
  table.containers = o.containers;
  for (int u = 0; u < users; ++u) table.users.push_back({static_cast<uint32_t>(u + 1), kUsers[u], u == 0});
  Random random(o.seed);
  uint32_t net_id = 2 + static_cast<uint32_t>(random.Next() % 0xFFFFFFF0u);
  rc = PutFile(ctx, p.Net() + "/data.cfg", data_cfg);
  if (rc == 0) rc = PutFile(ctx, p.Net() + "/" + kUserTableFile, FormatUserTable(table));
  if (rc == 0) rc = PutFile(ctx, p.Net() + "/" + kNetIdFileName, FormatNetIdFile(net_id));
  if (rc == 0) rc = WriteOfficeStandard(ctx, p.Share(1) + "/STD");
  if (rc) return fail(rc, p.Net());

  if (const int written = WriteSampleProjects(ctx, p, o, users, net_id, &random, error); written != 0) return written;

  // The attribute database, through the library on the new \Net folder.
  ctx.installation().Paths().SetUncRoot(p.unc);
  lfinipC(ctx, kSlotNet, "\\\\SRV1\\cad\\Net\\");
  if (InitTree(ctx) != 0) return fail(-EIO, "attribute database");
  RX_ProjectAttributes attrs(ctx, kSlotNet);
  const int with_attributes = std::min(o.projects, o.attribute_projects);
  for (int i = 1; i <= with_attributes; ++i) {
    if (attrs.setAttribute(static_cast<uint32_t>(i), "PRJ_DESCRIPTION", "Sample project " + std::to_string(i)) != 0)
      return fail(-EIO, "attribute of project " + std::to_string(i));
  }
  return 0;
}

std::string SampleEnvironment(OperationContext& ctx, const std::string& dir) {
  const std::string root = AbsoluteFolder(ctx, dir);
  return "export DOVRANE_HKLM=" + Quote(root + "/hklm.toml") + "\nexport DOVRANE_HKCU=" +
         Quote(root + "/hkcu.toml") + "\nexport DOVRANE_UNC_ROOT=" + Quote(root + "/unc") +
         "\nexport DOVRANE_COMPUTERNAME=WS01\nexport DOVRANE_USERNAME=admin\n";
}

int ListInstallationProjects(OperationContext& ctx, const std::string& dir, std::vector<std::string>* names) {
  std::string text;
  if (platform::ReadWholeFile(AbsoluteFolder(ctx, dir) + "/unc/SRV1/cad/Net/project.dat", &text, uint64_t{1} << 40) !=
      0)
    return kPrjFailed;
  AdminHeader header;
  if (ParseHeaderBytes(text.data(), text.size(), &header) != 0) return kPrjFailed;
  size_t pos = layout::kHeaderText + static_cast<size_t>(header.line_end);
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t len = end - pos - (end > pos && text[end - 1] == '\r' ? 1 : 0);
    std::string name = text.substr(pos, std::min<size_t>(len, layout::kNameWidth));
    name = name.substr(0, name.find('@'));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (!name.empty() && name[0] != '#') names->push_back(name);
    pos = end + 1;
  }
  return 0;
}

}  // namespace dovrane::extlib
