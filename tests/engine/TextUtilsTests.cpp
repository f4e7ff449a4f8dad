#include <gtest/gtest.h>

#include "base/Errors.h"
#include "base/TextUtils.h"
#ifdef _WIN32
#include "support/TestSupport.h"  // setenv
#endif

using namespace trawlex;

TEST(Plural, FollowsEnglishEndingRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"file", "files"},   {"match", "matches"}, {"directory", "directories"}, {"day", "days"},
      {"BOX", "BOXES"},    {"bus", "buses"},     {"church", "churches"},       {"wish", "wishes"},
      {"key", "keys"},     {"fly", "flies"},     {"Y", "Ys"},                  {"FILE", "FILES"},
      {"quiz", "quizes"},  {"taj", "tajes"},     {"stomach", "stomaches"},      {"CITY", "CITIES"},
  };
  for (const auto& [noun, plural] : cases) EXPECT_EQ(Plural(noun), plural) << noun;
}

TEST(CountText, UsesSingularOnlyForOne) {
  EXPECT_EQ(CountText(3, "file"), "3 files");
  EXPECT_EQ(CountText(1, "file"), "1 file");
  EXPECT_EQ(CountText(0, "match"), "0 matches");
  EXPECT_EQ(CountText(2, "child", "children"), "2 children");
  EXPECT_EQ(CountText(1, "child", "children"), "1 child");
}

TEST(CompareIntArrays, TrailingZeroMakesNoDifferenceAndSignTellsNewer) {
  EXPECT_EQ(CompareIntArrays({1, 2}, {1, 2, 0}), 0);
  EXPECT_LT(CompareIntArrays({1, 2}, {1, 2, 1}), 0);
  EXPECT_GT(CompareIntArrays({2, 0}, {1, 9, 9}), 0);
  EXPECT_GT(CompareIntArrays({1, 2, 3}, {1, 2}), 0);
  EXPECT_EQ(CompareIntArrays({}, {}), 0);
}

TEST(ParseVersion, StopsAtFirstEmptyOrNonNumericPiece) {
  EXPECT_EQ(ParseVersion("2.1.3"), (TVersion{2, 1, 3}));
  EXPECT_EQ(ParseVersion("2..1"), (TVersion{2}));
  EXPECT_EQ(ParseVersion(""), TVersion{});
  EXPECT_EQ(ParseVersion("1.x.3"), (TVersion{1}));
  EXPECT_EQ(ParseVersion("1.2.0.15"), (TVersion{1, 2, 0, 15}));
  EXPECT_EQ(VersionText({1, 2, 0, 15}, 4), "1.2.0.15");
  EXPECT_EQ(VersionText({1, 2, 0, 15}, 2), "1.2");
  EXPECT_EQ(VersionText({1}, 3), "1");
}

TEST(StringsPacking, JoinsWithBarsAndTrimsOuterBlanks) {
  EXPECT_EQ(StringsToText({"a", "b"}), "a|b");
  EXPECT_EQ(StringsToText({"  a", "b  ", ""}), "a|b");
  EXPECT_EQ(StringsToText({}), "");
  EXPECT_EQ(StringsToText({"a\rb", "c\nd"}), "a|b|c|d");
  EXPECT_EQ(StringsToText({"", "", "x"}), "x");
  EXPECT_EQ(StringsToText({"*.txt", "*.log"}), "*.txt|*.log");
}

TEST(StringsPacking, UnpackingTrimsEachPieceAndKeepsTheLast) {
  std::vector<std::string> list{"old"};
  TextToStrings("*.html | *.php", list);
  EXPECT_EQ(list, (std::vector<std::string>{"*.html", "*.php"}));
  TextToStrings("", list);
  EXPECT_EQ(list, (std::vector<std::string>{""}));
  TextToStrings("a|", list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", ""}));
}

TEST(ReplaceAll, DoesNotRescanReplacedText) {
  EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(ReplaceAll("<f> <n> <f>", "<f>", "x.txt"), "x.txt <n> x.txt");
  EXPECT_EQ(ReplaceAll("abc", "B", "x"), "abc");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

TEST(PosText, FoldsAsciiLettersOnly) {
  EXPECT_EQ(PosText("B", "abcb"), 2);
  EXPECT_EQ(PosText("b", "abcb", 3), 4);
  EXPECT_EQ(PosText("x", "abc"), 0);
  EXPECT_EQ(PosText("\xC9", "\xE9"), 0);
}

TEST(CompareTextAscii, LettersFoldAtAnyPlaceOfLongCommonBeginnings) {
  struct TCase {
    const char* A;
    const char* B;
    int Sign;
  } cases[] = {
      {"/tmp/tree/rust-html/src/a.rs", "/TMP/TREE/rust-html/src/A.RS", 0},  // differ in case only
      {"/tmp/tree/rust-html/src/a.rs", "/tmp/tree/rust-html/src/b.rs", -1},  // after 24 equal bytes
      {"/tmp/tree/Zeta", "/tmp/tree/alpha", 1},                              // 'Z' after 'A'
      {"/tmp/tree/abcdefgh", "/tmp/tree/abcdefgh/x", -1},                    // a prefix sorts first
      {"12345678ABCDEFGH", "12345678abcdefgI", -1},                          // last of 16 bytes
      {"\xE9t\xE9", "\xC9T\xC9", 1},                                        // no folding past ASCII
  };
  for (const TCase& c : cases) {
    const int r = CompareTextAscii(c.A, c.B);
    EXPECT_EQ((r > 0) - (r < 0), c.Sign) << c.A << " / " << c.B;
  }
}

TEST(BinarySearch, FindsOrGivesInsertionPoint) {
  const std::vector<int> v{10, 20, 30, 40};
  int32_t index = -5;
  auto cmp = [&](int sought) { return [&, sought](int32_t i) { return v[static_cast<size_t>(i)] - sought; }; };
  EXPECT_TRUE(BinarySearch(0, 3, index, cmp(30)));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(BinarySearch(0, 3, index, cmp(25)));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(BinarySearch(0, 3, index, cmp(50)));
  EXPECT_EQ(index, 4);
  EXPECT_FALSE(BinarySearch(0, -1, index, cmp(1)));
  EXPECT_EQ(index, 0);
}

TEST(DurationText, WholeSecondsAndThreeDigitMilliseconds) {
  EXPECT_EQ(DurationText(0), "0.000");
  EXPECT_EQ(DurationText((12.345) / 86400.0), "12.345");
  EXPECT_EQ(DurationText((83.045) / 86400.0), "83.045");
  // Rounding to the millisecond carries into the seconds instead of reading 12.000.
  EXPECT_EQ(DurationText((12.9996) / 86400.0), "13.000");
}

TEST(Spaces, NothingForZeroOrLess) {
  EXPECT_EQ(Spaces(3), "   ");
  EXPECT_EQ(Spaces(0), "");
  EXPECT_EQ(Spaces(-2), "");
}

TEST(PathJoin, AddsOneDelimiter) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX paths; see Win32Platform tests";
#else
  EXPECT_EQ(PathJoin("/a", "b"), "/a/b");
  EXPECT_EQ(PathJoin("/a/", "b"), "/a/b");
  EXPECT_EQ(PathJoin("/", "b"), "/b");
#endif
}

TEST(CanonicalPath, ResolvesDotSegmentsOrKeepsThePath) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX paths; see Win32Platform tests";
#else
  EXPECT_EQ(CanonicalPath("/a/./b/../c"), "/a/c");
  EXPECT_EQ(CanonicalPath("/a//b"), "/a/b");
  EXPECT_EQ(CanonicalPath("/.."), "/..");  // above the root: kept as given
  EXPECT_EQ(CanonicalPath("/"), "/");
  EXPECT_EQ(CanonicalPath("/a/b/"), "/a/b/");
#endif
}

TEST(VolumeInfo, NeedsARootAndNamesTheFileSystem) {
#ifdef _WIN32
  GTEST_SKIP() << "the root here is a drive; see Win32Platform tests";
#else
  std::string fs, label;
  EXPECT_FALSE(VolumeInfo("relative", fs, label));
  ASSERT_TRUE(VolumeInfo("/", fs, label));
  EXPECT_FALSE(fs.empty());
  EXPECT_LE(fs.size(), 20u);
#endif
}

TEST(TimeZoneText, ShowsSignedHours) {
  setenv("TZ", "CET-1", 1);
  tzset();
  // The bias is read once per process; only its shape can be checked here.
  const std::string text = TimeZoneText();
  EXPECT_EQ(text.rfind("GMT ", 0), 0u);
  EXPECT_EQ(GeneralFloatText(5.5), "5.5");
  EXPECT_EQ(GeneralFloatText(-5), "-5");
  EXPECT_EQ(GeneralFloatText(0), "0");
}

TEST(FormatText, FillsPlaceholdersInOrder) {
  EXPECT_EQ(Fmt("Cannot open file \"%s\". %s", "a.txt", "No such file"), "Cannot open file \"a.txt\". No such file");
  EXPECT_EQ(Fmt("size was %d, now %d", 10, -3), "size was 10, now -3");
  EXPECT_EQ(Fmt("100%% of %s", "x"), "100% of x");
  EXPECT_EQ(Fmt("%s and %s", "one"), "one and %s");
  // A placeholder inside an argument is not expanded again.
  EXPECT_EQ(Fmt("%s-%d", "%d", 1), "%d-1");
}

TEST(Assertion, NamesTheSourceFileAndLine) {
  try {
    TRAWLEX_ASSERT(false, "Broken rule");
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Broken rule (TextUtilsTests.cpp, line"), std::string::npos) << e.what();
  }
}

TEST(Utf8SequenceAt, ValidSequencesAndEveryKindOfInvalidByte) {
  const struct {
    std::string Bytes;
    size_t Length;
    uint32_t Code;
  } cases[] = {
      {"a", 1, 'a'},
      {"\xC3\xA9", 2, 0xE9},
      {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xC0\xAF", 0, 0},          // overlong
      {"\xE0\x80\xAF", 0, 0},      // overlong
      {"\xED\xA0\x80", 0, 0},      // surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // above U+10FFFF
      {"\xC3", 0, 0},              // cut short
      {"\x80", 0, 0},              // stray continuation byte
      {"\xC3(", 0, 0},             // not followed by a continuation byte
  };
  for (const auto& c : cases) {
    uint32_t code = 0;
    const size_t n = Utf8SequenceAt(c.Bytes, 0, code);
    EXPECT_EQ(n, c.Length) << c.Bytes;
    if (n) {
      EXPECT_EQ(code, c.Code) << c.Bytes;
    }
  }
}
