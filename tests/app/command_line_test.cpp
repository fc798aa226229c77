#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/command_table.h"
#include "app/long_options.h"
#include "app/program_info.h"
#include "support/mini_installation.h"
#include "support/run_program.h"

namespace dovrane::app {
namespace {

using testing::RunProgram;

class CommandLineTest : public ::testing::Test {
 protected:
  testing::ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(DOVRANE_BIN, args, inst_.Environment(), inst_.root());
  }
  testing::MiniInstallation inst_;
};

TEST_F(CommandLineTest, UnknownFormsShowTheUsageAndEndWith22) {
  const std::vector<std::vector<std::string>> forms = {
      {"-info"},                          // one argument that is neither -update nor -restore
      {"Office", "-move"},                // -move needs its host
      {"Office", "-create"},              // so does -create
      {"Office", "-INFO"},                // options keep their letter case
      {"Office", "-inf"},                 // and are never taken by prefix
      {"a", "b", "c", "d"},               // four arguments
      {"-usercfg", "1", "2"},
      {"--help", "x"},                    // the program options only stand alone
      {"-usercfg", "99999999999999999999"},  // no int holds it
      {"-usercfg", "-99999999999999999999"},
  };
  for (const auto& args : forms) {
    auto r = Run(args);
    EXPECT_EQ(r.status, 22) << args[0];
    EXPECT_EQ(r.err, UsageText() + "\n") << args[0];
  }
}

// The program's own options come before the command and must fit it;
// anything else is a form not in the table.
TEST_F(CommandLineTest, LongOptionsThatDoNotFitTheCommandShowTheUsage) {
  const std::vector<std::vector<std::string>> forms = {
      {"--bogus", "Office", "-exist"},      {"--json", "-update"},           {"--json", "Office", "-erase"},
      {"--json", "Office", "-getpath", "f"}, {"--host", "SRV1", "Office", "-exist"}, {"--list", "Office", "-exist"},
      {"--dry-run", "Office", "-info"},     {"--dry-run", "--list"},         {"--list", "--host"},
      {"--verbose"},                        {"--"},                          {"Office", "--json", "-info"},
      {"--where", "Office", "-exist"},      {"--where", "--list"},           {"--where", "--host", "SRV1"},
      {"--dry-run", "--where"},
  };
  for (const auto& args : forms) {
    auto r = Run(args);
    EXPECT_EQ(r.status, 22) << args[0] << " " << args[1];
    EXPECT_EQ(r.err, UsageText() + "\n") << args[0];
  }
  // "--" ends them: a name that begins with "--" is looked up as any other.
  auto r = Run({"--", "--Office", "-exist"});
  EXPECT_NE(r.status, 22) << r.err;
  EXPECT_EQ(r.err.find("usage:"), std::string::npos) << r.err;
}

TEST_F(CommandLineTest, UsageTextListsEveryFormInOrder) {
  std::string usage = UsageText();
  EXPECT_EQ(usage.rfind("usage:\n\tDovrane prj_name -exist\n\tDovrane prj_name -info\n", 0), 0u);
  EXPECT_NE(usage.find("\tDovrane prj_name -unblock\n\tDovrane -usercfg num_users\n"), std::string::npos);
  EXPECT_EQ(usage.substr(usage.size() - 28), "\tDovrane -update [hostname]\n");
  EXPECT_EQ(usage.find("-checkout"), std::string::npos);
}

TEST_F(CommandLineTest, MoreThanTwentyEntriesCannotBeConverted) {
  std::vector<std::string> args(20, "x");
  auto r = Run(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("(maximum is 20)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Current command line is:\n"), std::string::npos);
  args.pop_back();  // 19 arguments: 20 entries with the program
  EXPECT_EQ(Run(args).status, 22);
}

TEST_F(CommandLineTest, ArgumentWithoutWindows1252FormIsRefused) {
  auto r = Run({"\xE4\xB8\xAD", "-exist"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("invalid parameter format"), std::string::npos);
}

TEST_F(CommandLineTest, NameLongerThanFiftyCharactersIsRefusedUncut) {
  auto r = Run({std::string(51, 'N'), "-exist"});
  EXPECT_EQ(r.status, 256 - 8);
  EXPECT_EQ(r.err, "Invalid project name\n");
}

TEST_F(CommandLineTest, TraceFileIsMadeInTheWorkFolderAndMitEchoesMessages) {
  Run({"-info"});
  ASSERT_TRUE(testing::Exists(inst_.work_dir() + "/STDERR.OUT"));
  EXPECT_EQ(testing::ReadFile(inst_.work_dir() + "/STDERR.OUT"), "");
  testing::WriteFile(inst_.work_dir() + "/mit", "");
  Run({"-info"});
  std::string trace = testing::ReadFile(inst_.work_dir() + "/STDERR.OUT");
  EXPECT_EQ(trace.rfind("System information\n", 0), 0u) << trace;
  EXPECT_NE(trace.find("Varnholtek Dovranix:\n\tusage:\n"), std::string::npos) << trace;
}

TEST_F(CommandLineTest, UnusableInstallationPathsStopTheProgram) {
  std::filesystem::remove_all(inst_.net_dir());
  auto r = Run({"-update"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("lfpath_ini"), std::string::npos);
}

TEST_F(CommandLineTest, HelpAndVersionAnswerWithoutAnInstallation) {
  const std::map<std::string, std::string> nowhere = {{"DOVRANE_HKLM", inst_.root() + "/none.toml"},
                                                      {"DOVRANE_HKCU", inst_.root() + "/none-user.toml"}};
  for (const char* option : {"--help", "-h", "--version"}) {
    auto r = RunProgram(DOVRANE_BIN, {option}, nowhere, inst_.root());
    EXPECT_EQ(r.status, 0) << option << r.err;
    EXPECT_EQ(r.err, "") << option;
    EXPECT_EQ(r.out, std::string(option) == "--version" ? VersionText() : UsageText() + LongOptionsHelp()) << option;
  }
  // The build handed both facts to the program.
  EXPECT_EQ(VersionText().find("unknown"), std::string::npos) << VersionText();
  EXPECT_NE(VersionText().find("\nbuild: "), std::string::npos);
}

TEST_F(CommandLineTest, WithoutAnInstallationTheSettingsFileAndTheSampleToolAreNamed) {
  const std::string file = inst_.root() + "/elsewhere.toml";
  for (bool exists : {false, true}) {
    if (exists) testing::WriteFile(file, "[InstallRoot]\n");
    auto r = RunProgram(DOVRANE_BIN, {"-update"},
                        {{"DOVRANE_HKLM", file}, {"DOVRANE_HKCU", inst_.root() + "/none-user.toml"}}, inst_.root());
    EXPECT_EQ(r.status, 1) << exists;  // as the library's stop decides
    EXPECT_NE(r.err.find(exists ? "the settings file " + file + " names no network path"
                                : "there is no settings file " + file + "."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("dovrane-mkinstall DIR"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lfpath_ini"), std::string::npos) << r.err;
  }
}

// A settings file that is there but cannot be read names nothing either way:
// the hint says it cannot be read instead of claiming it names no network path.
TEST_F(CommandLineTest, AnUnreadableSettingsFileIsNamedAsUnreadable) {
  const std::string folder = inst_.root() + "/settings-folder.toml";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  std::map<std::string, std::string> failing = inst_.Environment();
  failing["DOVRANE_FAULT"] = "open:1+:EIO";
  for (const auto& env : {std::map<std::string, std::string>{{"DOVRANE_HKLM", folder},
                                                             {"DOVRANE_HKCU", inst_.root() + "/none-user.toml"}},
                          failing}) {
    auto r = RunProgram(DOVRANE_BIN, {"-update"}, env, inst_.root());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot be read: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("names no network path"), std::string::npos) << r.err;
  }
}

// A command-line run starts without the window's Qt and without Samba's
// libraries: the loader names every library it loads.
TEST_F(CommandLineTest, TheCommandLineLoadsNeitherTheWindowNorTheNetworkLibraries) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"--list"}}) {
    std::map<std::string, std::string> env = inst_.Environment();
    env["LD_DEBUG"] = "files";
    auto r = RunProgram(DOVRANE_BIN, args, env, inst_.root());
    ASSERT_NE(r.err.find("libc.so"), std::string::npos) << args[0];  // the loader did report
    for (const char* library : {"libQt6", "libsmbclient", "dovrane-window"})
      EXPECT_EQ(r.err.find(library), std::string::npos) << args[0] << " loads " << library;
  }
}

// The dialog mode hands the run over to the window's program beside this
// one: the same arguments, from the folder the run began in, with the
// streams it began with (not the trace file). Without that program the run
// says so and ends with 1.
TEST_F(CommandLineTest, TheMainWindowTakesTheRunOverFromWhereItBegan) {
  const std::string bin = inst_.root() + "/bin", start = inst_.root() + "/start";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(start);
  std::filesystem::copy_file(DOVRANE_BIN, bin + "/dovrane");
  auto r = RunProgram(bin + "/dovrane", {}, inst_.Environment(), start);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("The main window is not installed (dovrane-window is missing)."), std::string::npos) << r.err;

  testing::WriteFile(bin + "/dovrane-window",
                     "#!/bin/sh\nprintf 'window %s' $#\nfor a in \"$@\"; do printf ' %s' \"$a\"; done\n"
                     "echo \" in $(pwd)\"\nexit 7\n");
  std::filesystem::permissions(bin + "/dovrane-window", std::filesystem::perms::owner_all);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"Some project", "-checkout"}}) {
    r = RunProgram(bin + "/dovrane", args, inst_.Environment(), start);
    EXPECT_EQ(r.status, 7) << r.err;
    std::string want = "window " + std::to_string(args.size());
    for (const std::string& a : args) want += " " + a;
    EXPECT_EQ(r.out, want + " in " + start + "\n") << r.err;
  }
}

TEST(PadProjectNameTest, PadsToFiftyBlanks) {
  EXPECT_EQ(PadProjectName("Office"), "Office" + std::string(44, ' '));
  EXPECT_EQ(PadProjectName("").size(), 50u);
}

}  // namespace
}  // namespace dovrane::app
