// Hostile names and paths: they neither escape the hosts' project folders nor
// crash the program, and output files are written exactly where named.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "support/sample_installation.h"

namespace dovrane::testing {
namespace {

// Every file below root, relative to it.
std::set<std::string> Files(const std::string& root) {
  std::set<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    files.insert(std::filesystem::relative(e.path(), root).string());
  return files;
}

class SecurityTest : public ::testing::Test {
 protected:
  SampleInstallation inst_;
};

TEST_F(SecurityTest, HostileProjectNamesStayInsideTheProjectFolders) {
  const std::string names[] = {
      "..",          "../../etc",   "..\\..\\Net",   "a/b",       "a\\b",       "%n%n%n%n%s%s",
      "x\x01y",      "\ttab",       "#deleted",      " lead",     "C:\\temp",   "\\\\SRV1\\cad\\Net",
      std::string(50, '.'),          "name@host",   "a:b",        "*?",
  };
  const std::set<std::string> before = Files(inst_.root());
  const InstallationState state_before = inst_.State();
  for (const std::string& name : names) {
    ProgramResult r = inst_.Run({name, "-create", "SRV1"});
    EXPECT_EQ(r.signal, 0) << name;
    EXPECT_NE(r.status, 0) << name << " was created";
    for (const char* query : {"-exist", "-info", "-getpath", "-getnumber", "-getdbid", "-erase_y", "-unblock", "-reorg"}) {
      ProgramResult q = inst_.Run({name, query});
      EXPECT_EQ(q.signal, 0) << name << " " << query;
      EXPECT_NE(q.status, 0) << name << " " << query;
    }
  }
  // The trace file, and the audit log that records each refusal, are the program's own.
  auto own = [](const std::string& f) {
    return f.find("STDERR.OUT") != std::string::npos || f.find("dovrane.log") != std::string::npos;
  };
  std::set<std::string> after = Files(inst_.root());
  std::erase_if(after, own);
  std::set<std::string> expected = before;
  std::erase_if(expected, own);
  EXPECT_EQ(after, expected) << "a hostile name created or removed a file";
  EXPECT_TRUE(inst_.State() == state_before);
}

TEST_F(SecurityTest, FifosAndDevicesInProjectFoldersAreNeverWaitedFor) {
  std::vector<std::filesystem::path> infos;
  for (const auto& e : std::filesystem::recursive_directory_iterator(inst_.unc_root()))
    if (e.path().filename() == "prjinfo.dat") infos.push_back(e.path());
  ASSERT_GE(infos.size(), 3u);
  const InstallationState before = inst_.State();
  std::filesystem::remove(infos[0]);
  ASSERT_EQ(::mkfifo(infos[0].c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((infos[1].parent_path() / "attributes.cache").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((infos[2].parent_path().parent_path() / "Hostile.prj").c_str(), 0644), 0);
  std::filesystem::remove(infos[2].parent_path() / "version.txt");
  ASSERT_EQ(::symlink("/dev/zero", (infos[2].parent_path() / "version.txt").c_str()), 0);
  ::unlink((inst_.net_dir() + "/project.dat").c_str());
  // A program that waited would be ended by the time limit (status 124).
  ProgramResult r = RunProgram("/usr/bin/timeout", {"60", DOVRANE_BIN, "-restore"}, inst_.Environment(), inst_.root());
  EXPECT_NE(r.status, 124) << "-restore waited for a FIFO";
  EXPECT_EQ(r.signal, 0);
  // Every project is registered again, but the one whose stored record is a FIFO (reported).
  EXPECT_EQ(inst_.State().records.size() + 1, before.records.size()) << r.out << r.err;
}

TEST_F(SecurityTest, FormatCharactersInNamesAreShownNeverInterpreted) {
  ProgramResult r = inst_.Run({"%s%n%x%p", "-info"});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.err, "Invalid project name\n");
  // A record that holds such a name all the same (written by an older program).
  std::string admin = ReadFile(inst_.net_dir() + "/project.dat");
  const size_t first = admin.find('\n') + 1;
  std::string name = "%s%n%x%p";
  name.resize(50, ' ');
  admin.replace(first, name.size(), name);
  WriteFile(inst_.net_dir() + "/project.dat", admin);
  r = inst_.Run({"%s%n%x%p", "-info"});
  EXPECT_EQ(r.signal, 0);
  EXPECT_NE(r.out.find("%s%n%x%p"), std::string::npos) << r.err;
}

TEST_F(SecurityTest, TooLongNamesAreRefusedWhole) {
  std::string name = inst_.ProjectNames().at(0);
  std::string longer = name + std::string(60 - name.size(), 'x');
  for (const char* op : {"-exist", "-erase_y", "-info"}) {
    ProgramResult r = inst_.Run({longer, op});
    EXPECT_EQ(r.status, 256 - 8) << op;
  }
  EXPECT_EQ(inst_.Run({name, "-exist"}).status, 0);  // the project whose name starts it is untouched
}

TEST_F(SecurityTest, OutputFileIsWrittenExactlyWhereNamed) {
  TempDir out;
  std::string name = inst_.ProjectNames().at(0);
  const std::set<std::string> before = Files(inst_.root());
  std::string target = out / "sub dir/number.txt";
  std::filesystem::create_directories(out / "sub dir");
  ProgramResult r = inst_.Run({name, "-getnumber", target});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Files(out.path()), (std::set<std::string>{"sub dir", "sub dir/number.txt"}));
  EXPECT_EQ(ReadFile(target).size(), 8u);  // seven digits and a line feed
  std::set<std::string> after = Files(inst_.root());
  std::erase_if(after, [](const std::string& f) { return f.find("STDERR.OUT") != std::string::npos; });
  std::set<std::string> expected = before;
  std::erase_if(expected, [](const std::string& f) { return f.find("STDERR.OUT") != std::string::npos; });
  EXPECT_EQ(after, expected);
  // A file that cannot be written: -1, nothing anywhere else.
  r = inst_.Run({name, "-getnumber", out / "missing/x.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(Exists(out / "missing"));
}

}  // namespace
}  // namespace dovrane::testing
