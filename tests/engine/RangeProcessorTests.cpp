#include <gtest/gtest.h>

#include <map>

#include "engine/RangeProcessor.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "support/TestSupport.h"

using namespace trawlex;

namespace {

struct TOptions {
  bool CaseSensitive = false;
  bool WholeWord = false;
  const char* Exclude = "";
};

struct TOutcome {
  int32_t Count = 0;
  int32_t TotalLines = 0;
  // "lineNo:pos,pos,..." per line item, in order
  std::vector<std::string> Lines;
  std::vector<std::string> Texts;
};

std::string Describe(const TSearchLine& line) {
  std::string s = std::to_string(line.LineNo()) + ":";
  const auto pos = line.GetPositions();
  for (size_t i = 0; i < pos.size(); ++i) s += (i ? "," : "") + std::to_string(pos[i]);
  return s;
}

TOutcome Scan(const std::string& bytes, const std::string& target, const TOptions& o = {}, bool allLines = false,
              int32_t first = 0, int32_t last = INT32_MAX, int32_t startLine = 0) {
  TSearchParams params;
  params.SetCaseSensitive(o.CaseSensitive);
  params.WholeWord = o.WholeWord;
  params.SetTarget(target);
  params.SetExclude(o.Exclude);
  TSearchFile file(&params);
  TRangeProcessor proc(&params);
  proc.File = &file;
  proc.SetBytes(bytes, "mem");
  proc.Modes.AllLines = allLines;
  proc.LineNo = startLine;
  TOutcome out;
  out.Count = proc.Process(first, last);
  out.TotalLines = file.TotalLines;
  for (int32_t i = 0; i < file.GetLineCount(); ++i) {
    out.Lines.push_back(Describe(*file.GetLine(i)));
    out.Texts.emplace_back(file.GetLine(i)->Text());
  }
  return out;
}

using L = std::vector<std::string>;

}  // namespace

struct TMatchCase {
  const char* Name;
  std::string Text;
  std::string Target;
  TOptions Options;
  int32_t Count;
  L Lines;
};

TEST(TargetMatching, Rules) {
  const TMatchCase cases[] = {
      {"no overlap, leftmost wins", "aaaa", "aa", {}, 2, {"0:1,3,3"}},
      {"case-insensitive", "Foo foo FOO", "foo", {}, 3, {"0:1,4,5,8,9"}},
      {"case-sensitive", "Foo foo FOO", "foo", {true, false, ""}, 1, {"0:5,8"}},
      {"whole word: underscore is a word byte", "foo_bar foo bar.foo", "foo", {false, true, ""}, 2, {"0:9,12,17"}},
      {"whole word end condition", "a-xb", "-x", {false, true, ""}, 0, {}},
      {"no start condition for a non-word first byte", "a-x b", "-x", {false, true, ""}, 1, {"0:2,4"}},
      {"whole word at file start and end", "int", "int", {false, true, ""}, 1, {"0:1"}},
      {"whole word inside a word", "print", "int", {false, true, ""}, 0, {}},
      {"exclude drops the find inside it", "concatenate the cat", "cat", {false, false, "concatenate"}, 1, {"0:17"}},
      {"exclude ending at the last byte", "the concatenate", "cat", {false, false, "concatenate"}, 0, {}},
      {"dropped candidate sets no skip", "xaaa", "aa", {false, false, "xaa"}, 1, {"0:3"}},
      {"exclude is case-insensitive with the search", "CONCATENATE cat", "cat", {false, false, "concatenate"}, 1, {"0:13"}},
      {"exclude is case-sensitive with the search", "CONCATENATE cat", "CAT", {true, false, "concatenate"}, 1, {"0:4,7"}},
      {"exclude occurrence spanning a line break", "con\ncat", "cat", {false, false, "con\ncat"}, 0, {}},
      {"target at the very end cut short", "xxa", "ab", {}, 0, {}},
      {"high bytes are not letters", "\xE9\xC9", "\xE9", {}, 1, {"0:1,2"}},
      {"zero bytes match exactly", std::string("a\0b", 3), std::string("\0b", 2), {}, 1, {"0:2"}},
      {"find at end of line records only its start", "ab foo\nx", "foo", {}, 1, {"0:4"}},
      {"two finds in a line, the second at its end", "foo foo", "foo", {}, 2, {"0:1,4,5"}},
      {"lines counted while skipping", "ab\nab\nab", "b\na", {}, 2, {"0:2,5", "1:2,5"}},
  };
  for (const auto& c : cases) {
    const TOutcome out = Scan(c.Text, c.Target, c.Options);
    EXPECT_EQ(out.Count, c.Count) << c.Name;
    EXPECT_EQ(out.Lines, c.Lines) << c.Name;
  }
}

struct TLineCase {
  const char* Name;
  std::string Text;
  std::string Target;
  L Lines;
  int32_t TotalLines;
};

TEST(TargetMatching, LineBreaks) {
  const TLineCase cases[] = {
      {"CR LF, lone CR and lone LF", "ab\r\ncd\ref\n", "c", {"1:1,2"}, 4},
      {"LF CR is two breaks", "\n\rx", "x", {"2:1"}, 3},
      {"CR LF is one break", "\r\nx", "x", {"1:1"}, 2},
      {"CR at the end", "x\r", "x", {"0:1"}, 2},
      {"empty file", "", "x", {}, 1},
      {"no break at the end", "a\nb", "b", {"1:1"}, 2},
  };
  for (const auto& c : cases) {
    const TOutcome out = Scan(c.Text, c.Target);
    EXPECT_EQ(out.Lines, c.Lines) << c.Name;
    EXPECT_EQ(out.TotalLines, c.TotalLines) << c.Name;
  }
}

TEST(TargetMatching, LineItemsHoldTheWholeLineAndItsStart) {
  TSearchParams params;
  params.SetTarget("cd");
  TSearchFile file(&params);
  TRangeProcessor proc(&params);
  proc.File = &file;
  proc.SetBytes("ab\r\nxcdy\r\nz", "mem");
  EXPECT_EQ(proc.Process(0, INT32_MAX), 1);
  ASSERT_EQ(file.GetLineCount(), 1);
  const TSearchLine* line = file.GetLine(0);
  EXPECT_EQ(line->Text(), "xcdy");
  EXPECT_EQ(line->LineStart(), 4);
  EXPECT_EQ(line->GetFindPos(0), 5);
  EXPECT_EQ(line->GetFindLength(0), 2);
}

TEST(TargetMatching, NotifiesBeforeTheFirstLineAndAfterEachLineIsWhole) {
  // Each line item is announced once it has joined the file with all its finds; the file's
  // first find is announced before any line exists. 600 lines: more than one batch.
  TSearchParams params;
  params.SetTarget("a");
  TSearchFile file(&params);
  TRangeProcessor proc(&params);
  proc.File = &file;
  std::vector<std::string> events;
  proc.OnNewFindLine = [&] { events.push_back("new " + std::to_string(file.GetLineCount())); };
  proc.OnLineCreated = [&](TSearchLine* l) {
    events.push_back("created " + std::to_string(l->LineNo()) + " finds " + std::to_string(l->GetFindCount()) + " in " +
                     std::to_string(file.IndexOfLineNo(l->LineNo())));
  };
  std::string text = "aa\nb\na";
  for (int i = 0; i < 600; ++i) text += "\nxa";
  proc.SetBytes(text, "mem");
  proc.Process(0, INT32_MAX);
  std::vector<std::string> expected{"new 0", "created 0 finds 2 in 0", "created 2 finds 1 in 1"};
  for (int i = 0; i < 600; ++i) expected.push_back("created " + std::to_string(i + 3) + " finds 1 in " + std::to_string(i + 2));
  EXPECT_EQ(events, expected);
  proc.OnNewFindLine = [&] { events.push_back("new again"); };
  proc.Process(0, 1);  // the file has lines already
  ASSERT_EQ(events.size(), expected.size() + 1);
  EXPECT_EQ(events.back().rfind("created ", 0), 0u);
}

TEST(TargetMatching, LineNumberDigitsGrowWithTheLineNumbers) {
  TSearchParams params;
  params.SetTarget("x");
  TSearchFile file(&params);
  TRangeProcessor proc(&params);
  proc.File = &file;
  std::string text(9, '\n');
  text += "x";  // line number 10 (1-based)
  proc.SetBytes(text, "mem");
  proc.Process(0, INT32_MAX);
  EXPECT_EQ(params.LineNoDigits(), 2);
}

TEST(TargetMatching, EmptyTargetIsAnError) {
  EXPECT_ANY_THROW(Scan("abc", ""));
}

TEST(AllLines, EveryLineOfTheRangeGetsAnItem) {
  const TOutcome out = Scan("ab\ncd\n", "c", {}, true, 0, 5);
  EXPECT_EQ(out.Texts, (std::vector<std::string>{"ab", "cd"}));
  EXPECT_EQ(out.Lines, (L{"0:", "1:1,2"}));
}

TEST(AllLines, FinalLineWithoutBreakAndStartingLineNumber) {
  const TOutcome out = Scan("ab\ncd\nef", "zz", {}, true, 3, INT32_MAX, 7);
  EXPECT_EQ(out.Texts, (std::vector<std::string>{"cd", "ef"}));
  EXPECT_EQ(out.Lines, (L{"7:", "8:"}));
  EXPECT_EQ(out.TotalLines, 9);
}

TEST(AllLines, RangeEndingMidLineTakesTheWholeLine) {
  const TOutcome out = Scan("abc\ndef\nghi", "e", {}, true, 0, 5);
  EXPECT_EQ(out.Texts, (std::vector<std::string>{"abc", "def"}));
  EXPECT_EQ(out.TotalLines, 0);  // the scan did not reach the end of the file
}

class LineNavigation : public ::testing::Test {
 protected:
  void Load(const std::string& bytes) { Proc.SetBytes(bytes, "mem"); }
  TSearchParams Params;
  TRangeProcessor Proc{&Params};
};

TEST_F(LineNavigation, StartsAndEnds) {
  Load("ab\r\ncd\nef");  // a0 b1 CR2 LF3 c4 d5 LF6 e7 f8
  EXPECT_TRUE(Proc.IsCRLF(2));
  EXPECT_FALSE(Proc.IsCRLF(3));
  EXPECT_EQ(Proc.GetLineEnd(0), 1);
  EXPECT_EQ(Proc.GetLineEnd(2), 2);
  EXPECT_EQ(Proc.GetLineEnd(7), 8);
  EXPECT_EQ(Proc.GetLineStart(5), 4);
  EXPECT_EQ(Proc.GetLineStart(1), 0);
  EXPECT_EQ(Proc.GetLineStart(8), 7);
}

TEST_F(LineNavigation, PreviousAndNextLineStarts) {
  Load("ab\r\ncd\nef");
  EXPECT_EQ(Proc.GetPrevLineStart(5), 0);   // over a CR LF
  EXPECT_EQ(Proc.GetPrevLineStart(8), 4);   // over a lone LF
  EXPECT_EQ(Proc.GetPrevLineStart(1), -1);  // first line
  EXPECT_EQ(Proc.GetNextLineStart(0), 4);
  EXPECT_EQ(Proc.GetNextLineStart(4), 7);
  EXPECT_EQ(Proc.GetNextLineStart(7), 9);   // last line: the size
}

TEST_F(LineNavigation, LoneCrAndEmptyLines) {
  Load("a\r\rb");  // a0 CR1 CR2 b3
  EXPECT_EQ(Proc.GetNextLineStart(0), 2);
  EXPECT_EQ(Proc.GetNextLineStart(2), 3);
  EXPECT_EQ(Proc.GetPrevLineStart(3), 2);
  EXPECT_EQ(Proc.GetPrevLineStart(2), 0);
}

TEST(TargetMatching, OneProcessorFollowsChangesOfTargetAndCase) {
  // The processor prepares the target once; a change of target or case rule must show.
  TSearchParams params;
  TSearchFile file(&params);
  TRangeProcessor proc(&params);
  proc.File = &file;
  proc.SetBytes("Foo foo bar", "mem");
  params.SetTarget("foo");
  EXPECT_EQ(proc.Process(0, INT32_MAX), 2);
  params.SetCaseSensitive(true);
  proc.SetBytes("Foo foo bar", "mem");
  EXPECT_EQ(proc.Process(0, INT32_MAX), 1);
  params.SetTarget("bar");
  proc.SetBytes("Foo foo bar", "mem");
  EXPECT_EQ(proc.Process(0, INT32_MAX), 1);
  params.SetTarget("BAR");
  proc.SetBytes("Foo foo bar", "mem");
  EXPECT_EQ(proc.Process(0, INT32_MAX), 0);
}

// The preview of a large file holds only the lines around the one it shows. Whatever the
// cut, those must be whole lines, numbered, placed and matched as the whole file has them,
// with the line asked for among them.
TEST(PreviewSlice, HoldsWholeLinesAsTheWholeFileHasThem) {
  struct TCase {
    const char* Name;
    std::string Bytes;
  };
  const std::string longLine = "needle " + std::string(60, 'x') + " needle";
  const TCase cases[] = {
      {"LF", "a needle\nbb\n\nneedle needle c\nddd\nNEEDLE\n"},
      {"CR LF, cuts between CR and LF", "needle\r\nx\r\n\r\nyy needle\r\nz\r\n"},
      {"lone CR and a mix", "p needle\rq\r\rneedle\nr\r\ns needle"},
      {"no final break", "one\ntwo needle\nthree"},
      {"a line longer than the reach", "a\n" + longLine + "\nb needle\n" + longLine},
  };
  test::TTempDir dir;
  for (const TCase& c : cases) {
    const std::string path = dir.Write("f.txt", c.Bytes);
    TSearchParams params;
    params.SetTarget("needle");
    TSearchFile whole(&params);
    whole.Name = path;
    TRangeProcessor all(&params);
    all.SetFile(&whole);
    all.Modes.AllLines = true;
    all.Process(0, all.Size - 1);
    std::map<int64_t, std::string> byStart;  // line start -> "lineNo:positions|text"
    for (int32_t i = 0; i < whole.GetLineCount(); ++i)
      byStart[whole.GetLine(i)->LineStart()] = Describe(*whole.GetLine(i)) + "|" + std::string(whole.GetLine(i)->Text());
    for (const int64_t reach : {1, 2, 3, 5, 8, 13, 40}) {
      for (const auto& [position, expected] : byStart) {
        if (position == all.Size) continue;  // the empty rest after a final break is no line
        SCOPED_TRACE(std::string(c.Name) + ", reach " + std::to_string(reach) + ", line at " + std::to_string(position));
        TSearchFile slice(&params);
        slice.Name = path;
        TRangeProcessor part(&params);
        ASSERT_TRUE(part.SetFileAround(&slice, position, 4, reach));
        const auto first = byStart.find(part.SliceStart);
        ASSERT_NE(first, byStart.end()) << "the slice starts mid-line";
        part.Modes.AllLines = true;
        part.LineNo = std::stoll(first->second);
        part.Process(0, part.Size - 1);
        bool asked = false;
        for (int32_t i = 0; i < slice.GetLineCount(); ++i) {
          const TSearchLine& line = *slice.GetLine(i);
          if (line.LineStart() == part.SliceStart + part.Size) continue;  // after the last break held: no line
          ASSERT_EQ(byStart.count(line.LineStart()), 1u) << i;
          EXPECT_EQ(Describe(line) + "|" + std::string(line.Text()), byStart[line.LineStart()]);
          asked |= line.LineStart() == position;
        }
        EXPECT_TRUE(asked);
        EXPECT_EQ(part.FileEndsWithBreak, all.FileEndsWithBreak);
      }
    }
  }
  // A small file, and a UTF-16 one (whose positions are those of its text), are read whole.
  TSearchParams params;
  params.SetTarget("needle");
  TSearchFile file(&params);
  TRangeProcessor m(&params);
  file.Name = dir.Write("small.txt", "needle\n");
  EXPECT_FALSE(m.SetFileAround(&file, 0, 4 << 10, 1));
  file.Name = dir.Write("wide.txt", std::string("\xFF\xFEn\0e\0\n\0", 8) + std::string(64, 'x'));
  EXPECT_FALSE(m.SetFileAround(&file, 0, 4, 1));
}
