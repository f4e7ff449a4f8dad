#include <gtest/gtest.h>

#include "base/Errors.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/TabSettings.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::TRecordingSurface;
using V = std::vector<std::string>;

namespace {

TSearchLine* AddLine(TSearchFile& file, int32_t lineNo, const std::string& text, std::vector<int32_t> positions,
                     int32_t lineStart = 100) {
  TSearchLine* line = file.AddLine(lineNo, lineStart, text);
  for (int32_t p : positions) line->AddPosition(p);
  return line;
}

}  // namespace

TEST(SearchLine, PositionsSegmentsAndFinds) {
  TSearchParams params;
  TSearchFile file(&params);
  TSearchLine* line = AddLine(file, 0, "x foo y foo", {3, 6, 9});
  EXPECT_EQ(line->GetFindCount(), 2);
  EXPECT_EQ(line->GetSegmentCount(), 4);
  V segments;
  for (int32_t i = 0; i < line->GetSegmentCount(); ++i) segments.push_back(line->GetSegmentText(i));
  EXPECT_EQ(segments, (V{"x ", "foo", " y ", "foo"}));
  EXPECT_EQ(line->GetFindLength(0), 3);
  EXPECT_EQ(line->GetFindLength(1), 3);  // runs to the end of the line
  EXPECT_EQ(line->GetFindPos(1), 100 + 8);
}

struct TArrayCase {
  const char* Name;
  std::string Text;
  std::vector<int32_t> Added, Expected;  // Expected empty: the same as Added
  std::vector<int32_t> Lengths;
  V Segments;
};

TEST(SearchLine, PositionArrayKeepsWhatWasAddedWhateverTheFindsLengths) {
  const TArrayCase cases[] = {
      {"open last end", "x foo y foo", {3, 6, 9}, {}, {3, 3}, {"x ", "foo", " y ", "foo"}},
      {"different lengths", "abcdefgh", {1, 2, 4, 8}, {}, {1, 4}, {"", "a", "bc", "defg", "h"}},
      {"lengths differ only at the last", "abcdef", {1, 3, 4}, {}, {2, 3}, {"", "ab", "c", "def"}},
      {"find running over the line break", "ab", {2, 5}, {}, {3}, {"a", "b", ""}},
      {"end given where the line ends", "foo", {1, 4}, {1}, {3}, {"", "foo"}},
      {"selected finds", "aa aa", {-1, 3, -4}, {}, {2, 2}, {"", "aa", " ", "aa"}},
  };
  for (const TArrayCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSearchParams params;
    TSearchFile file(&params);
    TSearchLine* line = AddLine(file, 0, c.Text, c.Added);
    EXPECT_EQ(line->GetPositions(), c.Expected.empty() ? c.Added : c.Expected);
    std::vector<int32_t> lengths;
    for (int32_t k = 0; k < line->GetFindCount(); ++k) lengths.push_back(line->GetFindLength(k));
    EXPECT_EQ(lengths, c.Lengths);
    V segments;
    for (int32_t i = 0; i < line->GetSegmentCount(); ++i) segments.push_back(line->GetSegmentText(i));
    EXPECT_EQ(segments, c.Segments);
  }
}

TEST(SearchLine, FindsAddedInBatchesKeepTheirLengthAndGiveTheSelectedOnesInOrder) {
  TSearchParams params;
  TSearchFile file(&params);
  TSearchLine* line = file.AddLine(4, 200, "ab");
  const int32_t cols[] = {1, 2};
  line->AddFinds(cols, 2, 3);  // the second runs over the line break
  EXPECT_EQ(line->GetPositions(), (std::vector<int32_t>{1, 4, 2, 5}));
  line->SetFindSelected(1, true);
  std::vector<std::pair<int32_t, int32_t>> selected;
  line->ForEachSelectedFind([&](int32_t offset, int32_t length) { selected.emplace_back(offset, length); });
  EXPECT_EQ(selected, (std::vector<std::pair<int32_t, int32_t>>{{201, 3}}));
}

// Finds take 2 bytes where every column fits in 15 bits; a column past that, at any step of
// a line's making, widens them all without changing one value or selection.
TEST(SearchLine, ColumnsPastFifteenBitsWidenTheFindsAndKeepThem) {
  struct TCase {
    const char* Name;
    size_t TextLength;
    std::vector<int32_t> MadeWith;        // finds of length 3 given when the line is made
    std::vector<int32_t> AddedCols;       // then added in a batch of length 3
    std::vector<int32_t> AddedPositions;  // then added one value at a time
    std::vector<int32_t> Expected;        // the position array (start, end, ...)
  };
  const TCase cases[] = {
      {"short line stays narrow", 100, {1, 50}, {90}, {}, {-1, 4, -50, 53, -90, 93}},
      {"made past the limit", 40000, {5, 39990}, {}, {}, {-5, 8, -39990, 39993}},
      {"a batch past the limit", 40000, {5}, {32766, 39000}, {}, {-5, 8, -32766, 32769, -39000, 39003}},
      {"an end past the limit", 40000, {5}, {}, {32760, 32790}, {-5, 8, -32760, 32790}},
      {"ends of other lengths then a wide start", 40000, {5}, {}, {10, 12, 35000}, {-5, 8, -10, 12, -35000}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSearchParams params;
    TSearchFile file(&params);
    const std::string text(c.TextLength, 'x');
    std::vector<TSearchLine> made{file.MakeLine(2, 70000, text, c.MadeWith.data(), c.MadeWith.size(), 3)};
    TSearchLine* line = file.AddLines(made);
    line->AddFinds(c.AddedCols.data(), c.AddedCols.size(), 3);
    for (int32_t p : c.AddedPositions) line->AddPosition(p);
    file.SelectAllFinds(true);
    EXPECT_EQ(line->GetPositions(), c.Expected);
    EXPECT_EQ(line->Text(), text);
    EXPECT_EQ(line->GetFindPos(line->GetFindCount() - 1), 70000 + std::abs(c.Expected[c.Expected.size() % 2 ? c.Expected.size() - 1 : c.Expected.size() - 2]) - 1);
  }
}

TEST(SearchLine, FindFillingTheWholeLine) {
  TSearchParams params;
  TSearchFile file(&params);
  TSearchLine* line = AddLine(file, 0, "foo", {1});
  EXPECT_EQ(line->GetSegmentText(0), "");
  EXPECT_EQ(line->GetSegmentText(1), "foo");
  EXPECT_EQ(line->GetFindLength(0), 3);
}

TEST(SearchLine, SelectionLivesInTheSignAndChangesNothingElse) {
  TSearchParams params;
  TSearchFile file(&params);
  TSearchLine* line = AddLine(file, 0, "x foo y foo", {3, 6, 9});
  line->SetFindSelected(0, true);
  EXPECT_EQ(line->GetPositions(), (std::vector<int32_t>{-3, 6, 9}));
  EXPECT_TRUE(line->GetFindSelected(0));
  EXPECT_FALSE(line->GetFindSelected(1));
  EXPECT_EQ(line->GetFindPos(0), 102);
  EXPECT_EQ(line->GetFindLength(0), 3);
  EXPECT_EQ(line->GetSegmentText(1), "foo");
  line->SetFindSelected(0, false);
  EXPECT_EQ(line->GetPositions()[0], 3);
}

TEST(SearchLine, FindIndexOutOfRangeIsAnAssertion) {
  TSearchParams params;
  TSearchFile file(&params);
  TSearchLine* line = AddLine(file, 0, "foo", {1});
  for (int32_t k : {-1, 1}) {
    try {
      line->GetFindSelected(k);
      ADD_FAILURE() << k;
    } catch (const EAssertionFailed& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Invalid value in GetFindSelected", 0), 0u);
    }
  }
  EXPECT_THROW(line->SetFindSelected(1, true), EAssertionFailed);
  EXPECT_EQ(line->GetPositions(), (std::vector<int32_t>{1}));
}

TEST(SearchLine, TextRightAlignsTheLineNumber) {
  TSearchParams params;
  TSearchFile file(&params);
  const struct {
    int32_t Digits, LineNo;
    const char* Text;
    const char* Expected;
  } cases[] = {
      {3, 6, "abc", "   7: abc"},
      {3, 1233, "abc", " 1234: abc"},
      {1, 0, "abc", " 1: abc"},
      {2, 4, "\tx", "  5: \tx"},
  };
  for (const auto& c : cases) {
    params.SetLineNoDigits(c.Digits);
    TSearchLine* line = AddLine(file, c.LineNo, c.Text, {1});
    EXPECT_EQ(line->GetText(), c.Expected);
  }
}

TEST(SearchLine, TabsExpandForDrawingOnlyAsTheSurfaceSays) {
  TSearchParams params;
  TSearchFile file(&params);
  TSearchLine* line = AddLine(file, 0, "a\tb foo", {5});
  TRecordingSurface surface;
  EXPECT_EQ(line->GetSegmentText(0, {true, 4}), "a    b ");
  EXPECT_EQ(line->GetWidth(surface), 7);  // the raw text
  EXPECT_EQ(line->GetSegmentText(0, {true, 1}), "a b ");
  EXPECT_EQ(line->GetSegmentText(0, {false, 4}), "a\tb ");
  // Drawn on two surfaces with different settings at once: each draws with its own.
  TRecordingSurface wide, raw;
  wide.TabSet = {true, 8};
  raw.TabSet = {false, 8};
  line->Draw(wide, {0, 0, 100, 10}, 0);
  line->Draw(raw, {0, 0, 100, 10}, 0);
  auto texts = [](const TRecordingSurface& s) {
    V out;
    for (const auto& c : s.Calls)
      if (c.Op == "text") out.push_back(c.Text);
    return out;
  };
  EXPECT_EQ(texts(wide), (V{"1: ", "a        b ", "foo"}));
  EXPECT_EQ(texts(raw), (V{"1: ", "a\tb ", "foo"}));
}

TEST(SearchFile, IndexOfLineNo) {
  TSearchParams params;
  TSearchFile file(&params);
  for (int32_t n : {2, 5, 9}) AddLine(file, n, "x", {1});
  const std::pair<int32_t, int32_t> cases[] = {{5, 1}, {2, 0}, {9, 2}, {4, -1}, {12, 3}, {0, -1}};
  for (const auto& [n, index] : cases) EXPECT_EQ(file.IndexOfLineNo(n), index) << n;
}

TEST(SearchFile, FindCountSelectAllAndCopySelection) {
  TSearchParams params;
  TSearchFile a(&params), b(&params);
  AddLine(a, 1, "foo foo", {1, 4, 5});
  AddLine(a, 3, "foo", {1});
  AddLine(b, 1, "foo", {1});
  AddLine(b, 2, "foo", {1});
  EXPECT_EQ(a.GetFindCount(), 3);
  a.SelectAllFinds(true);
  EXPECT_TRUE(a.GetLine(0)->GetFindSelected(1));
  EXPECT_TRUE(a.GetLine(1)->GetFindSelected(0));
  // b's line 1 takes a's selection of its one find; line 2 has no counterpart.
  b.CopyFindSelection(a);
  EXPECT_TRUE(b.GetLine(0)->GetFindSelected(0));
  EXPECT_FALSE(b.GetLine(1)->GetFindSelected(0));
  a.SelectAllFinds(false);
  a.GetLine(0)->SetFindSelected(1, true);
  b.SelectAllFinds(true);
  a.CopyFindSelection(b);  // a's second find of line 1 has no counterpart: kept
  EXPECT_TRUE(a.GetLine(0)->GetFindSelected(0));
  EXPECT_TRUE(a.GetLine(0)->GetFindSelected(1));
  EXPECT_FALSE(a.GetLine(1)->GetFindSelected(0));
}

TEST(SearchFile, SortDeleteAndOwnerLookups) {
  TSearchParams params;
  TSearchFile file(&params);
  file.Name = "/x/a.txt";
  AddLine(file, 9, "x", {1});
  AddLine(file, 2, "x", {1});
  file.SortLines();  // moves the items: compared by what they hold
  EXPECT_EQ(file.GetLine(0)->LineNo(), 2);
  EXPECT_EQ(file.GetLine(1)->LineNo(), 9);
  file.DeleteLine(0);
  EXPECT_EQ(file.GetLineCount(), 1);
  EXPECT_THROW(file.GetLine(5), ETrawlexError);
  std::string path;
  int32_t lineNo = -1;
  ASSERT_TRUE(GetItemLocation(file.GetLine(0), path, lineNo));
  EXPECT_EQ(path, "/x/a.txt");
  EXPECT_EQ(lineNo, 9);
  ASSERT_TRUE(GetItemLocation(&file, path, lineNo));
  EXPECT_EQ(lineNo, 0);
  EXPECT_EQ(GetOwnerFile(file.GetLine(0)), &file);
  TItemList list{{&file}, {file.GetLine(0)}};
  EXPECT_TRUE(IsFileItemAt(list, 0));
  EXPECT_FALSE(IsFileItemAt(list, 1));
  EXPECT_FALSE(IsFileItemAt(list, 2));
}

namespace {
std::unique_ptr<TSearchFile> MakeFile(TSearchParams& p, const std::string& name, int32_t size, double time, int finds) {
  auto f = std::make_unique<TSearchFile>(&p);
  f->Name = name;
  f->Size = size;
  f->FileTime = time;
  for (int i = 0; i < finds; ++i) AddLine(*f, i, "x", {1});
  return f;
}

V SortedNames(TSearchParams& p, int key, bool descending) {
  p.Descending = descending;
  p.SortResults(CompareForSortKey(key));
  V names;
  for (int32_t i = 0; i < p.GetResultCount(); ++i) names.push_back(p.GetResult(i)->Name);
  return names;
}
}  // namespace

TEST(SortResults, EveryKeyFallsBackToTheName) {
  TSearchParams p;
  p.AddResult(MakeFile(p, "b", 10, 3.0, 2));
  p.AddResult(MakeFile(p, "a", 30, 1.0, 1));
  p.AddResult(MakeFile(p, "c", 30, 2.0, 2));
  p.AddResult(MakeFile(p, "B_", 5, 2.0, 1));
  EXPECT_EQ(SortedNames(p, 1, true), (V{"c", "a", "b", "B_"}));
  EXPECT_EQ(SortedNames(p, 1, false), (V{"B_", "b", "a", "c"}));
  EXPECT_EQ(SortedNames(p, 0, false), (V{"a", "b", "B_", "c"}));
  EXPECT_EQ(SortedNames(p, 0, true), (V{"c", "B_", "b", "a"}));
  EXPECT_EQ(SortedNames(p, 2, false), (V{"a", "B_", "c", "b"}));
  EXPECT_EQ(SortedNames(p, 3, true), (V{"c", "b", "B_", "a"}));
}

TEST(SortResults, NamesDifferingOnlyInCaseStayDistinctAndOrdered) {
  TSearchParams p;
  p.AddResult(MakeFile(p, "/d/a.txt", 1, 1, 1));
  p.AddResult(MakeFile(p, "/d/A.txt", 1, 1, 1));
  EXPECT_EQ(SortedNames(p, 0, false), (V{"/d/A.txt", "/d/a.txt"}));
  EXPECT_NE(CompareByName(*p.GetResult(0), *p.GetResult(1)), 0);
}

// ---- Drawing -------------------------------------------------------------------------

TEST(DrawFile, RightHandValueFollowsTheSortKey) {
  TSearchParams params;
  TSearchFile file(&params);
  file.Name = "/src/a.c";
  file.Size = 1234;
  file.FileTime = EncodeDateTime({2024, 3, 5, 14, 7, 58});
  AddLine(file, 0, "foo foo", {1, 4, 5});
  const TRect rect{10, 20, 110, 36};
  const struct {
    uint8_t Key;
    V Value;  // the value's calls, empty for none
  } cases[] = {
      {0, {}},
      {1, {"color 008000", "text 104,20 1234"}},
      {2, {"color 008000", "text 92,20 2024-03-05 14:07"}},
      {3, {"color 008000", "text 107,20 2"}},
  };
  for (const auto& c : cases) {
    params.SortKey = c.Key;
    TRecordingSurface s;
    file.Draw(s, rect, 0);
    V expected{"fill Window"};
    expected.insert(expected.end(), c.Value.begin(), c.Value.end());
    expected.insert(expected.end(), {"color WindowText", "style B", "text 12,20 /src/a.c"});
    EXPECT_EQ(s.Trace(), expected) << int(c.Key);
  }
}

TEST(DrawFile, SelectedColours) {
  TSearchParams params;
  params.SortKey = 1;
  TSearchFile file(&params);
  file.Name = "n";
  file.Size = 7;
  TRecordingSurface focused, unfocused;
  file.Draw(focused, {0, 0, 50, 16}, odSelected | odFocused);
  file.Draw(unfocused, {0, 0, 50, 16}, odSelected);
  EXPECT_EQ(focused.Trace(), (V{"fill Highlight", "color ScrollBar", "text 47,0 7", "color Window", "style B", "text 2,0 n"}));
  EXPECT_EQ(unfocused.Trace()[0], "fill 808080");
}

TEST(DrawLine, PrefixSegmentsAndFindColours) {
  TSearchParams params;
  TRecordingSurface measure;
  params.SetCanvas(&measure);
  params.SetLineNoDigits(2);  // width ": " + 2 * "0" = 4
  TSearchFile file(&params);
  file.TotalLines = 50;
  TSearchLine* line = AddLine(file, 6, "x foo y foo", {3, 6, 9});
  line->SetFindSelected(1, true);
  TRecordingSurface s;
  line->Draw(s, {10, 32, 200, 48}, 0);
  EXPECT_EQ(s.Trace(), (V{"fill Window", "color GrayText", "text 11,32 7: ",
                          "color WindowText", "text 14,32 x ",
                          "color 0000FF", "text 16,32 foo",
                          "color WindowText", "text 19,32  y ",
                          "color FF0000", "text 22,32 foo"}));
}

TEST(DrawLine, SelectedStateColours) {
  TSearchParams params;
  TSearchFile file(&params);
  TSearchLine* line = AddLine(file, 0, "ab", {1, 2});
  line->SetFindSelected(0, true);
  TRecordingSurface focused;
  line->Draw(focused, {0, 0, 100, 16}, odSelected | odFocused);
  EXPECT_EQ(focused.Trace(), (V{"fill Highlight", "color GrayText", "text -3,0 1: ", "color Window", "text 0,0 ",
                                "color FFB0B0", "text 0,0 a", "color Window", "text 1,0 b"}));
  line->SetFindSelected(0, false);
  TRecordingSurface unfocused;
  line->Draw(unfocused, {0, 0, 100, 16}, odSelected);
  EXPECT_EQ(unfocused.Trace()[0], "fill 808080");
  EXPECT_EQ(unfocused.Trace()[5], "color B0B0FF");
}

TEST(DrawLine, LastLineOfTheFileIsUnderlined) {
  TSearchParams params;
  TSearchFile file(&params);
  file.TotalLines = 3;
  TSearchLine* last = AddLine(file, 2, "end", {1});
  TSearchLine* other = AddLine(file, 1, "mid", {1});
  TRecordingSurface s1, s2;
  last->Draw(s1, {0, 0, 100, 16}, 0);
  other->Draw(s2, {0, 0, 100, 16}, 0);
  EXPECT_EQ(s1.Trace()[2], "style U");
  for (const auto& call : s1.Calls) {
    if (call.Op == "text") {
      EXPECT_TRUE(call.Style & fsUnderline) << call.Text;
    }
  }
  for (const auto& t : s2.Trace()) EXPECT_NE(t, "style U");
}

TEST(FindAtX, HitsOnlyTheFindsPixels) {
  TSearchParams params;
  TRecordingSurface measure;
  measure.TabSet = {true, 4};
  params.SetCanvas(&measure);  // line-number column: 3 pixels
  TSearchFile file(&params);
  TSearchLine* line = AddLine(file, 0, "\tfoo bar foo", {2, 5, 10});
  // drawn: prefix 0..2, "    " 3..6, "foo" 7..9, " bar " 10..14, "foo" 15..17
  const std::pair<int32_t, int32_t> cases[] = {{0, -1}, {6, -1}, {7, 0}, {9, 0}, {10, -1}, {14, -1}, {15, 1}, {17, 1}, {18, -1}};
  for (const auto& [x, k] : cases) EXPECT_EQ(line->FindAtX(measure, x), k) << x;
}

TEST(ItemWidths, FileAndLine) {
  TSearchParams params;
  TRecordingSurface s;
  params.SetCanvas(&s);
  TSearchFile file(&params);
  file.Name = "abcdef";
  TSearchLine* line = AddLine(file, 0, "xyz", {1});
  EXPECT_EQ(file.GetWidth(s), 8);
  EXPECT_EQ(line->GetWidth(s), 3 + params.LineNoWidth());
  EXPECT_EQ(file.GetTypeName(), "File");
  EXPECT_EQ(line->GetTypeName(), "Line");
  EXPECT_EQ(file.GetText(), "abcdef");
}

TEST(TextArena, EveryPieceStaysWhereItWasPutAsTheArenaGrows) {
  // Pieces from empty to larger than a block, in an order that leaves room in a block
  // when a large one comes; every view must still read its own bytes at the end.
  TTextArena arena;
  std::vector<std::pair<std::string, std::string_view>> kept;
  const size_t sizes[] = {0, 1, 255, 256, 257, 3, 70000, 5, 65536, 9, 200000, 1000};
  for (int round = 0; round < 40; ++round) {
    for (size_t n : sizes) {
      std::string piece(n, static_cast<char>('a' + (round + n) % 26));
      if (!piece.empty()) piece.front() = static_cast<char>(round);  // tells rounds apart
      const std::string_view view = arena.Add(piece);
      kept.emplace_back(std::move(piece), view);
    }
  }
  for (const auto& [piece, view] : kept) ASSERT_EQ(view, piece);
}
