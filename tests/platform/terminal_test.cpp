#include "platform/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace dovrane::platform {
namespace {

// Everything that can be read from fd without waiting.
std::string Available(int fd) {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  return out;
}

// The child's standard output is a pipe; the parent looks at it between the
// child's steps (the child waits for a byte on `go` before each step).
TEST(TerminalTest, ListLinesAreGatheredAndOtherLinesWriteThemOutInOrder) {
  int out[2], go[2], step[2];
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(step), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    Terminal::CaptureOriginalStreams();
    char c;
    auto next = [&] {
      ::write(step[1], "s", 1);
      if (::read(go[0], &c, 1) != 1) ::_exit(3);
    };
    Terminal::WriteProgress("Search for hosts ...\n");
    Terminal::WriteProgress("\t<Anbau>\n");
    Terminal::WriteProgress("\t<Brunnen>\n");
    next();
    Terminal::WriteProgress("... finished\n");
    next();
    Terminal::WriteProgress("\t<Carport>\n");
    ::exit(0);  // the end of the program writes what was gathered
  }
  ::close(out[1]);
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  char c;
  ASSERT_EQ(::read(step[0], &c, 1), 1);
  EXPECT_EQ(Available(out[0]), "Search for hosts ...\n");  // the list lines wait
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  ASSERT_EQ(::read(step[0], &c, 1), 1);
  EXPECT_EQ(Available(out[0]), "\t<Anbau>\n\t<Brunnen>\n... finished\n");
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Available(out[0]), "\t<Carport>\n");
  for (int fd : {out[0], go[0], go[1], step[0], step[1]}) ::close(fd);
}

// Both streams on one pipe, as on one terminal: a message after a progress
// text without line end, or after a question nobody answered, starts a line.
TEST(TerminalTest, EveryMessageStartsOnALineOfItsOwn) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    Terminal::CaptureOriginalStreams();
    Terminal::WriteProgress("Compress Project Attributes ...");
    Terminal::WriteOut("The project administration has been restored.\n");
    Terminal::WriteErr("Remove project <A> ?\n");
    Terminal::WriteErr("[Y]es/[N]o? ");
    Terminal::WriteErr("The thread used up its stack.\n");
    Terminal::WriteOut("done\n");
    Terminal::WriteProgress("Compress Project Attributes ...");  // the program ends here
    ::exit(0);
  }
  ::close(out[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(Available(out[0]),
            "Compress Project Attributes ...\nThe project administration has been restored.\n"
            "Remove project <A> ?\n[Y]es/[N]o? \nThe thread used up its stack.\ndone\n"
            "Compress Project Attributes ...\n");
  ::close(out[0]);
}

}  // namespace
}  // namespace dovrane::platform
