// The platform layer on Windows (run under Wine here): attribute filter, exclusive reading,
// file times, paths, replacement that keeps attributes, locks.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <thread>

#include "platform/DurableFile.h"
#include "platform/FileReplace.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "support/Win32TestSupport.h"

using namespace trawlex;
using trawlex::test::TTempDir;
using trawlex::test::W;

namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesW(W(path).c_str()); }

}  // namespace

TEST(Win32Listing, LeavesOutHiddenAndSystemEntriesAndKeepsWideNames) {
  TTempDir dir;
  dir.Write("plain.txt", "x");
  dir.Write("\xCE\xA9\xCE\xB4\xCE\xAE.txt", "x");  // Greek: outside the ANSI code page
  dir.MakeDir("sub");
  SetFileAttributesW(W(dir.Write("hidden.txt", "x")).c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW(W(dir.Write("system.txt", "x")).c_str(), FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesW(W(dir.MakeDir("hiddendir")).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
  TDirHandle handle;
  std::string error;
  ASSERT_TRUE(handle.Open(dir.Path(), error)) << error;
  std::vector<TDirName> names;
  ASSERT_TRUE(handle.List(names, error)) << error;
  std::vector<std::pair<std::string, TEntryKind>> got;
  for (const auto& n : names) got.emplace_back(n.Name, n.Kind);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::pair<std::string, TEntryKind>>{{"plain.txt", TEntryKind::File},
                                                                  {"sub", TEntryKind::Directory},
                                                                  {"\xCE\xA9\xCE\xB4\xCE\xAE.txt", TEntryKind::File}}));
  TDirHandle child, back;
  ASSERT_TRUE(child.OpenChild(handle, "sub", error)) << error;
  ASSERT_TRUE(back.OpenChild(child, "..", error)) << error;
  EXPECT_TRUE(back.SameFolder(handle));
  EXPECT_FALSE(child.SameFolder(handle));
  EXPECT_FALSE(child.OpenChild(handle, "missing", error));
  EXPECT_FALSE(error.empty());
}

TEST(Win32ReadOnlyFile, KeepsOthersOutWhileReading) {
  TTempDir dir;
  const std::string path = dir.Write("\xCF\x88.txt", "hello");
  TReadOnlyFile f;
  std::string error;
  ASSERT_TRUE(f.Open(path, error)) << error;
  // Share mode 0: neither a reader nor a writer gets in meanwhile.
  for (DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
    const HANDLE other = CreateFileW(W(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE) << access;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  }
  char buf[8] = {};
  EXPECT_EQ(f.ReadFullAt(buf, 8, 1, error), 4);
  EXPECT_EQ(std::string(buf), "ello");
  f.Close();
  EXPECT_FALSE(f.Open(dir.Path(), error));
  EXPECT_EQ(error, "It is a directory");
}

TEST(Win32FileTimes, LastWriteIsLocalAndRoundedDownToTwoSeconds) {
  TTempDir dir;
  const std::string path = dir.Write("t.txt", "x");
  // 2023-11-14 22:13:21.5 UTC: an odd second with a fraction.
  const int64_t ticks = (int64_t{1700000001} * 10000000) + 5000000 + 116444736000000000LL;
  const FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  const HANDLE h = CreateFileW(W(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
  CloseHandle(h);
  TFileInfo info;
  ASSERT_TRUE(GetFileInfo(path, info));
  EXPECT_EQ(info.ModifiedNs, int64_t{1700000001500000000});
  SYSTEMTIME utc, local;
  FileTimeToSystemTime(&ft, &utc);
  SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  const TDateTimeParts p = DecodeDateTime(info.LastWrite());
  const std::vector<int> want = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond & ~1, 0};
  EXPECT_EQ((std::vector<int>{p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.MilliSecond}), want);
}

TEST(Win32Paths, FolderOfKeepsTheRootsDelimiter) {
  const struct {
    const char* In;
    const char* Out;
  } cases[] = {{"C:\\a\\b.txt", "C:\\a"}, {"C:\\b.txt", "C:\\"}, {"C:/b.txt", "C:/"},
               {"\\b.txt", "\\"},        {"b.txt", "."},         {"\\\\srv\\share\\b.txt", "\\\\srv\\share"}};
  for (const auto& c : cases) EXPECT_EQ(FolderOf(c.In), c.Out) << c.In;
}

TEST(Win32Paths, CanonicalFormsOfDrivesAndShares) {
  const struct {
    std::string In;
    const char* Out;  // nullptr: refused
  } cases[] = {
      {"C:\\a\\.\\b\\..\\c", "C:\\a\\c"}, {"C:/a//b", "C:\\a\\b"},     {"C:\\..", nullptr},
      {"C:\\a\\b\\", "C:\\a\\b\\"},       {"C:\\", "C:\\"},            {"a\\..\\..", ".."},
      {"\\\\srv\\share\\a\\..\\b", "\\\\srv\\share\\b"},               {"\\\\srv\\share\\..", nullptr},
      {"C:\\" + std::string(300, 'x'), nullptr},
  };
  for (const auto& c : cases) {
    std::string out;
    const bool ok = CanonicalizePath(c.In, out);
    EXPECT_EQ(ok, c.Out != nullptr) << c.In;
    if (ok && c.Out) {
      EXPECT_EQ(out, c.Out) << c.In;
    }
  }
  TTempDir dir;
  dir.MakeDir("sub");
  std::string resolved, error;
  ASSERT_TRUE(ResolvePath(dir / "sub/../sub", resolved, error)) << error;
  EXPECT_EQ(resolved, ResolvedPath(dir / "sub"));
  EXPECT_FALSE(ResolvePath(dir / "missing", resolved, error));
  const std::string temp = TempDirectory();
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_TRUE(DirectoryExists(temp));
  std::string fs, label;
  EXPECT_TRUE(QueryVolume(dir.Path(), fs, label));
  EXPECT_FALSE(fs.empty());
  EXPECT_LE(fs.size(), 20u);
}

TEST(Win32Process, OwnArgumentsFromTheWideCommandLineOthersAsGiven) {
  const char* argv[] = {"C:\\bin\\trawlex.exe", "-t", "\xCE\xA9"};
  const TProcessArguments given = ReadProcessArguments(3, argv);
  EXPECT_EQ(given.Params, (std::vector<std::string>{"-t", "\xCE\xA9"}));
  EXPECT_EQ(given.ProgramName, "trawlex.exe");
  EXPECT_EQ(ReadProcessArguments(__argc, __argv).ProgramName, "win32_platform_tests.exe");
}

TEST(Win32Replace, WholeFileKeepsAttributesAndRefusesAFolder) {
  TTempDir dir;
  const std::string path = dir.Write("settings.reg", "old");
  SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  std::string error, warning;
  ASSERT_TRUE(ReplaceFileContent(path, "new content", error, warning)) << error;
  EXPECT_EQ(test::ReadAll(path), "new content");
  EXPECT_TRUE(Attributes(path) & FILE_ATTRIBUTE_HIDDEN);
  const std::string fresh = dir / "fresh.reg";
  ASSERT_TRUE(ReplaceFileContent(fresh, "x", error, warning)) << error;
  EXPECT_FALSE(Attributes(fresh) & FILE_ATTRIBUTE_HIDDEN);  // the temporary file's attribute does not stay
  EXPECT_FALSE(ReplaceFileContent(dir.MakeDir("folder"), "x", error, warning));
  std::vector<TDirName> names;
  ASSERT_TRUE(ListDirectory(dir.Path(), names));
  EXPECT_EQ(names.size(), 2u);  // fresh.reg and folder (settings.reg is hidden); no temporary file left
  std::string reason;
  EXPECT_EQ(ProbeFileUse(dir / "missing", reason), TFileUse::Missing);
  SetFileAttributesW(W(fresh).c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(ProbeFileUse(fresh, reason), TFileUse::ReadOnly);
  SetFileAttributesW(W(fresh).c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_FALSE(RenameNoReplace(fresh, path, error));
  EXPECT_EQ(test::ReadAll(path), "new content");
}

TEST(Win32Lock, SecondHolderWaitsUntilTheFirstReleases) {
  TTempDir dir;
  const std::string lockPath = dir / "s.lock";
  TFileLock first, second;
  std::string error;
  ASSERT_TRUE(first.Acquire(lockPath, 1000, error)) << error;
  EXPECT_FALSE(second.Acquire(lockPath, 100, error));
  EXPECT_TRUE(second.TimedOut());
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    first.Release();
  });
  EXPECT_TRUE(second.Acquire(lockPath, 5000, error)) << error;
  release.join();
  // The lock sits beyond the content: others still read the file.
  EXPECT_FALSE(test::ReadAll(lockPath).empty());
}

TEST(Win32Rewriter, ReplacesKeepingAttributesAndRefusesAFileChangedMeanwhile) {
  TTempDir dir;
  const std::string path = dir.Write("a.txt", "foo bar");
  SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
  {
    TFileRewriter w;
    ASSERT_TRUE(w.Open(path)) << w.Error();
    EXPECT_EQ(w.Mode(), TRewriteMode::Rename);
    std::string content;
    ASSERT_TRUE(w.ReadContent(content));
    EXPECT_EQ(content, "foo bar");
    ASSERT_TRUE(w.CheckWritable()) << w.Error();
    ASSERT_TRUE(w.BeginWrite()) << w.Error();
    ASSERT_TRUE(w.Write("X bar", 5));
    ASSERT_TRUE(w.Commit()) << w.Error();
  }
  EXPECT_EQ(test::ReadAll(path), "X bar");
  EXPECT_TRUE(Attributes(path) & FILE_ATTRIBUTE_HIDDEN);

  // A file another program writes to between reading and writing is left alone. (This
  // system keeps a file that is open from being replaced by another.)
  {
    TFileRewriter w;
    ASSERT_TRUE(w.Open(path)) << w.Error();
    ASSERT_TRUE(w.BeginWrite());
    ASSERT_TRUE(w.Write("Y", 1));
    const HANDLE other = CreateFileW(W(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    ASSERT_TRUE(WriteFile(other, "someone else's", 14, &wrote, nullptr));
    CloseHandle(other);
    EXPECT_FALSE(w.Commit());
    EXPECT_EQ(w.Error(), "The file changed while it was being replaced, so it was not changed");
  }
  EXPECT_EQ(test::ReadAll(path), "someone else's");

  // A read-only file is refused; a file with two names is written in place, so both see it.
  SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_READONLY);
  {
    TFileRewriter w;
    ASSERT_TRUE(w.Open(path));
    EXPECT_FALSE(w.CheckWritable());
  }
  SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  const std::string second = dir / "second-name.txt";
  if (!CreateHardLinkW(W(second).c_str(), W(path).c_str(), nullptr)) GTEST_SKIP() << "no hard links on this file system";
  TFileRewriter w;
  ASSERT_TRUE(w.Open(path)) << w.Error();
  EXPECT_EQ(w.Mode(), TRewriteMode::InPlace);
  std::string old;
  ASSERT_TRUE(w.ReadContent(old));
  ASSERT_TRUE(w.CommitInPlace(old, "both")) << w.Error();
  EXPECT_EQ(test::ReadAll(second), "both");
  EXPECT_TRUE(w.LeftBackup().empty());
}
