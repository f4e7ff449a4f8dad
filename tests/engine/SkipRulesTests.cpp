// What a search leaves out of a tree: folders by name or path, and the files a git work
// tree ignores.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/SearchParams.h"
#include "engine/SearchThread.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::TQueueInvoker;
using trawlex::test::TTempDir;
using V = std::vector<std::string>;

namespace {

struct TWalk {
  V Files;    // relative to the base, "/" between names, sorted
  V Entered;  // the folders the walk read, the same
  V Errors;
};

// Runs a whole search for "x" below `base` and tells which files were candidates.
TWalk Walk(const std::string& base, const std::function<void(TSearchParams&)>& choose) {
  TQueueInvoker invoker;
  TSearchParams params;
  params.BaseDir = base;
  params.SetFilePatterns({"*"});
  params.IncludeSubdirs = true;
  params.SetTarget("x");
  choose(params);
  TWalk walk;
  bool ended = false;
  TSearchThread thread(invoker);
  thread.SetParams(&params);
  thread.ShowLines = false;
  auto rel = [&](std::string path) {
    path = path.size() > base.size() ? path.substr(base.size() + 1) : "";
    return test::Slashed(path);
  };
  thread.OnStatus = [&](const std::string& s) {
    if (s.rfind("Reading dir ", 0) == 0) walk.Entered.push_back(rel(s.substr(12)));
  };
  thread.OnError = [&](const std::string& s) { walk.Errors.push_back(s); };
  thread.OnTerminate = [&](TBaseThread&) { ended = true; };
  thread.Start();
  EXPECT_TRUE(invoker.PumpUntil([&] { return ended; }));
  thread.WaitFor();
  for (int32_t i = 0; i < params.GetResultCount(); ++i) walk.Files.push_back(rel(params.GetResult(i)->Name));
  std::sort(walk.Files.begin(), walk.Files.end());
  std::sort(walk.Entered.begin(), walk.Entered.end());
  return walk;
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
  for (const char* f : {"a.c", "node_modules/m.js", "src/node_modules/n.js", "src/gen/g.c", "gen/top.c", "build/b.o",
                        "build-x/y.o", "Build2/z.o", "src/lib/build/deep.o", "src/lib/l.c"})
    dir.Write(f, "x");
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
