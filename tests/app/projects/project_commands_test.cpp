// Creating, erasing and unblocking projects through the real program.
#include "app/projects/project_commands.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "app/projects/app_state.h"
#include "app/command_table.h"
#include "extlib/installation/general.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_lifecycle.h"
#include "platform/env.h"
#include "support/pty_program.h"
#include "support/recording_messenger.h"
#include "support/run_program.h"
#include "support/sample_site.h"
#include "support/session_lock.h"

namespace dovrane::app {
namespace {

using testing::Exists;
using testing::ReadFile;

class ProjectCommandsTest : public ::testing::Test {
 protected:
  std::string HostOf(uint32_t number) {
    extlib::PRJ r;
    EXPECT_TRUE(site_.Record(number, &r));
    return r.host;
  }
  bool Known(uint32_t number) {
    extlib::PRJ r;
    return site_.Record(number, &r);
  }
  std::string Trace() { return ReadFile(site_.WorkDir() + "/STDERR.OUT"); }
  extlib::ScopedInstallation installation_;  // the trace mode and slots end with the test
  testing::SampleSite site_{12};
};

TEST_F(ProjectCommandsTest, EraseYRemovesRecordFolderAndAttributes) {
  const std::string dir = site_.ProjectDir(HostOf(1), 1);
  auto r = site_.Run({site_.Name(1), "-erase_y"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_FALSE(Known(1));
  EXPECT_FALSE(Exists(dir));
  extlib::RX_ProjectAttributes attributes(extlib::kSlotNet);
  std::string value;
  EXPECT_EQ(attributes.getAttribute(1, "PRJ_DESCRIPTION", &value), -ENOENT);
  EXPECT_EQ(attributes.getAttribute(2, "PRJ_DESCRIPTION", &value), 0);  // the others' stay
}

// A folder that cannot be removed (a file another workstation keeps open, a
// share failing the call): the project is erased all the same, and the
// command says what is left and that the next update removes it, which it does.
TEST_F(ProjectCommandsTest, AnEraseWhoseFolderStaysSaysSoAndTheNextUpdateRemovesIt) {
  const std::string dir = site_.ProjectDir(HostOf(4), 4);
  auto env = site_.Environment();
  env["DOVRANE_FAULT"] = "unlink:1+:EIO";
  auto r = testing::RunProgram(DOVRANE_BIN, {site_.Name(4), "-erase_y"}, env, site_.start_dir());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("was erased, but its folder"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("n0000004.prj.del~"), std::string::npos) << r.err;
  EXPECT_FALSE(Known(4));
  EXPECT_TRUE(Exists(dir + ".del~"));
  r = site_.Run({"-update"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(dir + ".del~"));
  EXPECT_FALSE(Exists(site_.NetDir() + "/n0000004.prj.del"));
  EXPECT_FALSE(Known(4));
}

// A CAD session holds the lock on the project's lock information file.
TEST_F(ProjectCommandsTest, EraseOfAnOpenProjectIsRefused) {
  const std::string dir = site_.ProjectDir(HostOf(3), 3);
  testing::SessionLock session(dir + "/project.lck");
  ASSERT_TRUE(session.held());
  auto r = site_.Run({site_.Name(3), "-erase_y"});
  EXPECT_EQ(r.status, 256 - 7);
  EXPECT_NE((r.out + r.err).find("in use"), std::string::npos) << r.out << r.err;
  EXPECT_TRUE(Known(3));
  EXPECT_TRUE(Exists(dir + "/objects.dat"));
  session.Release();
  EXPECT_EQ(site_.Run({site_.Name(3), "-erase_y"}).status, 0);
  EXPECT_FALSE(Known(3));
}

TEST_F(ProjectCommandsTest, EraseWithoutTerminalAsksInVainAndKeepsTheProject) {
  const std::string host = HostOf(2);
  auto r = site_.Run({site_.Name(2), "-erase"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Remove project <" + site_.Name(2) + ">\nDirectory <\\\\" + host +
                       "\\cad\\Prj\\n0000002.prj> ?\n");
  EXPECT_TRUE(Known(2));
  EXPECT_TRUE(Exists(site_.ProjectDir(host, 2) + "/objects.dat"));
  EXPECT_EQ(Trace(), "aborted\n");
}

TEST_F(ProjectCommandsTest, EraseAnsweredOnTheTerminal) {
  const std::tuple<uint32_t, const char*, bool, const char*> cases[] = {
      {3, "n\n", true, "skiped\n"},
      {4, "y\n", false, ""},
  };
  for (const auto& [number, answer, kept, trace] : cases) {
    auto r = testing::RunProgramOnTerminal(DOVRANE_BIN, {site_.Name(number), "-erase"}, answer,
                                           site_.Environment(), site_.start_dir());
    EXPECT_EQ(r.status, 0) << answer << r.out;
    EXPECT_NE(r.out.find("Remove project <" + site_.Name(number) + ">"), std::string::npos) << r.out;
    EXPECT_EQ(Known(number), kept) << answer;
    EXPECT_EQ(Trace(), trace) << answer;
  }
}

TEST_F(ProjectCommandsTest, EraseAsksAYesNoQuestionOnlyWhileInteractive) {
  site_.Activate();
  extlib::lfperrC_SetMode(1);  // the trace goes to standard error, as in the program
  const std::pair<int, int> cases[] = {{1, 1}, {0, 0}};  // interactive flag, questions asked
  for (const auto& [interactive, asked] : cases) {
    testing::RecordingMessenger messages;
    messages.Answer(platform::kIdNo);
    extlib::OperationContext ctx(extlib::ProcessInstallation(), &messages);
    ctx.interactive = interactive;
    EXPECT_EQ(EraseProject(ctx, PadProjectName(site_.Name(8))), 0);
    ASSERT_EQ(static_cast<int>(messages.messages.size()), asked);
    if (asked) {
      EXPECT_EQ(messages.messages[0].flags & (platform::kMbButtonMask | platform::kMbIconMask),
                platform::kMbYesNo | platform::kMbIconQuestion);
      EXPECT_TRUE(Known(8));
    }
  }
  EXPECT_FALSE(Known(8));  // without the question it was erased
}

TEST_F(ProjectCommandsTest, OnlyTheOwnerOrAnAdministratorMayErase) {
  site_.EditRecord(5, [](extlib::PRJ* r) { r->owner = 3; });
  site_.EditRecord(6, [](extlib::PRJ* r) { r->owner = 2; });
  auto r = site_.Run({site_.Name(5), "-erase_y"}, "mueller");
  EXPECT_EQ(r.status, 256 - 14);
  EXPECT_EQ(r.err, "You do not have owner's rights to the project\n");
  EXPECT_TRUE(Known(5));
  EXPECT_EQ(site_.Run({site_.Name(6), "-erase_y"}, "mueller").status, 0);
  EXPECT_FALSE(Known(6));
  r = site_.Run({"Nobody", "-erase_y"});
  EXPECT_EQ(r.status, 253);
  EXPECT_EQ(r.err, "Project does not exist\n");
}

TEST_F(ProjectCommandsTest, PrivateProjectsAreNeitherMovedNorErased) {
  // A private project: only a folder in this computer's own project folder.
  std::filesystem::create_directories(site_.root() + "/local/Pelomar/prj/Privat.prj");
  const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
      {{"Privat", "-move", "SRV2"}, 256 - 5, "Can't move a private project.\n"},
      {{"Privat", "-erase_y"}, 255, "Can't erase a private project.\n"},
  };
  for (const auto& [args, status, text] : cases) {
    auto r = site_.Run(args);
    EXPECT_EQ(r.status, status) << args[1];
    EXPECT_EQ(r.err, text) << args[1];
  }
  EXPECT_TRUE(Exists(site_.root() + "/local/Pelomar/prj/Privat.prj"));
}

TEST_F(ProjectCommandsTest, UnblockClearsMarksUnlessTheHostIsStillOut) {
  struct Case {
    uint32_t number;
    unsigned char status, after;
    bool host_out;
    int result;
    bool project_out_file_left;
  };
  const Case cases[] = {
      {7, 32 | 0x01, 32, false, 0, false},          // checked out alone
      {8, 32 | 0x04, 32, false, 0, false},          // out with a host that came back
      {9, 32 | 0x04 | 0x01, 32 | 0x04 | 0x01, true, 256 - 20, true},  // the host is still out
      {10, 32 | 0x08, 32 | 0x08, false, 0, true},   // other marks only: nothing to do
      {11, 32, 32, false, 0, false},                // blank: a stale check-out file goes
  };
  for (const Case& c : cases) {
    const unsigned char status = c.status;
    site_.EditRecord(c.number, [&](extlib::PRJ* r) { r->status = status; });
    char project_out[32];
    std::snprintf(project_out, sizeof project_out, "/n%07u.out", c.number);
    testing::WriteFile(site_.NetDir() + project_out, "checked out\r\n");
    const std::string host_out = site_.NetDir() + "/" + HostOf(c.number) + ".out";
    if (c.host_out) testing::WriteFile(host_out, "host out\r\n");
    auto r = site_.Run({site_.Name(c.number), "-unblock"});
    EXPECT_EQ(r.status, c.result) << c.number;
    EXPECT_EQ(r.err, c.result ? "Computer cannot be accessed!\n" : "") << c.number;
    extlib::PRJ record;
    ASSERT_TRUE(site_.Record(c.number, &record));
    EXPECT_EQ(record.status, c.after) << c.number;
    EXPECT_EQ(Exists(site_.NetDir() + project_out), c.project_out_file_left) << c.number;
    std::filesystem::remove(host_out);
  }
}

// While a host is checked out its folders answer to the host's own
// administration: the laptop may have erased or renamed one there, or be away
// altogether. -unblock of such a project (after a single check-out of it was
// cut short) says the host is still out, whatever the folder or the host
// looks like from here, and changes nothing.
TEST_F(ProjectCommandsTest, UnblockOfAProjectOutWithItsHostSaysSoWhereverItsFolderIs) {
  struct Case {
    const char* what;
    uint32_t number;
    void (*prepare)(const std::string& folder);
  } cases[] = {
      {"folder there", 7, [](const std::string&) {}},
      {"folder erased on the laptop", 8, [](const std::string& folder) { std::filesystem::remove_all(folder); }},
      {"host's project folder away",
       9, [](const std::string& folder) {
         const std::string prj = folder.substr(0, folder.rfind('/'));
         std::filesystem::rename(prj, prj + ".away");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    site_.EditRecord(c.number, [](extlib::PRJ* r) { r->status = 32 | 0x04; });
    const std::string host = HostOf(c.number), folder = site_.ProjectDir(host, c.number);
    char project_out[32];
    std::snprintf(project_out, sizeof project_out, "/n%07u.out", c.number);
    testing::WriteFile(site_.NetDir() + project_out, "the host's check-out\r\n");
    testing::WriteFile(site_.NetDir() + "/" + host + ".out", "host out\r\n");
    c.prepare(folder);
    auto r = site_.Run({site_.Name(c.number), "-unblock"});
    EXPECT_EQ(r.status, 256 - 20);
    EXPECT_EQ(r.err, "Computer cannot be accessed!\n");
    extlib::PRJ record;
    ASSERT_TRUE(site_.Record(c.number, &record));
    EXPECT_EQ(record.status, 32 | 0x04);
    EXPECT_EQ(ReadFile(site_.NetDir() + project_out), "the host's check-out\r\n");
    std::filesystem::remove(site_.NetDir() + "/" + host + ".out");
    const std::string prj = folder.substr(0, folder.rfind('/'));
    if (Exists(prj + ".away")) std::filesystem::rename(prj + ".away", prj);
  }
}

// A check-out information file that cannot be removed (the share fails the
// call) still says checked out: the command says so instead of reporting
// success, and the next -unblock removes it.
TEST_F(ProjectCommandsTest, UnblockThatCannotRemoveTheCheckoutFileFailsAndTheNextOneDoes) {
  site_.EditRecord(7, [](extlib::PRJ* r) { r->status = 32 | 0x01; });
  const std::string out = site_.NetDir() + "/n0000007.out";
  testing::WriteFile(out, "checked out\r\n");
  auto env = site_.Environment();
  env["DOVRANE_FAULT"] = "unlink:1:EIO";
  auto r = testing::RunProgram(DOVRANE_BIN, {site_.Name(7), "-unblock"}, env, site_.start_dir());
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("could not be removed"), std::string::npos) << r.err;
  EXPECT_TRUE(Exists(out));
  r = site_.Run({site_.Name(7), "-unblock"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(out));
}

// A checked-out project is worked on on a laptop: no other workstation
// erases, moves or renames it (the check-in would find it gone or
// elsewhere); the message says where it is. -unblock stays the way out.
TEST_F(ProjectCommandsTest, CheckedOutProjectsAreNeitherErasedNorMovedNorRenamed) {
  site_.EditRecord(3, [](extlib::PRJ* r) { r->status = 32 | 0x01; });
  site_.EditRecord(4, [](extlib::PRJ* r) { r->status = 32 | 0x04; });
  testing::WriteFile(site_.NetDir() + "/n0000003.out", "[Project]\r\nx\r\n\r\n[Host]\r\nLAPTOP7\r\n\r\n[Comment]\r\n\r\n");
  const std::string other = HostOf(3) == "SRV1" ? "SRV2" : "SRV1", other4 = HostOf(4) == "SRV1" ? "SRV2" : "SRV1";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* said;
  } cases[] = {
      {{site_.Name(3), "-erase_y"}, 256 - 22, "it is checked out to LAPTOP7"},
      {{site_.Name(3), "-move_y", other}, 256 - 22, "it is checked out to LAPTOP7"},
      {{site_.Name(4), "-erase_y"}, 256 - 18, "it is checked out with its host"},
      {{site_.Name(4), "-move_y", other4}, 256 - 18, "it is checked out with its host"},
  };
  for (const Case& c : cases) {
    const auto r = site_.Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[1];
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
  EXPECT_TRUE(Known(3));
  EXPECT_TRUE(Known(4));
  EXPECT_TRUE(Exists(site_.ProjectDir(HostOf(3), 3)));
  EXPECT_TRUE(Exists(site_.ProjectDir(HostOf(4), 4)));
  // The library refuses it under the record's lock too, whoever calls it.
  site_.Activate();
  uint32_t number = 0;
  EXPECT_EQ(extlib::ltbprmC(extlib::DefaultContext(), extlib::kSlotNet, extlib::PadName(site_.Name(3)), &number), -22);
  std::string buffer;
  int result = 0;
  EXPECT_EQ(extlib::ltbpreC(extlib::DefaultContext(), extlib::kSlotNet, extlib::PadName(site_.Name(4)),
                            extlib::PadName("Neu"), &buffer, &result),
            -18);
  ASSERT_EQ(site_.Run({site_.Name(3), "-unblock"}).status, 0);
  EXPECT_EQ(site_.Run({site_.Name(3), "-erase_y"}).status, 0);
}

// One line of data.cfg that cannot be used (a drive path, a bad name) is
// left out and told once; every other host and its projects stay usable.
TEST_F(ProjectCommandsTest, AnUnusableHostLineHidesOnlyItself) {
  std::string list = ReadFile(site_.NetDir() + "/data.cfg");
  testing::WriteFile(site_.NetDir() + "/data.cfg", "LAPTOP3 D:\\cad\r\n" + list);
  const auto info = site_.Run({site_.Name(2), "-info"});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.err.find("has a line that cannot be used (line 1): it is left out."), std::string::npos) << info.err;
  const auto listed = site_.Run({"--list"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 12);
  const auto created = site_.Run({"Neu am Rand", "-create", "SRV2"});
  EXPECT_EQ(created.status, 0) << created.err;
  EXPECT_EQ(site_.Run({"Neu am Rand", "-create", "LAPTOP3"}).status, 256 - 19);
  // The line itself stays in the file: the reader leaves it out, it removes nothing.
  EXPECT_EQ(ReadFile(site_.NetDir() + "/data.cfg").rfind("LAPTOP3 D:\\cad\r\n", 0), 0u);
}

TEST_F(ProjectCommandsTest, CreateMakesRecordAndFolderOnTheHost) {
  auto r = site_.Run({"Neubau Halle", "-create", "SRV2"});
  ASSERT_EQ(r.status, 0) << r.err;
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(13, &record));
  EXPECT_EQ(extlib::TrimmedName(record.name), "Neubau Halle");
  EXPECT_STREQ(record.host, "SRV2");
  EXPECT_EQ(record.owner, 1u);  // the administrator who made it
  EXPECT_TRUE(Exists(site_.ProjectDir("SRV2", 13) + "/version.txt"));
  EXPECT_TRUE(Exists(site_.ProjectDir("SRV2", 13) + "/objects.dat"));
  // Refusals: the status and, once, the reason.
  const struct {
    std::vector<std::string> args;
    int status;
    const char* text;
  } refused[] = {
      {{"Neubau Halle", "-create", "SRV1"}, 256 - 4, "Project already exists\n"},
      {{"Bad%Name", "-create", "SRV1"}, 256 - 8, "Invalid project name\n"},
      {{"Neubau Nord", "-create", "SRV9"}, 256 - 19, "Unknown computer in Project Manager\n"},
  };
  for (const auto& c : refused) {
    auto rr = site_.Run(c.args);
    EXPECT_EQ(rr.status, c.status) << c.args[0];
    EXPECT_EQ(rr.err, c.text) << c.args[0];  // as the manual page says: on standard error
    EXPECT_EQ(rr.out, "") << c.args[0];
  }
  EXPECT_FALSE(site_.Record(14, &record));
}

// A name no project can have is answered as such by every project command;
// one that an older administration holds all the same stays reachable.
TEST_F(ProjectCommandsTest, InvalidNamesAreAnsweredAsInvalidUnlessRegistered) {
  for (const char* option : {"-unblock", "-updateattr", "-reorg", "-renewUUIDs", "-erase_y", "-exist"}) {
    for (const char* name : {"%s%n%x", "a@b", "#deleted", " lead", ""}) {
      auto r = site_.Run({name, option});
      EXPECT_EQ(r.status, 256 - 8) << option << " <" << name << ">";
      EXPECT_EQ(r.err, "Invalid project name\n") << option << " <" << name << ">";
    }
  }
  site_.EditRecord(4, [](extlib::PRJ* r) { extlib::SetPrjName(r, "50%s Rabatt"); });
  auto r = site_.Run({"50%s Rabatt", "-unblock"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(site_.Run({"50%s Rabatt", "-exist"}).status, 0);
}

TEST_F(ProjectCommandsTest, CopyByNumberMakesANewProjectWithTheAttributes) {
  site_.Activate();
  testing::RecordingMessenger messages;
  uint32_t number = 0;
  ASSERT_EQ(CopyProjectByNumber(extlib::DefaultContext(), "Kopie", 1, "SRV2", &number), 0);
  EXPECT_EQ(number, 13u);
  EXPECT_STREQ(HostOf(13).c_str(), "SRV2");
  EXPECT_TRUE(Exists(site_.ProjectDir("SRV2", 13) + "/objects.dat"));
  extlib::RX_ProjectAttributes attributes(extlib::kSlotNet);
  std::string original, copied;
  EXPECT_EQ(attributes.getAttribute(1, "PRJ_DESCRIPTION", &original), 0);
  EXPECT_EQ(attributes.getAttribute(13, "PRJ_DESCRIPTION", &copied), 0);
  EXPECT_EQ(copied, original);
  EXPECT_TRUE(messages.messages.empty());
}

TEST_F(ProjectCommandsTest, CopyByNumberRefusals) {
  site_.EditRecord(2, [](extlib::PRJ* r) { r->dbkey = 5; });
  site_.EditRecord(5, [](extlib::PRJ* r) { extlib::SetPrjName(r, "Bau#2"); });
  const std::string host3 = HostOf(3), host5 = HostOf(5);
  site_.Activate();
  const std::tuple<std::string, uint32_t, int, std::string> cases[] = {
      {"Kopie", 99, -3, "Unknown project number <99>\n"},
      {"Kopie", 2, -17, "Project <Kopie> already exists!\n"},
      {site_.Name(3), 4, -1, "The project " + site_.Name(3) + " already exists.\n\nData server " + host3},
      {"Bau#2", 4, -1, "The project Bau#2 already exists.\n\nData server " + host5},  // "#" stays in the name
      {"Bad%Name", 4, -8, "Copy failed with <Bad%Name>!\n"},
  };
  for (const auto& [name, source, code, text] : cases) {
    testing::RecordingMessenger messages;
    uint32_t number = 0;
    EXPECT_EQ(CopyProjectByNumber(extlib::DefaultContext(), name, source, "", &number), code) << name;
    ASSERT_EQ(messages.messages.size(), 1u) << name;
    EXPECT_EQ(messages.messages[0].text, text);
  }
  extlib::PRJ record;
  EXPECT_FALSE(site_.Record(13, &record));
}

TEST_F(ProjectCommandsTest, LockInfoFileIsDeletedUnlessASessionHoldsIt) {
  site_.Activate();
  const std::string file = site_.ProjectDir(HostOf(4), 4) + "/project.lck";
  const std::string padded = PadProjectName(site_.Name(4));
  EXPECT_EQ(RemoveLockInfoFile(extlib::DefaultContext(), padded), 0);  // none there
  testing::SessionLock session(file);
  ASSERT_TRUE(session.held());
  EXPECT_NE(RemoveLockInfoFile(extlib::DefaultContext(), padded), 0);
  EXPECT_TRUE(Exists(file));
  session.Release();
  EXPECT_EQ(RemoveLockInfoFile(extlib::DefaultContext(), padded), 0);
  EXPECT_FALSE(Exists(file));
}

// A share that fails the lock test cannot tell whether a session holds the
// file: it stays, as if held. A share without locks has no session holding one.
TEST_F(ProjectCommandsTest, LockInfoFileWhoseLockCannotBeTestedStays) {
  struct LockTestFails : platform::Env {
    int error = -EIO;
    int TestLock(int, int64_t, int64_t, bool*) override { return error; }
  } env;
  site_.Activate();
  const std::string file = site_.ProjectDir(HostOf(4), 4) + "/project.lck";
  testing::WriteFile(file, "");
  const std::string padded = PadProjectName(site_.Name(4));
  platform::Env* previous = platform::SetCurrentEnv(&env);
  const int refused = RemoveLockInfoFile(extlib::DefaultContext(), padded);
  const bool stayed = Exists(file);
  env.error = -ENOLCK;
  const int removed = RemoveLockInfoFile(extlib::DefaultContext(), padded);
  platform::SetCurrentEnv(previous);
  EXPECT_NE(refused, 0);
  EXPECT_TRUE(stayed);
  EXPECT_EQ(removed, 0);
  EXPECT_FALSE(Exists(file));
}

// A pipe where the lock information file belongs is no session's lock: it
// must not hold the command (an open waiting for a writer) nor stay.
TEST_F(ProjectCommandsTest, LockInfoFileThatIsAPipeDoesNotHoldTheCommand) {
  site_.Activate();
  const std::string file = site_.ProjectDir(HostOf(4), 4) + "/project.lck";
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  const std::string padded = PadProjectName(site_.Name(4));
  EXPECT_EQ(testing::RunBounded([&] { return RemoveLockInfoFile(extlib::DefaultContext(), padded); }), 0);
  EXPECT_FALSE(Exists(file));
}

}  // namespace
}  // namespace dovrane::app
