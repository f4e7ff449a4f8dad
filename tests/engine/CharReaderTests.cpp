#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "base/Errors.h"
#include "engine/CharReader.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::TTempDir;

static std::string Message(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const ETrawlexError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(CharReader, EmptyFile) {
  TTempDir dir;
  TCharReader r;
  r.Load(dir.Write("e.txt", ""));
  EXPECT_EQ(r.Size(), 0);
  EXPECT_EQ(r.GetCharSafe(0), 0);
  EXPECT_EQ(r.ReadLine(0), "");
  EXPECT_EQ(Message([&] { r.TempPtr(0, 1); }),
            "TCharReader.TempPtr: Invalid read of " + dir / "e.txt" + " Filesize 0; required 0");
}

TEST(CharReader, ReadLineStopsAtEitherBreak) {
  TCharReader r;
  r.LoadFromBytes("ab\r\ncd", "x");
  const std::pair<int, const char*> cases[] = {{0, "ab"}, {1, "b"}, {2, ""}, {3, ""}, {4, "cd"}, {6, ""}, {99, ""}, {-1, ""}};
  for (const auto& [start, line] : cases) EXPECT_EQ(r.ReadLine(start), line) << start;
}

TEST(CharReader, RangeChecks) {
  TCharReader r;
  r.LoadFromBytes(std::string(100, 'x'), "a.txt");
  EXPECT_EQ(r.GetCharSafe(-1), 0);
  EXPECT_EQ(r.GetCharSafe(100), 0);
  EXPECT_EQ(r.TempPtr(99, 1), "x");
  EXPECT_EQ(Message([&] { r.TempPtr(99, 2); }), "TCharReader.TempPtr: Invalid read of a.txt Filesize 100; required 100");
  EXPECT_EQ(Message([&] { r.TempPtr(95, 10); }), "TCharReader.TempPtr: Invalid read of a.txt Filesize 100; required 104");
  // A zero-length view checks start and start - 1.
  EXPECT_EQ(r.TempPtr(5, 0), "");
  EXPECT_NE(Message([&] { r.TempPtr(0, 0); }), "(no error)");
  EXPECT_NE(Message([&] { r.TempPtr(100, 0); }), "(no error)");
}

TEST(CharReader, ZeroAndHighBytesLoadWhole) {
  TTempDir dir;
  const std::string bytes("a\0b\xff\x80\0", 6);
  TCharReader r;
  r.Load(dir.Write("z.bin", bytes));
  ASSERT_EQ(r.Size(), 6);
  EXPECT_EQ(std::string(r.TempPtr(0, 6)), bytes);
  EXPECT_EQ(r.GetChar(3), 0xFF);
}

TEST(CharReader, ReloadReplacesContentAndFailedLoadKeepsIt) {
  TTempDir dir;
  TCharReader r;
  r.Load(dir.Write("long.txt", "a much longer first file"));
  r.Load(dir.Write("short.txt", "tiny"));
  EXPECT_EQ(r.Size(), 4);
  EXPECT_EQ(r.GetCharSafe(4), 0);
  const std::string missing = dir / "missing.txt";
  EXPECT_EQ(Message([&] { r.Load(missing); }),
            "Cannot open file \"" + missing + "\". " + test::NoSuchFileText());
  EXPECT_EQ(r.FileName, missing);
  EXPECT_EQ(std::string(r.TempPtr(0, 4)), "tiny");
}

TEST(CharReader, RefusesWhatIsNotARegularFileWithoutBlocking) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs are of POSIX systems";
#else
  TTempDir dir;
  const std::string fifo = dir / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  TCharReader r;
  const std::string msg = Message([&] { r.Load(fifo); });
  EXPECT_EQ(msg.rfind("Cannot open file \"" + fifo + "\". ", 0), 0u) << msg;
  EXPECT_NE(Message([&] { r.Load(dir.Path()); }), "(no error)");
#endif
}

TEST(CharReader, WriteRangeCopiesExactBytes) {
  struct TSink : IByteSink {
    std::string Got;
    void Write(const unsigned char* d, size_t n) override { Got.append(reinterpret_cast<const char*>(d), n); }
  } sink;
  TCharReader r;
  r.LoadFromBytes("0123456789", "f");
  r.WriteRange(2, 3, sink);
  EXPECT_EQ(sink.Got, "234");
  EXPECT_THROW(r.WriteRange(8, 3, sink), ETrawlexError);
  EXPECT_EQ(sink.Got, "234");
}

TEST(CharReader, PseudoFileReportingNoSizeIsReadToItsEnd) {
#ifdef _WIN32
  GTEST_SKIP() << "/proc is of Linux";
#else
  TCharReader r;
  r.Load("/proc/self/status");  // its size says 0
  ASSERT_GT(r.Size(), 0);
  EXPECT_EQ(r.TempPtr(0, 5), "Name:");
  EXPECT_NE(std::string(r.TempPtr(0, r.Size())).find("\nPid:"), std::string::npos);
#endif
}

TEST(CharReader, OutOfMemoryLeavesTheReaderEmpty) {
#ifdef _WIN32
  GTEST_SKIP() << "needs fork and an address-space limit (POSIX)";
#else
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocators end the process instead of failing an allocation";
#else
  // In a child process with little address space, so that the allocation really fails.
  const pid_t pid = fork();
  if (pid == 0) {
    TCharReader r;
    r.LoadFromBytes("hello", "small");
    const rlimit limit{size_t{512} << 20, size_t{512} << 20};
    setrlimit(RLIMIT_AS, &limit);
    static const char small[1] = {};
    const std::string message = Message([&] { r.LoadFromBytes(std::string_view(small, size_t{1} << 30), "big"); });
    _exit(message == "Out of memory" && r.Size() == 0 && r.GetCharSafe(0) == 0 && r.ReadLine(0).empty() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
#endif
}

TEST(CharReader, SearchLoadGivesTheBytesAndWhatTheSystemSaysOfThem) {
  // A search reads first and examines only a file it keeps: its bytes, size, identity and
  // times must be what a load that examines first gives, and a file that changes between
  // the read and the examination must never pass for the bytes read.
  TTempDir dir;
  std::string big(300 << 10, 'x');  // more than the first read takes
  big[(300 << 10) - 1] = 'E';
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::function<void(const std::string&)> ChangeAfterRead;  // null: left alone
    bool BytesChange = true;  // by ChangeAfterRead
  } cases[] = {
      {"small", "one\ntwo\n", nullptr},
      {"empty", "", nullptr},
      {"big", big, nullptr},
      {"rewritten", "abcdef", [](const std::string& p) { std::ofstream(p, std::ios::binary | std::ios::trunc) << "ABCDEF"; }},
      {"appended", "abc", [](const std::string& p) { std::ofstream(p, std::ios::binary | std::ios::app) << "d"; }},
      // The bytes read are still the file's: its new change time is theirs.
      {"touched", "abc", [](const std::string& p) { EXPECT_EQ(chmod(p.c_str(), 0600), 0); }, false},
  };
  for (const TCase& c : cases)
  for (const bool shortReadsEnd : {false, true}) {
    SCOPED_TRACE(std::string(c.Name) + (shortReadsEnd ? ", short reads end" : ""));
    const std::string path = dir.Write(c.Name, c.Bytes);
    TCharReader eager, lazy;
    eager.Load(path);
    ASSERT_TRUE(lazy.LoadForSearch(path, int64_t{1} << 30, shortReadsEnd));
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(lazy.Data()), static_cast<size_t>(lazy.Size())), c.Bytes);
    if (c.ChangeAfterRead) c.ChangeAfterRead(path);
    const TFileInfo want = eager.LoadedInfo(), got = lazy.LoadedInfo();
    EXPECT_EQ(got.Size, static_cast<int64_t>(c.Bytes.size()));
    EXPECT_EQ(got.Device, want.Device);
    EXPECT_EQ(got.Inode, want.Inode);
#ifdef _WIN32
    const bool examinedOnOpen = true;  // the system examines every open here
#else
    const bool examinedOnOpen = false;
#endif
    TFileInfo now;
    ASSERT_TRUE(GetFileInfo(path, now));
    if (c.ChangeAfterRead && !examinedOnOpen) {
      EXPECT_EQ(got.ChangeNs, c.BytesChange ? TCharReader::ChangedWhileRead : now.ChangeNs);
    } else {
      EXPECT_EQ(got.ChangeNs, want.ChangeNs);
      EXPECT_EQ(got.ModifiedNs, want.ModifiedNs);
    }
  }
}

TEST(CharReader, SearchLoadOfAFileChangedLongAgoTrustsItsChangeTime) {
  TTempDir dir;
  const std::string path = dir.Write("old.txt", "old bytes");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // older than the margin
  TCharReader eager, lazy;
  eager.Load(path);
  ASSERT_TRUE(lazy.LoadForSearch(path, 100));
  EXPECT_EQ(lazy.LoadedInfo().ChangeNs, eager.LoadedInfo().ChangeNs);
  EXPECT_EQ(lazy.LoadedInfo().ModifiedNs, eager.LoadedInfo().ModifiedNs);
}

TEST(CharReader, SearchLoadRefusesWhatLoadRefuses) {
  TTempDir dir;
  const std::string path = dir.Write("big.txt", std::string(200 << 10, 'b'));
  TCharReader r;
  EXPECT_FALSE(r.LoadForSearch(path, 100 << 10));
  EXPECT_EQ(r.Size(), 0);
  EXPECT_EQ(Message([&] { r.LoadForSearch(dir.Path(), 100); }),
            "Cannot open file \"" + dir.Path() + "\". It is a directory");
#ifndef _WIN32
  EXPECT_EQ(Message([&] { r.LoadForSearch("/dev/null", 100); }), "Cannot open file \"/dev/null\". It is not a regular file");
  ASSERT_TRUE(r.LoadForSearch("/proc/self/status", 1 << 20));  // its size says 0
  EXPECT_NE(std::string(r.TempPtr(0, r.Size())).find("\nPid:"), std::string::npos);
#endif
}
