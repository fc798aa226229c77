#include "platform/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/time.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>
#include <vector>

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

// Many pieces, empty ones among them, arrive whole and in order through a
// pipe the reader empties slowly, while a timer keeps interrupting the
// writer: a write cut short goes on where it stopped, within a piece.
TEST(TerminalTest, PiecesArriveWholeThroughWritesCutShort) {
  std::vector<std::string> texts;
  std::string want;
  for (int i = 0; i < 3000; ++i) {
    texts.push_back(i % 7 == 0 ? "" : std::string(static_cast<size_t>(1 + i * 37 % 1500), static_cast<char>('a' + i % 26)) + "\n");
    want += texts.back();
  }
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    Terminal::CaptureOriginalStreams();
    struct sigaction sa = {};
    sa.sa_handler = [](int) {};
    ::sigaction(SIGALRM, &sa, nullptr);  // no SA_RESTART: a blocked write returns what it wrote
    itimerval every{{0, 200}, {0, 200}};
    ::setitimer(ITIMER_REAL, &every, nullptr);
    std::vector<std::string_view> pieces(texts.begin(), texts.end());
    Terminal::WriteOutUtf8(pieces);
    ::_exit(0);
  }
  ::close(out[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
  ::close(out[0]);
}

}  // namespace
}  // namespace dovrane::platform
