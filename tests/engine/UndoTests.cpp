// Undo of a replace: the journal gives back the exact old bytes, refuses files changed since,
// survives kill -9, copies back what an interrupted in-place rewrite left, and is pruned.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/file.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "app/HeadlessReplace.h"
#include "app/HeadlessUndo.h"
#include "engine/UndoJournal.h"
#include "platform/FileReplace.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::ReadAll;
using trawlex::test::TTempDir;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

extern char** environ;

namespace {

// The headless replace as a process of its own, output dropped.
pid_t SpawnReplace(const V& args) {
  std::vector<char*> argv{const_cast<char*>(TRAWLEX_REPLACE_DRIVER)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits up to a minute for `ready` while the process runs, then kills it; true when killed.
bool KillWhen(pid_t pid, const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!ready() && std::chrono::steady_clock::now() < deadline && waitpid(pid, nullptr, WNOHANG) == 0)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status);
}

std::string Slurp(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  std::fclose(f);
  return s;
}

class UndoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_STATE_HOME", (Dir / "state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Dir / "config").c_str(), 1);
    Tree = Dir.MakeDir("tree");
  }
  int Run(int (*fn)(const V&, std::FILE*, std::FILE*), const V& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = fn(args, out, err);
    Out = Slurp(out);
    Err = Slurp(err);
    return status;
  }
  int Replace(const std::string& target, const std::string& text, const V& more = {}) {
    V args{"--report", "--replace-all", text, "-t", target, "-d", Tree, "-p", "*"};
    args.insert(args.end(), more.begin(), more.end());
    return Run(RunReplaceAll, args);
  }
  int Undo() { return Run(RunUndo, {"--undo-last"}); }
  V List() {
    Run(RunUndo, {"--undo-list"});
    V lines;
    for (size_t at = 0, nl; (nl = Out.find('\n', at)) != std::string::npos; at = nl + 1) lines.push_back(Out.substr(at, nl - at));
    return lines;
  }

  // A fresh tree and undo folder for one case of a table.
  void Fresh(const std::string& name) {
    setenv("XDG_STATE_HOME", (Dir / ("state-" + name)).c_str(), 1);
    Tree = Dir.MakeDir("tree-" + name);
  }

  TTempDir Dir;
  std::string Tree, Out, Err;
};

const char* const AsNobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";

// A journal's records: where each starts, its type and the length of its content.
struct TRecord {
  size_t At;
  char Type;
  size_t Length;
};
constexpr size_t JournalHeader = 21, RecordHead = 13;

uint64_t U64At(const std::string& bytes, size_t at) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return v;
}

std::vector<TRecord> FileRecords(const std::string& bytes) {
  std::vector<TRecord> out;
  for (size_t at = JournalHeader; at + RecordHead <= bytes.size();) {
    const uint64_t length = U64At(bytes, at + 1);
    if (at + RecordHead + length + 4 > bytes.size()) break;
    if (bytes[at] == 'F') out.push_back({at, bytes[at], static_cast<size_t>(length)});
    at += RecordHead + length + 4;
  }
  return out;
}

// Gives a record whose content was changed a checksum that holds: a forged record.
void Reseal(std::string& bytes, const TRecord& r) {
  uLong c = crc32(0L, reinterpret_cast<const Bytef*>(&r.Type), 1);
  c = crc32(c, reinterpret_cast<const Bytef*>(bytes.data() + r.At + RecordHead), static_cast<uInt>(r.Length));
  for (int i = 0; i < 4; ++i) bytes[r.At + RecordHead + r.Length + i] = static_cast<char>((c >> (8 * i)) & 0xff);
}

// Where the old size of a file record is: after the path, its checksum, the name, device, inode
// and the way it was written.
size_t OldSizeAt(const std::string& bytes, const TRecord& r) {
  const size_t path = r.At + RecordHead;
  const size_t name = path + 8 + U64At(bytes, path) + 8;
  return name + 8 + U64At(bytes, name) + 8 + 8 + 1;
}

// Rewrites a journal in place (it keeps its owner and mode).
void Overwrite(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Holds the lock a rewrite takes on a file, as another running replace would.
class THeldLock {
 public:
  explicit THeldLock(const std::string& path) : Fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    EXPECT_EQ(flock(Fd, LOCK_EX), 0) << path;
  }
  ~THeldLock() { Release(); }
  void Release() {
    if (Fd >= 0) close(Fd);
    Fd = -1;
  }

 private:
  int Fd;
};

// Waits up to a minute for `ready` while the process runs; whether it came.
bool WaitUntil(pid_t pid, const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!ready() && std::chrono::steady_clock::now() < deadline && waitpid(pid, nullptr, WNOHANG) == 0)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  return ready();
}

int ExitOf(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The journal of a run of that kind with at least `files` file records, or empty.
std::string JournalWith(const std::string& kind, int files) {
  for (const TJournalInfo& info : ListJournals(DefaultUndoFolder()))
    if (info.Run.Kind == kind && info.Files >= files) return info.Path;
  return {};
}

TEST(Sha256Test, KnownDigests) {
  const std::pair<std::string, std::string> table[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [text, hex] : table) {
    EXPECT_EQ(DigestHex(Sha256(text)), hex) << text.size();
    TSha256 pieces;  // fed unevenly across block edges
    for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 97 + 1)
      pieces.Update(text.data() + at, std::min(step, text.size() - at));
    EXPECT_EQ(DigestHex(pieces.Final()), hex);
  }
}

TEST_F(UndoTest, UndoGivesBackEveryByteOfEveryKindOfFileAndCanItselfBeUndone) {
  const std::string crlf = "foo\r\nline foo\r\n\r\nfoo", nul = std::string("a\0foo\0\0b foo\n", 14), big = [] {
    std::string s;
    for (int i = 0; i < 50000; ++i) s += "row " + std::to_string(i) + " foo\n";
    return s;
  }();
  const std::string a = Dir.Write("tree/crlf.txt", crlf), b = Dir.Write("tree/nul.bin", nul);
  const std::string c = Dir.Write("tree/big.txt", big), target = Dir.Write("outside/t.txt", "foo at the target\n");
  const std::string hard = Dir.Write("tree/hard.txt", "hard foo");
  ASSERT_EQ(link(hard.c_str(), (Tree + "/hard2.txt").c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), (Tree + "/link.txt").c_str()), 0);
  struct stat st;
  ASSERT_EQ(stat(hard.c_str(), &st), 0);
  const ino_t hardInode = st.st_ino;

  ASSERT_EQ(Replace("foo", "LONGER TEXT"), 0) << Err;
  ASSERT_NE(ReadAll(a), crlf);
  ASSERT_EQ(ReadAll(hard), "hard LONGER TEXT");
  ASSERT_EQ(Undo(), 0) << Err;
  EXPECT_NE(Out.find("Finished. Restored 5 files"), std::string::npos) << Out;
  EXPECT_EQ(ReadAll(a), crlf);
  EXPECT_EQ(ReadAll(b), nul);
  EXPECT_EQ(ReadAll(c), big);
  EXPECT_EQ(ReadAll(target), "foo at the target\n");
  EXPECT_EQ(ReadAll(Tree + "/hard2.txt"), "hard foo");
  EXPECT_TRUE(fs::is_symlink(Tree + "/link.txt"));
  ASSERT_EQ(stat(hard.c_str(), &st), 0);
  EXPECT_EQ(st.st_ino, hardInode);
  EXPECT_EQ(st.st_nlink, 2u);
  for (const auto& e : fs::directory_iterator(Tree)) EXPECT_EQ(e.path().filename().string().find(".Trawlex"), std::string::npos);

  // The undo is a run of its own: undoing it gives the replaced content again.
  ASSERT_EQ(Undo(), 0) << Err;
  EXPECT_EQ(ReadAll(a), "LONGER TEXT\r\nline LONGER TEXT\r\n\r\nLONGER TEXT");
  const V list = List();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_NE(list[0].find("undo of the replace of 'foo' with 'LONGER TEXT' in 5 files"), std::string::npos) << list[0];
  EXPECT_NE(list[2].find("replace 'foo' with 'LONGER TEXT' in 5 files (" + Tree + ")"), std::string::npos) << list[2];
  // The journals hold the user's file contents: the user's alone.
  ASSERT_EQ(stat(DefaultUndoFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(UndoTest, FilesChangedSinceAreRefusedWithTheirReasonAndTheOthersRestored) {
  const std::string edited = Dir.Write("tree/edited.txt", "foo 1"), gone = Dir.Write("tree/gone.txt", "foo 2");
  const std::string swapped = Dir.Write("tree/swapped.txt", "foo 3"), kept = Dir.Write("tree/kept.txt", "foo 4");
  const std::string sameSize = Dir.Write("tree/samesize.txt", "foo 5");
  const std::string other = Dir.Write("other.txt", "X 3");
  ASSERT_EQ(Replace("foo", "X"), 0) << Err;
  Dir.Write("tree/edited.txt", "X 1 and an edit");
  Dir.Write("tree/samesize.txt", "Y 5");
  fs::remove(gone);
  fs::remove(swapped);
  ASSERT_EQ(symlink(other.c_str(), swapped.c_str()), 0);  // the same bytes, another file

  EXPECT_EQ(Undo(), 2);
  EXPECT_EQ(ReadAll(kept), "foo 4");
  EXPECT_EQ(ReadAll(edited), "X 1 and an edit");
  EXPECT_EQ(ReadAll(sameSize), "Y 5");
  EXPECT_EQ(ReadAll(other), "X 3");
  EXPECT_NE(Err.find(edited + ": The file changed since the replace, so it was not restored"), std::string::npos) << Err;
  EXPECT_NE(Err.find(sameSize + ": The file changed since the replace, so it was not restored"), std::string::npos);
  EXPECT_NE(Err.find(gone + ": The file no longer exists, so it was not restored"), std::string::npos);
  EXPECT_NE(Err.find(swapped + ": The path now leads to another file (" + other + "), so it was not restored"),
            std::string::npos);
  EXPECT_NE(Out.find("Finished. Restored 1 file, refused 4 files"), std::string::npos) << Out;
}

TEST_F(UndoTest, NothingToUndoAndBadSwitchesAreClearErrors) {
  EXPECT_EQ(Undo(), 1);
  EXPECT_EQ(Err, "There is no replace to undo\n");
  EXPECT_EQ(Run(RunUndo, {"--undo-last", "--undo-list"}), 2);
  EXPECT_EQ(Run(RunUndo, {"--undo-last", "-t", "x"}), 2);
  EXPECT_EQ(Run(RunUndo, {"--undo-lats"}), 2);
}

TEST_F(UndoTest, PruningKeepsTheNewestRunsWithinCountAndSize) {
  const std::string file = Dir.Write("tree/a.txt", "0");
  for (int i = 0; i < 24; ++i) ASSERT_EQ(Replace(std::to_string(i), std::to_string(i + 1)), 0) << Err;
  V list = List();
  ASSERT_EQ(list.size(), 20u);
  EXPECT_NE(list.front().find("replace '23' with '24'"), std::string::npos) << list.front();
  EXPECT_NE(list.back().find("replace '4' with '5'"), std::string::npos) << list.back();

  // By size: room for three journals of this size, the newest stay.
  const std::string folder = DefaultUndoFolder();
  const std::vector<TJournalInfo> before = ListJournals(folder);
  PruneJournals(folder, {100, before[0].Bytes + before[1].Bytes + before[2].Bytes});
  const std::vector<TJournalInfo> after = ListJournals(folder);
  ASSERT_EQ(after.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(after[i].Path, before[i].Path);
}

TEST_F(UndoTest, ReplaceWhoseOldContentWouldNotFitIsRefusedUnlessNoUndo) {
  fs::create_directories(Dir / "config/vantorel");
  Dir.Write("config/vantorel/Trawlex.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n"
            "\"Undo Size MiB\"=dword:00000001\r\n\r\n");
  const std::string big = std::string(3 << 19, 'x') + "foo";
  const std::string file = Dir.Write("tree/big.txt", big);
  EXPECT_EQ(Replace("foo", "bar"), 2);
  EXPECT_NE(Err.find("The old content of the files (2 MiB) would not fit the space kept for undo (1 MiB); nothing was "
                     "replaced. To replace without a way to undo, add --no-undo"),
            std::string::npos)
      << Err;
  EXPECT_EQ(ReadAll(file), big);
  EXPECT_EQ(Replace("foo", "bar", {"--no-undo"}), 0) << Err;
  EXPECT_EQ(ReadAll(file).substr(big.size() - 3), "bar");
  EXPECT_TRUE(List().empty());
}

TEST_F(UndoTest, JournalCutShortKeepsEveryWholeRecordBeforeTheCut) {
  for (int i = 0; i < 4; ++i) Dir.Write("tree/f" + std::to_string(i) + ".txt", "foo " + std::to_string(i));
  ASSERT_EQ(Replace("foo", "bar"), 0);
  const std::string journal = ListJournals(DefaultUndoFolder()).at(0).Path;
  const auto size = fs::file_size(journal);
  size_t previous = 4;
  for (uintmax_t cut : {size - 1, size * 3 / 4, size / 2, size / 4, uintmax_t{30}}) {
    fs::resize_file(journal, cut);
    TJournalRun run;
    std::vector<TJournalEntry> entries;
    std::string error;
    // Without its run record a journal names no run: it cannot be used.
    EXPECT_EQ(ReadJournal(journal, run, entries, error), cut > 30) << cut;
    EXPECT_LE(entries.size(), previous);
    previous = entries.size();
  }
  EXPECT_EQ(previous, 0u);
}

// An in-place rewrite (a hard-linked file) cut short: the copy of the old content it left is
// copied back when the journal shows the file is only the old and the new content mixed.
TEST_F(UndoTest, CopyLeftByAnInterruptedInPlaceRewriteIsCopiedBackWhenTheJournalShowsItIsSafe) {
  const std::string oldContent = "aaa foo bbb foo ccc foo ddd", file = Dir.Write("tree/h.txt", oldContent);
  ASSERT_EQ(link(file.c_str(), (Dir / "h2.dat").c_str()), 0);
  ASSERT_EQ(Replace("foo", "QUUX"), 0) << Err;
  const std::string newContent = ReadAll(file);
  const std::string backup = Tree + "/.h.txt.Trawlex1.tmp";
  struct TCase {
    const char* Name;
    std::string Now;
    bool Recovered;
  } cases[] = {
      {"half-written", newContent.substr(0, 12) + oldContent.substr(12), true},
      {"cut while it grew the file", newContent.substr(0, oldContent.size() + 2), true},
      {"written, not yet cut", newContent + "x", false},  // not a mix of the two
      {"complete", newContent, true},
      {"edited since", "someone else's ccc", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Dir.Write("tree/.h.txt.Trawlex1.tmp", oldContent);
    Dir.Write("tree/h.txt", c.Now);
    EXPECT_EQ(Replace("ccc", "Z"), 2);
    EXPECT_EQ(PathEntryExists(backup), !c.Recovered) << Err;
    if (!c.Recovered) {
      EXPECT_EQ(ReadAll(file), c.Now);
      EXPECT_NE(Err.find("its old content is kept in " + backup), std::string::npos) << Err;
    } else if (c.Now == newContent) {
      EXPECT_EQ(ReadAll(file), newContent);
      EXPECT_NE(Err.find("interrupted after it had rewritten this file"), std::string::npos) << Err;
    } else {
      EXPECT_EQ(ReadAll(file), oldContent);
      EXPECT_NE(Err.find("its old content was copied back from " + backup), std::string::npos) << Err;
    }
    EXPECT_EQ(ReadAll(Dir / "h2.dat"), ReadAll(file));
    fs::remove(backup);
  }
}

// The journal's disk fills up: the file whose old content cannot be kept is not changed, and
// what the journal holds can still be undone.
TEST_F(UndoTest, FullJournalDiskLeavesTheFileWhoseOldContentDoesNotFitUnchanged) {
  const std::string state = Dir / "small";
  fs::create_directories(state);
  if (mount("tmpfs", state.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::unique_ptr<const char, std::function<void(const char*)>> unmount(state.c_str(),
                                                                              [](const char* p) { umount2(p, MNT_DETACH); });
  setenv("XDG_STATE_HOME", state.c_str(), 1);
  std::string noise = "foo";  // does not compress
  for (uint32_t x = 1; noise.size() < 200000;) noise += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  const std::string small = Dir.Write("tree/a.txt", "a foo"), big = Dir.Write("tree/b.bin", noise);
  EXPECT_EQ(Replace("foo", "bar"), 2);
  EXPECT_EQ(ReadAll(small), "a bar");
  EXPECT_EQ(ReadAll(big), noise);
  EXPECT_NE(Err.find(big + ": Its old content could not be kept for undo (The undo journal "), std::string::npos) << Err;
  EXPECT_NE(Err.find(SystemErrorText(ENOSPC) + ")), so it was not changed"), std::string::npos) << Err;
  // No room for the undo's own journal either: it says so, and goes on only without one.
  EXPECT_EQ(Undo(), 2);
  EXPECT_NE(Err.find("; nothing was restored. To restore without a way to undo the undo, add --no-undo"), std::string::npos)
      << Err;
  EXPECT_EQ(ReadAll(small), "a bar");
  EXPECT_EQ(Run(RunUndo, {"--undo-last", "--no-undo"}), 0) << Err;
  EXPECT_EQ(ReadAll(small), "a foo");
}

// A file an undo could not write (a full disk, a read-only file) stays to be undone: by the
// next undo once that is mended, or by one without a journal of its own.
TEST_F(UndoTest, UndoThatCouldNotWriteAFileIsTakenUpLater) {
  std::string noise = "a foo ";  // does not compress
  for (uint32_t x = 1; noise.size() < 100000;) noise += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  enum TDisk { None, Files, Journals };  // what lies on a small disk that fills
  struct TCase {
    const char* Name;
    TDisk Disk;
    const char* Error;
    V Retry;
  } cases[] = {
      {"the files' disk", Files, ": No space left on device, so it was not restored", {"--undo-last"}},
      {"the undo folder's disk", Journals, ": Its content could not be kept for undo (", {"--undo-last", "--no-undo"}},
      {"a read-only file", None, ": The file is read-only, so it was not restored\n", {"--undo-last"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string name = "disk-" + std::to_string(&c - cases), disk = Dir / name;
    fs::create_directories(disk);
    if (c.Disk != None && mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    const std::unique_ptr<const char, std::function<void(const char*)>> unmount(disk.c_str(),
                                                                                [](const char* p) { umount2(p, MNT_DETACH); });
    Fresh(std::to_string(&c - cases));
    if (c.Disk == Files) Tree = Dir.MakeDir(name + "/tree");
    if (c.Disk == Journals) setenv("XDG_STATE_HOME", disk.c_str(), 1);
    const std::string a = Tree + "/a.txt", b = Tree + "/b.txt";
    std::ofstream(a, std::ios::binary) << noise;  // undone last
    std::ofstream(b, std::ios::binary) << "b foo";
    ASSERT_EQ(Replace("foo", "bar"), 0) << Err;
    {  // the disk filled up to 40 KiB short of full
      std::ofstream fill(disk + "/fill", std::ios::binary);
      const std::string block(4096, 'x');
      while (c.Disk != None && fill.write(block.data(), block.size())) fill.flush();
    }
    fs::resize_file(disk + "/fill", fs::file_size(disk + "/fill") - (c.Disk == Journals ? 40 << 10 : 0));
    if (c.Disk == None) fs::permissions(a, fs::perms::owner_read);
    EXPECT_EQ(Undo(), 2);
    EXPECT_NE(Err.find(a + c.Error), std::string::npos) << Err;
    EXPECT_NE(Err.find("could not be written or read now; once that is mended, --undo-last restores"), std::string::npos)
        << Err;
    EXPECT_EQ(List().back().find(", undone"), std::string::npos);
    fs::remove(disk + "/fill");
    fs::permissions(a, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Run(RunUndo, c.Retry), 0) << Err;
    EXPECT_TRUE(ReadAll(a) == noise);
    EXPECT_EQ(ReadAll(b), "b foo");
  }
}

// kill -9 in the middle of a run over many files: the journal undoes exactly the files that
// were rewritten, and the files the run never reached are no refusal.
TEST(UndoKillTest, JournalOfAKilledRunRestoresExactlyTheFilesItRewrote) {
  TTempDir dir;
  setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  std::string body;
  for (int i = 0; i < 2000; ++i) body += "line " + std::to_string(i) + " foo\r\n";
  const int files = 400;
  for (int i = 0; i < files; ++i) dir.Write("tree/f" + std::to_string(1000 + i) + ".txt", body);
  const std::string tree = dir / "tree";
  const pid_t pid = SpawnReplace({"--report", "--replace-all", "BAR", "-t", "foo", "-d", tree, "-p", "*.txt"});
  ASSERT_GT(pid, 0);
  // Killed once the run is under way, well before its end.
  ASSERT_TRUE(KillWhen(pid, [&] { return ReadAll(tree + "/f1005.txt") != body; })) << "the run ended before the kill";
  int rewritten = 0;
  for (int i = 0; i < files; ++i) rewritten += ReadAll(tree + "/f" + std::to_string(1000 + i) + ".txt") != body;
  ASSERT_GT(rewritten, 0);
  ASSERT_LT(rewritten, files) << "the kill came too late";

  const std::vector<TJournalInfo> journals = ListJournals(DefaultUndoFolder());
  ASSERT_EQ(journals.size(), 1u);
  EXPECT_FALSE(journals[0].Ended);
  // Files whose record was written: those rewritten, and at most the one the kill interrupted.
  EXPECT_GE(journals[0].Files, rewritten);
  EXPECT_LE(journals[0].Files, rewritten + 1);
  EXPECT_NE(DescribeRun(journals[0]).find(", interrupted"), std::string::npos);
  V log;
  const TUndoOutcome outcome = UndoJournal(journals[0].Path, "", [&](const std::string& line) { log.push_back(line); });
  EXPECT_TRUE(outcome.Error.empty()) << outcome.Error;
  EXPECT_EQ(outcome.Restored, rewritten);
  EXPECT_EQ(outcome.Refused, 0) << (log.empty() ? "" : log[0]);
  for (int i = 0; i < files; ++i) EXPECT_EQ(ReadAll(tree + "/f" + std::to_string(1000 + i) + ".txt"), body) << i;
}

// kill -9 while a hard-linked file is overwritten in place: the next replace finds the copy
// of the old content, sees in the journal that the file is only old and new bytes, and
// copies the old content back.
TEST(UndoKillTest, KilledInPlaceRewriteIsCopiedBackByTheNextRun) {
  TTempDir dir;
  setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  std::string old, replaced;
  for (int i = 0; i < 300000; ++i) {
    old += "line " + std::to_string(i) + " with foo\n";
    replaced += "line " + std::to_string(i) + " with BARBAR\n";
  }
  const std::string tree = dir / "tree", path = tree + "/big.txt", backup = tree + "/.big.txt.Trawlex1.tmp";
  const V replace{"--report", "--replace-all", "BARBAR", "-t", "foo", "-d", tree, "-p", "*.txt"};
  auto run = [](const V& args) {
    int status = 0;
    waitpid(SpawnReplace(args), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  for (const bool undo : {false, true}) {  // the replace is killed, or the undo of a whole one
    SCOPED_TRACE(undo ? "an undo" : "a replace");
    bool left = false;
    for (int attempt = 0; attempt < 20 && !left; ++attempt) {
      fs::remove_all(tree);
      fs::remove_all(dir / "state");
      fs::remove(dir / "other.dat");
      dir.Write("tree/big.txt", old);
      ASSERT_EQ(link(path.c_str(), (dir / "other.dat").c_str()), 0);
      if (undo) {
        ASSERT_EQ(run(replace), 0);
      }
      left = KillWhen(SpawnReplace(undo ? V{"--undo-last"} : replace), [&] { return PathEntryExists(backup); }) &&
             PathEntryExists(backup);
    }
    ASSERT_TRUE(left) << "no kill landed while the file was overwritten";
    if (undo) {
      // The next undo takes it up and puts the old content back whole, and undoing that gives
      // the replaced content back.
      EXPECT_EQ(run({"--undo-last"}), 0);
      EXPECT_TRUE(ReadAll(path) == old);
    } else {
      // A kill between the end of the overwrite and the removal of the copy leaves the file
      // whole and new: it stays so. Anything short of that is put back to the old content.
      // The copy is hidden, and a search of hidden files finds the target in it too: it is
      // never replaced itself.
      const bool finished = ReadAll(path) == replaced;
      EXPECT_EQ(run({"--report", "--replace-all", "X", "-t", "line", "-d", tree, "-p", "*", "-h", "1"}), 2);
      EXPECT_TRUE(ReadAll(path) == (finished ? replaced : old)) << "finished: " << finished;
    }
    EXPECT_FALSE(PathEntryExists(backup));
    EXPECT_EQ(fs::hard_link_count(path), 2u);
    if (undo) {
      EXPECT_EQ(run({"--undo-last"}), 0);
      EXPECT_TRUE(ReadAll(path) == replaced);
    }
  }
}

TEST_F(UndoTest, JournalsAndFilesThatAreNotTheRunsOwnAreRefusedAndNamed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(chmod(Dir.Path().c_str(), 0755), 0);  // the other user must reach the undo folder
  std::string a, outside;
  auto asNobodyWrite = [](const std::string& path, const std::string& bytes) {
    std::FILE* p = popen((std::string(AsNobody) + " sh -c 'cat > \"" + path + "\"'").c_str(), "w");
    ASSERT_NE(p, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), p);
    ASSERT_EQ(pclose(p), 0);
  };
  // Opens the run's undo folder to the other user, who puts the run's journal back as its own.
  auto plantedByNobody = [&](mode_t folderMode) {
    const std::string folder = DefaultUndoFolder(), journal = ListJournals(folder).at(0).Path;
    for (std::string f = folder; f.size() > Dir.Path().size(); f = fs::path(f).parent_path().string())
      ASSERT_EQ(chmod(f.c_str(), f == folder ? 01777 : 0755), 0);
    const std::string bytes = ReadAll(journal);
    fs::remove(journal);
    asNobodyWrite(journal, bytes);
    ASSERT_EQ(chmod(folder.c_str(), folderMode), 0);
  };
  auto forged = [&](const std::string& name, const std::string& reached) {
    // A journal of the user's own whose record names a file outside the run's folder.
    TJournalRun run;
    run.Directory = Tree;
    TUndoJournalWriter w;
    ASSERT_TRUE(w.Create(DefaultUndoFolder(), run)) << w.Error();
    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    ASSERT_GE(w.AddFile(name, reached, st.st_dev, st.st_ino, false, "old", 3, Sha256(ReadAll(name)), ""), 0);
    ASSERT_TRUE(w.Finish());
  };
  struct TCase {
    const char* Name;
    std::function<void()> Plant;  // after a replace of "foo" with "bar" in a.txt
    int Status;
    std::string Said;             // a part of what the undo says
    std::string WantA;            // a.txt after the undo
  } cases[] = {
      {"a journal of another user in a folder open to all", [&] { plantedByNobody(01777); }, 2,
       " can be written by other users (mode 1777), so it is not used. Check what is in it, then close it with: chmod 700",
       "bar"},
      {"a journal of another user in the user's folder", [&] { plantedByNobody(0700); }, 2,
       " was not used: it belongs to another user (user id 65534); remove it if you did not put it there", "bar"},
      {"the undo folder a symbolic link",
       [&] {
         const std::string folder = DefaultUndoFolder();
         fs::rename(folder, folder + "-real");
         fs::create_directory_symlink(folder + "-real", folder);
       },
       2, " is a symbolic link, so it is not used", "bar"},
      {"a journal that is a symbolic link",
       [&] {
         const std::string journal = ListJournals(DefaultUndoFolder()).at(0).Path;
         fs::rename(journal, Dir / "elsewhere");
         fs::create_symlink(Dir / "elsewhere", journal);
       },
       2, " was not used: it is a symbolic link", "bar"},
      {"a record of a file outside the run's folder", [&] { forged(outside, outside); }, 2,
       outside + ": It lies outside the folder of the run", "bar"},
      {"a record of a file reached through a link to a folder outside",
       [&] {
         fs::create_directory_symlink(fs::path(outside).parent_path(), Tree + "/sub");
         forged(outside, Tree + "/sub/victim.txt");
       },
       2, outside + ": It lies outside the folder of the run", "bar"},
      {"a hard link to another file with the replaced text in its place",
       [&] {
         Dir.Write("outside/other.txt", "bar");
         fs::remove(a);
         fs::create_hard_link(Dir / "outside/other.txt", a);
       },
       2, a + ": It is no longer the file the replace wrote", "bar"},
      {"a replace over the undo folder itself",
       [&] {
         ASSERT_EQ(Run(RunReplaceAll, {"--report", "--replace-all", "baz", "-t", "bar", "-d", DefaultUndoFolder(), "-p", "*"}), 2);
         ASSERT_NE(Err.find(": It is an undo journal of this program, which a replace never changes"), std::string::npos) << Err;
       },
       0, "Finished. Restored 1 file", "foo"},
      {"a planted name that sorts after every other",
       [&] {
         ASSERT_EQ(Replace("bar", "baz"), 0);
         const std::string folder = DefaultUndoFolder(), older = ListJournals(folder).at(1).Path;
         fs::copy_file(older, folder + "/99999999999999999999-000.trawlex-undo");
         fs::copy_file(older, folder + "/zzz.trawlex-undo");
       },
       0, "Undo: ", "bar"},  // the newest run by its time: baz goes back to bar
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Fresh(std::to_string(&c - cases));
    a = Dir.Write("tree-" + std::to_string(&c - cases) + "/a.txt", "foo");
    outside = Dir.Write("outside/victim.txt", "bar");  // root's, outside every tree
    if (&c == cases) {
      // An undo folder the user made open to others is closed by the next replace.
      fs::create_directories(DefaultUndoFolder());
      ASSERT_EQ(chmod(DefaultUndoFolder().c_str(), 0755), 0);
    }
    ASSERT_EQ(Replace("foo", "bar"), 0) << Err;
    if (&c == cases) {
      struct stat st;
      ASSERT_EQ(stat(DefaultUndoFolder().c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    c.Plant();
    EXPECT_EQ(Undo(), c.Status) << Out << Err;
    EXPECT_NE((Out + Err).find(c.Said), std::string::npos) << Out << Err;
    EXPECT_EQ(ReadAll(a), c.WantA);
    EXPECT_EQ(ReadAll(outside), "bar");
  }
  // A hidden copy that no journal recorded is named, never offered to be copied over the file.
  Dir.Write("tree-0/.a.txt.Trawlex1.tmp", "anything at all");
  EXPECT_EQ(Run(RunReplaceAll, {"--report", "--replace-all", "X", "-t", "bar", "-d", Dir / "tree-0", "-p", "*"}), 2);
  EXPECT_NE(Err.find("so it is not a copy the program can vouch for. The file was not changed. Compare the two (cmp '"),
            std::string::npos)
      << Err;
  EXPECT_EQ(Err.find("cp '"), std::string::npos) << Err;
}

// Damaged, cut and forged journals: every record that cannot be read is named, the others are
// restored, and the exit status says so; nothing is allocated for a forged size.
TEST_F(UndoTest, DamagedJournalsNameWhatCannotBeReadAndRestoreTheRest) {
  struct TCase {
    const char* Name;
    std::function<void(std::string& bytes, const std::vector<TRecord>& files)> Damage;
    int Status;
    std::string Said;  // a part of what --undo-last says; "@b" stands for b.txt's path
    const char* Want;  // the three files after it: "o" old, "n" new
  } cases[] = {
      {"a flipped byte in the second file record",
       [](std::string& bytes, const std::vector<TRecord>& f) { bytes[f[1].At + RecordHead + f[1].Length - 3] ^= 0x40; }, 2,
       "@b: its record (at byte", "ono"},
      {"a flipped byte in the length of the second file record",
       [](std::string& bytes, const std::vector<TRecord>& f) { bytes[f[1].At + 4] ^= 0x01; }, 2,
       "cannot be read; the files whose records they held are not known", "ono"},
      {"cut inside the third file record",
       [](std::string& bytes, const std::vector<TRecord>& f) { bytes.resize(f[2].At + 20); }, 2, "it is cut short", "oon"},
      {"a forged old size of 2^40",
       [](std::string& bytes, const std::vector<TRecord>& f) {
         for (int i = 0; i < 8; ++i) bytes[OldSizeAt(bytes, f[1]) + i] = i == 5 ? 1 : 0;
         Reseal(bytes, f[1]);
       },
       2, "@b: its record is not valid: its old size (1099511627776 bytes) cannot be right", "ono"},
      {"a forged old size of -1",
       [](std::string& bytes, const std::vector<TRecord>& f) {
         for (int i = 0; i < 8; ++i) bytes[OldSizeAt(bytes, f[1]) + i] = '\xff';
         Reseal(bytes, f[1]);
       },
       2, "@b: its record is not valid: its old size", "ono"},
      {"files that hold their old content already", nullptr, 1, "Finished. Restored 0 files", "ooo"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Fresh(std::to_string(&c - cases));
    std::string paths[3];
    for (int i = 0; i < 3; ++i) paths[i] = Dir.Write("tree-" + std::to_string(&c - cases) + "/" + char('a' + i) + ".txt", "foo");
    ASSERT_EQ(Replace("foo", "bar"), 0) << Err;
    const std::string journal = ListJournals(DefaultUndoFolder()).at(0).Path;
    std::string bytes = ReadAll(journal);
    const std::vector<TRecord> files = FileRecords(bytes);
    ASSERT_EQ(files.size(), 3u);
    if (c.Damage) {
      c.Damage(bytes, files);
      Overwrite(journal, bytes);
      const V list = List();
      ASSERT_EQ(list.size(), 1u);
      EXPECT_NE(list[0].find(", damaged"), std::string::npos) << list[0];
    } else {
      for (const std::string& p : paths) Dir.Write(p.substr(Dir.Path().size() + 1), "foo");
    }
    std::string said = c.Said;
    if (said.rfind("@b", 0) == 0) said = paths[1] + said.substr(2);
    EXPECT_EQ(Undo(), c.Status) << Out << Err;
    EXPECT_NE((Out + Err).find(said), std::string::npos) << Out << Err;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadAll(paths[i]), c.Want[i] == 'o' ? "foo" : "bar") << i;
  }
  // Undone without a journal of its own, a run is still marked undone and not offered again.
  Fresh("no-undo");
  const std::string file = Dir.Write("tree-no-undo/a.txt", "foo");
  ASSERT_EQ(Replace("foo", "bar"), 0);
  EXPECT_EQ(Run(RunUndo, {"--undo-last", "--no-undo"}), 0) << Err;
  EXPECT_EQ(Undo(), 1);
  EXPECT_EQ(Err, "There is no replace to undo\n");
  EXPECT_NE(List().at(0).find(", undone"), std::string::npos);
  EXPECT_EQ(ReadAll(file), "foo");
}

// Another process at work on the same run: a replace that still runs and a second undo are
// waited out or refused, never split; an undo killed part way is taken up again; and a
// temporary file that a killed replace left is removed by the next run in its folder.
TEST_F(UndoTest, RunsAtWorkAreNeverUndoneTwiceOrInPartsAndKilledOnesAreTakenUp) {
  auto all = [&](const std::string& text) {
    for (const char* n : {"/a.txt", "/b.txt", "/c.txt"})
      if (ReadAll(Tree + n).substr(0, 3) != text) return false;
    return true;
  };
  auto spawnUndo = [] { return SpawnReplace({"--undo-last"}); };
  struct TCase {
    const char* Name;
    bool Replaced;           // the replace ran before the case
    std::function<void()> Act;
  } cases[] = {
      {"an undo while the replace still runs", false,
       [&] {
         THeldLock last(Tree + "/c.txt");  // the replace waits there, its journal held
         const pid_t pid = SpawnReplace({"--report", "--replace-all", "bar", "-t", "foo", "-d", Tree, "-p", "*"});
         ASSERT_TRUE(WaitUntil(pid, [&] { return !JournalWith("replace", 2).empty() && ReadAll(Tree + "/b.txt") == "bar"; }));
         EXPECT_EQ(Undo(), 2);
         EXPECT_NE(Err.find("The replace of 'foo' with 'bar' is still running (its journal "), std::string::npos) << Err;
         last.Release();
         EXPECT_EQ(ExitOf(pid), 0);
         EXPECT_TRUE(all("bar"));
       }},
      {"two undos at once", true,
       [&] {
         THeldLock last(Tree + "/a.txt");  // the undo restores the last file first
         const pid_t pid = spawnUndo();
         ASSERT_TRUE(WaitUntil(pid, [&] { return !JournalWith("undo", 2).empty() && ReadAll(Tree + "/b.txt") == "foo"; }));
         EXPECT_EQ(Undo(), 2);
         EXPECT_NE(Err.find("is in use)"), std::string::npos) << Err;
         last.Release();
         EXPECT_EQ(ExitOf(pid), 0);
         EXPECT_TRUE(all("foo"));
       }},
      {"an undo killed after it restored two files", true,
       [&] {
         THeldLock last(Tree + "/a.txt");
         const pid_t pid = spawnUndo();
         ASSERT_TRUE(KillWhen(pid, [&] { return !JournalWith("undo", 2).empty() && ReadAll(Tree + "/b.txt") == "foo"; }));
         last.Release();
         EXPECT_EQ(Undo(), 0) << Err;
         EXPECT_NE(Out.find("Taken up again: "), std::string::npos) << Out;
         EXPECT_NE(Out.find("Finished. Restored 1 file\n"), std::string::npos) << Out;
         EXPECT_TRUE(all("foo"));
       }},
      {"an undo killed before it restored a file", true,
       [&] {
         THeldLock first(Tree + "/c.txt");
         const pid_t pid = spawnUndo();
         ASSERT_TRUE(KillWhen(pid, [&] { return JournalPaths(DefaultUndoFolder()).size() == 2; }));
         first.Release();
         EXPECT_EQ(Undo(), 0) << Err;
         EXPECT_NE(Out.find("Finished. Restored 3 files\n"), std::string::npos) << Out;
         EXPECT_TRUE(all("foo"));
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Fresh(std::to_string(&c - cases));
    for (const char* n : {"a", "b", "c"}) Dir.Write("tree-" + std::to_string(&c - cases) + "/" + n + ".txt", "foo");
    if (c.Replaced) {
      ASSERT_EQ(Replace("foo", "bar"), 0) << Err;
    }
    c.Act();
    // Whatever the order, the last run is whole: undoing it turns every file over at once.
    const bool wasOld = all("foo");
    EXPECT_EQ(Undo(), 0) << Err;
    EXPECT_TRUE(all(wasOld ? "bar" : "foo")) << Out << Err;
  }

  // A replace killed while it wrote a file's temporary copy leaves it; the next run in that
  // folder removes it, but not one another run holds.
  Fresh("temp");
  std::string big;
  for (int i = 0; i < 400000; ++i) big += "line " + std::to_string(i) + " with foo\n";
  const std::string temp = Tree + "/.Trawlex1.tmp";
  bool left = false;
  for (int attempt = 0; attempt < 20 && !left; ++attempt) {
    Dir.Write("tree-temp/big.txt", big);
    const pid_t pid = SpawnReplace({"--report", "--replace-all", "BAR", "-t", "foo", "-d", Tree, "-p", "*", "--no-undo"});
    left = KillWhen(pid, [&] { return PathEntryExists(temp); }) && PathEntryExists(temp);
  }
  ASSERT_TRUE(left) << "no kill landed while the temporary file was written";
  const std::string held = Dir.Write("tree-temp/.Trawlex7.tmp", "another run's");
  THeldLock running(held);
  Dir.Write("tree-temp/big.txt", "foo");
  EXPECT_EQ(Replace("foo", "bar"), 0) << Err;
  EXPECT_FALSE(PathEntryExists(temp));
  EXPECT_TRUE(PathEntryExists(held));
}

}  // namespace

TEST(UndoLimits, StoredValuesStandOnlyWhenPositive) {
  const TUndoLimits defaults;
  const struct {
    int32_t Runs, SizeMiB;
    int32_t WantRuns;
    int64_t WantBytes;
  } cases[] = {
      {0, 0, defaults.Runs, defaults.Bytes},
      {5, 0, 5, defaults.Bytes},
      {-3, 2, defaults.Runs, int64_t{2} << 20},
      {7, -1, 7, defaults.Bytes},
      {1, 4096, 1, int64_t{4096} << 20},  // beyond 32 bits of bytes
  };
  for (const auto& c : cases) {
    const TUndoLimits got = UndoLimitsOf(c.Runs, c.SizeMiB);
    EXPECT_EQ(got.Runs, c.WantRuns) << c.Runs << " " << c.SizeMiB;
    EXPECT_EQ(got.Bytes, c.WantBytes) << c.Runs << " " << c.SizeMiB;
  }
}
