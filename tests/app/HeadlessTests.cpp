// Runs the real program in headless mode and checks what a script sees: the report on
// standard output, errors on standard error, and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "support/SearchRun.h"

using trawlex::test::ReadAll;
using trawlex::test::TTempDir;
using trawlex::test::WriteTree;
using V = std::vector<std::string>;

namespace {

struct TRun {
  int Status;
  std::string Out, Err;
};

std::string Program() {
  const char* dir = std::getenv("TRAWLEX_TEST_BIN_DIR");
  return std::string(dir ? dir : TRAWLEX_BUILD_DIR) + "/trawlex";
}

// With `addressSpace` set, the program runs with that much address space at most; with
// `stdoutTo`, its standard output goes there (Out is then empty).
TRun RunTrawlex(const V& args, rlim_t addressSpace = 0, const std::string& stdoutTo = {}) {
  TTempDir io;
  const std::string out = stdoutTo.empty() ? io / "out" : stdoutTo, err = io / "err";
  const pid_t pid = fork();
  if (pid == 0) {
    if (addressSpace > 0) {
      const rlimit limit{addressSpace, addressSpace};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(127);
    std::vector<char*> argv{const_cast<char*>("trawlex")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(Program().c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, stdoutTo.empty() ? ReadAll(out) : "", ReadAll(err)};
}

V SplitLines(const std::string& text) {
  V lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// Builds `depth` nested folders "d" below `root`, each opened relative to the last (the
// path soon outgrows what one system call takes), with a file "f.txt" holding `text` at
// each depth listed in `withFile`. Returns the number of path bytes of the deepest file.
size_t MakeDeepTree(const std::string& root, int depth, const std::vector<int>& withFile, const std::string& text) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  size_t length = root.size();
  for (int level = 1; level <= depth; ++level) {
    EXPECT_EQ(mkdirat(fd, "d", 0755), 0);
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    length += 2;
    if (std::find(withFile.begin(), withFile.end(), level) != withFile.end()) {
      const int f = openat(fd, "f.txt", O_WRONLY | O_CREAT, 0644);
      EXPECT_EQ(write(f, text.data(), text.size()), static_cast<ssize_t>(text.size()));
      close(f);
    }
  }
  close(fd);
  return length + 6;
}

// Cuts a deep chain of folders "d" into pieces of at most 500 below `root`, so that
// ordinary path-based removal can take them away.
void CutDeepTree(const std::string& root) {
  const int rootFd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  int fd = dup(rootFd);
  for (int level = 1, piece = 0;; ++level) {
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    if (next < 0) break;
    if (level % 500 == 0) renameat(fd, "d", rootFd, ("piece" + std::to_string(++piece)).c_str());
    close(fd);
    fd = next;
  }
  close(fd);
  close(rootFd);
}

}  // namespace

TEST(Headless, ReportOfASearchWithFinds) {
  TTempDir dir;
  std::string c;
  for (int i = 1; i <= 12; ++i) c += (i == 3 || i == 12) ? "int foo = 1;\r\n" : "x\r\n";
  WriteTree(dir, {{"src/main.c", c}, {"src/util.h", "no finds\n"}, {"src/notes.txt", "foo\n"}});
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

TEST(Headless, ReportOfManyMegabytesArrivesWholeThroughAPipeOrFailsOnAFullDisk) {
  // Many lines and one longer than a write: the report crosses several writes and lines
  // are cut across them; a pipe reader gets every byte, a full disk is an error. Every
  // third line is long enough to be written from where the search keeps it, so the writes
  // gather more pieces than one call takes.
  TTempDir dir;
  std::string text, expected;
  for (int i = 1; i <= 40000; ++i) {
    const std::string line = i == 20000 ? "foo" + std::string(3 << 20, 'x')
                             : "foo " + std::to_string(i) + std::string(i % 3 ? 50 : 300, 'y');
    text += line + "\n";
    expected += " " + std::string(i < 10000 ? 5 - std::to_string(i).size() : 0, ' ') + std::to_string(i) + ": " + line + "\n";
  }
  dir.Write("a.txt", text);
  const V args{"--report", "-t", "foo", "-d", dir.Path(), "-c", "1"};
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv{const_cast<char*>("trawlex")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(Program().c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buffer[4096];  // a slow reader: small reads
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string head = dir / "a.txt" + "\n";
  const size_t at = out.find(head);
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(out.find("Finds: 40000\n"), std::string::npos);
  EXPECT_TRUE(out.compare(at + head.size(), std::string::npos, expected) == 0) << out.size();

  const std::string full = "/dev/full";
  if (access(full.c_str(), W_OK) != 0) return;
  const pid_t writer = fork();
  if (writer == 0) {
    if (!freopen(full.c_str(), "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    std::vector<char*> argv{const_cast<char*>("trawlex")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(Program().c_str(), argv.data());
    _exit(127);
  }
  waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
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
  // A file whose every read fails (the system's view of a process's memory, at offset 0).
  const std::string bad = dir / "bad.txt";
  ASSERT_EQ(symlink("/proc/self/mem", bad.c_str()), 0);
  const TRun run = RunTrawlex({"--report", "-t", "hello", "-d", dir.Path()});
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Err, bad + ": Cannot read file \"" + bad + "\". " + strerror(EIO) + "\n");
  EXPECT_NE(run.Out.find("Found in 1 of 2 files"), std::string::npos);
}

// Memory running out is an error like any other: named with its file, the search goes on
// without that file's results, what it found is reported, exit status 2 and no signal,
// whatever the limit.
TEST(Headless, OutOfMemoryNamesTheFileReportsTheOthersAndExitsTwo) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own reservations do not fit under an address-space limit";
#endif
  TTempDir dir;
  dir.Write("a-small.txt", "a small\n");
  std::string big;
  for (int i = 0; i < (12 << 20); ++i) big += "a\n";  // 12 million lines, each with a find
  const std::string bigPath = dir.Write("b-big.txt", big);
  dir.Write("c-small.txt", "a late\n");
  for (const rlim_t mib : {200, 350, 500}) {
    SCOPED_TRACE(mib);
    const TRun run = RunTrawlex({"--report", "-t", "a", "-d", dir.Path(), "-c", "1"}, rlim_t{mib} << 20);
    EXPECT_EQ(run.Status, 2) << run.Err;  // -1: ended by a signal
    EXPECT_EQ(run.Err, bigPath + ": Out of memory\n");
    const V lines = SplitLines(run.Out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("Time: ", 0), 0u);
    V tail(lines.end() - std::min<size_t>(lines.size(), 4), lines.end());
    for (std::string& line : tail) line.erase(0, line.find_first_not_of(' '));  // the digits' width varies
    EXPECT_EQ(tail, (V{dir / "a-small.txt", "1: a small", dir / "c-small.txt", "1: a late"})) << run.Out.substr(0, 500);
  }
}

TEST(Headless, HelpVersionAndNoArguments) {
  const TRun help = RunTrawlex({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("  -t <Target> -- Find this text"), std::string::npos);
  const TRun version = RunTrawlex({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("Trawlex ", 0), 0u);
  if (access("/dev/full", W_OK) != 0) return;
  for (const char* option : {"--help", "--version"}) {
    const TRun full = RunTrawlex({option}, 0, "/dev/full");
    EXPECT_EQ(full.Status, 2) << option;
    EXPECT_NE(full.Err.find(strerror(ENOSPC)), std::string::npos) << option << full.Err;
  }
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

TEST(Headless, TreeDeeperThanThePathLimitIsSearchedToTheBottom) {
  TTempDir dir;
  const std::string root = dir.MakeDir("deep");
  const std::vector<int> levels{1, 100, 2040, 2060, 3000, 5000};
  ASSERT_GT(MakeDeepTree(root, 5000, levels, "needle\n"), size_t{PATH_MAX} * 2);
  // Folders beside the chain, which the walk comes back up to after the bottom.
  std::string side = "deep";
  for (int i = 0; i < 200; ++i) side += "/d";
  WriteTree(dir, {side.substr(0, 4 + 20) + "/e/g.txt", side + "/e/g.txt"}, "needle\n");
  const TRun run = RunTrawlex({"--report", "-t", "needle", "-d", root});
  CutDeepTree(root);
  EXPECT_EQ(run.Status, 0) << run.Err.substr(0, 500);
  EXPECT_EQ(run.Err, "");
  EXPECT_NE(run.Out.find("Found in 8 of 8 files"), std::string::npos) << run.Out.substr(0, 500);
  std::string deepest = root;
  for (int i = 0; i < 5000; ++i) deepest += "/d";
  EXPECT_NE(run.Out.find("\n" + deepest + "/f.txt\n 1: needle\n"), std::string::npos);
}

TEST(Headless, FolderThatCannotBeListedIsReportedAsAnError) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";
  if (std::system((asNobody + " true 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "setpriv cannot switch users";
  if (std::system((asNobody + " test -x '" + Program() + "'").c_str()) != 0)
    GTEST_SKIP() << "the unprivileged user cannot run the program where it was built";
  TTempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  WriteTree(dir, {"w/a.txt", "w/locked/b.txt", "w/locked/inner/c.txt"}, "foo\n");
  ASSERT_EQ(chmod((dir / "w/locked").c_str(), 0700), 0);  // root's: nobody cannot list it
  const std::string out = dir / "out", err = dir / "err";
  const std::string cmd = "timeout 60 " + asNobody + " '" + Program() + "' --report -t foo -d '" + dir / "w" + "' >'" +
                          out + "' 2>'" + err + "'";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(ReadAll(err), dir / "w/locked" + ": " + std::string(strerror(EACCES)) + "\n");
  EXPECT_NE(ReadAll(out).find("Found in 1 of 1 file\n"), std::string::npos) << ReadAll(out);
}

TEST(Headless, MisspeltOptionsChangeNoFileAndShowTheUsageLine) {
  TTempDir dir;
  const std::string file = dir.Write("a.txt", "foo\n");
  const struct {
    V Args;
    std::string Err;
  } cases[] = {
      {{"--replace-all", "ZAP", "--dryrun"}, "Unknown option --dryrun\n"},
      {{"--replace-all", "ZAP", "--dry_run"}, "Unknown option --dry_run\n"},
      {{"--replace-all", "ZAP", "-dry-run"}, "Unknown switch -dry-run: the program's own options are written with two dashes\n"},
      {{"-dry-run", "--replace-all", "ZAP"}, "Unknown switch -dry-run: the program's own options are written with two dashes\n"},
      {{"--replace-all", "ZAP", "-w"}, "The switch -w needs a value\n"},
      {{"--replace-all", "--dry-run", "ZAP"},
       "--replace-all is followed by the option --dry-run; to replace with that text, write --replace-all=--dry-run\n"},
      {{"--dry-run", "--replace-al", "ZAP"}, "Unknown option --replace-al\n"},
  };
  for (const auto& c : cases) {
    V args{"--report", "-t", "foo", "-d", dir.Path()};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const TRun run = RunTrawlex(args);
    EXPECT_EQ(run.Status, 2) << c.Err;
    EXPECT_EQ(run.Err.substr(0, c.Err.size()), c.Err);
    EXPECT_EQ(run.Out, "") << c.Err;
    EXPECT_EQ(ReadAll(file), "foo\n") << c.Err;
  }
  EXPECT_NE(RunTrawlex({"--report", "--bogus"}).Err.find("\nUsage: trawlex --report "), std::string::npos);

  const TRun dry = RunTrawlex({"--report", "--replace-all=--dry-run", "-t", "foo", "-d", dir.Path(), "--dry-run"});
  EXPECT_EQ(dry.Status, 0) << dry.Err;
  EXPECT_EQ(ReadAll(file), "foo\n");
  const TRun real = RunTrawlex({"--report", "--replace-all=--dry-run", "-t", "foo", "-d", dir.Path()});
  EXPECT_EQ(real.Status, 0) << real.Err;
  EXPECT_EQ(ReadAll(file), "--dry-run\n");
}

TEST(Headless, HelpAndVersionAfterASwitchAreItsValue) {
  TTempDir dir;
  dir.Write("a.txt", "use --help or --version\n");
  for (const char* word : {"--help", "--version"}) {
    const TRun run = RunTrawlex({"--report", "-t", word, "-d", dir.Path()});
    EXPECT_EQ(run.Status, 0) << word;
    EXPECT_NE(run.Out.find(std::string("Target: ") + word + "\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(" 1: use --help or --version\n"), std::string::npos) << run.Out;
  }
  EXPECT_EQ(RunTrawlex({"--report", "-t", "x", "--version"}).Out.rfind("Trawlex ", 0), 0u);
}

TEST(Headless, HiddenAndBinarySwitchesShowInTheHeaderAndDecideTheFiles) {
  TTempDir dir;
  WriteTree(dir, {{"a.txt", "foo\n"}, {".h/b.txt", "foo\n"}, {"c.bin", std::string("foo\0", 4)}});
  struct TCase {
    V Switches;
    V Header;  // the lines between "File names" and "Target"; then the lines after "Case senstive"
    std::string Found;
    V Files;
  } cases[] = {
      {{}, {}, "Found in 2 of 2 files", {"a.txt", "c.bin"}},
      {{"-h", "1"}, {"Search hidden files: Yes"}, "Found in 3 of 3 files", {".h/b.txt", "a.txt", "c.bin"}},
      {{"-b", "1", "-h", "0"}, {"Skip binary files: Yes"}, "Found in 1 of 2 files, 1 binary file skipped", {"a.txt"}},
      {{"-f", ".h|x", "-h", "1"}, {"Search hidden files: Yes", "Skip folders: .h|x"}, "Found in 2 of 2 files", {"a.txt", "c.bin"}},
      {{"-i", "1"}, {"Skip ignored files: Yes"}, "Found in 2 of 2 files", {"a.txt", "c.bin"}},
  };
  for (const TCase& c : cases) {
    V args{"--report", "-t", "foo", "-d", dir.Path()};
    args.insert(args.end(), c.Switches.begin(), c.Switches.end());
    const TRun run = RunTrawlex(args);
    EXPECT_EQ(run.Status, 0) << run.Err;
    const V lines = SplitLines(run.Out);
    V named, files;
    std::string found;
    for (const std::string& l : lines) {
      if (l.rfind("Search hidden", 0) == 0 || l.rfind("Skip ", 0) == 0) named.push_back(l);
      if (l.rfind("Found in", 0) == 0) found = l;
      if (l.rfind(dir.Path() + "/", 0) == 0) files.push_back(l.substr(dir.Path().size() + 1));
    }
    EXPECT_EQ(named, c.Header);
    EXPECT_EQ(found, c.Found);
    EXPECT_EQ(files, c.Files);
  }
}

// An undo that runs out of memory unpacking one file's old content refuses that file, says
// so, and restores the others.
TEST(Headless, UndoOutOfMemoryRefusesThatFileAndRestoresTheOthers) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own reservations do not fit under an address-space limit";
#endif
  TTempDir dir;
  setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  // A regular expression's replace keeps the file whole in the journal, packed small.
  const std::string big = std::string(96 << 20, 'z') + "\nQQQ\n";
  const std::string bigPath = dir.Write("tree/a-big.txt", big);
  dir.Write("tree/b-small.txt", "QQQ small\n");
  TRun run = RunTrawlex({"--report", "--replace-all", "x", "-t", "QQQ", "-r", "1", "-d", dir / "tree", "-c", "1"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(ReadAll(dir / "tree/b-small.txt"), "x small\n");
  run = RunTrawlex({"--undo-last"}, rlim_t{64} << 20);
  EXPECT_EQ(run.Status, 2) << run.Err;
  EXPECT_NE(run.Err.find(bigPath + ": Out of memory, so it was not restored"), std::string::npos) << run.Err;
  EXPECT_EQ(ReadAll(dir / "tree/b-small.txt"), "QQQ small\n");
  unsetenv("XDG_STATE_HOME");
}

TEST(Headless, ReplaceAndDiffSeeOnlyWhatTheSearchListed) {
  // Every choice that leaves files out: the replace and its change set stay inside the list.
  TTempDir dir;
  dir.MakeDir(".git");
  WriteTree(dir, {"a.txt", "b.log", "out/c.txt", "vendor/d.txt", ".e.txt"}, "foo\n");
  WriteTree(dir, {{".gitignore", "*.log\nout/\n"}, {"f.bin", std::string("foo\0", 4)}});
  const V search{"--report", "-t", "foo", "-d", dir.Path(), "-i", "1", "-f", "vendor", "-b", "1", "--no-undo"};
  V diff = search;
  diff.insert(diff.end(), {"--replace-all", "bar", "--diff"});
  const TRun shown = RunTrawlex(diff);
  EXPECT_EQ(shown.Status, 0) << shown.Err;
  EXPECT_NE(shown.Out.find("+++ b/a.txt"), std::string::npos) << shown.Out;
  EXPECT_EQ(shown.Out.find("+++ b/", shown.Out.find("+++ b/a.txt") + 1), std::string::npos) << shown.Out;
  V replace = search;
  replace.insert(replace.end(), {"--replace-all", "bar"});
  const TRun run = RunTrawlex(replace);
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ReadAll(dir / "a.txt"), "bar\n");
  for (const char* kept : {"b.log", "out/c.txt", "vendor/d.txt", ".e.txt"}) EXPECT_EQ(ReadAll(dir / kept), "foo\n") << kept;
  EXPECT_EQ(ReadAll(dir / "f.bin"), std::string("foo\0", 4));
}

TEST(Headless, DryRunAndDiffCountWhatTheReplaceChanges) {
  // A file reached under two names is rewritten once: the counts before must say so.
  const struct {
    const char* Name;
    int (*Link)(const char*, const char*);
  } cases[] = {{"symbolic", symlink}, {"hard", link}};
  for (const auto& c : cases) {
    TTempDir dir;
    const std::string a = dir.Write("a.txt", "foo foo\n");
    ASSERT_EQ(c.Link(a.c_str(), (dir / "b.txt").c_str()), 0);
    const V args{"--report", "-t", "foo", "-d", dir.Path(), "--replace-all", "x", "--no-undo"};
    for (const char* only : {"--dry-run", "--diff"}) {
      V before = args;
      before.push_back(only);
      const std::string err = RunTrawlex(before).Err;
      EXPECT_NE(err.find(": 2 finds in 1 file would be replaced"), std::string::npos) << c.Name << only << err;
    }
    const TRun run = RunTrawlex(args);
    EXPECT_NE(run.Out.find("Finished. Replaced 2 finds\n"), std::string::npos) << c.Name << run.Err;
  }
}

TEST(Headless, ReplaceOptionsNeedReportWhereverItStands) {
  TTempDir dir;
  const std::string file = dir.Write("a.txt", "foo\n");
  const V search{"-t", "foo", "-d", dir.Path()};
  const struct {
    V Options;
    int Status;
    const char* Content;
  } cases[] = {
      {{"--replace-all", "bar"}, 2, "foo\n"},
      {{"--replace-all", "bar", "--diff"}, 2, "foo\n"},
      {{"--dry-run", "--replace-all=bar"}, 2, "foo\n"},
      {{"--replace-all", "bar", "--report", "--dry-run"}, 0, "foo\n"},
      {{"--replace-all", "bar", "--no-undo", "--report"}, 0, "bar\n"},
  };
  for (const auto& c : cases) {
    V args = search;
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    const TRun run = RunTrawlex(args);
    EXPECT_EQ(run.Status, c.Status) << c.Options[0] << run.Err;
    EXPECT_EQ(run.Err.find("work only with --report") != std::string::npos, c.Status == 2) << run.Err;
    EXPECT_EQ(ReadAll(file), c.Content) << c.Options[0];
  }
}
