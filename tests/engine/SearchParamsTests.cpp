#include <gtest/gtest.h>

#include "engine/SearchParams.h"
#include "support/TestSupport.h"

using namespace trawlex;

struct TExcludeCase {
  const char* Target;
  const char* Exclude;
  bool CaseSensitive;
  std::vector<int32_t> Positions;
};

TEST(ExcludePositions, EveryOccurrenceOfTheTargetInsideTheExcludeText) {
  const TExcludeCase cases[] = {
      {"abc", "abc", false, {}},          // equal: never takes effect
      {"abcd", "abc", false, {}},         // longer target
      {"a", "", false, {}},               // empty exclude
      {"", "abc", false, {}},             // empty target: found nowhere
      {"ab", "xabyab", false, {2, 5}},
      {"AB", "xaby", false, {2}},
      {"AB", "xaby", true, {}},
      {"aa", "aaa", false, {1, 2}},       // overlapping
      {"\xE9", "x\xC9x", false, {}},      // only a-z and A-Z fold
      {"\xE9", "x\xE9x", true, {2}},
  };
  for (const auto& c : cases) {
    TSearchParams p;
    p.SetCaseSensitive(c.CaseSensitive);
    p.SetTarget(c.Target);
    p.SetExclude(c.Exclude);
    EXPECT_EQ(p.ExcludePositions(), c.Positions) << c.Target << " in " << c.Exclude;
    EXPECT_EQ(p.HasExclude(), !c.Positions.empty());
    EXPECT_EQ(ContainsTarget(c.Target, c.Exclude, c.CaseSensitive), !c.Positions.empty());
  }
}

TEST(ExcludePositions, ChangingOnlyTheCaseSwitchRecomputes) {
  TSearchParams p;
  p.SetTarget("AB");
  p.SetExclude("xaby");
  EXPECT_TRUE(p.HasExclude());
  p.SetCaseSensitive(true);
  EXPECT_FALSE(p.HasExclude());
  p.SetCaseSensitive(false);
  EXPECT_EQ(p.ExcludePositions(), (std::vector<int32_t>{2}));
}

TEST(ExcludeCompare, FollowsTheCaseSwitch) {
  TSearchParams p;
  const auto* a = reinterpret_cast<const unsigned char*>("Concat");
  const auto* b = reinterpret_cast<const unsigned char*>("concat");
  p.SetCaseSensitive(false);
  EXPECT_TRUE(p.ExcludeCompare()(a, b, 6));
  p.SetCaseSensitive(true);
  EXPECT_FALSE(p.ExcludeCompare()(a, b, 6));
}

TEST(Description, SixLinesWithoutExclude) {
  TSearchParams p;
  p.BaseDir = "D:\\work";
  p.IncludeSubdirs = true;
  p.SetFilePatterns({"*.htm", "*.xml"});
  p.SetTarget("foo");
  p.SetCaseSensitive(true);
  EXPECT_EQ(p.GetDescription(), (std::vector<std::string>{
                                    "Base directory: D:\\work",
                                    "Include subdirectories: Yes",
                                    "File names: *.htm|*.xml",
                                    "Target: foo",
                                    "Whole word: No",
                                    "Case senstive: Yes",
                                }));
}

TEST(Description, ExcludeLineOnlyWhenItTakesEffect) {
  TSearchParams p;
  p.SetTarget("cat");
  p.SetExclude("concatenate");
  p.WholeWord = true;
  const auto lines = p.GetDescription();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[4], "Exclude String: concatenate");
  EXPECT_EQ(lines[5], "Whole word: Yes");
  EXPECT_EQ(lines[6], "Case senstive: No");
  p.SetExclude("dog");
  EXPECT_EQ(p.GetDescription().size(), 6u);
}

TEST(Description, ChoicesThatChangeWhatIsSearchedAreNamedWhenMade) {
  TSearchParams p;
  p.SetTarget("x");
  const size_t plain = p.GetDescription().size();
  p.IncludeHidden = true;
  p.SkipBinary = true;
  const auto lines = p.GetDescription();
  ASSERT_EQ(lines.size(), plain + 2);
  EXPECT_EQ(lines[3], "Search hidden files: Yes");
  EXPECT_EQ(lines.back(), "Skip binary files: Yes");
}

TEST(LineNoWidth, ColonPlusDigitsTimesZeroWidth) {
  trawlex::test::TRecordingSurface surface;  // one pixel per byte
  TSearchParams p;
  EXPECT_EQ(p.LineNoWidth(), 0);  // no surface yet
  p.SetCanvas(&surface);
  EXPECT_EQ(p.LineNoWidth(), 2 + 1);
  p.SetLineNoDigits(4);
  EXPECT_EQ(p.LineNoDigits(), 4);
  EXPECT_EQ(p.LineNoWidth(), 2 + 4);
  const int32_t measured = surface.WidthCalls;
  p.SetLineNoDigits(4);  // unchanged: no new measuring
  EXPECT_EQ(surface.WidthCalls, measured);
}

TEST(SearchParams, StartsEmptyWithTheTimeOfCreation) {
  TSearchParams p;
  EXPECT_EQ(p.LineNoDigits(), 1);
  EXPECT_EQ(p.GetResultCount(), 0);
  EXPECT_FALSE(p.CaseSensitive());
  EXPECT_EQ(p.SortKey, 0);
  EXPECT_GT(p.SearchTime, 40000.0);  // after 2009
}

TEST(SearchParams, AResultOutsideTheListRaisesTheProgramsError) {
  TSearchParams p;
  p.AddResult(std::make_unique<TSearchFile>(&p));
  EXPECT_NE(p.GetResult(0), nullptr);
  for (const int32_t index : {-1, 1, INT32_MAX}) EXPECT_THROW(p.GetResult(index), EAssertionFailed) << index;
}
