#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#endif
#ifndef _WIN32
#include <sys/vfs.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/DateTime.h"
#include "platform/Platform.h"
#include "platform/Wildcard.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::TTempDir;

TEST(Wildcard, StarQuestionMarkAndCase) {
  const struct {
    const char* Name;
    const char* Pattern;
    bool Matches;
  } cases[] = {
      {"a.txt", "*.txt", true},     {"a.TXT", "*.txt", true},    {"a.txt", "A*", true},
      {"b.txt", "a*", false},       {"Makefile", "*.*", true},   {"a.b.c", "*.*", true},
      {"a", "a.*", true},           {"Makefile", "*.", true},    {"main.c", "*.", false},
      {"abc", "a?c", true},         {"ac", "a?c", false},        {"abc", "*", true},
      {"", "*", true},              {"x.txt", "*.tx", false},    {"x.txt.bak", "*.txt", false},
      {"aXbXc", "a*b*c", true},     {"abcbd", "a*b?", true},     {"\xE9.txt", "\xC9.txt", false},
      {"\xE9.txt", "?.txt", true},  {"report.html", "*.htm", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchesWildcard(c.Name, c.Pattern), c.Matches) << c.Name << " ~ " << c.Pattern;
}

TEST(DateTime, EncodeDecodeRoundTripsAndKnownDays) {
  EXPECT_EQ(DaysFromCivil(1899, 12, 30), 0);
  EXPECT_EQ(DaysFromCivil(1900, 1, 1), 2);
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 25569);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1), 36586);
  const TDateTimeParts p{2024, 2, 29, 23, 59, 58, 500};
  const TDateTimeParts q = DecodeDateTime(EncodeDateTime(p));
  EXPECT_EQ(std::tie(q.Year, q.Month, q.Day, q.Hour, q.Minute, q.Second, q.MilliSecond),
            std::tie(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.MilliSecond));
  // Just before midnight rounds into the next day, never to 24:00.
  const TDateTimeParts r = DecodeDateTime(DaysFromCivil(2024, 1, 1) - 0.0000000001);
  EXPECT_EQ(std::tie(r.Year, r.Month, r.Day, r.Hour), std::make_tuple(2024, 1, 1, 0));
}

TEST(DateTime, FormatPatterns) {
  const TDateTime t = EncodeDateTime({2024, 3, 5, 14, 7, 9, 45});
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:mm", t), "2024-03-05 14:07");
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss", t), "2024/03/05 14:07:09");
  EXPECT_EQ(FormatDateTime("zzz", t), "045");
  EXPECT_EQ(FormatDateTime("dd.mm.yy", t), "05.03.24");
}

TEST(FileTimes, LocalTimeRoundedDownToTwoSeconds) {
#ifdef _WIN32
  GTEST_SKIP() << "the time zone comes from the system's settings here, not from TZ; see Win32Platform tests";
#else
  setenv("TZ", "UTC0", 1);
  tzset();
  const TDateTime odd = UnixTimeToLocal(1700000001, true);
  const TDateTime even = UnixTimeToLocal(1700000000, true);
  EXPECT_EQ(odd, even);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", even), "2023-11-14 22:13:20");
  EXPECT_NE(UnixTimeToLocal(1700000001, false), even);
#endif
}

TEST(FolderOf, ParentFolderOrRoot) {
#ifdef _WIN32
  GTEST_SKIP() << "paths with drive letters and backslashes here; see Win32Platform tests";
#else
  const struct {
    const char* In;
    const char* Out;
  } cases[] = {{"/a/b.txt", "/a"}, {"/b.txt", "/"}, {"b.txt", "."}, {"a/b/", "a/b"}, {"/", "/"}};
  for (const auto& c : cases) EXPECT_EQ(FolderOf(c.In), c.Out) << c.In;
#endif
}

TEST(CanonicalizePath, TextOnlyResolution) {
#ifdef _WIN32
  GTEST_SKIP() << "paths with drive letters and backslashes here; see Win32Platform tests";
#else
  const struct {
    const char* In;
    const char* Out;  // nullptr: refused
  } cases[] = {
      {"/a/b/../c", "/a/c"}, {"/a/./b", "/a/b"}, {"/a//b", "/a/b"}, {"/", "/"},
      {"/..", nullptr},      {"a/../..", ".."}, {"a/b/..", "a"},  {"/a/b/", "/a/b/"},
  };
  for (const auto& c : cases) {
    std::string out;
    const bool ok = CanonicalizePath(c.In, out);
    if (!c.Out) {
      EXPECT_FALSE(ok) << c.In;
    } else {
      EXPECT_TRUE(ok) << c.In;
      EXPECT_EQ(out, c.Out) << c.In;
    }
  }
  std::string out;
  EXPECT_FALSE(CanonicalizePath("/" + std::string(5000, 'x'), out));
#endif
}

TEST(ListDirectory, KindsOfEntries) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs, and hidden names, are of POSIX systems; see Win32Platform tests";
#else
  TTempDir dir;
  dir.Write("file.txt", "x");
  dir.MakeDir("sub");
  dir.Write(".hidden", "x");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink((dir / "file.txt").c_str(), (dir / "tofile").c_str()), 0);
  ASSERT_EQ(symlink((dir / "sub").c_str(), (dir / "todir").c_str()), 0);
  ASSERT_EQ(symlink((dir / "missing").c_str(), (dir / "dangling").c_str()), 0);
  // By path, and from an open folder handle (listed twice: each listing starts afresh).
  std::vector<TDirName> byPath, byHandle, again;
  ASSERT_TRUE(ListDirectory(dir.Path(), byPath));
  TDirHandle handle;
  std::string error;
  ASSERT_TRUE(handle.Open(dir.Path(), error)) << error;
  ASSERT_TRUE(handle.List(byHandle, error)) << error;
  ASSERT_TRUE(handle.List(again, error)) << error;
  for (std::vector<TDirName>* names : {&byPath, &byHandle, &again}) {
    std::sort(names->begin(), names->end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
    std::vector<std::tuple<std::string, TEntryKind, bool>> got;
    for (const auto& n : *names) got.emplace_back(n.Name, n.Kind, n.ViaLink);
    EXPECT_EQ(got, (std::vector<std::tuple<std::string, TEntryKind, bool>>{
                       {".hidden", TEntryKind::File, false},
                       {"dangling", TEntryKind::Other, true},
                       {"fifo", TEntryKind::Other, false},
                       {"file.txt", TEntryKind::File, false},
                       {"sub", TEntryKind::Directory, false},
                       {"todir", TEntryKind::Other, true},
                       {"tofile", TEntryKind::File, true},
                   }));
  }
  EXPECT_TRUE(IsHiddenName(".hidden"));
  EXPECT_FALSE(IsHiddenName("a.b"));
  std::vector<TDirName> none;
  EXPECT_FALSE(ListDirectory(dir / "nope", none));
#endif
}

TEST(DirHandle, ShortReadsEndFilesOnlyOnDiskFileSystems) {
#ifdef _WIN32
  GTEST_SKIP() << "reads here are always read to the end";
#else
  // The system's pseudo files are made as they are read: a short read is no end there.
  for (const char* pseudo : {"/proc", "/sys"}) {
    TDirHandle handle;
    std::string error;
    if (!handle.Open(pseudo, error)) continue;
    EXPECT_FALSE(handle.ShortReadsEndFiles()) << pseudo;
  }
  TTempDir dir;
  TDirHandle handle;
  std::string error;
  ASSERT_TRUE(handle.Open(dir.Path(), error)) << error;
  struct statfs fs;
  ASSERT_EQ(statfs(dir.Path().c_str(), &fs), 0);
  if (fs.f_type == 0xEF53 || fs.f_type == 0x01021994) {  // ext4, tmpfs
    EXPECT_TRUE(handle.ShortReadsEndFiles());
  }
#endif
}

TEST(ReadOnlyFile, OpensRegularFilesOnlyAndNeverBlocks) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs are of POSIX systems; see Win32Platform tests";
#else
  TTempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  TReadOnlyFile f;
  std::string error;
  EXPECT_FALSE(f.Open(dir / "fifo", error));  // would block forever without O_NONBLOCK
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(f.Open(dir.Path(), error));
  ASSERT_TRUE(f.Open(dir.Write("a.txt", "hello"), error));
  char buf[16] = {};
  EXPECT_EQ(f.Size(), 5);
  EXPECT_EQ(f.ReadFull(buf, 5, error), 5);
  EXPECT_EQ(std::string(buf), "hello");
  EXPECT_EQ(f.ReadFull(buf, 5, error), 0);
#endif
}

TEST(Folders, TempDirectoryAndExistence) {
#ifdef _WIN32
  GTEST_SKIP() << "the temporary folder comes from TMP and TEMP here; see Win32Platform tests";
#else
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(TempDirectory(), "/var/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(TempDirectory(), "/tmp/");
  if (old) setenv("TMPDIR", saved.c_str(), 1);
  TTempDir dir;
  const std::string file = dir.Write("f", "x");
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_FALSE(DirectoryExists(""));
#endif
}

TEST(Process, ArgumentsVersionAndName) {
  const char* argv[] = {"/usr/bin/trawlex", "-t", "x"};
  const TProcessArguments read = ReadProcessArguments(3, argv);
  EXPECT_EQ(read.Params, (std::vector<std::string>{"-t", "x"}));
  EXPECT_EQ(read.ProgramName, "trawlex");
  EXPECT_TRUE(FileVersion("/bin/sh").empty());
}

// Buffered text first, then the spans in order: empty ones, and more than one system call
// takes.
TEST(WriteGathered, KeepsOrderAfterBufferedText) {
  for (const size_t count : {size_t{0}, size_t{1}, size_t{3000}}) {
    std::vector<std::string> texts;
    for (size_t i = 0; i < count; ++i) texts.push_back(i % 7 == 0 ? std::string() : std::to_string(i) + std::string(i % 300, 'x'));
    std::vector<TByteSpan> spans;
    std::string expected = "head\n";
    for (const std::string& t : texts) {
      spans.push_back({t.data(), t.size()});
      expected += t;
    }
    std::FILE* file = std::tmpfile();
    ASSERT_TRUE(file);
    WidenPipe(file, size_t{1} << 20);  // not a pipe: nothing changes
    std::fputs("head\n", file);
    EXPECT_TRUE(WriteGathered(file, spans));
    std::string got(expected.size() + 1, '\0');
    std::rewind(file);
    got.resize(std::fread(got.data(), 1, got.size(), file));
    std::fclose(file);
    EXPECT_EQ(got, expected) << count;
  }
}

TEST(ReadOnlyFile, OpeningThroughTheFolderCacheIsOpeningByPath) {
  TTempDir dir;
  dir.Write("a/one.txt", "one");
  dir.Write("a/two.txt", "two");
  dir.Write("b/three.txt", "three");
  dir.MakeDir("a/sub");
  TFolderCache folders;
  // In the order a search meets them: the same folder twice, another, back, and failures.
  for (const char* name : {"a/one.txt", "a/two.txt", "b/three.txt", "a/missing.txt", "a/one.txt", "c/none.txt",
                           "a/sub", "b/three.txt"}) {
    SCOPED_TRACE(name);
    // One after the other: a file open for reading is open to nobody else on some systems.
    struct TOutcome {
      bool Opened = false;
      std::string Error, Bytes = std::string(16, '\0');
      int64_t Read = 0;
      bool Examined = false;
      bool operator==(const TOutcome&) const = default;
    };
    const auto open = [&](TFolderCache* cache) {
      TOutcome o;
      TReadOnlyFile file;
      o.Opened = file.OpenUnexamined(dir / name, o.Error, cache);
      if (!o.Opened) return o;
      o.Read = file.ReadSome(o.Bytes.data(), o.Bytes.size(), o.Error);
      o.Examined = file.Examine(o.Error);
      return o;
    };
    const TOutcome byPath = open(nullptr), cached = open(&folders);
    EXPECT_TRUE(cached == byPath) << cached.Error << " / " << byPath.Error;
  }
}

TEST(ReadAhead, AsksOnlyForRegularFilesAndBringsThemIntoTheCache) {
#ifdef _WIN32
  GTEST_SKIP() << "nothing is read ahead here";
#else
  TTempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const struct {
    std::string Path;
    int64_t Size;  // what AdviseWillRead gives
  } cases[] = {
      {dir.Write("a.txt", "hello"), 5}, {dir.Write("empty.txt", ""), 0}, {dir / "fifo", -1},  // never blocks
      {dir.Path(), -1},                 {dir / "missing.txt", -1},
  };
  TFolderCache folders;
  for (const auto& c : cases) {
    EXPECT_EQ(AdviseWillRead(c.Path, 1 << 20), c.Size) << c.Path;
    EXPECT_EQ(AdviseWillRead(c.Path, 1 << 20, &folders), c.Size) << c.Path;
  }

  // A file pushed out of the cache comes back after the advice alone, read by this thread.
  const std::string big = dir.Write("big.bin", std::string(size_t{4} << 20, 'x'));
  const int fd = ::open(big.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fdatasync(fd), 0);
  ASSERT_EQ(posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
  void* map = mmap(nullptr, size_t{4} << 20, PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED);
  const size_t pages = (size_t{4} << 20) / static_cast<size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident(pages);
  auto residentPages = [&] {
    EXPECT_EQ(mincore(map, size_t{4} << 20, resident.data()), 0);
    return std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; });
  };
  if (residentPages() > 0) {
    munmap(map, size_t{4} << 20);
    ::close(fd);
    GTEST_SKIP() << "the temporary folder keeps its files in memory";
  }
  const int64_t before = StorageBytesRead(), ownBefore = StorageBytesRead(true);
  ASSERT_GE(before, 0);
  ASSERT_GE(ownBefore, 0);
  EXPECT_EQ(AdviseWillRead(big, 2 << 20, &folders), int64_t{4} << 20);
  EXPECT_GT(StorageBytesRead(true), ownBefore);  // asked for by this thread
  EXPECT_GE(StorageBytesRead(), StorageBytesRead(true) - ownBefore + before);
  // The reads run on their own; what was asked for arrives, and not the whole file.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (residentPages() < static_cast<std::ptrdiff_t>(pages / 2) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_GE(residentPages(), static_cast<std::ptrdiff_t>(pages / 2));
  EXPECT_LT(residentPages(), static_cast<std::ptrdiff_t>(pages));
  munmap(map, size_t{4} << 20);
  ::close(fd);
#endif
}
