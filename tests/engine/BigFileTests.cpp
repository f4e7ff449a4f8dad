// Files of any size: positions and line numbers past 2 and 4 GiB. The large files are sparse
// (a hole reads as zero bytes), so they cost no disk; the few finds are written into them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/RangeProcessor.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/SearchThread.h"
#include "engine/UndoJournal.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::TQueueInvoker;
using trawlex::test::TTempDir;
using V = std::vector<std::string>;

namespace {

constexpr int64_t GiB = int64_t{1} << 30;

// A sparse file of `size` bytes with `pieces` written at their offsets.
void MakeSparse(const std::string& path, int64_t size, const std::vector<std::pair<int64_t, std::string>>& pieces) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, size), 0);
  for (const auto& [at, bytes] : pieces)
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

// Every find of a search as "line:offset", each checked against the text its line item
// holds there (a long line's item may hold only the piece of it around the find).
V Finds(const TSearchFile& file) {
  V out;
  for (const TSearchLine* l : file.LinesSnapshot()) {
    for (int32_t k = 0; k < l->GetFindCount(); ++k) {
      const int64_t at = l->GetFindPos(k) - l->LineStart();
      const bool held = at >= 0 && l->Text().substr(static_cast<size_t>(at), 3) == "foo";
      out.push_back(std::to_string(l->LineNo()) + ":" + std::to_string(l->GetFindPos(k)) + (held ? "" : " not in its text"));
    }
  }
  return out;
}

}  // namespace

// A line longer than the scan holds (no line break in 40 MiB of zeros) is searched a piece at
// a time: each find keeps its line number and its offset, and no item holds the whole line.
TEST(BigFile, FindsInALineLongerThanThePieceKeepTheirOffsets) {
  TTempDir dir;
  const std::string path = dir / "long.txt";
  const int64_t size = 40 << 20;
  MakeSparse(path, size, {{5, "foo"}, {(20 << 20) + 1, "foo"}, {(33 << 20) - 2, "foofoo\r\nfoo"}, {size - 3, "foo"}});
  TSearchParams params;
  params.SetTarget("foo");
  TSearchFile file(&params);
  file.Name = path;
  TRangeProcessor proc(&params);
  EXPECT_EQ(proc.SearchFile(&file, 0), 6);
  for (const TSearchLine* l : file.LinesSnapshot())
    EXPECT_LE(static_cast<int64_t>(l->Text().size()), TRangeProcessor::LongLinePiece + (4 << 20)) << l->LineStart();
  EXPECT_EQ(Finds(file), (V{"0:5", "0:" + std::to_string((20 << 20) + 1), "0:" + std::to_string((33 << 20) - 2),
                            "0:" + std::to_string((33 << 20) + 1), "1:" + std::to_string((33 << 20) + 6),
                            "1:" + std::to_string(size - 3)}));
  EXPECT_EQ(file.TotalLines, 2);
}

// A sparse file past 4 GiB, searched as the program does (helpers, block reads) beside a small
// one: every find with its line number and offset, lines across the 2 and 4 GiB marks and CR LF.
TEST(BigFile, SearchPastFourGibibytesListsEveryFindWithItsLine) {
  TTempDir dir;
  const std::string path = dir / "huge.txt";
  const int64_t size = 4 * GiB + (1 << 20);
  MakeSparse(path, size, {{100, "a foo\n"},
                          {2 * GiB - 2, "foo\r\n"},
                          {4 * GiB - 3, "\nfoo foo\r\nx"},
                          {size - 4, "\nfoo"}});
  dir.Write("small.txt", "foo");
  TSearchParams params;
  params.BaseDir = dir.Path();
  params.SetFilePatterns({"*.txt"});
  params.SetTarget("foo");
  TQueueInvoker invoker;
  TSearchThread thread(invoker);
  thread.SetParams(&params);
  V errors;
  bool ended = false;
  thread.OnError = [&](const std::string& s) { errors.push_back(s); };
  thread.OnTerminate = [&](TBaseThread&) { ended = true; };
  thread.Start();
  ASSERT_TRUE(invoker.PumpUntil([&] { return ended; }, std::chrono::minutes(3)));
  thread.WaitFor();
  EXPECT_EQ(errors, V{});
  ASSERT_EQ(params.GetResultCount(), 2);
  EXPECT_EQ(params.GetResult(1)->Name, dir / "small.txt");
  const TSearchFile& file = *params.GetResult(0);
  EXPECT_EQ(file.Size, size);
  EXPECT_EQ(Finds(file), (V{"0:102", "1:" + std::to_string(2 * GiB - 2), "3:" + std::to_string(4 * GiB - 2),
                            "3:" + std::to_string(4 * GiB + 2), "5:" + std::to_string(size - 3)}));
  EXPECT_EQ(thread.TotalFinds(), 6);
  EXPECT_EQ(file.TotalLines, 6);

}

namespace {

// Replaces every find of a search of `dir` for `target` with `text`, as the replace dialog
// does, with an undo journal in `undoFolder`; files from `streamFrom` bytes on are rewritten
// a piece at a time. The log lines.
V ReplaceAll(const std::string& dir, const std::string& target, const std::string& text, const std::string& undoFolder,
             int64_t streamFrom, const std::function<void(TSearchParams&)>& rules = {}) {
  TSearchParams params;
  params.BaseDir = dir;
  params.SetFilePatterns({"*.txt"});
  params.SetTarget(target);
  if (rules) rules(params);
  TQueueInvoker invoker;
  bool ended = false;
  {
    TSearchThread search(invoker);
    search.SetParams(&params);
    search.ShowLines = false;
    search.OnTerminate = [&](TBaseThread&) { ended = true; };
    search.Start();
    EXPECT_TRUE(invoker.PumpUntil([&] { return ended; }, std::chrono::minutes(3)));
    search.WaitFor();
  }
  for (int32_t i = 0; i < params.GetResultCount(); ++i) params.GetResult(i)->SelectAllFinds(true);
  TReplaceJobList jobs;
  BuildReplaceJobs(params, jobs);
  TUndoJournalWriter journal;
  TJournalRun run;
  run.Target = target;
  run.Replacement = text;
  run.Directory = dir;
  EXPECT_TRUE(journal.Create(undoFolder, run)) << journal.Error();
  V log;
  ended = false;
  TReplaceThread replace(invoker);
  replace.Params = &params;
  replace.Jobs = &jobs;
  replace.ReplaceText = text;
  replace.Journal = &journal;
  replace.StreamFrom = streamFrom;
  replace.OnLogLine = [&](const std::string& s) { log.push_back(s); };
  replace.OnTerminate = [&](TBaseThread&) { ended = true; };
  replace.Start();
  EXPECT_TRUE(invoker.PumpUntil([&] { return ended; }, std::chrono::minutes(10)));
  replace.WaitFor();
  EXPECT_TRUE(journal.Finish()) << journal.Error();
  return log;
}

std::string Replaced(std::string s, const std::string& target, const std::string& text) {
  for (size_t at = 0; (at = s.find(target, at)) != std::string::npos; at += text.size()) s.replace(at, target.size(), text);
  return s;
}

}  // namespace

// The piece-by-piece rewrite (made to take small files here) writes exactly what the whole-file
// one does, keeps the old content in pieces, and the undo gives it back byte for byte; a file
// that gained a second name since must keep its inode, and is restored in place, whole.
TEST(BigFile, ReplaceInPiecesAndItsUndoRoundTripEveryByte) {
  struct TCase {
    const char* Name;
    std::string Content, Target, Text;
    bool LinkedSince = false;
  };
  const std::string big = std::string(9 << 20, 'x') + "foo";  // more than one piece of the journal
  const TCase cases[] = {
      {"finds at both ends", "foo a foo\r\nb foo", "foo", "LONGER"},
      {"removed, CR LF kept", "x\r\nfoo\r\nfoo", "foo", ""},
      {"no byte left of the find", "foo", "foo", "bar"},
      {"a find past the first piece", big + "\n" + big, "foo", "f"},
      {"a hard link made since", "x foo y\n" + big, "foo", "bar", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string path = dir.Write("t/f.txt", c.Content);
    const V log = ReplaceAll(dir / "t", c.Target, c.Text, dir / "undo", 0);
    EXPECT_EQ(log, V{});
    EXPECT_EQ(test::ReadAll(path), Replaced(c.Content, c.Target, c.Text));
    const std::vector<TJournalInfo> runs = ListJournals(dir / "undo");
    ASSERT_EQ(runs.size(), 1u);
    TJournalRun run;
    std::vector<TJournalEntry> entries;
    std::string error;
    ASSERT_TRUE(ReadJournal(runs[0].Path, run, entries, error)) << error;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Pieces.size(), (c.Content.size() + TUndoJournalWriter::PieceSize - 1) / TUndoJournalWriter::PieceSize);
    if (c.LinkedSince) {
      ASSERT_EQ(::link(path.c_str(), (dir / "t/other.name").c_str()), 0);
    }
    V undoLog;
    const TUndoOutcome undone = UndoJournal(runs[0].Path, dir / "undo", [&](const std::string& s) { undoLog.push_back(s); });
    EXPECT_EQ(undoLog, V{});
    EXPECT_EQ(undone.Restored, 1);
    EXPECT_EQ(test::ReadAll(path), c.Content);
    if (c.LinkedSince) {
      EXPECT_EQ(test::ReadAll(dir / "t/other.name"), c.Content);
    }
  }
}

// From the piece size on, finds that are not the target's bytes are replaced exactly too:
// folded beyond ASCII (a find longer than the target), a regular expression's replacement
// made from its captures, a UTF-16 file's finds in its decoded text. Each is undone.
TEST(BigFile, FoldedRegexAndUtf16FindsReplacedExactlyFromThePieceSizeOn) {
  const auto utf16 = [](std::string_view ascii) {
    std::string s = "\xFF\xFE";
    for (const char c : ascii) s += std::string{c, '\0'};
    return s;
  };
  struct TCase {
    const char* Name;
    std::string Content, Target, Text, Expected;
    std::function<void(TSearchParams&)> Rules;
  };
  const TCase cases[] = {
      {"folded", "x STRA\xE1\xBA\x9E" "E y stra\xC3\x9F" "e\n", "stra\xC3\x9F" "e", "road", "x road y road\n", {}},
      {"regex", "foo1 foo22\n", "foo([0-9]+)", "n$1", "n1 n22\n",
       [](TSearchParams& p) {
         p.RegExp = true;
         p.SetCaseSensitive(true);
         p.PrepareRegex();
       }},
      {"UTF-16", utf16("a foo b\r\nfoo"), "foo", "bar", utf16("a bar b\r\nbar"), {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string path = dir.Write("t/f.txt", c.Content);
    EXPECT_EQ(ReplaceAll(dir / "t", c.Target, c.Text, dir / "undo", 0, c.Rules), V{});
    EXPECT_EQ(test::ReadAll(path), c.Expected);
    V undoLog;
    EXPECT_EQ(UndoJournal(ListJournals(dir / "undo").at(0).Path, dir / "undo", [&](const std::string& s) { undoLog.push_back(s); }).Restored, 1);
    EXPECT_EQ(undoLog, V{});
    EXPECT_EQ(test::ReadAll(path), c.Content);
  }
}

// A piece of the old content that no longer reads back (a flipped byte) refuses the file's
// undo and leaves the file as the replace wrote it.
TEST(BigFile, DamagedPieceRefusesTheUndoAndLeavesTheFile) {
  TTempDir dir;
  const std::string content = "a foo b\n" + std::string(100000, 'y');
  const std::string path = dir.Write("t/f.txt", content);
  ReplaceAll(dir / "t", "foo", "bar", dir / "undo", 0);
  const std::string journalPath = ListJournals(dir / "undo").at(0).Path;
  std::string bytes = test::ReadAll(journalPath);
  // The records after the journal's head: type, length, head checksum, content, checksum.
  size_t piece = 21;
  while (piece + 13 < bytes.size() && bytes[piece] != 'C') {
    uint64_t length = 0;
    for (int i = 0; i < 8; ++i) length |= uint64_t{static_cast<uint8_t>(bytes[piece + 1 + i])} << (8 * i);
    piece += 13 + length + 4;
  }
  ASSERT_LT(piece + 13 + 20, bytes.size());
  bytes[piece + 13 + 20] ^= 1;
  { std::ofstream(journalPath, std::ios::binary | std::ios::trunc) << bytes; }
  V log;
  const TUndoOutcome undone = UndoJournal(journalPath, "", [&](const std::string& s) { log.push_back(s); });
  EXPECT_EQ(undone.Restored, 0);
  EXPECT_EQ(log, (V{dir / "t/f.txt" + ": Its old content in the undo journal is damaged, so it was not restored"}));
  EXPECT_EQ(test::ReadAll(path), Replaced(content, "foo", "bar"));
}

// Offsets past 4 GiB reach the job list of a replace whole (they were once cut to 32 bits).
TEST(BigFile, JobListKeepsOffsetsPastFourGibibytes) {
  TSearchParams params;
  params.SetTarget("foo");
  auto file = std::make_unique<TSearchFile>(&params);
  TSearchFile* f = file.get();
  const int32_t cols[] = {1, 9};
  std::vector<TSearchLine> lines{f->MakeLine(7, 4 * GiB + 5, "foo abc foo", cols, 2, 3),
                                 f->MakeLine(int64_t{3} << 32, 9 * GiB, "foo", cols, 1, 3)};
  f->AddLines(lines);
  f->SelectAllFinds(true);
  params.AddResult(std::move(file));
  TReplaceJobList jobs;
  BuildReplaceJobs(params, jobs);
  ASSERT_EQ(jobs.size(), 1u);
  ASSERT_EQ(jobs[0]->FindCount(), 3);
  EXPECT_EQ((std::vector<int64_t>{jobs[0]->FindOffset(0), jobs[0]->FindOffset(1), jobs[0]->FindOffset(2)}),
            (std::vector<int64_t>{4 * GiB + 5, 4 * GiB + 13, 9 * GiB}));
}

// The whole way on a file past 4 GiB: search, replace a piece at a time, undo, every byte back.
// It writes the file twice in full (about 9 GB), so it runs only when asked for:
// TRAWLEX_BIG_FILE_TESTS=1 ctest -L bigfile
TEST(BigFile, ReplaceAndUndoOfAFilePastFourGibibytesRoundTrip) {
  if (!std::getenv("TRAWLEX_BIG_FILE_TESTS")) GTEST_SKIP() << "set TRAWLEX_BIG_FILE_TESTS=1 to run it";
  TTempDir dir;
  const std::string path = dir / "t/huge.txt";
  dir.MakeDir("t");
  const int64_t size = 4 * GiB + 100;
  MakeSparse(path, size, {{10, "foo\n"}, {4 * GiB, "\nfoo foo\n"}, {size - 3, "foo"}});
  const V log = ReplaceAll(dir / "t", "foo", "barbaz", dir / "undo", int64_t{64} << 20);
  EXPECT_EQ(log, V{});
  auto at = [&](int64_t offset, size_t count) {
    std::string s(count, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_EQ(pread(fd, s.data(), count, offset), static_cast<ssize_t>(count));
    ::close(fd);
    return s;
  };
  EXPECT_EQ(std::filesystem::file_size(path), static_cast<uintmax_t>(size + 4 * 3));
  EXPECT_EQ(at(10, 7), "barbaz\n");
  EXPECT_EQ(at(4 * GiB + 3, 15), "\nbarbaz barbaz\n");
  EXPECT_EQ(at(size + 12 - 6, 6), "barbaz");
  const TUndoOutcome undone = UndoJournal(ListJournals(dir / "undo").at(0).Path, "", [](const std::string&) {});
  EXPECT_EQ(undone.Restored, 1);
  EXPECT_EQ(std::filesystem::file_size(path), static_cast<uintmax_t>(size));
  EXPECT_EQ(at(10, 4), "foo\n");
  EXPECT_EQ(at(4 * GiB, 9), "\nfoo foo\n");
  EXPECT_EQ(at(size - 3, 3), "foo");
  EXPECT_EQ(at(2 * GiB, 4), std::string(4, '\0'));
}
