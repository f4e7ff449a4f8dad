#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>

#include "config/ConfigTestUtil.h"
#include "platform/DurableFile.h"

namespace trawlex {
namespace {

using testing::ReadFileBytes;
using testing::TTempDir;
using testing::WriteFileBytes;

TEST(DurableFile, ReplacesContentAndKeepsPermissionBits) {
  TTempDir dir;
  const std::string f = dir / "a.txt";
  std::string error;
  ASSERT_TRUE(ReplaceFileContent(f, "first", error)) << error;  // a new file
  EXPECT_EQ("first", ReadFileBytes(f));
  chmod(f.c_str(), 0640);
  const std::string big(1 << 20, 'z');
  ASSERT_TRUE(ReplaceFileContent(f, big, error)) << error;
  EXPECT_EQ(big, ReadFileBytes(f));
  struct stat st;
  ASSERT_EQ(0, stat(f.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  ASSERT_TRUE(ReplaceFileContent(f, "", error)) << error;
  EXPECT_EQ("", ReadFileBytes(f));
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir.Path), {}));
  if (geteuid() != 0) return;
  // Root (sudo keeps HOME) writing a user's file and lock file leaves both the user's.
  ASSERT_EQ(0, chown(dir.Path.c_str(), 65534, 65534));
  ASSERT_EQ(0, chown(f.c_str(), 65534, 65534));
  ASSERT_TRUE(ReplaceFileContent(f, "by root", error)) << error;
  TFileLock lock;
  ASSERT_TRUE(lock.Acquire(dir / "a.txt.lock", 1000, error)) << error;
  for (const std::string& path : {f, dir / "a.txt.lock"}) {
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(65534u, st.st_uid) << path;
    EXPECT_EQ(65534u, st.st_gid) << path;
  }
}

TEST(DurableFile, WritesThroughChainsOfLinks) {
  TTempDir dir;
  std::filesystem::create_directory(dir / "real");
  std::filesystem::create_symlink(dir / "real/target", dir / "link1");
  std::filesystem::create_symlink("link1", dir / "link2");
  std::string error, resolved;
  ASSERT_TRUE(ResolveLinks(dir / "link2", resolved, error)) << error;
  EXPECT_EQ(dir / "real/target", resolved);
  ASSERT_TRUE(ReplaceFileContent(dir / "link2", "through", error)) << error;
  EXPECT_EQ("through", ReadFileBytes(dir / "real/target"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link2"));
  std::filesystem::create_symlink("loop", dir / "loop");
  EXPECT_FALSE(ReplaceFileContent(dir / "loop", "x", error));
}

TEST(DurableFile, FailuresLeaveNothingBehind) {
  TTempDir dir;
  std::string error;
  EXPECT_FALSE(ReplaceFileContent(dir / "missing/a", "x", error));
  EXPECT_FALSE(error.empty());
  std::filesystem::create_directory(dir / "folder");
  EXPECT_FALSE(ReplaceFileContent(dir / "folder", "x", error));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
  // A read-only file in a writable folder (an old report the user protected).
  WriteFileBytes(dir / "kept.txt", "old");
  chmod((dir / "kept.txt").c_str(), 0444);
  EXPECT_FALSE(ReplaceFileContent(dir / "kept.txt", "new", error));
  EXPECT_EQ("Permission denied", error);
  EXPECT_EQ("old", ReadFileBytes(dir / "kept.txt"));
  EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir.Path), {}));
}

TEST(DurableFile, RenameNoReplaceKeepsAnExistingTarget) {
  TTempDir dir;
  WriteFileBytes(dir / "a", "A");
  WriteFileBytes(dir / "b", "B");
  std::string error;
  EXPECT_FALSE(RenameNoReplace(dir / "a", dir / "b", error));
  EXPECT_EQ("B", ReadFileBytes(dir / "b"));
  EXPECT_TRUE(RenameNoReplace(dir / "a", dir / "c", error)) << error;
  EXPECT_EQ("A", ReadFileBytes(dir / "c"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a"));
}

TEST(FileLock, ExcludesOthersUntilReleasedAndTimesOut) {
  TTempDir dir;
  const std::string lockPath = dir / "x.lock";
  std::string error;
  TFileLock a, b;
  ASSERT_TRUE(a.Acquire(lockPath, 1000, error)) << error;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(b.Acquire(lockPath, 150, error));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::seconds(5));
  a.Release();
  EXPECT_TRUE(b.Acquire(lockPath, 1000, error)) << error;
}

TEST(FileLock, LockOfADeadProcessIsTakenOver) {
  TTempDir dir;
  const std::string lockPath = dir / "x.lock";
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  const pid_t pid = fork();
  if (pid == 0) {
    TFileLock held;
    std::string e;
    const char ok = held.Acquire(lockPath, 1000, e) ? '1' : '0';
    (void)!write(ready[1], &ok, 1);
    pause();  // killed while holding the lock
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(1, read(ready[0], &ok, 1));
  ASSERT_EQ('1', ok);
  std::string error;
  TFileLock mine;
  EXPECT_FALSE(mine.Acquire(lockPath, 50, error));  // alive: still held
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(mine.Acquire(lockPath, 2000, error)) << error;
  EXPECT_EQ(std::to_string(getpid()) + "\n", ReadFileBytes(lockPath));
  close(ready[0]);
  close(ready[1]);
}

TEST(FileLock, LockInAFolderThatCannotHoldItFails) {
  TTempDir dir;
  TFileLock lock;
  std::string error;
  EXPECT_FALSE(lock.Acquire(dir / "missing/x.lock", 100, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(lock.Held());
}

}  // namespace
}  // namespace trawlex
