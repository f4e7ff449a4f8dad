// The replace engine: exact bytes, the checks that refuse a changed file, atomic placement,
// kept metadata, and failures that must leave every file whole.
#include <acl/libacl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/HeadlessReplace.h"
#include "base/Errors.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/SearchThread.h"
#include "platform/FileReplace.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::ReadAll;
using trawlex::test::TQueueInvoker;
using trawlex::test::TTempDir;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

extern char** environ;

namespace {

struct TRunResult {
  V Log, Started;
  int32_t Replaced = 0, FilesReplaced = 0, FilesNotReplaced = 0;
  std::string Fatal;
};

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

// Names of temporary files and copies of old content left in a folder (hidden or not).
V TempFilesIn(const std::string& dir) {
  V names;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (n.find("Trawlex") != std::string::npos && n.size() > 4 && n.substr(n.size() - 4) == ".tmp") names.push_back(n);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void SetMTime(const std::string& path, time_t seconds, long ns = 0) {
  struct timespec ts[2] = {{seconds, ns}, {seconds, ns}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, 0), 0);
}

class ReplaceTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearRewriteFaults(); }

  // A real search of Dir (top folder only) for `target` in the files matching `pattern`.
  TSearchParams& Search(const std::string& target, bool caseSensitive = false, const std::string& pattern = "*.txt",
                        const std::string& dir = {}) {
    Params = std::make_unique<TSearchParams>();
    Params->BaseDir = dir.empty() ? Dir.Path() : dir;
    Params->SetFilePatterns({pattern});
    Params->IncludeSubdirs = false;
    Params->SetTarget(target);
    Params->SetCaseSensitive(caseSensitive);
    Params->WholeWord = WholeWord;
    Params->SetExclude(Exclude);
    bool ended = false;
    TSearchThread search(Invoker);
    search.SetParams(Params.get());
    search.ShowLines = false;
    search.OnTerminate = [&](TBaseThread&) { ended = true; };
    search.Start();
    EXPECT_TRUE(Invoker.PumpUntil([&] { return ended; }));
    search.WaitFor();
    return *Params;
  }

  // Selects every find of the results and builds the job list.
  void SelectAll() {
    for (int32_t i = 0; i < Params->GetResultCount(); ++i) Params->GetResult(i)->SelectAllFinds(true);
    BuildReplaceJobs(*Params, Jobs);
  }

  // Runs one replace the way the dialog does: a self-freeing worker, the end notification
  // read on the main thread.
  TRunResult Replace(const std::string& text, std::function<void(TReplaceThread&)> onFileStarted = {}) {
    TRunResult r;
    bool ended = false;
    auto* thread = new TReplaceThread(Invoker);
    thread->Params = Params.get();
    thread->Jobs = &Jobs;
    thread->ReplaceText = text;
    thread->OnLogLine = [&](const std::string& s) {
      EXPECT_TRUE(Invoker.OnMainThread());
      r.Log.push_back(s);
    };
    thread->OnFileStarted = [&, thread](const std::string& s) {
      r.Started.push_back(s);
      if (onFileStarted) onFileStarted(*thread);
    };
    thread->FreeOnTerminate = true;
    thread->OnTerminate = [&](TBaseThread& b) {
      auto& t = static_cast<TReplaceThread&>(b);
      r.Replaced = t.ReplacedCount();
      r.FilesReplaced = t.FilesReplaced();
      r.FilesNotReplaced = t.FilesNotReplaced();
      r.Fatal = t.FatalError();
      ended = true;
    };
    thread->Start();
    EXPECT_TRUE(Invoker.PumpUntil([&] { return ended; }));
    return r;
  }

  TTempDir Dir;
  TQueueInvoker Invoker;
  std::unique_ptr<TSearchParams> Params;
  TReplaceJobList Jobs;
  bool WholeWord = false;  // rules of the next Search
  std::string Exclude;
};

// ---- The job list ---------------------------------------------------------------------------

TEST_F(ReplaceTest, JobListHoldsSelectedFindsPerFileInResultOrder) {
  Dir.Write("a.txt", "foo x foo\nfoo\n");     // finds at 0, 6, 10
  Dir.Write("b.txt", "foo foo\nno\nfoo foo");  // finds at 0, 4, 11, 15
  Dir.Write("c.txt", "foo");                   // nothing selected here
  Search("foo");
  ASSERT_EQ(Params->GetResultCount(), 3);
  TSearchFile* a = Params->GetResult(0);
  TSearchFile* b = Params->GetResult(1);
  a->GetLine(0)->SetFindSelected(1, true);
  a->GetLine(1)->SetFindSelected(0, true);
  b->GetLine(1)->SetFindSelected(1, true);
  const TFindCounts counts = BuildReplaceJobs(*Params, Jobs);
  EXPECT_EQ(counts.Total, 8);
  EXPECT_EQ(counts.Selected, 3);
  ASSERT_EQ(Jobs.size(), 2u);
  EXPECT_EQ(Jobs[0]->File, a);
  ASSERT_EQ(Jobs[0]->FindCount(), 2);
  EXPECT_EQ(Jobs[0]->FindOffset(0), 6);
  EXPECT_EQ(Jobs[0]->FindOffset(1), 10);
  EXPECT_EQ(Jobs[0]->FindLength(1), 3);
  EXPECT_EQ(Jobs[1]->File, b);
  ASSERT_EQ(Jobs[1]->FindCount(), 1);
  EXPECT_EQ(Jobs[1]->FindOffset(0), 15);
}

// ---- Exact bytes ----------------------------------------------------------------------------

struct TByteCase {
  const char* Name;
  std::string Content, Target;
  std::string Selection;  // one '1' or '0' per find in file order; empty: all
  std::string Replacement;
  std::string Expected;
};

TEST_F(ReplaceTest, WritesExactlyTheSelectedFindsAndCopiesEveryOtherByte) {
  const TByteCase cases[] = {
      {"empty replacement deletes", "a foo b", "foo", "", "", "a  b"},
      {"find at offset 0", "foo bar", "foo", "", "X", "X bar"},
      {"find ending at the last byte", "bar foo", "foo", "", "LONGER", "bar LONGER"},
      {"unselected finds between stay", "foo x foo y foo\nz foo\n", "foo", "1011", "#", "# x foo y #\nz #\n"},
      {"line ends, BOM and zero bytes kept", std::string("\xEF\xBB\xBF" "foo\r\n\0foo\r", 12), "foo", "", "ab",
       std::string("\xEF\xBB\xBF" "ab\r\n\0ab\r", 10)},
      {"case-insensitive finds", "Foo FOO foo", "fOO", "", "bar", "bar bar bar"},
      {"replacement of the same text", "foo", "foo", "", "foo", "foo"},
  };
  for (const TByteCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string path = dir.Write("f.txt", c.Content);
    Search(c.Target, false, "*.txt", dir.Path());
    ASSERT_EQ(Params->GetResultCount(), 1);
    TSearchFile* file = Params->GetResult(0);
    int32_t index = 0, selected = 0;
    for (int32_t l = 0; l < file->GetLineCount(); ++l)
      for (int32_t k = 0; k < file->GetLine(l)->GetFindCount(); ++k, ++index) {
        const bool on = c.Selection.empty() || c.Selection.at(static_cast<size_t>(index)) == '1';
        file->GetLine(l)->SetFindSelected(k, on);
        selected += on;
      }
    BuildReplaceJobs(*Params, Jobs);
    const TRunResult r = Replace(c.Replacement);
    EXPECT_EQ(ReadAll(path), c.Expected);
    EXPECT_EQ(r.Replaced, selected);
    EXPECT_EQ(r.Log, V{});
    EXPECT_EQ(r.Started, V{path});
    EXPECT_EQ(TempFilesIn(dir.Path()), V{});
  }
}

// ---- Checks before writing ------------------------------------------------------------------

TEST_F(ReplaceTest, GrownFileIsRefusedWithSizeLines) {
  const std::string path = Dir.Write("f.txt", "foo" + std::string(97, '.'));
  Search("foo");
  SelectAll();
  const std::string grown = "foo" + std::string(98, '.');
  Dir.Write("f.txt", grown);
  const TRunResult r = Replace("bar");
  EXPECT_EQ(r.Log, (V{path + ":", "Error: size was 100, now 101"}));
  EXPECT_EQ(ReadAll(path), grown);
  EXPECT_EQ(r.Replaced, 0);
  EXPECT_EQ(r.FilesNotReplaced, 1);
}

TEST_F(ReplaceTest, SameSizeFileSavedLaterIsRefusedWithTimeLinesAndSizeComesFirst) {
  const std::string path = Dir.Write("f.txt", "a foo b");
  const std::string both = Dir.Write("g.txt", "a foo b");
  SetMTime(path, 1600000000);
  SetMTime(both, 1600000000);
  Search("foo");
  SelectAll();
  Dir.Write("f.txt", "a foo b");  // same content, saved again
  SetMTime(path, 1600000010);
  Dir.Write("g.txt", "a foo bc");
  SetMTime(both, 1600000010);
  const TRunResult r = Replace("bar");
  const std::string was = FormatDateTime("yyyy/mm/dd hh:nn:ss", UnixTimeToLocal(1600000000, true));
  const std::string now = FormatDateTime("yyyy/mm/dd hh:nn:ss", UnixTimeToLocal(1600000010, true));
  EXPECT_EQ(r.Log, (V{path + ":", "Error: time was " + was + ", now " + now, both + ":", "Error: size was 7, now 8"}));
  EXPECT_EQ(ReadAll(path), "a foo b");
  EXPECT_EQ(ReadAll(both), "a foo bc");
}

TEST_F(ReplaceTest, SameSizeEditWithinTheTimeResolutionIsCaughtByTheContent) {
  const std::string path = Dir.Write("f.txt", "a foo b\nfoo");
  SetMTime(path, 1600000000, 100);
  Search("foo");
  SelectAll();
  Dir.Write("f.txt", "a foo b\nfox");
  SetMTime(path, 1600000001, 5);  // inside the same two seconds
  const TRunResult r = Replace("bar");
  EXPECT_EQ(r.Log, (V{path + ": The file changed since the search: the find at byte 8 is no longer the target, so it "
                             "was not changed"}));
  EXPECT_EQ(ReadAll(path), "a foo b\nfox");
  EXPECT_EQ(r.Replaced, 0);
}

struct TEditCase {
  const char* Name;
  bool WholeWord;
  std::string Exclude, Before, After, Why;
};

TEST_F(ReplaceTest, EditThatKeepsSizeAndRestoresTheTimeIsCaughtByTheRulesOrTheChangeTime) {
  const std::string changed = "The file changed since the search, so it was not changed";
  const std::string noFind = "The file changed since the search: the find at byte 0 is no longer the target, so it was "
                             "not changed";
  const TEditCase cases[] = {
      {"no longer a whole word", true, "", "foo bar", "fooxbar", noFind},
      {"now inside the exclude text", false, "foo!", "foo bar", "foo!bar", noFind},
      {"edit away from the find", false, "", "foo bar", "foo baz", changed},
  };
  for (const TEditCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string path = dir.Write("f.txt", c.Before);
    SetMTime(path, 1600000000, 5000);
    WholeWord = c.WholeWord;
    Exclude = c.Exclude;
    Search("foo", false, "*.txt", dir.Path());
    SelectAll();
    dir.Write("f.txt", c.After);
    SetMTime(path, 1600000000, 5000);  // as a tool that restores the time would
    const TRunResult r = Replace("BAZ");
    EXPECT_EQ(r.Log, V{path + ": " + c.Why});
    EXPECT_EQ(ReadAll(path), c.After);
    EXPECT_EQ(r.Replaced, 0);
  }
}

TEST_F(ReplaceTest, FileSwappedForALinkToAnotherFileWithTheSameContentIsRefused) {
  const std::string path = Dir.Write("f.txt", "a foo b");
  const std::string other = Dir.Write("other.dat", "a foo b");
  SetMTime(path, 1600000000);
  SetMTime(other, 1600000000);
  Search("foo");
  SelectAll();
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(symlink("other.dat", path.c_str()), 0);
  const TRunResult r = Replace("bar");
  EXPECT_EQ(r.Log, V{path + ": The file was replaced by another file since the search, so it was not changed"});
  EXPECT_EQ(ReadAll(other), "a foo b");
  EXPECT_EQ(r.FilesNotReplaced, 1);
}

TEST_F(ReplaceTest, FileUnderSeveralNamesIsReplacedOnceAndItsOtherNamesAreNoFailure) {
  const std::string path = Dir.Write("a.txt", "x foo y");
  const std::string hard = Dir / "b.txt";
  const std::string soft = Dir / "c.txt";
  ASSERT_EQ(link(path.c_str(), hard.c_str()), 0);
  ASSERT_EQ(symlink("a.txt", soft.c_str()), 0);
  const std::string plain = Dir.Write("d.txt", "foo");
  Search("foo");
  SelectAll();
  ASSERT_EQ(Jobs.size(), 4u);
  const TRunResult r = Replace("bar");
  EXPECT_EQ(ReadAll(path), "x bar y");
  EXPECT_EQ(ReadAll(plain), "bar");
  EXPECT_EQ(r.Log, (V{hard + ": The same file as " + path + ", already replaced",
                      soft + ": The same file as " + path + ", already replaced"}));
  EXPECT_EQ(r.Replaced, 2);
  EXPECT_EQ(r.FilesReplaced, 2);
  EXPECT_EQ(r.FilesNotReplaced, 0);
}

TEST_F(ReplaceTest, RefusedFileAddsNothingToTheCountAndTheRunGoesOn) {
  const std::string a = Dir.Write("a.txt", "foo foo");
  const std::string b = Dir.Write("b.txt", "foo foo foo");
  const std::string c = Dir.Write("c.txt", "x foo");
  Search("foo");
  SelectAll();
  Dir.Write("b.txt", "foo foo foo!");
  const TRunResult r = Replace("z");
  EXPECT_EQ(ReadAll(a), "z z");
  EXPECT_EQ(ReadAll(b), "foo foo foo!");
  EXPECT_EQ(ReadAll(c), "x z");
  EXPECT_EQ(r.Replaced, 3);
  EXPECT_EQ(r.FilesReplaced, 2);
  EXPECT_EQ(r.FilesNotReplaced, 1);
  EXPECT_EQ(r.Started, (V{a, b, c}));
}

TEST_F(ReplaceTest, MissingFileIsLoggedAndTheRunGoesOn) {
  const std::string a = Dir.Write("a.txt", "foo");
  const std::string b = Dir.Write("b.txt", "foo");
  Search("foo");
  SelectAll();
  ASSERT_EQ(unlink(a.c_str()), 0);
  const TRunResult r = Replace("bar");
  EXPECT_EQ(r.Log, (V{a + ": " + SystemErrorText(ENOENT)}));
  EXPECT_EQ(ReadAll(b), "bar");
  EXPECT_EQ(r.Replaced, 1);
  EXPECT_EQ(r.Fatal, "");
}

// ---- Stop requests --------------------------------------------------------------------------

TEST_F(ReplaceTest, StopDuringAFileLeavesItAndTheRestUnchangedAndStillEnds) {
  std::string many;
  for (int i = 0; i < 2000; ++i) many += "foo line\n";
  const std::string a = Dir.Write("a.txt", many);
  const std::string b = Dir.Write("b.txt", "foo");
  Search("foo");
  SelectAll();
  const TRunResult r = Replace("bar", [](TReplaceThread& t) { t.Terminate(); });
  EXPECT_EQ(ReadAll(a), many);
  EXPECT_EQ(ReadAll(b), "foo");
  EXPECT_EQ(r.Replaced, 0);
  EXPECT_EQ(r.Log, V{});
  EXPECT_EQ(TempFilesIn(Dir.Path()), V{});
}

// ---- Temporary names ------------------------------------------------------------------------

TEST_F(ReplaceTest, TempNameIsTheFirstFreeNumber) {
  EXPECT_EQ(MakeTempFileName("Trawlex", Dir.Path()), Dir / "Trawlex1.tmp");
  Dir.Write("Trawlex1.tmp", "x");
  Dir.Write("Trawlex2.tmp", "y");
  EXPECT_EQ(MakeTempFileName("Trawlex", Dir.Path() + "/"), Dir / "Trawlex3.tmp");
  ASSERT_EQ(symlink("nowhere", (Dir / "Trawlex3.tmp").c_str()), 0);  // a dangling link is taken too
  EXPECT_EQ(MakeTempFileName("Trawlex", Dir.Path()), Dir / "Trawlex4.tmp");
  EXPECT_EQ(MakeTempFileName("Trawlex").rfind(TempDirectory(), 0), 0u);
}

TEST_F(ReplaceTest, NamesPlantedAtTheTempNameAreSkippedNotFollowed) {
  alarm(60);  // opening a FIFO would hang: the alarm ends the test instead
  const std::string path = Dir.Write("f.txt", "foo");
  Dir.Write(".Trawlex1.tmp", "keep me");
  ASSERT_EQ(mkfifo((Dir / ".Trawlex2.tmp").c_str(), 0600), 0);
  const std::string victim = Dir.Write("victim", "untouched");
  ASSERT_EQ(symlink(victim.c_str(), (Dir / ".Trawlex3.tmp").c_str()), 0);
  Search("foo");
  SelectAll();
  const TRunResult r = Replace("bar");
  alarm(0);
  EXPECT_EQ(r.Log, V{});
  EXPECT_EQ(ReadAll(path), "bar");
  // A regular file at a temporary name that no run holds is what a killed run leaves: removed.
  EXPECT_FALSE(PathEntryExists(Dir / ".Trawlex1.tmp"));
  EXPECT_TRUE(S_ISFIFO(StatOf(Dir / ".Trawlex2.tmp").st_mode));
  EXPECT_EQ(ReadAll(victim), "untouched");
  EXPECT_FALSE(PathEntryExists(Dir / ".Trawlex4.tmp"));
}

// ---- Failed writes --------------------------------------------------------------------------

struct TFaultCase {
  const char* Name;
  TRewriteFault Step;
  int Error;
  int64_t AfterBytes;
  bool WriteFailedLine;
};

TEST_F(ReplaceTest, FailedWriteFlushCloseOrRenameLeavesTheFileWholeAndNoTempFile) {
  const TFaultCase cases[] = {
      {"nothing written", TRewriteFault::Write, ENOSPC, 0, true},
      {"short write inside a copied range", TRewriteFault::Write, ENOSPC, 4, true},
      {"short write of the replacement", TRewriteFault::Write, EIO, 12, true},
      {"short write of the tail", TRewriteFault::Write, ENOSPC, 20, true},
      {"flush", TRewriteFault::Flush, EIO, 0, false},
      {"close", TRewriteFault::Close, EDQUOT, 0, false},
      {"rename", TRewriteFault::Rename, EIO, 0, false},
  };
  const std::string content = "0123456789 foo 0123456789";
  for (const TFaultCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string path = dir.Write("f.txt", content);
    Search("foo", false, "*.txt", dir.Path());
    SelectAll();
    InjectRewriteFault(c.Step, c.Error, c.AfterBytes);
    const TRunResult r = Replace("REPLACED");
    ClearRewriteFaults();
    V expected;
    if (c.WriteFailedLine) expected.push_back("Write failed for " + path);
    expected.push_back(path + ": " + SystemErrorText(c.Error));
    EXPECT_EQ(r.Log, expected);
    EXPECT_EQ(ReadAll(path), content);
    EXPECT_EQ(TempFilesIn(dir.Path()), V{});
    EXPECT_EQ(r.Replaced, 0);
    EXPECT_EQ(r.FilesNotReplaced, 1);
  }
}

TEST_F(ReplaceTest, AfterAFailedFileTheNextOneIsStillReplaced) {
  const std::string big = Dir.Write("a.txt", std::string(200, '.') + "foo");
  const std::string small = Dir.Write("b.txt", "foo.");
  Search("foo");
  SelectAll();
  InjectRewriteFault(TRewriteFault::Write, ENOSPC, 100);
  const TRunResult r = Replace("bar");
  EXPECT_EQ(ReadAll(big), std::string(200, '.') + "foo");
  EXPECT_EQ(ReadAll(small), "bar.");
  EXPECT_EQ(r.Replaced, 1);
  EXPECT_EQ(r.Log, (V{"Write failed for " + big, big + ": " + SystemErrorText(ENOSPC)}));
}

// A small tmpfs, so that the disk really fills up. Skips where mounting is not allowed.
class TSmallDisk {
 public:
  explicit TSmallDisk(const std::string& where, const char* size) : Path(where) {
    fs::create_directories(Path);
    Mounted = mount("tmpfs", Path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~TSmallDisk() {
    if (Mounted) umount2(Path.c_str(), MNT_DETACH);
  }
  std::string Path;
  bool Mounted = false;
};

TEST_F(ReplaceTest, FullDiskLeavesTheFileWhole) {
  // Room for the two files and less than one more copy of them.
  TSmallDisk disk(Dir / "small", "100k");
  if (!disk.Mounted) GTEST_SKIP() << "cannot mount a tmpfs here (" << SystemErrorText(errno) << ")";
  std::string content(40000, 'x');
  content += "foo";
  std::ofstream(disk.Path + "/f.txt", std::ios::binary) << content;
  // A hard-linked file is written in place; its copy of the old content cannot fit either.
  std::ofstream(disk.Path + "/h.txt", std::ios::binary) << content;
  ASSERT_EQ(link((disk.Path + "/h.txt").c_str(), (disk.Path + "/h2.txt").c_str()), 0);
  ASSERT_EQ(ReadAll(disk.Path + "/h.txt"), content);
  Search("foo", false, "?.txt", disk.Path);
  SelectAll();
  ASSERT_EQ(Jobs.size(), 2u);
  const TRunResult r = Replace("bar");
  EXPECT_EQ(ReadAll(disk.Path + "/f.txt"), content);
  EXPECT_EQ(ReadAll(disk.Path + "/h.txt"), content);
  EXPECT_EQ(TempFilesIn(disk.Path), V{});
  EXPECT_EQ(r.Replaced, 0);
  EXPECT_EQ(r.Log, (V{"Write failed for " + disk.Path + "/f.txt", disk.Path + "/f.txt: " + SystemErrorText(ENOSPC),
                      disk.Path + "/h.txt: " + SystemErrorText(ENOSPC)}));
}

// ---- What the new file keeps ----------------------------------------------------------------

TEST_F(ReplaceTest, RewrittenFileKeepsModeOwnerGroupAttributesAndAcl) {
  const std::string path = Dir.Write("f.txt", "a foo b");
  ASSERT_EQ(chmod(path.c_str(), 02750), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
  }
  if (setxattr(path.c_str(), "user.origin", "kept", 4, 0) != 0) GTEST_SKIP() << "no user attributes here";
  acl_t acl = acl_from_text("u::rwx,u:4321:r--,g::r-x,m::r-x,o::---");
  ASSERT_NE(acl, nullptr);
  const bool hasAcl = acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl) == 0;
  acl_free(acl);
  if (root) {
    ASSERT_EQ(chmod(path.c_str(), 02750), 0);  // chown cleared the set-group-ID bit
  }
  const struct stat before = StatOf(path);
  Search("foo");
  SelectAll();
  const TRunResult r = Replace("bar");
  EXPECT_EQ(r.Log, V{});
  EXPECT_EQ(ReadAll(path), "a bar b");
  const struct stat after = StatOf(path);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file was renamed over it
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  char value[16] = {};
  EXPECT_EQ(getxattr(path.c_str(), "user.origin", value, sizeof value), 4);
  EXPECT_STREQ(value, "kept");
  if (hasAcl) {
    acl_t now = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    ASSERT_NE(now, nullptr);
    char* text = acl_to_any_text(now, nullptr, ',', 0);
    EXPECT_STREQ(text, "user::rwx,user:4321:r--,group::r-x,mask::r-x,other::---");
    acl_free(text);
    acl_free(now);
  }
}

TEST_F(ReplaceTest, FolderDefaultAclDoesNotGiveTheNewFileAnAcl) {
  const std::string path = Dir.Write("f.txt", "foo");
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  acl_t def = acl_from_text("u::rwx,u:4321:rwx,g::r-x,m::rwx,o::r-x");
  ASSERT_NE(def, nullptr);
  const bool set = acl_set_file(Dir.Path().c_str(), ACL_TYPE_DEFAULT, def) == 0;
  acl_free(def);
  if (!set) GTEST_SKIP() << "no ACLs on this file system";
  Search("foo");
  SelectAll();
  EXPECT_EQ(Replace("bar").Log, V{});
  EXPECT_EQ(ReadAll(path), "bar");
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0644u);
  EXPECT_LT(getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0), 0);
}

TEST_F(ReplaceTest, SymbolicLinkStaysALinkAndItsFileIsRewritten) {
  const std::string target = Dir.Write("real.dat", "one foo");
  const std::string link = Dir / "link.txt";
  ASSERT_EQ(symlink("real.dat", link.c_str()), 0);
  Search("foo", false, "link.txt");
  SelectAll();
  const TRunResult r = Replace("two");
  EXPECT_EQ(r.Log, V{});
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(fs::read_symlink(link).string(), "real.dat");
  EXPECT_EQ(ReadAll(target), "one two");
  EXPECT_EQ(TempFilesIn(Dir.Path()), V{});
}

TEST_F(ReplaceTest, HardLinkedFileIsWrittenInPlaceSoEveryNameSeesTheNewContent) {
  const std::string path = Dir.Write("a.txt", "x foo y");
  const std::string other = Dir / "b.dat";
  ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
  const ino_t inode = StatOf(path).st_ino;
  Search("foo", false, "a.txt");
  SelectAll();
  const TRunResult r = Replace("bar baz");
  EXPECT_EQ(r.Log, V{});
  EXPECT_EQ(r.Replaced, 1);
  EXPECT_EQ(ReadAll(path), "x bar baz y");
  EXPECT_EQ(ReadAll(other), "x bar baz y");
  EXPECT_EQ(StatOf(path).st_ino, inode);
  EXPECT_EQ(StatOf(path).st_nlink, 2u);
  EXPECT_EQ(TempFilesIn(Dir.Path()), V{});
}

TEST_F(ReplaceTest, FailedOverwriteInPlaceRestoresTheOldContentOrKeepsItsCopy) {
  const std::string content = "x foo y foo z";
  {
    SCOPED_TRACE("restored");
    TTempDir dir;
    const std::string path = dir.Write("a.txt", content);
    ASSERT_EQ(link(path.c_str(), (dir / "b.dat").c_str()), 0);
    Search("foo", false, "a.txt", dir.Path());
    SelectAll();
    InjectRewriteFault(TRewriteFault::Overwrite, EIO, 3);
    const TRunResult r = Replace("LONGER TEXT");
    ClearRewriteFaults();
    EXPECT_EQ(r.Log, (V{path + ": " + SystemErrorText(EIO)}));
    EXPECT_EQ(ReadAll(path), content);
    EXPECT_EQ(TempFilesIn(dir.Path()), V{});
    EXPECT_EQ(r.Replaced, 0);
  }
  {
    SCOPED_TRACE("restore fails too");
    TTempDir dir;
    const std::string path = dir.Write("a.txt", content);
    ASSERT_EQ(link(path.c_str(), (dir / "b.dat").c_str()), 0);
    Search("foo", false, "a.txt", dir.Path());
    SelectAll();
    InjectRewriteFault(TRewriteFault::Overwrite, EIO, 3);
    InjectRewriteFault(TRewriteFault::Restore, EIO, 0);
    const TRunResult r = Replace("LONGER TEXT");
    ClearRewriteFaults();
    EXPECT_EQ(r.Log, (V{path + ": " + SystemErrorText(EIO) + ". The file may be damaged; its old content is kept in " +
                        dir / ".a.txt.Trawlex1.tmp"}));
    EXPECT_EQ(ReadAll(dir / ".a.txt.Trawlex1.tmp"), content);
    EXPECT_EQ(r.Replaced, 0);
  }
  {
    SCOPED_TRACE("copy cannot be written");
    TTempDir dir;
    const std::string path = dir.Write("a.txt", content);
    ASSERT_EQ(link(path.c_str(), (dir / "b.dat").c_str()), 0);
    Search("foo", false, "a.txt", dir.Path());
    SelectAll();
    InjectRewriteFault(TRewriteFault::BackupWrite, ENOSPC, 5);
    const TRunResult r = Replace("bar");
    ClearRewriteFaults();
    EXPECT_EQ(r.Log, (V{path + ": " + SystemErrorText(ENOSPC)}));
    EXPECT_EQ(ReadAll(path), content);
    EXPECT_EQ(TempFilesIn(dir.Path()), V{});
  }
}

// ---- Files that must not be rewritten -------------------------------------------------------

TEST_F(ReplaceTest, FileNobodyMayWriteIsRefusedEvenForRoot) {
  const std::string path = Dir.Write("f.txt", "foo");
  const std::string other = Dir.Write("g.txt", "foo");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  Search("foo");
  SelectAll();
  const TRunResult r = Replace("bar");
  EXPECT_EQ(r.Log, (V{path + ": The file is read-only, so it was not changed"}));
  EXPECT_EQ(ReadAll(path), "foo");
  EXPECT_EQ(ReadAll(other), "bar");
  EXPECT_EQ(r.Replaced, 1);
}

TEST_F(ReplaceTest, ImmutableFileIsRefused) {
  const std::string path = Dir.Write("f.txt", "foo");
  if (std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "chattr +i is not possible here";
  Search("foo");
  SelectAll();
  const TRunResult r = Replace("bar");
  EXPECT_EQ(std::system(("chattr -i '" + path + "'").c_str()), 0);
  EXPECT_EQ(r.Log, (V{path + ": The file cannot be written (" + SystemErrorText(EPERM) + "), so it was not changed"}));
  EXPECT_EQ(ReadAll(path), "foo");
  EXPECT_EQ(r.Replaced, 0);
}

// ---- The rewriter on its own: identity ------------------------------------------------------

TEST(FileRewriterTest, FileSwappedOrChangedAfterReadingIsNotReplaced) {
  TTempDir dir;
  const std::string path = dir.Write("f.txt", "old");
  {
    SCOPED_TRACE("another file renamed over it");
    TFileRewriter w;
    ASSERT_TRUE(w.Open(path));
    ASSERT_TRUE(w.BeginWrite());
    ASSERT_TRUE(w.Write("new", 3));
    const std::string other = dir.Write("other", "old");
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    EXPECT_FALSE(w.Commit());
    EXPECT_EQ(w.Error(), "The file was replaced by another file since it was read, so it was not changed");
    EXPECT_EQ(ReadAll(path), "old");
    EXPECT_EQ(TempFilesIn(dir.Path()), V{});
  }
  {
    SCOPED_TRACE("appended to in place");
    TFileRewriter w;
    ASSERT_TRUE(w.Open(path));
    EXPECT_TRUE(w.Unchanged());
    ASSERT_TRUE(w.BeginWrite());
    ASSERT_TRUE(w.Write("new", 3));
    std::ofstream(path, std::ios::app) << "!";
    EXPECT_FALSE(w.Commit());
    EXPECT_EQ(w.Error(), "The file changed while it was being replaced, so it was not changed");
    EXPECT_EQ(ReadAll(path), "old!");
    EXPECT_EQ(TempFilesIn(dir.Path()), V{});
  }
  {
    SCOPED_TRACE("a directory is not a file");
    TFileRewriter w;
    EXPECT_FALSE(w.Open(dir.Path()));
    EXPECT_EQ(w.Error(), "It is not a regular file");
  }
}

// ---- As an unprivileged user, and headless --------------------------------------------------

// Starts the headless replace as a process with its output in files; returns its id.
pid_t SpawnDriver(const V& args, const std::string& outFile, const std::string& errFile) {
  std::vector<char*> argv{const_cast<char*>(TRAWLEX_REPLACE_DRIVER)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The count in "Finished. Replaced N finds", or -1.
int ReplacedIn(const std::string& report) {
  const size_t at = report.rfind("Finished. Replaced ");
  return at == std::string::npos ? -1 : std::atoi(report.c_str() + at + 19);
}

std::string ReplaceEvery(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

// A folder on a memory file system when there is one: thousands of flushes stay quick.
std::unique_ptr<TTempDir> FastTempDir() {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  auto dir = std::make_unique<TTempDir>();
  if (old) setenv("TMPDIR", saved.c_str(), 1);
  else unsetenv("TMPDIR");
  return dir;
}

// Runs the headless replace in its own process; returns its exit status, or -1.
int RunDriver(const std::string& prefix, const V& args, const std::string& outFile, const std::string& errFile) {
  std::string cmd = "timeout 120 " + prefix + " '" + std::string(TRAWLEX_REPLACE_DRIVER) + "'";
  for (const std::string& a : args) cmd += " '" + a + "'";
  cmd += " >'" + outFile + "' 2>'" + errFile + "'";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ReplaceAsUserTest, PermissionsDecideWhatAnUnprivilegedUserMayRewrite) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";
  if (std::system((asNobody + " true 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "setpriv cannot switch users";
  // The build may sit in a folder only root can enter (a home folder, say).
  if (std::system((asNobody + " test -x '" + std::string(TRAWLEX_REPLACE_DRIVER) + "'").c_str()) != 0)
    GTEST_SKIP() << "the unprivileged user cannot run the program where it was built";
  TTempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  const std::string work = dir.MakeDir("w");
  ASSERT_EQ(chmod(work.c_str(), 0777), 0);
  const std::string state = dir.MakeDir("state");  // a shared place for the user's own undo folder, as /tmp is
  ASSERT_EQ(chmod(state.c_str(), 01777), 0);
  const std::string asNobodyWithState = asNobody + " env XDG_STATE_HOME='" + state + "'";
  const std::string rootsFile = dir.Write("w/a.txt", "foo");  // root's, 0644
  ASSERT_EQ(chmod(rootsFile.c_str(), 0644), 0);
  const std::string sharedGroup = dir.Write("w/b.txt", "foo");  // nobody's, group root, 0664
  ASSERT_EQ(chown(sharedGroup.c_str(), 65534, 0), 0);
  ASSERT_EQ(chmod(sharedGroup.c_str(), 0664), 0);
  const ino_t sharedInode = StatOf(sharedGroup).st_ino;
  const std::string locked = dir.MakeDir("w/locked");  // root's folder, 0755
  ASSERT_EQ(chmod(locked.c_str(), 0755), 0);
  const std::string inLocked = dir.Write("w/locked/c.txt", "foo");
  ASSERT_EQ(chown(inLocked.c_str(), 65534, 65534), 0);
  const std::string out = dir / "out", err = dir / "err";

  const int status = RunDriver(asNobodyWithState, {"--report", "--replace-all", "bar", "-t", "foo", "-d", work, "-p", "*.txt"},
                               out, err);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(ReadAll(rootsFile), "foo");
  EXPECT_EQ(ReadAll(inLocked), "foo");
  // Group root cannot be given to a new file by nobody: written in place, group kept.
  EXPECT_EQ(ReadAll(sharedGroup), "bar");
  EXPECT_EQ(StatOf(sharedGroup).st_gid, 0u);
  EXPECT_EQ(StatOf(sharedGroup).st_ino, sharedInode);
  const std::string errors = ReadAll(err);
  EXPECT_NE(errors.find(rootsFile + ": The file cannot be written (" + SystemErrorText(EACCES) + "), so it was not changed"),
            std::string::npos)
      << errors;
  EXPECT_NE(errors.find(inLocked + ": Cannot create a temporary file in its folder (" + SystemErrorText(EACCES) + ")"),
            std::string::npos)
      << errors;
  EXPECT_NE(ReadAll(out).find("\nFinished. Replaced 1 find\n"), std::string::npos);
  EXPECT_EQ(TempFilesIn(work), V{});
  EXPECT_EQ(TempFilesIn(locked), V{});
}

TEST(ReplaceAsUserTest, AttributesTheUserCannotSeeAreKeptByWritingInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to set a trusted attribute and to act as another user";
  const std::string asNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";
  if (std::system((asNobody + " test -x '" + std::string(TRAWLEX_REPLACE_DRIVER) + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "the unprivileged user cannot run the program where it was built";
  TTempDir dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 01777), 0);
  const std::string path = dir.Write("a.txt", "x foo y");
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);  // the user's own file: a new one could get its owner
  if (setxattr(path.c_str(), "trusted.origin", "kept", 4, 0) != 0) GTEST_SKIP() << "no trusted attributes here";
  const ino_t inode = StatOf(path).st_ino;
  const std::string state = dir.MakeDir(".state");  // the user's own undo journals, out of the search
  ASSERT_EQ(chmod(state.c_str(), 01777), 0);
  EXPECT_EQ(RunDriver(asNobody + " env XDG_STATE_HOME='" + state + "'",
                      {"--report", "--replace-all", "bar", "-t", "foo", "-d", dir.Path()}, dir / "out", dir / "err"),
            0)
      << ReadAll(dir / "err");
  EXPECT_EQ(ReadAll(path), "x bar y");
  char value[16] = {};
  EXPECT_EQ(getxattr(path.c_str(), "trusted.origin", value, sizeof value), 4);
  EXPECT_STREQ(value, "kept");
  EXPECT_EQ(StatOf(path).st_ino, inode);
}

class HeadlessReplaceTest : public ::testing::Test {
 protected:
  // Runs RunReplaceAll with `args`; fills Out and Err.
  int Run(const V& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = RunReplaceAll(args, out, err);
    Out = Slurp(out);
    Err = Slurp(err);
    return status;
  }
  static std::string Slurp(std::FILE* f) {
    std::string s;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
  }
  TTempDir Dir;
  std::string Out, Err;
};

TEST_F(HeadlessReplaceTest, ReplacesEveryFindAndReportsTheCount) {
  const std::string a = Dir.Write("a.txt", "foo foo\r\nFOO");
  const std::string b = Dir.Write("sub/b.txt", "x foo");
  EXPECT_EQ(Run({"--report", "--replace-all", "-t bar", "-t", "foo", "-d", Dir.Path()}), 0);
  EXPECT_EQ(ReadAll(a), "-t bar -t bar\r\n-t bar");
  EXPECT_EQ(ReadAll(b), "x -t bar");
  EXPECT_NE(Out.find("Finds: 4\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find(a + "\n"), std::string::npos);
  EXPECT_EQ(Out.substr(Out.size() - 27), "Finished. Replaced 4 finds\n");
  EXPECT_EQ(Err, "");
}

TEST_F(HeadlessReplaceTest, DryRunChangesNothing) {
  const std::string a = Dir.Write("a.txt", "foo");
  EXPECT_EQ(Run({"--report", "--dry-run", "--replace-all", "", "-t", "foo", "-d", Dir.Path()}), 0);
  EXPECT_EQ(ReadAll(a), "foo");
  EXPECT_NE(Out.find(a + "\n"), std::string::npos);
  EXPECT_EQ(Out.find("Finished"), std::string::npos);
  EXPECT_EQ(Err, "Dry run: 1 find in 1 file would be replaced; nothing was changed\n");
}

TEST_F(HeadlessReplaceTest, RefusedFileAndBadInputGiveStatus2) {
  const std::string a = Dir.Write("a.txt", "foo");
  const std::string b = Dir.Write("b.txt", "foo");
  ASSERT_EQ(chmod(a.c_str(), 0444), 0);
  EXPECT_EQ(Run({"--report", "--replace-all", "", "-t", "foo", "-d", Dir.Path()}), 2);
  EXPECT_EQ(ReadAll(a), "foo");
  EXPECT_EQ(ReadAll(b), "");
  EXPECT_EQ(Err, a + ": The file is read-only, so it was not changed\n");
  EXPECT_NE(Out.find("Finished. Replaced 1 find\n"), std::string::npos);

  EXPECT_EQ(Run({"--report", "-t", "foo", "-d", Dir.Path(), "--replace-all"}), 2);
  EXPECT_EQ(Err, "--replace-all needs the replacement text as its next argument\n");
  EXPECT_EQ(Run({"--report", "--replace-all", "x", "-d", Dir.Path()}), 2);
  EXPECT_EQ(Err, "No search target\n");
  EXPECT_EQ(Run({"--report", "--replace-all", "x", "-t", "nothing here", "-d", Dir.Path()}), 1);
  EXPECT_NE(Out.find("Finished. Replaced 0 finds\n"), std::string::npos);
}

TEST_F(HeadlessReplaceTest, TargetWithALineBreakIsReportedOnItsOwnLineAndReplacedWhole) {
  const std::string a = Dir.Write("a.txt", "ab\ncd\r\nef\n");
  EXPECT_EQ(Run({"--report", "--dry-run", "--replace-all", "", "-t", "\n", "-d", Dir.Path()}), 0);
  EXPECT_NE(Out.find(a + "\n 1: ab\n 2: cd\n 3: ef\n"), std::string::npos) << Out;
  EXPECT_EQ(Run({"--report", "--replace-all", "|", "-t", "b\nc", "-d", Dir.Path()}), 0);
  EXPECT_NE(Out.find(a + "\n 1: ab\n"), std::string::npos) << Out;
  EXPECT_EQ(ReadAll(a), "a|d\r\nef\n");
  EXPECT_EQ(Err, "");
  EXPECT_EQ(Run({"--report", "--replace-all", "+", "-t", "d\r\ne", "-d", Dir.Path()}), 0);
  EXPECT_EQ(ReadAll(a), "a|+f\n");
}

TEST_F(HeadlessReplaceTest, BaseDirectoryThroughALinkAndDotDotIsTheFolderTheSystemMeans) {
  Dir.MakeDir("x/real/inner");
  const std::string meant = Dir.Write("x/real/b/f.txt", "foo");
  const std::string notMeant = Dir.Write("x/b/f.txt", "foo");
  ASSERT_EQ(symlink((Dir / "x/real/inner").c_str(), (Dir / "x/a").c_str()), 0);
  EXPECT_EQ(Run({"--report", "--replace-all", "bar", "-t", "foo", "-d", Dir / "x/a/../b"}), 0) << Err;
  EXPECT_EQ(ReadAll(meant), "bar");
  EXPECT_EQ(ReadAll(notMeant), "foo");
  EXPECT_NE(Out.find("Base directory: " + Dir / "x/real/b\n"), std::string::npos) << Out;
  EXPECT_NE(Out.find(meant + "\n"), std::string::npos) << Out;
}

TEST_F(HeadlessReplaceTest, FileWhoseSearchRanOutOfMemoryIsLeftWhole) {
  // One-byte finds everywhere: recording them runs out of memory part way through the file.
  const std::string big = Dir.Write("big.txt", std::string(48 << 20, 'a'));
  const std::string small = Dir.Write("small.txt", "a");
  const std::string out = Dir / "out", err = Dir / "err";
  const int status = RunDriver("sh -c 'ulimit -v 400000; exec \"$0\" \"$@\"'",
                               {"--report", "--replace-all", "b", "-t", "a", "-d", Dir.Path(), "-p", "*.txt"}, out, err);
  const std::string errors = ReadAll(err);
  if (errors.find(big + ": Out of memory") == std::string::npos) GTEST_SKIP() << "the search did not run out of memory: " << errors;
  EXPECT_EQ(status, 2);
  EXPECT_EQ(ReadAll(big), std::string(48 << 20, 'a'));
  EXPECT_EQ(ReadAll(small), "b");
  EXPECT_NE(ReadAll(out).find("Finished. Replaced 1 find\n"), std::string::npos);
}

TEST(HeadlessReplaceSwitchTest, ReplaceAllIsOnlyASwitchWhereNoValueIsExpected) {
  EXPECT_TRUE(IsReplaceAllRequest({"--report", "--replace-all", "x", "-t", "a"}));
  EXPECT_FALSE(IsReplaceAllRequest({"--report", "-t", "--replace-all", "-d", "x"}));
  EXPECT_FALSE(IsReplaceAllRequest({"--report", "-t", "a"}));
}

// A replace killed in the middle of writing a large file leaves it wholly old, and one that
// runs to its end wholly new. The kill lands at a chosen byte: under a limit on the size of
// the files it may write, the system ends the process (SIGXFSZ) when it writes that byte of
// the new content's temporary file (the other files it writes stay below the limits).
TEST(ReplaceKillTest, KilledReplaceLeavesTheFileWhollyOldOrWhollyNew) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a process killed mid-write tests no threads, and under the thread sanitizer it runs for minutes";
#endif
  TTempDir dir;
  std::string oldContent, newContent;
  for (int i = 0; i < 200000; ++i) {
    oldContent += "line " + std::to_string(i) + " with foo and more text after it\r\n";
    newContent += "line " + std::to_string(i) + " with BARBAR and more text after it\r\n";
  }
  const std::string path = dir / "big.txt";
  const V args = {"--report", "--replace-all", "BARBAR", "-t", "foo", "-d", dir.Path(), "-p", "big.txt"};
  const int64_t size = static_cast<int64_t>(newContent.size());
  for (const int64_t limit : {int64_t{1} << 20, size / 2, size - 1}) {
    SCOPED_TRACE(limit);
    dir.Write("big.txt", oldContent);
    const int status = RunDriver("prlimit --core=0 --fsize=" + std::to_string(limit), args, "/dev/null", "/dev/null");
    EXPECT_EQ(status, 128 + SIGXFSZ);
    EXPECT_TRUE(ReadAll(path) == oldContent);
    const V temps = TempFilesIn(dir.Path());
    ASSERT_EQ(temps, V{".Trawlex1.tmp"});
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(dir / temps[0])), limit);  // ended in the middle of it
    fs::remove(dir / temps[0]);
  }
  // Killed at once, wherever it got to.
  const pid_t pid = SpawnDriver(args, "/dev/null", "/dev/null");
  ASSERT_GT(pid, 0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  const std::string now = ReadAll(path);
  EXPECT_TRUE(now == oldContent || now == newContent) << "size " << now.size();
  for (const std::string& t : TempFilesIn(dir.Path())) fs::remove(dir / t);
  // Not killed.
  dir.Write("big.txt", oldContent);
  EXPECT_EQ(RunDriver("", args, "/dev/null", "/dev/null"), 0);
  EXPECT_TRUE(ReadAll(path) == newContent);
  EXPECT_EQ(TempFilesIn(dir.Path()), V{});
}

}  // namespace

// ---- Two runs at once -----------------------------------------------------------------------


TEST(ReplaceRaceTest, TwoRunsOnOneTreeReplaceEachFileWhollyOnceAndCountExactly) {
  const auto dir = FastTempDir();
  constexpr int Plain = 1200, Linked = 600, FindsPerFile = 6;
  std::vector<std::string> contents(Plain + Linked);
  for (size_t i = 0; i < contents.size(); ++i) {
    std::string& c = contents[i];
    for (int k = 0; k < FindsPerFile; ++k) c += "line " + std::to_string(i * 7 + k) + " foo " + std::string(k * 5, '.') + "\n";
  }
  auto nameOf = [&](size_t i) { return dir->Path() + "/d" + std::to_string(i % 8) + "/f" + std::to_string(i) + ".txt"; };
  auto secondName = [&](size_t i) { return dir->Path() + "/d" + std::to_string((i + 3) % 8) + "/g" + std::to_string(i) + ".txt"; };
  const V runA = {"--report", "--replace-all", "AAAAAAAA", "-t", "foo", "-d", dir->Path(), "-s", "1"};
  const V runB = {"--report", "--replace-all", "b", "-t", "foo", "-d", dir->Path(), "-s", "1"};
  const std::string out = dir->Path() + "/../" + fs::path(dir->Path()).filename().string() + ".";
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (size_t i = 0; i < contents.size(); ++i) {
      fs::remove(secondName(i));
      dir->Write(nameOf(i).substr(dir->Path().size() + 1), contents[i]);
      if (i >= Plain) {
        ASSERT_EQ(link(nameOf(i).c_str(), secondName(i).c_str()), 0);
      }
    }
    const pid_t a = SpawnDriver(runA, out + "a.out", out + "a.err");
    const pid_t b = SpawnDriver(runB, out + "b.out", out + "b.err");
    WaitExit(a);
    WaitExit(b);
    const std::string reportA = ReadAll(out + "a.out"), reportB = ReadAll(out + "b.out");
    int inFilesA = 0, inFilesB = 0, broken = 0;
    for (size_t i = 0; i < contents.size(); ++i) {
      const std::string now = ReadAll(nameOf(i));
      if (i >= Plain && ReadAll(secondName(i)) != now) ++broken;
      if (now == ReplaceEvery(contents[i], "foo", "AAAAAAAA")) inFilesA += FindsPerFile;
      else if (now == ReplaceEvery(contents[i], "foo", "b")) inFilesB += FindsPerFile;
      else ++broken;
    }
    EXPECT_EQ(broken, 0);
    EXPECT_EQ(ReplacedIn(reportA), inFilesA) << ReadAll(out + "a.err").substr(0, 2000);
    EXPECT_EQ(ReplacedIn(reportB), inFilesB) << ReadAll(out + "b.err").substr(0, 2000);
    EXPECT_EQ(inFilesA + inFilesB, static_cast<int>(contents.size()) * FindsPerFile);
    V leftovers;
    for (int d = 0; d < 8; ++d)
      for (const std::string& t : TempFilesIn(dir->Path() + "/d" + std::to_string(d))) leftovers.push_back(t);
    EXPECT_EQ(leftovers, V{});
  }
  for (const char* f : {"a.out", "a.err", "b.out", "b.err"}) fs::remove(out + f);
}

// Killed while a hard-linked file is overwritten in place: its old content is kept whole in a
// hidden copy that no search lists, and the next run says where it is and leaves the file.
// The kill lands in the overwrite: the new content is longer, and the system ends the process
// (SIGXFSZ) when it writes past a size limit between the old and the new length.
TEST(ReplaceKillTest, KilledInPlaceRewriteLeavesAHiddenWholeCopyThatTheNextRunReports) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a process killed mid-write tests no threads, and under the thread sanitizer it runs for minutes";
#endif
  const auto dir = FastTempDir();
  std::string oldContent;
  for (int i = 0; i < 400000; ++i) oldContent += "line " + std::to_string(i) + " with foo and more text after it\n";
  const std::string path = dir->Path() + "/big.txt";
  const std::string backup = dir->Path() + "/.big.txt.Trawlex1.tmp";
  const std::string out = dir->Path() + "/out", err = dir->Path() + "/err";
  dir->Write("big.txt", oldContent);
  ASSERT_EQ(link(path.c_str(), (dir->Path() + "/other.dat").c_str()), 0);
  // Without a journal, nothing shows that copying the old content back is safe.
  const int64_t limit = static_cast<int64_t>(oldContent.size()) + 400000;  // 3 more bytes a line
  EXPECT_EQ(RunDriver("prlimit --core=0 --fsize=" + std::to_string(limit),
                      {"--report", "--replace-all", "BARBAR", "--no-undo", "-t", "foo", "-d", dir->Path(), "-p", "*.txt"},
                      "/dev/null", "/dev/null"),
            128 + SIGXFSZ);
  ASSERT_TRUE(PathEntryExists(backup)) << "the kill did not land while the file was overwritten";
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(path)), limit);
  const std::string kept = ReadAll(backup);
  EXPECT_TRUE(kept == oldContent) << "the copy holds " << kept.size() << " bytes";
  const std::string before = ReadAll(path);
  // A target in both the old and the new lines: the file has finds however far it was overwritten.
  EXPECT_EQ(RunDriver("", {"--report", "--replace-all", "X", "-t", "with", "-d", dir->Path(), "-p", "*"}, out, err), 2);
  EXPECT_TRUE(ReadAll(path) == before);
  EXPECT_EQ(ReadAll(out).find("Trawlex"), std::string::npos) << "the hidden copy was searched";
  // No journal recorded the copy (--no-undo): it is named, never offered to be copied back.
  EXPECT_NE(ReadAll(err).find(path + ": The hidden file " + backup + " beside this file is named as the copy of its old "
                                     "content that an interrupted replace leaves, but no undo journal recorded such a "
                                     "copy, so it is not a copy the program can vouch for. The file was not changed. "
                                     "Compare the two (cmp '" + backup + "' '" + path + "')"),
            std::string::npos)
      << ReadAll(err);
  EXPECT_EQ(ReadAll(err).find("cp '"), std::string::npos);
  EXPECT_NE(ReadAll(err).find(dir->Path() + "/other.dat: The hidden file"), std::string::npos);
}
