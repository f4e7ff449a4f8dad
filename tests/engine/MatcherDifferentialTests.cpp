// The fast scan jumps between candidate positions; the byte loop visits every byte. Both
// must give exactly the same finds, lines and counts on any input.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/RangeProcessor.h"
#include "engine/ScanKernels.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"

using namespace trawlex;

namespace {

struct TResult {
  int32_t Count;
  int64_t TotalLines;
  int64_t LineNo;
  int32_t Digits;
  std::vector<std::string> Lines;
  bool operator==(const TResult&) const = default;
};

TResult Scan(const std::string& text, const std::string& target, const std::string& exclude, bool caseSensitive,
            bool wholeWord, int32_t first, int32_t last, int32_t startLine, bool byteByByte, bool countLines = true,
            bool alwaysLinear = false) {
  TSearchParams params;
  params.SetCaseSensitive(caseSensitive);
  params.WholeWord = wholeWord;
  params.SetTarget(target);
  params.SetExclude(exclude);
  TSearchFile file(&params);
  TRangeProcessor proc(&params);
  proc.File = &file;
  proc.Modes.ByteByByte = byteByByte;
  proc.Modes.AlwaysLinear = alwaysLinear;
  proc.Modes.CountLinesWithoutFinds = countLines;
  proc.SetBytes(text, "mem");
  proc.LineNo = startLine;
  TResult r{proc.Process(first, last), file.TotalLines, proc.LineNo, params.LineNoDigits(), {}};
  for (int32_t i = 0; i < file.GetLineCount(); ++i) {
    const TSearchLine* l = file.GetLine(i);
    std::string s = std::to_string(l->LineNo()) + "@" + std::to_string(l->LineStart()) + "[" + std::string(l->Text()) + "]";
    for (int32_t p : l->GetPositions()) s += " " + std::to_string(p);
    r.Lines.push_back(s);
  }
  return r;
}

std::string Escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c < 32 || c >= 127) out += "\\x" + std::to_string(c);
    else out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

class MatcherDifferential : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UseWideScanKernels(GetParam()); }
  void TearDown() override { UseWideScanKernels(true); }
};

INSTANTIATE_TEST_SUITE_P(Kernels, MatcherDifferential, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Wide" : "Narrow"; });

TEST_P(MatcherDifferential, RandomAndAdversarialInputsAgree) {
  std::mt19937 rng(20261207);
  const std::string alphabet("aAbB_ x\r\n\0\xE9\xC9-", 14);
  auto pick = [&](const std::string& from) { return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)]; };
  auto randomText = [&](size_t maxLen, const std::string& from) {
    std::string s(std::uniform_int_distribution<size_t>(0, maxLen)(rng), ' ');
    for (char& c : s) c = pick(from);
    return s;
  };
  int compared = 0;
  for (int round = 0; round < 20000; ++round) {
    // Small alphabets make finds, overlaps and line breaks frequent.
    const std::string letters = round % 3 == 0 ? alphabet : std::string("aA\r\n b", 6);
    std::string target = randomText(4, letters);
    if (target.empty()) target = "a";
    std::string text = randomText(round % 10 == 0 ? 300 : 40, letters);
    // Plant the target now and then, also at the very start and end.
    if (round % 4 == 0) text = target + text;
    if (round % 5 == 0) text += target;
    std::string exclude;
    if (round % 3 == 1) {
      exclude = randomText(2, letters) + target + randomText(2, letters);
      if (round % 2) text.insert(text.size() / 2, exclude);
    }
    const bool caseSensitive = rng() % 2, wholeWord = rng() % 3 == 0;
    const auto size = static_cast<int32_t>(text.size());
    int32_t first = 0, last = INT32_MAX;
    if (round % 4 == 3 && size > 0) {  // a range that may start and end mid-line
      first = std::uniform_int_distribution<int32_t>(-2, size)(rng);
      last = std::uniform_int_distribution<int32_t>(first - 1, size + 2)(rng);
    }
    const int32_t startLine = round % 7 == 0 ? 98 : 0;
    const TResult slow = Scan(text, target, exclude, caseSensitive, wholeWord, first, last, startLine, true);
    const TResult fast = Scan(text, target, exclude, caseSensitive, wholeWord, first, last, startLine, false);
    ASSERT_EQ(fast, slow) << "text \"" << Escape(text) << "\" target \"" << Escape(target) << "\" exclude \""
                          << Escape(exclude) << "\" case " << caseSensitive << " word " << wholeWord << " range "
                          << first << ".." << last;
    const TResult linear = Scan(text, target, exclude, caseSensitive, wholeWord, first, last, startLine, false, true, true);
    ASSERT_EQ(linear, slow) << "linear: text \"" << Escape(text) << "\" target \"" << Escape(target) << "\" exclude \""
                            << Escape(exclude) << "\" case " << caseSensitive << " word " << wholeWord;
    // As the search runs it: a file without finds is not counted through.
    const TResult lazy = Scan(text, target, exclude, caseSensitive, wholeWord, first, last, startLine, false, false);
    if (slow.Count > 0) {
      ASSERT_EQ(lazy, slow) << Escape(text) << " / " << Escape(target);
    } else {
      ASSERT_EQ(lazy.Lines, slow.Lines);
      ASSERT_EQ(lazy.Count, 0);
      // Nothing counted, unless there was nothing to count (an empty range).
      ASSERT_TRUE(lazy.TotalLines == 0 || lazy.TotalLines == slow.TotalLines);
    }
    ++compared;
  }
  EXPECT_EQ(compared, 20000);
}

TEST_P(MatcherDifferential, LongTargetsWithTheirRarestBytesAnywhere) {
  // The filter looks at the target's two rarest bytes, which may lie far from its start:
  // finds near the end of the data must neither be missed nor read past it.
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::string target(static_cast<size_t>(20 + rng() % 60), 'e');
    target[rng() % target.size()] = 'Q';
    target[rng() % target.size()] = 'z';
    std::string text(static_cast<size_t>(rng() % 200), 'e');
    for (char& ch : text)
      if (rng() % 7 == 0) ch = '\n';
    const size_t at = text.size() ? rng() % (text.size() + 1) : 0;
    text.insert(at, target);
    if (rng() % 2) text.resize(text.size() - rng() % 3);  // sometimes cut the last find short
    for (bool caseSensitive : {true, false}) {
      const TResult slow = Scan(text, target, "", caseSensitive, false, 0, INT32_MAX, 0, true);
      const TResult fast = Scan(text, target, "", caseSensitive, false, 0, INT32_MAX, 0, false);
      ASSERT_EQ(fast, slow) << Escape(text) << " / " << Escape(target);
    }
  }
}

TEST_P(MatcherDifferential, LongStretchesAcrossBlockEdges) {
  // Line breaks and candidates at every offset around the 16-byte blocks of the fast path.
  for (int offset = 0; offset < 70; ++offset) {
    for (const std::string brk : {"\n", "\r", "\r\n", "\n\r"}) {
      std::string text(static_cast<size_t>(offset), 'x');
      text += brk + std::string(17, 'y') + brk + "ab" + std::string(static_cast<size_t>(offset % 17), 'z') + "\r";
      for (const std::string target : {"ab", "y\ra", "\na", "b", "zz"}) {
        const TResult slow = Scan(text, target, "", false, false, 0, INT32_MAX, 0, true);
        const TResult fast = Scan(text, target, "", false, false, 0, INT32_MAX, 0, false);
        ASSERT_EQ(fast, slow) << offset << " " << Escape(brk) << " " << Escape(target);
      }
    }
  }
}

TEST_P(MatcherDifferential, FindsInEveryStretchOfALargeTextKeepTheirLines) {
  // Data held whole is scanned 2 MiB at a time (so that a stop is seen): finds before and
  // after each stretch's end, and stretches without any, must keep the lines the byte-by-byte
  // scan gives.
  std::string text;
  const std::string lines[] = {"plain filler line\n", "Gr\xC3\xB6\xC3\x9F" "e needle\r\n", "more filler\r", "x\n"};
  for (size_t i = 0; text.size() < (size_t{5} << 20); ++i) text += lines[i % 7 == 0 ? 1 : i % 3 == 0 ? 2 : i % 5 == 0 ? 3 : 0];
  text += "needle at the end";
  struct TRow {
    const char* Target;
    bool CaseSensitive, WholeWord;
  } const rows[] = {{"needle", true, false}, {"NEEDLE", false, false}, {"needle", true, true}, {"GR\xC3\x96\xC3\x9F" "E", false, false}};
  for (const TRow& r : rows) {
    for (const int32_t first : {0, (2 << 20) - 3}) {
      const TResult slow = Scan(text, r.Target, "", r.CaseSensitive, r.WholeWord, first, INT32_MAX, 0, true);
      const TResult fast = Scan(text, r.Target, "", r.CaseSensitive, r.WholeWord, first, INT32_MAX, 0, false);
      // Named by their first difference: the whole results are too long to print.
      const auto differ = std::mismatch(fast.Lines.begin(), fast.Lines.end(), slow.Lines.begin(), slow.Lines.end());
      EXPECT_TRUE(fast == slow) << r.Target << " from " << first << ": "
                                << (differ.first != fast.Lines.end() ? *differ.first : "-") << " against "
                                << (differ.second != slow.Lines.end() ? *differ.second : "-");
    }
  }
}

TEST_P(MatcherDifferential, WorstCasesTurnLinearMidScanWithTheSameFinds) {
  // Long runs of one byte make every position a candidate that nearly matches: the scan
  // changes to the linear matcher part way through, for the target and for the exclude.
  std::mt19937 rng(18);
  for (int round = 0; round < 12; ++round) {
    const std::string run(static_cast<size_t>(50 + rng() % 150), 'a');
    std::string text;
    while (text.size() < 8000) {
      text += std::string(static_cast<size_t>(rng() % 400), 'a');
      text += "eEa\nb"[rng() % 5];
    }
    const std::string target = round % 2 ? run + "e" : "a";
    const std::string exclude = round % 2 ? (round % 4 == 1 ? "" : "x" + run + "eaa") : run + "E";
    for (bool caseSensitive : {true, false}) {
      const TResult slow = Scan(text, target, exclude, caseSensitive, round % 3 == 0, 0, INT32_MAX, 0, true);
      const TResult fast = Scan(text, target, exclude, caseSensitive, round % 3 == 0, 0, INT32_MAX, 0, false);
      ASSERT_EQ(fast, slow) << round << " " << caseSensitive;
    }
  }
}

TEST_P(MatcherDifferential, CountingSearchCountsLikeTheCountAlone) {
  // Stretches of tens of kilobytes (the wide kernel sums its LF counts every 127 steps of
  // 64 bytes), with LFs only, CRs now and then, CR LF pairs across steps, nothing but LFs,
  // or no break at all, and the candidate at the end or nowhere.
  std::mt19937 rng(31);
  for (int round = 0; round < 40; ++round) {
    const int kind = round % 5;
    std::string text(static_cast<size_t>(9000 + rng() % 30000), kind == 3 ? '\n' : 'y');
    for (size_t i = 0; i < text.size(); ++i) {
      const uint32_t r = rng() % 64;
      if (kind < 3 && r == 0) text[i] = '\n';
      if (kind == 1 && r == 1 && i % 64 == 63 && i + 1 < text.size()) text.replace(i, 2, "\r\n");
      if (kind == 2 && r == 2) text[i] = '\r';
    }
    if (round % 2) text += "ab";
    const TCandidateFilter filter = MakeCandidateFilter("ab", true);
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data()) + round % 5;
    const auto* end = reinterpret_cast<const unsigned char*>(text.data()) + text.size() - 1;
    const bool afterCR = round % 3 == 0;
    TBreakCount counted;
    const unsigned char* found = FindCandidateCountingBreaks(filter, begin, end, afterCR, counted);
    ASSERT_EQ(found, FindCandidate(filter, begin, end)) << round;
    const TBreakCount alone = CountLineBreaks(begin, found, afterCR);
    EXPECT_EQ(counted.Breaks, alone.Breaks) << round;
    EXPECT_EQ(counted.LastBreak, alone.LastBreak) << round;
  }
}

TEST(ScanKernels, LastLineBreakIsTheOneABackwardLoopFinds) {
  // Every length across the vector widths, with a CR, an LF or none at every place.
  for (size_t size = 0; size <= 70; ++size)
    for (size_t at = 0; at <= size; ++at)
      for (const unsigned char brk : {static_cast<unsigned char>(10), static_cast<unsigned char>(13)}) {
        std::vector<unsigned char> bytes(size, 'x');
        if (at < size) bytes[at] = brk;
        if (at >= 3 && size > 0) bytes[at / 3] = 10;  // an earlier one, which must not win
        const unsigned char* begin = bytes.data();
        const unsigned char* want = nullptr;
        for (size_t i = size; i-- > 0;)
          if (bytes[i] == 10 || bytes[i] == 13) {
            want = begin + i;
            break;
          }
        ASSERT_EQ(FindLastLineBreak(begin, begin + size), want) << "size " << size << " at " << at;
      }
}
