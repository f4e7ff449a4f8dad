// Files of any size: positions and line numbers past 2 and 4 GiB. The large files are sparse
// (a hole reads as zero bytes), so they cost no disk; the few finds are written into them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fcntl.h>

#include "engine/RangeProcessor.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/SearchThread.h"
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

  // The job list of a replace keeps the offsets past 4 GiB.
  params.GetResult(0)->SelectAllFinds(true);
  TReplaceJobList jobs;
  BuildReplaceJobs(params, jobs);
  ASSERT_EQ(jobs.size(), 1u);  // only the large file's finds are selected
  ASSERT_EQ(jobs[0]->FindCount(), 5);
  EXPECT_EQ(jobs[0]->FindOffset(3), 4 * GiB + 2);
  EXPECT_EQ(jobs[0]->FindOffset(4), size - 3);
}
