#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/SearchThread.h"
#include "support/SearchRun.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::TQueueInvoker;
using trawlex::test::TRecordingSurface;
using trawlex::test::TSearchRun;
using trawlex::test::WriteTree;
using trawlex::test::TTempDir;
using V = std::vector<std::string>;

namespace {

std::string Lines(std::initializer_list<int> findLines, int total = 10) {
  std::string text;
  for (int i = 1; i <= total; ++i) {
    bool hit = false;
    for (int l : findLines) hit = hit || l == i;
    text += hit ? "a foo here\n" : "nothing\n";
  }
  return text;
}

}  // namespace

TEST(SearchThread, TreeWithoutMatchingFiles) {
  TTempDir dir;
  dir.MakeDir("sub");
  dir.Write("x.dat", "foo");
  TSearchRun run(dir.Path(), "foo", {"*.txt"});
  run.Run();
  EXPECT_EQ(run.StatusLines(dir.Path()),
            (V{"Reading dir <base>", "Reading dir <base>/sub", "Processing files", "FINISHED. Took: <t>s"}));
  EXPECT_TRUE(run.Shown.empty());
  EXPECT_EQ(run.CounterText(), "0/0/0/0");
  EXPECT_TRUE(run.Thread->FatalError().empty());
}

TEST(SearchThread, ItemsInPathOrderFileBeforeItsLines) {
  TTempDir dir;
  WriteTree(dir, {{"b.txt", Lines({3, 7})}, {"a.txt", Lines({1})}});
  TSearchRun run(dir.Path());
  run.Run();
  EXPECT_EQ(run.ShownItems(dir.Path()), (V{"F a.txt", "L 0", "F b.txt", "L 2", "L 6"}));
  EXPECT_EQ(run.ResultNames(dir.Path()), (V{"a.txt", "b.txt"}));
  EXPECT_EQ(run.Thread->FilesWithFinds(), 2);
  EXPECT_EQ(run.Thread->TotalFinds(), 3);
  EXPECT_EQ(run.StatusLines(dir.Path()), (V{"Reading dir <base>", "Processing files", "<base>/a.txt", "<base>/b.txt",
                                            "FINISHED. Took: <t>s"}));
  // found/searched/with finds/finds as the window reads them at each status line
  EXPECT_EQ(run.Counters, (V{"0/0/0/0", "2/0/0/0", "2/1/0/0", "2/2/1/1", "2/2/2/3"}));
  // Widths measured on the surface (one pixel per byte): file name + 2, line text + column.
  ASSERT_EQ(run.Widths.size(), 5u);
  EXPECT_EQ(run.Widths[0], static_cast<int32_t>(dir.Path().size() + 6 + 2));
  EXPECT_EQ(run.Widths[1], 10 + run.Params.LineNoWidth());
}

TEST(SearchThread, OnlyFileItemsWhenLinesAreHidden) {
  TTempDir dir;
  WriteTree(dir, {{"b.txt", Lines({3, 7})}, {"a.txt", Lines({1})}});
  TSearchRun run(dir.Path());
  run.Thread->ShowLines = false;
  run.Run();
  EXPECT_EQ(run.ShownItems(dir.Path()), (V{"F a.txt", "F b.txt"}));
  EXPECT_EQ(run.ResultNames(dir.Path()), (V{"a.txt", "b.txt"}));
  EXPECT_EQ(run.Params.GetResult(1)->GetLineCount(), 2);
}

TEST(SearchThread, UnreadableFileGivesOneErrorLineAndTheSearchGoesOn) {
  TTempDir dir;
  dir.Write("a.txt", "foo");
  const std::string gone = dir.Write("b.txt", "foo");
  dir.Write("c.txt", "foo");
  TSearchRun run(dir.Path());
  run.Thread->SearchAheadThreads = 0;  // helpers could read b.txt before it is announced
  // Remove b.txt after the scan listed it, just before it is searched.
  run.OnStatusHook = [&](const std::string& s) {
    if (s == gone) std::filesystem::remove(gone);
  };
  run.Run();
  EXPECT_EQ(run.Errors, (V{gone + ": Cannot open file \"" + gone + "\". " + test::NoSuchFileText()}));
  EXPECT_EQ(run.Thread->FilesSearched(), 3);
  EXPECT_EQ(run.ResultNames(dir.Path()), (V{"a.txt", "c.txt"}));
}

TEST(SearchThread, StopWhileTheThirdOfFiveFilesIsSearched) {
  TTempDir dir;
  WriteTree(dir, {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}, Lines({2, 4}));
  TSearchRun run(dir.Path());
  run.OnStatusHook = [&](const std::string& s) {
    if (s == dir / "3.txt") run.Thread->Terminate();
  };
  run.Run();
  EXPECT_EQ(run.StatusLines(dir.Path()).back(), "<base>/3.txt");  // no final line after the stop
  EXPECT_EQ(run.Thread->FilesSearched(), 3);
  EXPECT_EQ(run.ResultNames(dir.Path()), (V{"1.txt", "2.txt", "3.txt"}));  // the third is finished
  // Nothing of the third file is handed over after the stop.
  EXPECT_EQ(run.ShownItems(dir.Path()), (V{"F 1.txt", "L 1", "L 3", "F 2.txt", "L 1", "L 3"}));
  EXPECT_TRUE(run.Ended);
}

TEST(SearchThread, StopDuringTheScanStillProcessesNothingMore) {
  TTempDir dir;
  WriteTree(dir, {"a/x.txt", "b/x.txt", "top.txt"}, "foo");
  TSearchRun run(dir.Path());
  int readingLines = 0;
  run.OnStatusHook = [&](const std::string& s) {
    if (s.rfind("Reading dir ", 0) == 0 && ++readingLines == 2) run.Thread->Terminate();
  };
  run.Run();
  EXPECT_EQ(readingLines, 2);
  EXPECT_EQ(run.Status.size(), 2u);  // no further directory, no "Processing files"
  EXPECT_EQ(run.Thread->FilesFound(), 1);  // top.txt only: collected before the stop
  EXPECT_EQ(run.Thread->FilesSearched(), 0);
  EXPECT_TRUE(run.Ended);
}

TEST(SearchThread, FilesHandedOverDuringTheWalkKeepTheOrderOfAWholeWalkFirst) {
  // Names ending in "/" are empty folders. `Handed` counts the files handed over before the
  // walk ended (at "Processing files", or at the stop) by a worker without helpers and with
  // no lead kept back.
  struct TCase {
    const char* Name;
    V Files;
    int StopAtReading;  // stop at the n-th "Reading dir" (0: never)
    size_t Handed;
  } cases[] = {
      {"nested folders", {"a.txt", "b/c.txt", "b/d/e.txt", "b/f.txt", "g/h.txt", "i.txt"}, 0, 4},
      {"bytes around the delimiter",
       {"x.txt", "x0.txt", "x-y.txt", "x/a.txt", "x_/b.txt", "x-/c.txt", "xy/d.txt", "a!.txt", "a/b.txt", "B.txt", "b/a.txt"},
       0, 10},
      {"empty folders", {"a.txt", "e1/", "e2/sub/", "f/g.txt"}, 0, 1},
      {"stop during the walk", {"a.txt", "b/c.txt", "b/d/e.txt", "b/f.txt", "g/h.txt", "i.txt"}, 3, 2},
#ifndef _WIN32
      // Folders whose names differ only in case: their files interleave, and are known in
      // order only after the last of them.
      {"folders tied by case", {"Pod/a.txt", "pod/b.txt", "Pod/c.txt", "pod/A.txt", "q.txt", "z/x.txt"}, 0, 5},
      {"a tie further down", {"x/Pod/a", "x/pod/b", "x/q/c", "y/d"}, 0, 3},
#endif
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    for (const std::string& f : c.Files) f.back() == '/' ? (void)dir.MakeDir(f) : (void)dir.Write(f, Lines({1, 3}, 3));
    struct TSeen {
      V Shown, Results;
      std::string Counters;
      size_t Handed = SIZE_MAX;
    };
    auto search = [&](size_t lead, int helpers, int stopAt) {
      TSearchRun run(dir.Path());
      run.Thread->WalkLead = lead;
      run.Thread->SearchAheadThreads = helpers;
      TSeen seen;
      int reading = 0;
      run.OnStatusHook = [&](const std::string& s) {
        if (s.rfind("Reading dir ", 0) == 0 && ++reading == stopAt) run.Thread->Terminate();
        if (s == "Processing files") seen.Handed = static_cast<size_t>(run.Params.GetResultCount());
      };
      run.Run();
      seen = {run.ShownItems(dir.Path()), run.ResultNames(dir.Path()), run.CounterText(),
              seen.Handed == SIZE_MAX ? static_cast<size_t>(run.Params.GetResultCount()) : seen.Handed};
      return seen;
    };
    const TSeen whole = search(SIZE_MAX, 0, 0);  // every file handed over after the walk
    ASSERT_EQ(whole.Results.size(), std::count_if(c.Files.begin(), c.Files.end(), [](auto& f) { return f.back() != '/'; }));
    const TSeen alone = search(0, 0, c.StopAtReading);
    EXPECT_EQ(alone.Handed, c.Handed);
    if (c.StopAtReading == 0) {
      EXPECT_EQ(alone.Shown, whole.Shown);
      EXPECT_EQ(alone.Results, whole.Results);
      EXPECT_EQ(alone.Counters, whole.Counters);
    } else {  // what was shown begins the whole search's list
      ASSERT_LE(alone.Shown.size(), whole.Shown.size());
      EXPECT_TRUE(std::equal(alone.Shown.begin(), alone.Shown.end(), whole.Shown.begin()));
    }
    // With a helper, as much is handed over during the walk as it has searched by then.
    if (c.StopAtReading == 0) {
      const TSeen helped = search(0, 1, 0);
      EXPECT_EQ(helped.Shown, whole.Shown);
      EXPECT_EQ(helped.Counters, whole.Counters);
      EXPECT_LE(helped.Handed, c.Handed);
    }
  }
}

TEST(SearchThread, HandOverQueuedBeforeAStopIsDropped) {
  // The worker has queued a status line and waits; the window then asks it to stop
  // before it gets to that call: the line must not reach the window.
  TTempDir dir;
  dir.Write("a.txt", "foo");
  TSearchRun run(dir.Path());
  run.Thread->Start();
  auto waitQueued = [&] {
    for (int i = 0; i < 5000 && run.Invoker.Pending() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return run.Invoker.Pending() > 0;
  };
  ASSERT_TRUE(waitQueued());
  ASSERT_TRUE(run.Invoker.PumpOne(std::chrono::seconds(5)));  // the running count
  ASSERT_TRUE(waitQueued());                                   // "Reading dir ..." waits
  run.Thread->Terminate();
  ASSERT_TRUE(run.Invoker.PumpUntil([&] { return run.Ended; }));
  run.Thread->WaitFor();
  EXPECT_TRUE(run.Status.empty()) << run.Status[0];
  EXPECT_TRUE(run.Shown.empty());
}

TEST(SearchThread, CandidatesFollowPatternsHiddenEntriesAndLinks) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links, FIFOs and dot-names as hidden are of POSIX systems; see Win32Platform tests";
#else
  TTempDir dir;
  WriteTree(dir, {"a.txt", "b.txt", "B.log", "xz", "x_y", ".hidden.txt", ".git/config.txt", "sub/.private/p.txt",
                  "sub/s.txt", "other/o.txt"}, "foo");
  ASSERT_EQ(symlink((dir / "a.txt").c_str(), (dir / "link.txt").c_str()), 0);
  ASSERT_EQ(symlink(dir.Path().c_str(), (dir / "sub/loop").c_str()), 0);     // a link to a directory: never entered
  ASSERT_EQ(symlink((dir / "other").c_str(), (dir / "jump").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo.txt").c_str(), 0600), 0);                   // never opened
  TSearchRun run(dir.Path(), "foo", {"*.txt", "a*", "*.LOG", "x*"});
  run.Run();
  EXPECT_EQ(run.ResultNames(dir.Path()),
            (V{"a.txt", "B.log", "b.txt", "link.txt", "other/o.txt", "sub/s.txt", "xz", "x_y"}));
  EXPECT_TRUE(run.Errors.empty()) << run.Errors[0];
#endif
}

TEST(SearchThread, NamesDifferingOnlyInCaseAreBothSearched) {
#ifdef _WIN32
  GTEST_SKIP() << "names differing only in case are one name on this system";
#else
  TTempDir dir;
  WriteTree(dir, {"readme.txt", "README.txt"}, "foo");
  TSearchRun run(dir.Path());
  run.Run();
  EXPECT_EQ(run.ResultNames(dir.Path()), (V{"README.txt", "readme.txt"}));
  EXPECT_EQ(run.Thread->FilesFound(), 2);
#endif
}

TEST(SearchThread, CandidatesComeInPathOrderWhateverTheNamesAndFolders) {
  // The order is that of the whole paths, folded, exact bytes breaking a tie; the walk
  // gives it folder by folder, so these are the names where a folder's order and the
  // paths' order could part: a name that starts another, bytes below and above the
  // delimiter, and (where names may differ only in case) folders whose paths interleave.
  V names = {"x.txt",     "x0.txt",   "x-y.txt", "x/a.txt", "x/Z.txt",  "x_/b.txt", "x-/c.txt", "xy/d.txt",
             "X.txt.d/e", "a/b/c/d",  "a/b.txt", "a!.txt",  "a/b/c.d", "a/b/c/D0", "B.txt",    "b/a.txt"};
#ifndef _WIN32
  for (const char* n : {"Pod/a.txt", "pod/b.txt", "Pod/c.txt", "pod/A.txt", "pod/Sub/x", "Pod/sub/y", "Pod/sub/X",
                        "pod/sub/z", "POD", "pod.txt", "x/A.txt"})
    names.push_back(n);
#endif
  TTempDir dir;
  WriteTree(dir, names, "foo");
  TSearchRun run(dir.Path());
  run.Run();

  // Each path as the search writes it, ordered here by the rule itself.
  std::vector<std::string> expected;
  for (std::string n : names) {
    for (char& c : n)
      if (c == '/') c = PathDelim;
    expected.push_back(n);
  }
  const auto fold = [](std::string s) {
    for (char& c : s) c = static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
    return s;
  };
  std::sort(expected.begin(), expected.end(), [&](const std::string& a, const std::string& b) {
    const std::string fa = fold(a), fb = fold(b);
    return fa != fb ? fa < fb : a < b;
  });
  V shown;
  for (const std::string& n : expected) shown.push_back(test::Slashed(n));
  EXPECT_EQ(run.ResultNames(dir.Path()), shown);
  EXPECT_EQ(run.Thread->FilesFound(), static_cast<int32_t>(names.size()));
}

TEST(SearchThread, TrailingDelimiterGivesTheSamePaths) {
  TTempDir dir;
  dir.Write("s/a.txt", "foo");
  TSearchRun plain(dir.Path()), slashed(dir.Path() + PathDelim);
  plain.Run();
  slashed.Run();
  EXPECT_EQ(plain.Params.GetResult(0)->Name, slashed.Params.GetResult(0)->Name);
  EXPECT_EQ(plain.Params.GetResult(0)->Name, dir / "s/a.txt");
}

TEST(SearchThread, RootDirectoryKeepsItsDelimiter) {
#ifdef _WIN32
  GTEST_SKIP() << "the root here is a drive";
#else
  TSearchRun run("/", "foo", {"*.no-such-extension-here"});
  run.Params.IncludeSubdirs = false;
  run.Run();
  EXPECT_EQ(run.StatusLines("\x01"), (V{"Reading dir /", "Processing files", "FINISHED. Took: <t>s"}));
#endif
}

TEST(SearchThread, FileItemsCarrySizeAndTime) {
#ifdef _WIN32
  GTEST_SKIP() << "sets the file time with utimensat (POSIX); see Win32Platform tests for times here";
#else
  TTempDir dir;
  const std::string path = dir.Write("a.txt", "foo bar");
  struct timespec times[2] = {{0, UTIME_OMIT}, {1700000001, 0}};  // an odd second
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  TSearchRun run(dir.Path());
  run.Run();
  ASSERT_EQ(run.Params.GetResultCount(), 1);
  const TSearchFile* f = run.Params.GetResult(0);
  EXPECT_EQ(f->Size, 7);
  const TDateTimeParts t = DecodeDateTime(f->FileTime);
  EXPECT_EQ(t.Second % 2, 0);
  EXPECT_EQ(f->TotalLines, 1);
#endif
}

TEST(SearchThread, RefusesParametersOfAnotherKind) {
  TQueueInvoker invoker;
  TSearchThread thread(invoker);
  TDirScanParams plain;
  EXPECT_THROW(thread.SetParams(&plain), ETrawlexError);
}

TEST(SearchThread, TitleShowsRunningWhileAnySearchRuns) {
  TTempDir dir;
  dir.Write("a.txt", "foo");
  V titles;
  TRunningSearches running;
  running.OnTitle = [&](const std::string& t) { titles.push_back(t); };
  TSearchRun first(dir.Path()), second(dir.Path());
  first.Thread->RunningSearches = second.Thread->RunningSearches = &running;
  bool secondStarted = false;
  // The second search starts while the first one is handing over its first line.
  first.OnStatusHook = [&](const std::string&) {
    if (!secondStarted) {
      secondStarted = true;
      second.Thread->Start();
    }
  };
  first.Thread->Start();
  ASSERT_TRUE(first.Invoker.PumpUntil([&] { return first.Ended; }));
  ASSERT_TRUE(second.Invoker.PumpUntil([&] { return second.Ended; }));
  EXPECT_EQ(running.Count(), 0);
  EXPECT_EQ(titles.front(), "Trawlex - Running");
  EXPECT_EQ(titles.back(), "Trawlex");
}

TEST(SearchThread, WindowDrawsItemsWhileTheWorkerFillsThem) {
  // Many finds on many lines of one file: the main thread keeps drawing the shown items
  // between hand-overs while the worker appends lines and positions to them.
  TTempDir dir;
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "foo foo foo foo foo foo foo foo\n";
  dir.Write("big.txt", text);
  TSearchRun run(dir.Path());
  run.Thread->SearchAheadThreads = 0;  // the worker fills items after handing them over
  run.Thread->Start();
  int64_t drawn = 0;
  TRecordingSurface canvas;
  while (!run.Ended) {
    run.Invoker.PumpOne(std::chrono::milliseconds(1));
    for (size_t i = run.Shown.size() > 20 ? run.Shown.size() - 20 : 0; i < run.Shown.size(); ++i) {
      const auto& e = run.Shown[i];
      canvas.Calls.clear();
      e.Item->Draw(canvas, {0, 0, 100, 16}, 0);
      drawn += e.Item->GetFindCount();
    }
  }
  run.Thread->WaitFor();
  EXPECT_EQ(run.Thread->TotalFinds(), 24000);
  EXPECT_EQ(run.Params.GetResult(0)->GetFindCount(), 24000);
  EXPECT_GT(drawn, 0);
}

TEST(SearchThread, HelpersSearchingAheadChangeNothingTheWindowSees) {
  // Files of every kind: with and without finds, many lines, large ones read in blocks,
  // one that cannot be read, nested folders.
  TTempDir dir;
  for (int i = 0; i < 60; ++i) {
    const std::string name = "d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt";
    dir.Write(name, i % 3 ? Lines({1, 5, i % 9 + 1}, i * 7 + 10) : "nothing here\n");
  }
  WriteTree(dir, {{"d1/large.txt", Lines({2, 60001, 60002, 99999}, 120000)},  // finds on both sides of its middle
                  {"d3/large-crlf.txt", std::string(70000, 'x') + "\r\n" + std::string(70000, 'y') + "\r\nfoo\r\n"}});
#ifndef _WIN32
  std::filesystem::create_symlink("/proc/self/mem", dir / "d2/huge.txt");  // its reads fail
#endif
  auto trace = [&](int helpers, bool showLines, TReadAhead readAhead = TReadAhead::Never) {
    TSearchRun run(dir.Path());
    run.Thread->SearchAheadThreads = helpers;
    run.Thread->ReadAhead = readAhead;
    run.Thread->SearchAheadMaxFileSize = 100000;  // the large files are read in blocks
    run.Thread->ShowLines = showLines;
    V events;
    run.Thread->OnStatus = [&](const std::string& s) { events.push_back("status " + s + " " + run.CounterText()); };
    run.Thread->OnError = [&](const std::string& s) { events.push_back("error " + s + " " + run.CounterText()); };
    run.Thread->OnItemAdded = [&](int32_t w) {
      events.push_back("item " + run.ShownItems(dir.Path()).back() + " w" + std::to_string(w) + " " + run.CounterText());
    };
    run.Run();
    events.erase(events.end() - 1);  // the elapsed time differs
    events.push_back("results " + std::to_string(run.Params.GetResultCount()) + " digits " +
                     std::to_string(run.Params.LineNoDigits()));
    for (int32_t r = 0; r < run.Params.GetResultCount(); ++r) {
      const TSearchFile* f = run.Params.GetResult(r);
      EXPECT_GT(f->FileTime, 40000.0) << f->Name;  // stamped on every path, after 2009
      std::string e = f->Name + " lines " + std::to_string(f->TotalLines) + " size " + std::to_string(f->Size) +
                      " time " + std::to_string(f->FileTime) + ":";
      for (int32_t k = 0; k < f->GetLineCount(); ++k) {
        const TSearchLine* l = f->GetLine(k);
        e += " " + std::to_string(l->LineNo()) + "@" + std::to_string(l->LineStart()) + "=" + std::string(l->Text());
        for (int32_t p : l->GetPositions()) e += "," + std::to_string(p);
      }
      events.push_back(e);
    }
    return events;
  };
  for (bool showLines : {true, false}) {
    const V alone = trace(0, showLines);
    EXPECT_GT(alone.size(), showLines ? 200u : 100u);
    EXPECT_EQ(trace(1, showLines), alone);
    EXPECT_EQ(trace(3, showLines), alone);
    EXPECT_EQ(trace(1, showLines, TReadAhead::Always), alone);  // files and folders read ahead
  }
}

TEST(SearchThread, StopWithFilesAndFoldersReadAheadEndsAtOnce) {
  // Many folders and files, read ahead from the start: a stop during the walk or during the
  // search ends the run within 100 ms, and nothing more is handed over.
  TTempDir dir;
  for (int d = 0; d < 60; ++d)
    for (int f = 0; f < 40; ++f) dir.Write("d" + std::to_string(d) + "/s/f" + std::to_string(f) + ".txt", Lines({1, 3}, 200));
  const struct {
    const char* Stop;  // the status line's start
    int Count;         // stop at its n-th occurrence
  } cases[] = {{"Reading dir ", 20}, {"Processing files", 1}, {dir.Path().c_str(), 1500}};
  for (const auto& c : cases) {
    TSearchRun run(dir.Path());
    run.Thread->SearchAheadThreads = 1;
    run.Thread->ReadAhead = TReadAhead::Always;
    int seen = 0;
    size_t shownAtStop = 0;
    std::chrono::steady_clock::time_point stoppedAt;
    run.OnStatusHook = [&](const std::string& s) {
      if (s.rfind(c.Stop, 0) == 0 && ++seen == c.Count) {
        stoppedAt = std::chrono::steady_clock::now();
        shownAtStop = run.Shown.size();
        run.Thread->Terminate();
      }
    };
    run.Run();
    const auto took = std::chrono::steady_clock::now() - stoppedAt;
    ASSERT_EQ(seen >= c.Count, true) << c.Stop;
    EXPECT_LT(took, std::chrono::milliseconds(100)) << c.Stop;
    EXPECT_EQ(run.Shown.size(), shownAtStop) << c.Stop;
  }
}

// A stop inside a large file ends the search within a block or a few MiB, not at the file's
// end: 16 GiB of a sparse file read a block at a time (seconds of reading), by the worker or
// a helper, and 4 MiB held whole under a pattern that takes seconds to cross them.
TEST(SearchThread, StopInsideALargeFileEndsWithinABlock) {
#ifdef _WIN32
  GTEST_SKIP() << "sparse files of many gigabytes are a Linux file system's";
#endif
  TTempDir dir;
  const std::string big = dir.Write("sparse/big.txt", "foo\n");
  std::filesystem::resize_file(std::filesystem::u8path(big), uint64_t{16} << 30);
  std::string line, slow;
  for (int i = 0; i < 300; ++i) line += "w" + std::to_string(i % 10) + " ";
  line += "!\n";
  while (slow.size() < (size_t{4} << 20)) slow += line;
  const std::string whole = dir.Write("whole/slow.txt", slow);
  const struct {
    std::string File;
    const char* Regex;  // or the literal "foo"
    int Helpers;
  } cases[] = {{big, nullptr, 0}, {big, nullptr, 1}, {whole, "\\w+(?=.*!)", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File + " helpers " + std::to_string(c.Helpers));
    TSearchRun run(std::filesystem::path(c.File).parent_path().string());
    if (c.Regex) {
      run.Params.RegExp = true;
      run.Params.SetTarget(c.Regex);
      run.Params.PrepareRegex();
    }
    run.Thread->SearchAheadThreads = c.Helpers;
    std::chrono::steady_clock::time_point stoppedAt{};
    run.OnStatusHook = [&](const std::string& s) {
      if (s != c.File) return;
      stoppedAt = std::chrono::steady_clock::now();
      run.Thread->Terminate();
    };
    run.Run();
    ASSERT_NE(stoppedAt, std::chrono::steady_clock::time_point{});
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::milliseconds(500));
  }
}

// Two files of 96 MiB put out of the cache, so that the read-ahead has reads of them in
// flight: a stop as the second is reached ends the search within 100 ms.
TEST(SearchThread, StopWithLargeFilesReadAheadEndsAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "putting a file out of the cache is a POSIX call";
#else
  TTempDir dir;
  std::string chunk;
  while (chunk.size() < (size_t{1} << 20)) chunk += "a line of text without the target in it\n";
  std::vector<std::string> files;
  for (const char* name : {"a.txt", "b.txt"}) {
    files.push_back(dir / name);
    const int fd = open(files.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 96; ++i) ASSERT_EQ(write(fd, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    fsync(fd);
    close(fd);
  }
  const struct {
    int Helpers;
    TReadAhead ReadAhead;
  } cases[] = {{1, TReadAhead::Always}, {1, TReadAhead::WhenReadsWait}, {0, TReadAhead::Never}};
  for (const auto& c : cases) {
    for (const std::string& f : files) {
      const int fd = open(f.c_str(), O_RDONLY);
      posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);  // its pages were written out: dropped
      close(fd);
    }
    TSearchRun run(dir.Path());
    run.Thread->SearchAheadThreads = c.Helpers;
    run.Thread->ReadAhead = c.ReadAhead;
    std::chrono::steady_clock::time_point stoppedAt{};
    run.OnStatusHook = [&](const std::string& s) {
      if (s != files[1]) return;
      stoppedAt = std::chrono::steady_clock::now();
      run.Thread->Terminate();
    };
    run.Run();
    ASSERT_NE(stoppedAt, std::chrono::steady_clock::time_point{}) << c.Helpers;
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::milliseconds(100)) << c.Helpers;
  }
#endif
}

TEST(SearchThread, LargeFilesAreNeverHeldWhole) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' own memory hides the search's";
#else
  // Two files of 48 MiB, searched by the worker and a helper at once: the peak memory
  // grows by their blocks and the results, not by the files.
  TTempDir dir;
  std::string chunk;
  while (chunk.size() < (size_t{1} << 20)) chunk += "a line of text without the target in it\n";
  chunk += "foo\n";
  for (const char* name : {"a.txt", "b.txt"}) {
    const int fd = open((dir / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 48; ++i) ASSERT_EQ(write(fd, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    close(fd);
  }
  auto kb = [](const char* field) {
    const std::string status = trawlex::test::ReadAll("/proc/self/status");
    return std::stol(status.substr(status.find(field) + std::strlen(field)));
  };
  TSearchRun run(dir.Path());
  run.Thread->SearchAheadThreads = 1;
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const long before = kb("VmRSS:");
  run.Run();
  EXPECT_EQ(run.Thread->TotalFinds(), 96);
  EXPECT_EQ(run.Params.GetResult(1)->GetLine(47)->LineNo(), 47 * 26216 + 26215);
  EXPECT_LT(kb("VmHWM:") - before, 24 << 10) << "KiB";
#endif
}

TEST(SearchThread, BatchedHandOversShowTheSameItemsTextsAndErrorsInOrder) {
  TTempDir dir;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt";
    dir.Write(name, i % 4 ? Lines({1, 3, i % 9 + 1}, i * 5 + 10) : "nothing here\n");
  }
#ifdef _WIN32
  GTEST_SKIP() << "its error line comes from a file whose reads fail, a link to a process's memory (Linux)";
#endif
  // An error line among the items: a file whose every read fails (the system's view of a
  // process's memory, at offset 0).
  std::filesystem::create_symlink("/proc/self/mem", dir / "d1/huge.txt");
  struct TSeen {
    V Shown, Status, Errors, Results;
    int32_t Widest = 0;
    size_t ItemCalls = 0;
  };
  auto search = [&](std::chrono::milliseconds interval, int limit) {
    TSearchRun run(dir.Path());
    run.Thread->HandOverInterval = interval;
    run.Thread->HandOverLimit = limit;
    run.Run();
    TSeen seen{run.ShownItems(dir.Path()), run.StatusLines(dir.Path()), run.Errors, run.ResultNames(dir.Path())};
    for (int32_t w : run.Widths) seen.Widest = std::max(seen.Widest, w);
    seen.ItemCalls = run.Widths.size();
    return seen;
  };
  const TSeen single = search(std::chrono::milliseconds(0), 1);
  ASSERT_GT(single.Shown.size(), 100u);
  ASSERT_EQ(single.Errors.size(), 1u);
  // Flushed by count (small counts hand a batch over right after a run of items opens it, so
  // the next batch's second hand-over stands where that run stood; an odd number cuts runs
  // anywhere) and by time.
  const auto never = std::chrono::milliseconds(3600000);
  for (auto [interval, limit] : {std::pair{never, 2}, {never, 3}, {never, 7}, {std::chrono::milliseconds(1), 4096}}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    const TSeen batched = search(interval, limit);
    EXPECT_EQ(batched.Shown, single.Shown);
    EXPECT_EQ(batched.Status, single.Status);
    EXPECT_EQ(batched.Errors, single.Errors);
    EXPECT_EQ(batched.Results, single.Results);
    EXPECT_EQ(batched.Widest, single.Widest);
    EXPECT_LT(batched.ItemCalls, single.ItemCalls);
  }
}

TEST(SearchThread, ABatchGoesWithoutWaitingUntilTheMainThreadFallsBehind) {
  TTempDir dir;
  for (int i = 0; i < 12; ++i) dir.Write("f" + std::to_string(10 + i) + ".txt", Lines({2}));
  TSearchRun single(dir.Path());
  single.Run();
  TSearchRun run(dir.Path());
  run.Thread->HandOverInterval = std::chrono::milliseconds(3600000);
  run.Thread->HandOverLimit = 1;  // a batch for every item
  run.Thread->Start();
  struct TDrain {  // a failed check still lets the worker end
    TSearchRun& Run;
    ~TDrain() { Run.Invoker.PumpUntil([this] { return Run.Ended; }); }
  } drain{run};
  ASSERT_TRUE(run.Invoker.PumpOne(std::chrono::seconds(30)));  // the search's start, which waits
  // No batch is taken yet: the worker posts one and goes on, and the next waits for the main
  // thread (a worker that waited at every batch queues one call at most).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (run.Invoker.Pending() < 2u && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_EQ(run.Invoker.Pending(), 2u);
  // The worker stands still until its waiting batch has run: taking the first leaves it.
  ASSERT_TRUE(run.Invoker.PumpOne(std::chrono::seconds(5)));
  EXPECT_EQ(run.Invoker.Pending(), 1u);
  ASSERT_TRUE(run.Invoker.PumpUntil([&] { return run.Ended; }));
  run.Thread->WaitFor();
  EXPECT_EQ(run.ShownItems(dir.Path()), single.ShownItems(dir.Path()));
  EXPECT_EQ(run.StatusLines(dir.Path()), single.StatusLines(dir.Path()));
}

TEST(SearchThread, BatchedHandOversEndAtAStopMadeInsideABatch) {
  TTempDir dir;
  WriteTree(dir, {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}, Lines({2, 4}));
  TSearchRun run(dir.Path());
  run.Thread->HandOverInterval = std::chrono::milliseconds(3600000);  // one batch at the end
  run.OnStatusHook = [&](const std::string& s) {
    if (s == dir / "3.txt") run.Thread->Terminate();
  };
  run.Run();
  EXPECT_EQ(run.StatusLines(dir.Path()).back(), "<base>/3.txt");
  EXPECT_EQ(run.ShownItems(dir.Path()), (V{"F 1.txt", "L 1", "L 3", "F 2.txt", "L 1", "L 3"}));
  EXPECT_TRUE(run.Ended);
}

TEST(SearchProgressText, FoundAndSearchingTexts) {
  EXPECT_EQ(SearchProgressText(0, 0, 0), "Found in 0 of 0 files");
  EXPECT_EQ(SearchProgressText(1, 1, 1), "Found in 1 of 1 file");
  EXPECT_EQ(SearchProgressText(3, 10, 250), "Searching 250 Found in 3 of 10 files");
  EXPECT_EQ(SearchProgressText(3, 10, 10), "Found in 3 of 10 files");
  EXPECT_EQ(SearchProgressText(3, 10, 10, 1), "Found in 3 of 10 files, 1 binary file skipped");
  EXPECT_EQ(SearchProgressText(3, 10, 250, 2), "Searching 250 Found in 3 of 10 files, 2 binary files skipped");
}

TEST(SearchThread, HelpersThatCannotAllBeCreatedFailTheSearchInsteadOfEndingTheProcess) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork and an address-space limit (POSIX)";
#else
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit this needs";
#else
  TTempDir dir;
  dir.Write("a.txt", "foo\n");
  // In a child whose address space leaves room for a few thread stacks, not for 200.
  const pid_t pid = fork();
  if (pid == 0) {
    TSearchRun run(dir.Path());
    run.Thread->SearchAheadThreads = 200;
    const std::string status = trawlex::test::ReadAll("/proc/self/status");
    const size_t usedKb = std::stoul(status.substr(status.find("VmSize:") + 7));
    const rlim_t room = (usedKb << 10) + (rlim_t{256} << 20);  // each stack takes 8 MiB or more
    const rlimit tight{room, room};
    setrlimit(RLIMIT_AS, &tight);
    run.Run();
    _exit(!run.Thread->FatalError().empty() && run.Params.GetResultCount() == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
#endif
}

TEST(SearchThread, HiddenAndBinaryChoicesDecideWhatIsSearched) {
#ifdef _WIN32
  GTEST_SKIP() << "dot-names as hidden are of POSIX systems (Windows hides by attribute)";
#endif
  // Files larger than 2 KiB are searched a block at a time; the binary test sees the same.
  TTempDir dir;
  WriteTree(dir, {"text.txt", ".hidden.txt", ".config/c.txt"}, "foo");
  WriteTree(dir, {{"nul.bin", std::string("foo\0bar", 7)},
                  {"late.bin", std::string(70 << 10, 'x') + std::string("\0 foo", 5)},  // the zero after 64 KiB
                  {"big.bin", std::string("\0", 1) + std::string(8 << 10, 'y') + "foo"},
                  {".hidden.bin", std::string("\0foo", 4)}});
  struct TCase {
    bool Hidden, Binary;
    int Helpers;
    V Results;
    int32_t Skipped;
  } cases[] = {
      {false, false, 0, {"big.bin", "late.bin", "nul.bin", "text.txt"}, 0},
      {false, true, 0, {"late.bin", "text.txt"}, 2},
      {false, true, 2, {"late.bin", "text.txt"}, 2},
      {true, false, 1, {".config/c.txt", ".hidden.bin", ".hidden.txt", "big.bin", "late.bin", "nul.bin", "text.txt"}, 0},
      {true, true, 0, {".config/c.txt", ".hidden.txt", "late.bin", "text.txt"}, 3},
      {true, true, 2, {".config/c.txt", ".hidden.txt", "late.bin", "text.txt"}, 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Hidden) + std::to_string(c.Binary) + std::to_string(c.Helpers));
    TSearchRun run(dir.Path());
    run.Params.IncludeHidden = c.Hidden;
    run.Params.SkipBinary = c.Binary;
    run.Thread->SearchAheadThreads = c.Helpers;
    run.Thread->SearchAheadMaxFileSize = 2048;
    run.Run();
    EXPECT_EQ(run.ResultNames(dir.Path()), c.Results);
    EXPECT_EQ(run.Thread->BinaryFilesSkipped(), c.Skipped);
    EXPECT_EQ(run.Thread->FilesSearched(), run.Thread->FilesFound());  // a skipped file counts as searched
  }
}
