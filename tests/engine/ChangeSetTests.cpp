// The change set: byte-exact unified diffs of what a replace would write, checked by applying
// them with `git apply` and `patch -p1` to copies of a tree and comparing with what the replace
// engine itself writes; binary-looking and changed files are named instead of diffed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "app/HeadlessReplace.h"
#include "engine/ChangeSet.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/SearchThread.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::ReadAll;
using trawlex::test::TQueueInvoker;
using trawlex::test::TTempDir;
namespace fs = std::filesystem;

namespace {

// One file's diff for finds at the given offsets (each `length` long).
std::string Diff(std::string_view content, std::vector<int32_t> offsets, int32_t length, std::string_view with) {
  TSearchFile file(nullptr);
  TReplaceFile job(&file);
  for (int32_t o : offsets) job.AddFind(o, length);
  return FileDiff("f.txt", content, job, with);
}

std::string Lines(int from, int to) {  // "L<from>\n" ... "L<to>\n"
  std::string s;
  for (int i = from; i <= to; ++i) s += "L" + std::to_string(i) + "\n";
  return s;
}

// Where line `line` ("L7") starts in Lines(1, ...).
int32_t At(const std::string& line) { return static_cast<int32_t>(("\n" + Lines(1, 40)).find("\n" + line + "\n")); }

int Shell(const std::string& command) { return std::system(command.c_str()); }

class ChangeSetTreeTest : public ::testing::Test {
 protected:
  void Search(const std::string& target, bool caseSensitive = false) {
    Params = std::make_unique<TSearchParams>();
    Params->BaseDir = Tree.Path();
    Params->SetFilePatterns({"*.txt"});
    Params->IncludeSubdirs = true;
    Params->SetTarget(target);
    Params->SetCaseSensitive(caseSensitive);
    bool ended = false;
    TSearchThread search(Invoker);
    search.SetParams(Params.get());
    search.OnTerminate = [&](TBaseThread&) { ended = true; };
    search.Start();
    ASSERT_TRUE(Invoker.PumpUntil([&] { return ended; }));
    search.WaitFor();
    for (int32_t i = 0; i < Params->GetResultCount(); ++i) Params->GetResult(i)->SelectAllFinds(true);
    BuildReplaceJobs(*Params, Jobs);
  }

  void ReplaceForReal(const std::string& text) {
    bool ended = false;
    TReplaceThread replace(Invoker);
    replace.Params = Params.get();
    replace.Jobs = &Jobs;
    replace.ReplaceText = text;
    replace.OnTerminate = [&](TBaseThread&) { ended = true; };
    replace.Start();
    ASSERT_TRUE(Invoker.PumpUntil([&] { return ended; }));
    ASSERT_EQ(replace.FilesNotReplaced(), 0);
  }

  // Every regular file under `root`, by relative name, with its bytes.
  static std::map<std::string, std::string> Contents(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = ReadAll(e.path().string());
    return files;
  }

  TTempDir Tree, Work;
  TQueueInvoker Invoker;
  std::unique_ptr<TSearchParams> Params;
  TReplaceJobList Jobs;
};

}  // namespace

// ---- one file, byte for byte ----------------------------------------------------------------

struct TDiffCase {
  const char* Name;
  std::string Content;
  std::vector<int32_t> Offsets;
  int32_t Length;
  std::string With, Expected;
};

TEST(ChangeSetTest, FileDiffIsByteExact) {
  const std::string noEol = "\\ No newline at end of file\n";  // the rest: through git and patch below
  const TDiffCase cases[] = {
      {"replacement-adds-the-final-line-break", "a\nfoo", {2}, 3, "bar\n", "@@ -1,2 +1,2 @@\n a\n-foo\n" + noEol + "+bar\n"},
      {"find-across-a-line-break", "xa\nby\nk\n", {1}, 3, "Z", "@@ -1,3 +1,2 @@\n-xa\n-by\n+xZy\n k\n"},
      {"only-line-deleted", "foo\n", {0}, 4, "", "@@ -1,1 +0,0 @@\n-foo\n"},
      {"adjacent-lines-one-change", "foo\nfoo\n", {0, 4}, 3, "b", "@@ -1,2 +1,2 @@\n-foo\n-foo\n+b\n+b\n"},
      {"same-text-no-change", "foo\n", {0}, 3, "foo", ""},
      {"empty-find-at-the-end", "ab", {0, 2}, 0, "X", "@@ -1,1 +1,1 @@\n-ab\n" + noEol + "+XabX\n" + noEol},
      {"empty-find-after-the-final-line-break", "x\n", {2}, 0, "X", "@@ -1,1 +1,2 @@\n-x\n+x\n+X\n" + noEol},
      {"gap-of-six-one-hunk", Lines(1, 20), {At("L5"), At("L12")}, 1, "X",
       "@@ -2,14 +2,14 @@\n L2\n L3\n L4\n-L5\n+X5\n L6\n L7\n L8\n L9\n L10\n L11\n-L12\n+X12\n L13\n L14\n L15\n"},
      {"gap-of-seven-two-hunks", Lines(1, 20), {At("L5"), At("L13")}, 1, "X",
       "@@ -2,7 +2,7 @@\n L2\n L3\n L4\n-L5\n+X5\n L6\n L7\n L8\n@@ -10,7 +10,7 @@\n L10\n L11\n L12\n-L13\n+X13\n L14\n L15\n L16\n"},
      {"first-and-last-lines", Lines(1, 20), {At("L1"), At("L20")}, 1, "X",
       "@@ -1,4 +1,4 @@\n-L1\n+X1\n L2\n L3\n L4\n@@ -17,4 +17,4 @@\n L17\n L18\n L19\n-L20\n+X20\n"},
  };
  for (const TDiffCase& c : cases) {
    const std::string diff = Diff(c.Content, c.Offsets, c.Length, c.With);
    const std::string expected = c.Expected.empty() ? "" : "--- a/f.txt\n+++ b/f.txt\n" + c.Expected;
    EXPECT_EQ(diff, expected) << c.Name;
  }
}

// ---- a tree: the tools accept the change set and get what the engine writes -----------------

TEST_F(ChangeSetTreeTest, GitApplyAndPatchTurnACopyIntoWhatReplaceWrites) {
  if (Shell("git --version >/dev/null 2>&1") != 0 || Shell("patch --version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "git or patch is missing (scripts/setup installs them)";
  std::string late(9000, 'a');
  late += std::string("\n\0 foo\n", 7);  // a NUL byte past where the tools look for one
  const std::map<std::string, std::string> files = {
      {"crlf.txt", "one\r\ntwo foo\r\nthree\r\n"},
      {"lone-cr.txt", "a\rfoo\rb\nnext\n"},
      {"no-eol.txt", "x\ny\nz foo"},
      {"no-eol-context.txt", "foo\n1\n2\nlast"},
      {"ends.txt", "foo middle foo"},
      {"bytes.txt", "\xff\xfd foo \xc3\x28\nFoo\n"},  // (FF FE would begin UTF-16)
      {"late-nul.txt", late},
      {"with space.txt", Lines(1, 30) + "foo\n" + Lines(31, 40) + "foo foo\n"},
      {"sub/dir/deep.txt", "FOO\nfoo\n"},
      {"caf\xc3\xa9 \"q\".txt", "foo\n"},
  };
  for (const char* with : {"bar", "", "two\nlines", "foo"}) {
    SCOPED_TRACE(with);
    const std::string original = Work / "original", viaGit = Work / "git", viaPatch = Work / "patch";
    Shell("rm -rf '" + original + "' '" + viaGit + "' '" + viaPatch + "' '" + Tree.Path() + "'/*");
    for (const auto& [name, bytes] : files) Tree.Write(name, bytes);
    Search("foo");
    ASSERT_EQ(Jobs.size(), files.size());
    const std::string changes = BuildChangeSet(*Params, Jobs, with).Text;
    EXPECT_EQ(changes.find("Not shown"), std::string::npos) << changes;
    const std::string patchFile = Work / "changes.patch";
    std::ofstream(patchFile, std::ios::binary) << changes;
    ASSERT_EQ(Shell("cp -a '" + Tree.Path() + "' '" + viaGit + "' && cp -a '" + Tree.Path() + "' '" + viaPatch + "'"), 0);
    EXPECT_EQ(Shell("cd '" + viaGit + "' && git apply --whitespace=nowarn '" + patchFile + "'"), 0) << changes;
    EXPECT_EQ(Shell("cd '" + viaPatch + "' && patch -p1 -s --no-backup-if-mismatch -i '" + patchFile + "'"), 0) << changes;
    // The change set changed nothing itself.
    for (const auto& [name, bytes] : files) ASSERT_EQ(ReadAll(Tree / name), bytes) << name;
    ReplaceForReal(with);
    const auto expected = Contents(Tree.Path());
    EXPECT_EQ(Contents(viaGit), expected);
    EXPECT_EQ(Contents(viaPatch), expected);
  }
}

// Random files of every kind of line end, and replacements that take line breaks away and
// add them: both tools must end with exactly what the replace writes, file for file.
TEST_F(ChangeSetTreeTest, RandomLineBreakChangesApplyWithBothTools) {
  if (Shell("git --version >/dev/null 2>&1") != 0 || Shell("patch --version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "git or patch is missing (scripts/setup installs them)";
  struct TRound {
    const char* Target;
    const char* With;
  } rounds[] = {{"x\n", "x"}, {"\n", ""}, {"\r\n", ""}, {"x\r", "x"}, {"x", "\n"}, {"x", "y\r\n"},
                {"\r", "\r\n"}, {"\n", "\r"}, {"x\n", "z\n\n"}, {"x", ""}};
  const char* pieces[] = {"a", "x", "x", "b c", "\n", "\r", "\r\n", "\n\n"};
  std::mt19937 random(20261207);
  int files = 0;
  for (const TRound& round : rounds) {
    SCOPED_TRACE(std::string("target ") + round.Target);
    const std::string viaGit = Work / "git", viaPatch = Work / "patch";
    Shell("rm -rf '" + viaGit + "' '" + viaPatch + "' '" + Tree.Path() + "'/*");
    for (int f = 0; f < 40; ++f, ++files) {
      std::string bytes;
      for (int n = static_cast<int>(random() % 14); n > 0; --n) bytes += pieces[random() % std::size(pieces)];
      if (random() % 3 == 0) bytes += round.Target;  // a find at the very end
      Tree.Write("f" + std::to_string(f) + ".txt", bytes);
    }
    Search(round.Target, true);
    const std::string changes = BuildChangeSet(*Params, Jobs, round.With).Text;
    const std::string patchFile = Work / "changes.patch";
    std::ofstream(patchFile, std::ios::binary) << changes;
    ASSERT_EQ(Shell("cp -a '" + Tree.Path() + "' '" + viaGit + "' && cp -a '" + Tree.Path() + "' '" + viaPatch + "'"), 0);
    EXPECT_EQ(Shell("cd '" + viaGit + "' && git apply --whitespace=nowarn '" + patchFile + "'"), 0) << changes;
    EXPECT_EQ(Shell("cd '" + viaPatch + "' && patch -p1 -s --no-backup-if-mismatch -i '" + patchFile + "' >/dev/null"), 0)
        << changes;
    ReplaceForReal(round.With);
    const auto expected = Contents(Tree.Path());
    EXPECT_EQ(Contents(viaGit), expected) << changes;
    EXPECT_EQ(Contents(viaPatch), expected) << changes;
  }
  EXPECT_EQ(files, 400);
}

// Symbolic links inside the tree (to a file, to a folder, to a file outside) and hard links:
// every file once, under names the tools write as regular files.
TEST_F(ChangeSetTreeTest, LinkedFilesGetOneDiffUnderARegularName) {
  if (Shell("git --version >/dev/null 2>&1") != 0 || Shell("patch --version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "git or patch is missing (scripts/setup installs them)";
  TTempDir outside;
  const std::string away = outside.Write("away.txt", "foo away\n");
  Tree.Write("real/curses.txt", "one\nfoo\n");
  Tree.Write("hard-a.txt", "foo hard\n");
  fs::create_symlink("real/curses.txt", Tree / "ncurses.txt");
  fs::create_symlink("real", Tree / "alias");
  fs::create_symlink(away, Tree / "away-link.txt");
  fs::create_hard_link(Tree / "hard-a.txt", Tree / "hard-b.txt");
  Search("foo");
  ASSERT_EQ(Jobs.size(), 5u);  // away-link, hard-a, hard-b, ncurses, real/curses (the folder once)
  const TChangeSet set = BuildChangeSet(*Params, Jobs, "bar");
  EXPECT_EQ(set.Diffs, 2) << set.Text;
  EXPECT_EQ(set.Linked, 1);
  for (const char* header : {"+++ b/real/curses.txt\n", "+++ b/hard-a.txt\n", "+++ b/hard-b.txt\n"}) {
    const size_t at = set.Text.find(header);
    EXPECT_NE(at, std::string::npos) << header << set.Text;
    EXPECT_EQ(set.Text.find(header, at + 1), std::string::npos) << header << set.Text;
  }
  EXPECT_NE(set.Text.find("Not shown: away-link.txt, 1 find to replace: a symbolic link to a file outside the searched "
                          "folder\n"),
            std::string::npos)
      << set.Text;
  const std::string viaGit = Work / "git", viaPatch = Work / "patch", patchFile = Work / "changes.patch";
  std::ofstream(patchFile, std::ios::binary) << set.Text;
  ASSERT_EQ(Shell("cp -a '" + Tree.Path() + "' '" + viaGit + "' && cp -a '" + Tree.Path() + "' '" + viaPatch + "'"), 0);
  EXPECT_EQ(Shell("cd '" + viaGit + "' && git apply '" + patchFile + "'"), 0) << set.Text;
  EXPECT_EQ(Shell("cd '" + viaPatch + "' && patch -p1 -s --no-backup-if-mismatch -i '" + patchFile + "'"), 0);
  ReplaceForReal("bar");
  EXPECT_EQ(ReadAll(away), "bar away\n");  // the replace follows the link out; the tools cannot
  for (const std::string& copy : {viaGit, viaPatch})
    for (const char* name : {"real/curses.txt", "ncurses.txt", "hard-a.txt", "hard-b.txt"}) {
      EXPECT_EQ(ReadAll(copy + "/" + name), ReadAll(Tree / name)) << copy << " " << name;
      EXPECT_EQ(fs::is_symlink(copy + "/" + name), fs::is_symlink(Tree / name)) << copy << " " << name;
    }
}

TEST_F(ChangeSetTreeTest, BinaryAndChangedFilesAreNamedInsteadOfDiffed) {
  Tree.Write("a-binary.txt", std::string("\0\1foo foo", 9));
  Tree.Write("b-changed.txt", "foo\n");
  Tree.Write("c-swapped.txt", "foo\n");
  Tree.Write("d-plain.txt", "foo\n");
  Search("foo");
  ASSERT_EQ(Jobs.size(), 4u);
  Tree.Write("b-changed.txt", "foo and more\n");  // another size
  Tree.Write("c-swapped.txt", "bar\n");           // same size, same second: only the content tells
  const TChangeSet set = BuildChangeSet(*Params, Jobs, "X");
  EXPECT_EQ(set.Diffs, 1);
  EXPECT_EQ(set.Binary, 1);
  EXPECT_EQ(set.NotShown, 2);
  EXPECT_EQ(set.Text,
            "Not shown: binary file a-binary.txt, 2 finds to replace\n"
            "Not shown: b-changed.txt changed since the search; search again to see its changes\n"
            "Not shown: c-swapped.txt changed since the search; search again to see its changes\n"
            "--- a/d-plain.txt\n+++ b/d-plain.txt\n@@ -1,1 +1,1 @@\n-foo\n+X\n");
  fs::remove(Tree / "d-plain.txt");
  EXPECT_NE(BuildChangeSet(*Params, Jobs, "X").Text.find("Not shown: d-plain.txt cannot be read: "), std::string::npos);
}

// ---- headless -----------------------------------------------------------------------------

TEST(HeadlessDiffTest, PrintsOnlyTheChangeSetAndChangesNothing) {
  TTempDir dir;
  const std::string a = dir.Write("a.txt", "keep\nfoo\r\n");
  const std::string b = dir.Write("sub/b.txt", "foo");
  auto run = [](const std::vector<std::string>& args, std::string& out, std::string& err) {
    std::FILE* o = std::tmpfile();
    std::FILE* e = std::tmpfile();
    const int status = RunReplaceAll(args, o, e);
    for (auto [f, s] : {std::pair{o, &out}, std::pair{e, &err}}) {
      std::rewind(f);
      s->clear();
      for (int c; (c = std::fgetc(f)) != EOF;) s->push_back(static_cast<char>(c));
      std::fclose(f);
    }
    return status;
  };
  std::string out, err;
  EXPECT_EQ(run({"--report", "--replace-all", "bar", "-t", "foo", "-d", dir.Path(), "--diff"}, out, err), 0);
  EXPECT_EQ(out,
            "--- a/a.txt\n+++ b/a.txt\n@@ -1,2 +1,2 @@\n keep\n-foo\r\n+bar\r\n"
            "--- a/sub/b.txt\n+++ b/sub/b.txt\n@@ -1,1 +1,1 @@\n-foo\n\\ No newline at end of file\n+bar\n\\ No newline at end of file\n");
  EXPECT_EQ(err, "Changes: 2 finds in 2 files would be replaced; nothing was changed\n");
  EXPECT_EQ(ReadAll(a), "keep\nfoo\r\n");
  EXPECT_EQ(ReadAll(b), "foo");
  EXPECT_EQ(run({"--report", "-t", "foo", "-d", dir.Path(), "--diff"}, out, err), 2);
  EXPECT_EQ(err, "--diff shows what --replace-all TEXT would change: give both\n");
}
