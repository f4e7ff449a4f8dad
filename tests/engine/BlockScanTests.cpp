// A large file is read and searched a block at a time. Wherever the blocks end (inside a
// find, a line, a CR LF pair, an exclude text, a line longer than a block), the finds,
// lines and counts must be exactly those of searching the file held whole.
#include <gtest/gtest.h>

#include <random>

#include "engine/RangeProcessor.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "support/TestSupport.h"

using namespace trawlex;

namespace {

struct TCase {
  TCase(std::string target, std::string exclude = "", bool caseSensitive = true, bool wholeWord = false,
        bool countLines = false)
      : Target(std::move(target)), Exclude(std::move(exclude)), CaseSensitive(caseSensitive), WholeWord(wholeWord),
        CountLines(countLines) {}
  std::string Target, Exclude;
  bool CaseSensitive, WholeWord, CountLines;
};

// Everything a search leaves: finds, each line item, the counts, the file's size.
std::vector<std::string> Search(const std::string& path, const TCase& c, int64_t wholeMax, size_t block) {
  TSearchParams params;
  params.SetCaseSensitive(c.CaseSensitive);
  params.WholeWord = c.WholeWord;
  params.SetTarget(c.Target);
  params.SetExclude(c.Exclude);
  TSearchFile file(&params);
  file.Name = path;
  TRangeProcessor proc(&params);
  proc.Modes.CountLinesWithoutFinds = c.CountLines;
  const int32_t finds = proc.SearchFile(&file, wholeMax, block);
  std::vector<std::string> out{"finds " + std::to_string(finds) + " total " + std::to_string(file.TotalLines) +
                               " size " + std::to_string(file.Size) + " digits " + std::to_string(params.LineNoDigits())};
  for (int32_t i = 0; i < file.GetLineCount(); ++i) {
    const TSearchLine* l = file.GetLine(i);
    std::string s = std::to_string(l->LineNo()) + "@" + std::to_string(l->LineStart()) + "[" + std::string(l->Text()) + "]";
    for (int32_t p : l->GetPositions()) s += " " + std::to_string(p);
    out.push_back(s);
  }
  return out;
}

void ExpectSameInBlocks(const std::string& path, const TCase& c, const std::vector<size_t>& blocks) {
  const auto whole = Search(path, c, INT32_MAX, 0);
  for (const size_t block : blocks)
    ASSERT_EQ(Search(path, c, 0, block), whole) << "block " << block << " target " << c.Target << " exclude "
                                                << c.Exclude << " word " << c.WholeWord;
}

std::vector<size_t> Sizes(size_t from, size_t to) {
  std::vector<size_t> v;
  for (size_t b = from; b <= to; ++b) v.push_back(b);
  return v;
}

}  // namespace

TEST(BlockScan, BlockEdgesAtEveryOffsetOfFindsAndLineBreaks) {
  trawlex::test::TTempDir dir;
  // Finds, CR, LF and CR LF at every offset from a window's end: block sizes 1 to past the
  // text's length move the edge over each byte in turn.
  std::string text;
  for (int i = 0; i < 12; ++i) {
    text += std::string(static_cast<size_t>(i * 5), 'x') + "foo bar" + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
    text += "foofoo\r\rfo\no\r\n\n" + std::string(static_cast<size_t>(i), 'y') + "Foo_foo";
  }
  const std::string path = dir.Write("a.txt", text);
  const TCase cases[] = {
      {"foo"},
      {"foo", "", false, true},           // whole word, case ignored
      {"o\r\nf"},                         // a find that runs over a line break
      {"\n"},                             // finds that are line breaks, LF of a CR LF among them
      {"\r"},
      {"foo", "foofoo"},                  // an exclude text around some finds
      {"foo", "x foo bar", true, false, true},  // every line counted
      {"y", "", true, false, true},
  };
  for (const TCase& c : cases) ExpectSameInBlocks(path, c, Sizes(1, text.size() + 2));
}

TEST(BlockScan, RandomTextsAndLinesLongerThanABlock) {
  trawlex::test::TTempDir dir;
  std::mt19937 rng(2026);
  const std::string letters("aA\r\n b_", 7);
  for (int round = 0; round < 150; ++round) {
    std::string text(static_cast<size_t>(rng() % 700), ' ');
    for (char& ch : text) ch = letters[rng() % letters.size()];
    if (round % 5 == 0) text.insert(text.size() / 2, std::string(400, 'a'));  // a line of several blocks
    TCase c(std::string(1 + rng() % 3, ' '));
    for (char& ch : c.Target) ch = letters[rng() % letters.size()];
    if (round % 3 == 1) c.Exclude = "b" + c.Target + "a";
    c.CaseSensitive = rng() % 2;
    c.WholeWord = rng() % 3 == 0;
    c.CountLines = rng() % 2;
    const std::string path = dir.Write("r.txt", text);
    ExpectSameInBlocks(path, c, {1, 2, 7, 64, 65, 100, 129, 257, 1000});
  }
}

TEST(BlockScan, WorstCasesStayLinearAcrossBlocks) {
  // Near-finds everywhere: the scan turns to the linear matchers in one window and must
  // carry their state into the next.
  trawlex::test::TTempDir dir;
  std::mt19937 rng(18);
  std::string text;
  while (text.size() < 20000) {
    text += std::string(static_cast<size_t>(rng() % 400), 'a');
    text += "eEa\nb"[rng() % 5];
  }
  const std::string path = dir.Write("w.txt", text);
  const std::string run(120, 'a');
  for (const TCase& c : {TCase{run + "e"}, TCase{"a", run + "E", false}, TCase{run + "e", "x" + run + "eaa"}})
    ExpectSameInBlocks(path, c, {1, 100, 333, 4096});
}
