// Runs the real program in headless mode and checks what a script sees: the report on
// standard output, errors on standard error, and the exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/TestSupport.h"

using trawlex::test::ReadAll;
using trawlex::test::TTempDir;
using V = std::vector<std::string>;

namespace {

struct TRun {
  int Status;
  std::string Out, Err;
};

std::string Program() { return std::string(std::getenv("TRAWLEX_TEST_BIN_DIR")) + "/trawlex"; }

TRun RunTrawlex(const V& args) {
  TTempDir io;
  const std::string out = io / "out", err = io / "err";
  const pid_t pid = fork();
  if (pid == 0) {
    freopen(out.c_str(), "w", stdout);
    freopen(err.c_str(), "w", stderr);
    std::vector<char*> argv{const_cast<char*>("trawlex")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(Program().c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

V SplitLines(const std::string& text) {
  V lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace

TEST(Headless, ReportOfASearchWithFinds) {
  TTempDir dir;
  std::string c;
  for (int i = 1; i <= 12; ++i) c += (i == 3 || i == 12) ? "int foo = 1;\r\n" : "x\r\n";
  dir.Write("src/main.c", c);
  dir.Write("src/util.h", "no finds\n");
  dir.Write("src/notes.txt", "foo\n");
  const TRun run = RunTrawlex({"--report", "-t", "foo", "-d", dir / "src", "-p", "*.c|*.h", "-c", "0"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  const V lines = SplitLines(run.Out);
  ASSERT_EQ(lines.size(), 12u) << run.Out;
  EXPECT_EQ(lines[0].rfind("Time: ", 0), 0u);
  EXPECT_EQ(V(lines.begin() + 1, lines.end()), (V{
                                                   "Base directory: " + dir / "src",
                                                   "Include subdirectories: Yes",
                                                   "File names: *.c|*.h",
                                                   "Target: foo",
                                                   "Whole word: No",
                                                   "Case senstive: No",
                                                   "Found in 1 of 2 files",
                                                   "Finds: 2",
                                                   dir / "src/main.c",
                                                   "  3: int foo = 1;",
                                                   " 12: int foo = 1;",
                                               }));
}

TEST(Headless, ExitStatusTellsFindsNoneOrError) {
  TTempDir dir;
  dir.Write("a.txt", "hello\n");
  EXPECT_EQ(RunTrawlex({"--report", "-t", "hello", "-d", dir.Path()}).Status, 0);
  EXPECT_EQ(RunTrawlex({"--report", "-t", "absent", "-d", dir.Path()}).Status, 1);
  const struct {
    V Args;
    const char* Err;
  } bad[] = {
      {{"--report", "-d", "/"}, "No search target\n"},
      {{"--report", "-t", "x", "-d", "/no/such/dir"}, "No directory specified\n"},
      {{"--report", "-t", "x", "-d", "/", "-p", ""}, "No file patterns\n"},
      {{"--report", "-t", "x", "-d", "/", "-w", "maybe"}, "'maybe' is not a valid integer value\n"},
  };
  for (const auto& b : bad) {
    const TRun run = RunTrawlex(b.Args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err, b.Err);
    EXPECT_EQ(run.Out, "");
  }
}

TEST(Headless, UnreadableFileGoesToStandardErrorAndExitsTwo) {
  TTempDir dir;
  dir.Write("a.txt", "hello\n");
  const std::string huge = dir.Write("huge.txt", "hello");
  ASSERT_EQ(truncate(huge.c_str(), int64_t{1} << 31), 0);
  const TRun run = RunTrawlex({"--report", "-t", "hello", "-d", dir.Path()});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Err, huge + ": The file is 2 GiB or larger, which is more than a search can read\n");
  EXPECT_NE(run.Out.find("Found in 1 of 2 files"), std::string::npos);
}

TEST(Headless, HelpVersionAndNoArguments) {
  const TRun help = RunTrawlex({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("  -t <Target> -- Find this text"), std::string::npos);
  const TRun version = RunTrawlex({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("Trawlex ", 0), 0u);
}

TEST(Headless, ProgressLineOnATerminalIsErasedAtTheEnd) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) is not installed";
  TTempDir dir;
  dir.Write("a.txt", "hello\n");
  const std::string log = dir / "tty.log";
  // script(1) gives the program a terminal for both output streams.
  const std::string cmd = "script -qec '" + Program() + " --report -t hello -d " + dir.Path() + "' /dev/null > " + log;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string tty = ReadAll(log);
  const size_t shown = tty.find("Found in 0 of 0 files Reading dir " + dir.Path());
  EXPECT_NE(shown, std::string::npos) << tty;
  const size_t erased = tty.find("\r\x1b[K");
  const size_t report = tty.find("Time: ");
  EXPECT_NE(erased, std::string::npos);
  EXPECT_LT(erased, report);  // erased before the report is written
}
