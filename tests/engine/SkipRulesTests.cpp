// What a search leaves out of a tree: folders by name or path, and the files a git work
// tree ignores.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "engine/GitConfig.h"
#include "engine/SearchParams.h"
#include "support/SearchRun.h"

using namespace trawlex;
using trawlex::test::TSearchRun;
using trawlex::test::TTempDir;
using trawlex::test::WriteTree;
using V = std::vector<std::string>;

namespace {

struct TWalk {
  V Files;    // relative to the base, "/" between names, sorted
  V Entered;  // the folders the walk read, the same
  V Errors;
};

// Runs a whole search for "x" below `base` and tells which files were candidates.
TWalk Walk(const std::string& base, const std::function<void(TSearchParams&)>& choose) {
  TSearchRun run(base, "x", {"*"});
  choose(run.Params);
  run.Thread->ShowLines = false;
  run.Run();
  V files = run.ResultNames(base);
  std::sort(files.begin(), files.end());
  return {files, run.FoldersRead(base), run.Errors};
}

}  // namespace

TEST(SkipFolders, TextBecomesPatterns) {
  const struct {
    std::string Text;
    V Patterns;
  } cases[] = {
      {"", {}},
      {"node_modules|build*|target", {"node_modules", "build*", "target"}},
      {" a | |b/ ||/src/gen/ ", {"a", "b", "/src/gen"}},
      {"./src/gen|.//build|gen/./x|src/.|/", {"src/gen", "/build", "gen/x", "/src"}},
  };
  for (const auto& c : cases) {
    TSearchParams p;
    p.SetSkipFolders(c.Text);
    EXPECT_EQ(p.SkipFolders, c.Patterns) << c.Text;
  }
  TSearchParams p;
  p.SetTarget("x");
  p.SetSkipFolders("node_modules|src/gen");
  const V lines = p.GetDescription();
  EXPECT_EQ(lines[3], "Skip folders: node_modules|src/gen");
}

TEST(SkipFolders, PatternsByNameOrPathAndSkippedFoldersAreNeverRead) {
  TTempDir dir;
  WriteTree(dir, {"a.c", "node_modules/m.js", "src/node_modules/n.js", "src/gen/g.c", "gen/top.c", "build/b.o", "build-x/y.o",
                  "Build2/z.o", "src/lib/build/deep.o", "src/lib/l.c"}, "x");
  const struct {
    std::string Skip;
    V Files;
    V NotEntered;
  } cases[] = {
      {"", {"a.c", "Build2/z.o", "build-x/y.o", "build/b.o", "gen/top.c", "node_modules/m.js", "src/gen/g.c",
            "src/lib/build/deep.o", "src/lib/l.c", "src/node_modules/n.js"}, {}},
      // A name, in every folder; wildcards and letter case as in the file patterns.
      {"node_modules|build*", {"a.c", "gen/top.c", "src/gen/g.c", "src/lib/l.c"},
       {"Build2", "build", "build-x", "node_modules", "src/lib/build", "src/node_modules"}},
      // With a "/": the path below the searched folder.
      {"src/gen|/build/", {"a.c", "Build2/z.o", "build-x/y.o", "gen/top.c", "node_modules/m.js", "src/lib/build/deep.o",
                           "src/lib/l.c", "src/node_modules/n.js"}, {"build", "src/gen"}},
      {"src/*/build", {"a.c", "Build2/z.o", "build-x/y.o", "build/b.o", "gen/top.c", "node_modules/m.js",
                       "src/gen/g.c", "src/lib/l.c", "src/node_modules/n.js"}, {"src/lib/build"}},
      {"src", {"a.c", "Build2/z.o", "build-x/y.o", "build/b.o", "gen/top.c", "node_modules/m.js"}, {"src"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Skip);
    const TWalk walk = Walk(dir.Path(), [&](TSearchParams& p) { p.SetSkipFolders(c.Skip); });
    V expected = c.Files;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(walk.Files, expected);
    for (const std::string& skipped : c.NotEntered)
      EXPECT_EQ(std::count(walk.Entered.begin(), walk.Entered.end(), skipped), 0) << skipped;
    EXPECT_TRUE(walk.Errors.empty());
  }
}

TEST(SkipIgnored, GitConfigTextReadAsGitReadsIt) {
  const struct {
    std::string Text;
    V Settings;  // "key=value", or "key" without one
    int BadLine;
  } cases[] = {
      {"[Core]\n\tIgnoreCase\n\tExcludesFile = \" a;b \" # c\n", {"core.ignorecase", "core.excludesfile= a;b "}, 0},
      {"[a \"Sub.X\"] k = 1 ; c\n[b.C]\nk=x\\\n  y\n", {"a.Sub.X.k=1", "b.c.k=x  y"}, 0},
      {"\xEF\xBB\xBFk = v\r\n[s]\nv = \"a\\tb\\\\\"", {"k=v", "s.v=a\tb\\"}, 0},
      {"[s]\nok = 1\nbad = \"open\n", {"s.ok=1"}, 3},
      {"[s]\n1x = 2\n", {}, 2},
      {"[s]\nv = \\q\n", {}, 2},
      {"[s \"x\"\nv = 1\n", {}, 1},
  };
  for (const auto& c : cases) {
    std::vector<TGitSetting> settings;
    EXPECT_EQ(ParseGitConfig(c.Text, settings), c.BadLine) << c.Text;
    V got;
    for (const TGitSetting& s : settings) got.push_back(s.Key + (s.Value ? "=" + *s.Value : ""));
    EXPECT_EQ(got, c.Settings) << c.Text;
  }
}

#ifndef _WIN32  // git's rules are compared with git itself; the walk is the same on every system
#include <sys/wait.h>

namespace {

// Runs git with HOME and XDG_CONFIG_HOME of the test; false when it fails.
bool Git(const std::string& args) { return std::system(("git " + args + " >/dev/null 2>&1").c_str()) == 0; }

struct TRepoCase {
  const char* Name;
  V Files;                                          // each holds "x"
  std::vector<std::pair<std::string, std::string>> IgnoreFiles;  // path (from the repository's top; "~/" the home folder) and text
  std::string Base;                                 // the searched folder below the top
};

}  // namespace

TEST(SkipIgnored, DecidesAsGitCheckIgnoreDoes) {
  if (!Git("--version")) GTEST_SKIP() << "git is not installed";
  // core.ignoreCase: git folds the text and the pattern's plain letters, not a letter after
  // "\" or in a class; "a**/b" has a "**" that spans folders after its literal "a".
  const V caseFiles = {"Foo.log", "keep.LOG", "a.TXT", "Build/x.c", "bx", "q1", "Q1", "Q2", "xy4", "sub/Deep/d.c",
                       "Au", "ab/k/b", "ax/y/B", "z/Q3"};
  const std::string caseRules = "*.LOG\n!KEEP.log\n*.txt\nbuild/\n[A-C]x\n[Q]1\n\\Q2\nx\\Y4\nSUB/De*\n[[:upper:]]u\na**/b\nZ/*q3\n";
  const TRepoCase cases[] = {
      {"nested files, negation, anchoring, folders only, escapes",
       {"a.log", "keep.log", "top.txt", "sub/top.txt", "build/x.c", "sub/build/y.c", "sub2/build", "#hash", "space ",
        "tab\t", "x.o", "important/y.o", "sub/important/z.o", "sub/a.log", "sub/b.txt", "sub/local/l.c",
        "sub/deeper/local/m.c", "sub/deeper/n.txt", "!bang", "star*name", ".hidden/h.c", "q/a?b"},
       {{".gitignore", "# comment\n*.log\n!keep.log\n/top.txt\nbuild/\n\\#hash\nspace\\ \ntab\t\n*.o\n!important/*.o\n\\!bang\nstar\\*name\n  \n"},
        {"sub/.gitignore", "!a.log\r\n*.txt\n/local\n!deeper/*.txt\n"},
        {"q/.gitignore", "a\\?b\n"}},
       ""},
      {"stars, classes and folders",
       {"doc/gen/a.c", "doc/a/b/gen/c.c", "docs/gen/d.c", "out/x/y.c", "out.c", "lib/t1.c", "lib/tA.c", "lib/t_.c",
        "deep/one/foo", "foo", "deep/foo/bar.c", "m/n/o.c", "m/o.c", "z/x.cc", "z/x.c"},
       {{".gitignore", "doc/**/gen\nout/**\nlib/t[0-9].c\nlib/t[![:digit:]A].c\n**/foo\nm/**/o.c\nz/*.c?\n"}},
       ""},
      {"info/exclude and the user's file, by precedence",
       {"a.tmp", "b.tmp", "c.bak", "keep.bak", "d.user", "e.user", "sub/f.user"},
       {{".git/info/exclude", "*.tmp\n!keep.bak\n"},
        {"~/.config/git/ignore", "*.bak\n*.user\n"},
        {".gitignore", "!a.tmp\n"},
        {"sub/.gitignore", "!f.user\n"}},
       ""},
      {"a folder of the tree searched, and a user file named in the settings",
       {"sub/a.c", "sub/gen/g.c", "sub/x.y", "sub/k/x.y", "sub/k/z.w", "other/o.c"},
       {{".gitignore", "sub/gen/\n*.y\n/sub/k/*.y\n"}, {"~/.gitconfig", "[user]\n\tname = t\n[core]\n  excludesFile = \"~/my ignore\" ; set\n"},
        {"~/my ignore", "*.w\n"}},
       "sub"},
      {"core.ignoreCase set in the user's file", caseFiles, {{".gitignore", caseRules}, {"~/.gitconfig", "[core]\n\tignoreCase\n"}}, ""},
      {"core.ignoreCase: the repository's false over the user's yes", caseFiles,
       {{".gitignore", caseRules}, {"~/.config/git/config", "[core] ignorecase = yes\n"},
        {".git/config", "[core]\n\trepositoryformatversion = 0\n\tIgnoreCase = \"0\"\n"}},
       ""},
      {"an excludes file and core.ignoreCase named through includes",
       {"a.ex", "B.EX", "c.c", "sub/d.Ex", "e.never"},
       {{"~/.gitconfig", "[include]\n\tpath = inc/first.cfg\n[includeIf \"gitdir:repo/\"]\n\tpath = ~/when.cfg\n"
                         "[includeIf \"gitdir:other/\"]\n\tpath = ~/never.cfg\n[includeIf \"onbranch:n*\"]\n\tpath = ~/never.cfg\n"},
        {"~/inc/first.cfg", "[core]\n\texcludesFile = ~/never.excludes\n[include]\n\tpath = ../second.cfg\n"},
        {"~/second.cfg", "[core]\n\texcludesFile = \"rules.gitx\"\n"},  // from the work tree's top
        {"rules.gitx", "*.ex\n"}, {"~/when.cfg", "[includeIf \"onbranch:*\"]\n\tpath = branch.cfg\n"},
        {"~/branch.cfg", "[core]\n\tignoreCase = true\n"},
        {"~/never.cfg", "[core]\n\tignoreCase = false\n\texcludesFile = ~/never.excludes\n"},
        {"~/never.excludes", "*.never\n"}},
       ""},
  };
  for (const TRepoCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir home, root;
    setenv("HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    unsetenv("GIT_CONFIG_GLOBAL");
    const std::string top = root / "repo";
    ASSERT_TRUE(Git("init -q '" + top + "'"));
    for (const std::string& f : c.Files) root.Write("repo/" + f, "x");
    for (const auto& [path, text] : c.IgnoreFiles) {
      if (path.rfind("~/", 0) == 0) home.Write(path.substr(2), text);
      else root.Write("repo/" + path, text);
    }
    const std::string base = c.Base.empty() ? top : top + "/" + c.Base;
    // What git ignores among the files of the searched folder.
    std::string list;
    for (const std::string& f : c.Files)
      if (c.Base.empty() || f.rfind(c.Base + "/", 0) == 0) list += f + '\0';
    const std::string listFile = root / "list", ignoredFile = root / "ignored";
    root.Write("list", list);
    // git check-ignore says 0 when it ignores something, 1 when it ignores nothing.
    const int status = std::system(
        ("cd '" + top + "' && git check-ignore --no-index --stdin -z < '" + listFile + "' > '" + ignoredFile + "'").c_str());
    ASSERT_TRUE(status == 0 || (status > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 1)) << c.Name;
    const std::string ignoredText = test::ReadAll(ignoredFile);
    V expected;
    for (size_t start = 0; start < list.size();) {
      const size_t end = list.find('\0', start);
      const std::string f = list.substr(start, end - start);
      start = end + 1;
      if ((std::string(1, '\0') + ignoredText).find('\0' + f + '\0') == std::string::npos)
        expected.push_back(c.Base.empty() ? f : f.substr(c.Base.size() + 1));
    }
    std::sort(expected.begin(), expected.end());
    const TWalk walk = Walk(base, [](TSearchParams& p) {
      p.SkipIgnored = true;
      p.IncludeHidden = true;
    });
    V files;
    for (const std::string& f : walk.Files)
      if (f.find(".git") == std::string::npos) files.push_back(f);  // the ignore files themselves
    EXPECT_EQ(files, expected);
    EXPECT_TRUE(walk.Errors.empty()) << walk.Errors[0];
  }
}

TEST(SkipIgnored, AnIgnoredFolderIsNeverReadAndOutsideAWorkTreeNothingIsIgnored) {
  TTempDir root;
  WriteTree(root, {{"plain/.gitignore", "*.c\n"}, {"repo/.gitignore", "node_modules/\ngen\n"},
                   {"repo/linked/.git", "gitdir: x"}});  // a work tree of its own, linked to its repository
  WriteTree(root, {"plain/a.c", "repo/node_modules/m.c", "repo/src/gen/g.c", "repo/src/s.c", "repo/.git/config"}, "x");
  const TWalk plain = Walk(root / "plain", [](TSearchParams& p) { p.SkipIgnored = true; });
  EXPECT_EQ(plain.Files, (V{"a.c"}));
  const TWalk repo = Walk(root / "repo", [](TSearchParams& p) {
    p.SkipIgnored = true;
    p.IncludeHidden = true;
  });
  // The repository's own folder is never searched either, nor the link to it from a linked work tree.
  EXPECT_EQ(repo.Files, (V{"src/s.c"}));
  EXPECT_EQ(repo.Entered, (V{"", "linked", "src"}));
  // Searched from inside an ignored folder: all of it is ignored.
  EXPECT_TRUE(Walk(root / "repo/src/gen", [](TSearchParams& p) { p.SkipIgnored = true; }).Files.empty());
}

// A setting git would refuse is told, and the rest of the settings still apply.
TEST(SkipIgnored, FaultyGitSettingsAreTold) {
  const struct {
    std::string Config;
    std::string Error;
  } cases[] = {
      {"[core]\n\tignoreCase = maybe\n", ".gitconfig: core.ignoreCase is neither true nor false: maybe"},
      {"[core]\n\texcludesFile = ~nobody/x\n", ".gitconfig: core.excludesFile names no file it can be found at: ~nobody/x"},
      {"[include]\n\tpath = .gitconfig\n", ".gitconfig: includes "},
      {"[core]\n\texcludesFile = ~/ex\n[core\n", ".gitconfig: line 3 is no git setting"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Config);
    TTempDir home, root;
    setenv("HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    home.Write(".gitconfig", c.Config);
    home.Write("ex", "*.ex\n");
    root.MakeDir(".git");
    WriteTree(root, {"a.ex", "b.c"}, "x");
    const TWalk walk = Walk(root.Path(), [](TSearchParams& p) { p.SkipIgnored = true; });
    const bool excludes = c.Config.find("~/ex") != std::string::npos;
    EXPECT_EQ(walk.Files, excludes ? V{"b.c"} : (V{"a.ex", "b.c"}));
    ASSERT_FALSE(walk.Errors.empty());
    EXPECT_NE(walk.Errors[0].find(home / c.Error), std::string::npos) << walk.Errors[0];
  }
}
#endif
