// The regular-expression mode: finds and replacements against Python's re on the same bytes,
// line items of finds that cross lines or have no length, and patterns that fail.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "base/Errors.h"
#include "engine/RangeProcessor.h"
#include "engine/RegexMatcher.h"
#include "engine/RegexReplace.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::ReadAll;
using trawlex::test::TTempDir;
using V = std::vector<std::string>;

namespace {

struct TRegexOptions {
  bool CaseSensitive = true;
  bool WholeWord = false;
  const char* Exclude = "";
};

// A search of `bytes` in memory, as the search thread makes it, and the text that replacing
// every find with `replacement` would give (or the refusal).
struct TRegexRun {
  TSearchParams Params;
  TSearchFile File{&Params};
  int32_t Count = 0;

  TRegexRun(const std::string& bytes, const std::string& pattern, const TRegexOptions& o = {}, bool allLines = false) {
    Params.RegExp = true;
    Params.SetTarget(pattern);
    Params.SetExclude(o.Exclude);
    Params.SetCaseSensitive(o.CaseSensitive);
    Params.WholeWord = o.WholeWord;
    Params.PrepareRegex();
    TRangeProcessor proc(&Params);
    proc.File = &File;
    proc.SetBytes(bytes, "mem");
    proc.Modes.AllLines = allLines;
    Count = proc.Process(0, INT32_MAX);
  }
  // "line:start,end,..." per line item (1-based columns, as the result list keeps them).
  V Lines() const {
    V out;
    for (int32_t i = 0; i < File.GetLineCount(); ++i) {
      const TSearchLine& line = *File.GetLine(i);
      std::string s = std::to_string(line.LineNo()) + ":";
      const auto pos = line.GetPositions();
      for (size_t k = 0; k < pos.size(); ++k) s += (k ? "," : "") + std::to_string(pos[k]);
      out.push_back(s);
    }
    return out;
  }
  std::string Replaced(const std::string& content, const std::string& replacement, std::string* refusal = nullptr) {
    File.SelectAllFinds(true);
    TReplaceFile job(&File);
    for (int32_t i = 0; i < File.GetLineCount(); ++i)
      File.GetLine(i)->ForEachSelectedFind([&](int64_t offset, int32_t length) { job.AddFind(static_cast<int32_t>(offset), length); });
    std::vector<std::string> texts;
    const std::string why = RegexReplacementTexts(Params, replacement, job, content, texts);
    if (refusal) *refusal = why;
    if (!why.empty()) return {};
    std::string out;
    int64_t p = 0;
    for (int32_t i = 0; i < job.FindCount(); ++i) {
      out.append(content, static_cast<size_t>(p), static_cast<size_t>(job.FindOffset(i) - p));
      out += texts[static_cast<size_t>(i)];
      p = job.FindOffset(i) + job.FindLength(i);
    }
    return out + content.substr(static_cast<size_t>(p));
  }
};

std::string Hex(const std::string& s) {
  std::string out;
  char buf[3];
  for (const unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

std::string Unhex(const std::string& s) {
  std::string out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) out += static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16));
  return out;
}

// Our replacement syntax in Python's: $1 and ${name} become \g<1> and \g<name>, $$ a dollar.
std::string PythonReplacement(const std::string& r) {
  std::string out;
  for (size_t i = 0; i < r.size(); ++i) {
    if (r[i] == '\\' && i + 1 < r.size()) {
      out += r.substr(i++, 2);
    } else if (r[i] == '$' && r[i + 1] == '$') {
      out += '$';
      ++i;
    } else if (r[i] == '$' && r[i + 1] == '{') {
      const size_t close = r.find('}', i);
      out += "\\g<" + r.substr(i + 2, close - i - 2) + ">";
      i = close;
    } else if (r[i] == '$') {
      size_t j = i + 1;
      while (j < r.size() && j < i + 3 && isdigit(static_cast<unsigned char>(r[j]))) ++j;
      out += "\\g<" + r.substr(i + 1, j - i - 1) + ">";
      i = j - 1;
    } else {
      out += r[i];
    }
  }
  return out;
}

// Text with words, numbers, dates, names, tabs, trailing blanks and UTF-8 letters, long
// enough (many times over) that the scan looks for required text before it runs a pattern.
std::string SampleText() {
  const std::string block =
      "Sherlock Holmes met Sherlock watson on 2024-01-05 at 221b Baker Street.\n"
      "typedef struct node_t node_t; size_t n = sizeof(uint8_t);\t\n"
      "Hello   World and hello\nworld, HELLO world!  \n"
      "Price: $100 or 10px wide; colour Color COLOR couleur\n"
      "mail ann@example.com or bob@host.com; aa bb cc dd\n"
      "Straße café Ünïcödé naïve über ÜBER 東京 tokyo\n"
      "\"quoted\" and \"more quoted\" text; int x = print(int);";
  std::string text;
  for (int i = 0; i < 12; ++i) text += block + "\n";
  return text + "last line";
}

struct TPythonCase {
  const char* Pattern;
  const char* Replacement;
  bool CaseSensitive;
};

}  // namespace

// Each pattern and replacement over the same bytes, once through the search and the replace's
// expansion, once through Python's re.sub (multi-line, Unicode): the results must be equal.
TEST(RegexAgainstPython, SameReplacementsOnTheSameBytes) {
  const TPythonCase cases[] = {
      {R"(Sherlock [A-Z]\w+)", "<$0>", true},
      {R"((\w+)_t\b)", "$1_type", true},
      {R"((?i)hello\s+world)", "[$0]", true},
      {R"(([0-9]{4})-([0-9]{2})-([0-9]{2}))", "$3.$2.$1", true},
      {R"(^)", "> ", true},
      {R"($)", ";", true},
      {R"(a*)", "-", true},
      {R"((?P<user>\w+)@(\w+)\.com)", "${user} at $2", true},
      {R"(colou?r)", "hue", false},
      {R"(\bint\b)", "long", true},
      {R"((?<=\$)\d+)", "N", true},
      {R"(\d+(?!px|\d))", "#", true},
      {R"((a|ab)(c|bcd)?(d*))", "$1|$2|$3", true},
      {R"(x*?b)", "B", true},
      {R"(über)", "ueber", false},
      {R"([ \t]+$)", "", true},
      {R"((\w)\1)", "$1$$", true},
      {R"(\w+\n\w+)", "{$0}", true},
      {"\"(.*?)\"", "'$1'", true},
      {R"(\t)", "\\t\\\\", true},
      {R"([^a-z\s]+)", "_", true},
      {R"(\S+\.$)", "(\\n)", true},
      {R"(o\b)", "0", true},
      {R"((?i)straße|caf.)", "[$0]", true},
      {R"(\s*)", "|", true},
      {R"(line$)", "LINE", true},
  };
  const std::string text = SampleText();
  TTempDir dir;
  const std::string input = dir.Path() + "/cases.txt", textFile = dir.Path() + "/text.txt";
  {
    std::ofstream(textFile, std::ios::binary) << text;
    std::ofstream out(input, std::ios::binary);
    for (const TPythonCase& c : cases)
      out << Hex(c.Pattern) << " x" << Hex(PythonReplacement(c.Replacement)) << ' ' << (c.CaseSensitive ? 0 : 1) << '\n';
  }
  const std::string script =
      "import re,sys\n"
      "text=open(sys.argv[2],'rb').read().decode()\n"
      "for l in open(sys.argv[1]):\n"
      " p,r,i=l.split()\n"
      " f=re.M|(re.I if i=='1' else 0)\n"
      " print(re.sub(bytes.fromhex(p).decode(),bytes.fromhex(r[1:]).decode(),text,flags=f).encode().hex())\n";
  const std::string scriptFile = dir.Path() + "/sub.py", outFile = dir.Path() + "/out.txt";
  std::ofstream(scriptFile) << script;
  ASSERT_EQ(std::system(("python3 " + scriptFile + " " + input + " " + textFile + " > " + outFile).c_str()), 0);
  std::ifstream expected(outFile);
  for (const TPythonCase& c : cases) {
    std::string line;
    ASSERT_TRUE(std::getline(expected, line)) << c.Pattern;
    TRegexRun run(text, c.Pattern, {c.CaseSensitive, false, ""});
    std::string refusal;
    EXPECT_EQ(run.Replaced(text, c.Replacement, &refusal), Unhex(line)) << c.Pattern << " -> " << c.Replacement;
    EXPECT_EQ(refusal, "") << c.Pattern;
  }
}

// The scan tries the pattern only near the text every match must hold; on any text it must
// give the finds that trying every position gives.
TEST(RegexSearch, RequiredTextGivesTheFindsOfAFullScan) {
  const char* patterns[] = {R"(Sherlock [A-Z]\w+)", R"(\w+_t\b)", R"([0-9]{4}-[0-9]{2}-[0-9]{2})", R"(hello\s+world)",
                            R"((?<=a)bc+)", R"(x\d?yz)", R"(\bcol(ou)?r\b)", R"(a+b)", R"(ab{2,}c?d)"};
  std::string text;
  const char* pieces[] = {"Sherlock Holmes", "uint8_t", "2024-01-05", "hello \n world", "abcc", "x1yz xyz",
                          "colour", "aaab", "abbbd", "\r\n", "\n", " ", "Sherlock\nHolmes", "_t", "\xff\xfe", "color"};
  for (uint32_t i = 0, seed = 7; i < 4000; ++i) {
    seed = seed * 1103515245 + 12345;
    text += pieces[(seed >> 16) % std::size(pieces)];
  }
  for (const char* pattern : patterns) {
    const TRegexSearch search(pattern, "", false, false);
    TRegexScanner scanner(search);
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const auto size = static_cast<int64_t>(text.size());
    std::vector<TRegexFind> fast, full;
    TBreakTally tally;
    tally.Start(data, false);
    scanner.FindAll(data, size, 0, size, fast, &tally);
    // The breaks it counted on the way are those before each mark and where it stopped.
    tally.Marks.push_back(tally.Now());
    for (const TBreakMark& mark : tally.Marks) {
      const TBreakCount before = CountLineBreaks(data, mark.At, false);
      EXPECT_EQ(mark.Breaks, before.Breaks) << pattern << " at " << mark.At - data;
      EXPECT_EQ(mark.LastBreak, before.LastBreak) << pattern << " at " << mark.At - data;
    }
    TRegexMatcher matcher(*search.Target);
    for (int64_t pos = 0; pos <= size;) {
      TRegexFind m;
      if (!matcher.Find(data, size, pos, 0, m)) break;
      full.push_back(m);
      pos = m.Length ? m.Pos + m.Length : NextCharStart(data, size, m.Pos);
    }
    ASSERT_EQ(fast.size(), full.size()) << pattern;
    EXPECT_GT(full.size(), 0u) << pattern;
    for (size_t k = 0; k < full.size(); ++k) {
      EXPECT_EQ(fast[k].Pos, full[k].Pos) << pattern << " find " << k;
      EXPECT_EQ(fast[k].Length, full[k].Length) << pattern << " find " << k;
    }
  }
}

struct TLineCase {
  const char* Name;
  std::string Text;
  std::string Pattern;
  TRegexOptions Options;
  V Lines;
  std::string Replacement;
  std::string Replaced;
};

// Finds as line items (start and end columns) and what a replace makes of them.
TEST(RegexSearch, LineItemsAndReplacements) {
  const TLineCase cases[] = {
      {"a find across CR LF belongs to its first line", "ab\r\ncd\r\nef", R"((\w)\r\n(\w))", {}, {"0:2,6", "1:2,6"},
       "$2$1", "acbedf"},
      {"the captures of a CR LF pair", "x=1\r\ny=2\r\n", R"((\w)=(\d)(\R))", {}, {"0:1,6", "1:1,6"}, "$2:$1$3",
       "1:x\r\n2:y\r\n"},
      {"empty finds at every line start", "a\nb\r\n\nc", "^", {}, {"0:1,1", "1:1,1", "2:1", "3:1,1"}, "> ",
       "> a\n> b\r\n> \n> c"},
      {"empty and non-empty finds take turns", "baaac", "a*", {}, {"0:1,1,2,5,5,5,6"}, "-", "-b--c-"},
      {"an empty find at the data's end", "ab\n", "$", {}, {"0:3", "1:1"}, ";", "ab;\n;"},
      {"case folds Unicode letters", "ÜBER über", "über", {false, false, ""}, {"0:1,6,7"}, "x", "x x"},
      {"whole word at both ends of a match", "cat catalog concat cat", R"(cat\w*)", {true, true, ""}, {"0:1,4,5,12,20"},
       "X", "X X concat X"},
      {"whole word knows the letters of every script", "ärger xärger rger", "ä?rger", {true, true, ""},
       {"0:1,7,16"}, "X", "X xärger X"},
      {"exclude pattern drops finds inside its matches", "id1 id22 xid3 id4", R"(id\d)", {true, false, R"(x\w+|id2+)"},
       {"0:1,4,15"}, "N", "N id22 xid3 N"},
      {"bytes that are not UTF-8 never match, the text around them does", "\xff" "ab a\xc3" "b", R"(a.?b)", {}, {"0:2,4"},
       "X", "\xff" "X a\xc3" "b"},
      {"a leading .* starts after a byte that is not UTF-8", "q\r\n\xff" "_-aab\n", ".*a", {}, {"1:2,6"}, "X",
       "q\r\n\xff" "Xb\n"},
  };
  for (const TLineCase& c : cases) {
    TRegexRun run(c.Text, c.Pattern, c.Options);
    EXPECT_EQ(run.Lines(), c.Lines) << c.Name;
    std::string refusal;
    EXPECT_EQ(run.Replaced(c.Text, c.Replacement, &refusal), c.Replaced) << c.Name << ": " << refusal;
  }
}

// One scanner searches file after file (and a replace checks file after file): what the
// exclude pattern matched in one file's bytes never decides a find in the next, even where
// the next file's bytes land at the same address.
TEST(RegexSearch, ExcludeMatchesOfOneFileNeverCountInTheNext) {
  struct TCase {
    const char* Name;
    std::string Before, Text, Pattern, Exclude;
  } const cases[] = {
      {"no exclude match before, one now", "b", "a\nbc", "a|b", "bc"},
      {"an exclude match before where a find is now", "zzzbc", "zzzbz", "b", "bc"},
      {"a longer file before", "b\nqqqqqqqq", "b\nbc\nb", "b", "bc"},
  };
  for (const TCase& c : cases) {
    TSearchParams params;
    params.RegExp = true;
    params.SetTarget(c.Pattern);
    params.SetExclude(c.Exclude);
    params.PrepareRegex();
    TRangeProcessor proc(&params);
    V seen;
    for (const std::string* text : {&c.Before, &c.Text}) {
      TSearchFile file(&params);
      proc.File = &file;
      proc.SetBytes(*text, "mem");
      proc.Process(0, INT32_MAX);
      seen.clear();
      for (int32_t i = 0; i < file.GetLineCount(); ++i) seen.push_back(std::to_string(file.GetLine(i)->LineNo()));
    }
    TRegexRun alone(c.Text, c.Pattern, {true, false, c.Exclude.c_str()});
    V expected;
    for (const std::string& line : alone.Lines()) expected.push_back(line.substr(0, line.find(':')));
    EXPECT_EQ(seen, expected) << c.Name;
  }
}

// An empty match of the preview (every line an item) is a find of no length on its line.
TEST(RegexSearch, PreviewKeepsEveryLineWithItsFinds) {
  TRegexRun run("one\ntwo\nthree", "(?<=t)", {}, true);
  EXPECT_EQ(run.Lines(), (V{"0:", "1:2,2", "2:2,2"}));
  EXPECT_EQ(run.File.GetLine(1)->GetFindLength(0), 0);
}

struct TFailureCase {
  const char* Name;
  std::string Pattern;
  std::string Exclude;
  std::string Replacement;
  std::string Message;  // what the error says, from its start
};

// Patterns that do not compile and replacements that name what the pattern lacks are
// refused with the position and reason, before anything is searched or written.
TEST(RegexFailures, RefusedInWords) {
  const TFailureCase cases[] = {
      {"open group", "(ab", "", "", "The regular expression is not valid at position 4: missing closing parenthesis"},
      {"position in characters", "über[", "", "", "The regular expression is not valid at position 6: missing terminating ]"},
      {"bad exclude", "a", "*x", "", "Exclude: The regular expression is not valid at position 1: quantifier does not follow"},
      {"group the pattern lacks", "(a)(b)", "", "$3", "The replacement names group 3, but the regular expression has 2 groups"},
      {"name the pattern lacks", "(?<x>a)", "", "${y}", "The replacement names the group \"y\", which the regular expression lacks"},
      {"dollar without a group", "a", "", "5$", "The replacement has a \"$\" at position 2 that names no group"},
      {"sed-style group", "(a)", "", "\\1", "The replacement holds \\1: a group is written $1 here"},
  };
  for (const TFailureCase& c : cases) {
    try {
      const TRegexSearch search(c.Pattern, c.Exclude, true, false);
      TRegexReplacement(c.Replacement, *search.Target);
      ADD_FAILURE() << c.Name << ": accepted";
    } catch (const ETrawlexError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.Message.size()), c.Message) << c.Name;
    }
  }
}

// Each form of the replacement text ends where the next one begins; a refusal is given by
// the start of its message.
TEST(RegexFailures, ReplacementFormsEndWhereTheNextBegins) {
  const struct {
    const char* Replacement;
    std::string Expected;
  } cases[] = {
      {"$10$1x", "jax"},  // two digits at most
      {"${1}0${10}", "a0j"},
      {"$$1\\t\\q\\", "$1\t\\q\\"},  // an unknown escape and a last backslash stand for themselves
      {"${1", "The replacement has \"${\" without its \"}\" at position 1"},
      {"${}", "The replacement names the group \"\", which the regular expression lacks"},
      {"${11}", "The replacement names group 11, but the regular expression has 10 groups"},
  };
  const std::string text = "abcdefghij";
  TRegexRun run(text, "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", {true, false, ""});
  for (const auto& c : cases) {
    std::string refusal;
    const std::string replaced = run.Replaced(text, c.Replacement, &refusal);
    EXPECT_EQ(refusal.empty() ? replaced : refusal.substr(0, c.Expected.size()), c.Expected) << c.Replacement;
  }
}

// A pattern that runs away on a file stops on it with the library's reason; the next file
// is searched as usual, and a file that changed under a find is not replaced.
TEST(RegexFailures, RunawayStopsOnItsFileAndStaleFindsAreRefused) {
  const std::string runaway = std::string(40, 'a') + "b\n";
  TSearchParams params;
  params.RegExp = true;
  params.SetCaseSensitive(true);
  params.SetTarget("(a+)+$");
  params.PrepareRegex();
  TRangeProcessor proc(&params);
  TSearchFile bad(&params), good(&params);
  proc.File = &bad;
  proc.SetBytes(runaway, "bad");
  try {
    proc.Process(0, INT32_MAX);
    ADD_FAILURE() << "the runaway pattern ended";
  } catch (const ETrawlexError& e) {
    EXPECT_STREQ(e.what(), "The regular expression gave up on this file (match limit exceeded)");
  }
  EXPECT_EQ(bad.GetLineCount(), 0);
  proc.File = &good;
  proc.SetBytes("aaa\n", "good");
  EXPECT_EQ(proc.Process(0, INT32_MAX), 1);

  TRegexRun run("key=1 key=2", R"(key=(\d))");
  std::string refusal;
  EXPECT_EQ(run.Replaced("key=1 kez=2", "$1", &refusal), "");
  EXPECT_EQ(refusal, "The file changed since the search: the find at byte 6 is no longer a match of the regular "
                     "expression, so it was not changed");
  EXPECT_EQ(run.Replaced("key=1 key=2", "v$1"), "v1 v2");
}

// A find of no length shows as a thin mark in the find colour where it stands, between the
// text before and after it, in a short line and in a long one drawn in stretches.
TEST(RegexSearch, EmptyFindIsDrawnAsAThinMark) {
  const std::string a(600, 'a'), b(600, 'b');
  struct TCase {
    const char* Name;
    std::string Text, Pattern;
    V Around;  // per mark: the text drawn before it (its end) and after it (its start)
  } cases[] = {
      {"short line", "ab", "(?<=a)", {"a|b"}},
      {"long line, inside", a + "xy" + b, "(?<=x)", {"x|y"}},
      {"long line, at its start (after the line number)", a + b, "^", {" |a"}},
      {"long line, at its end", a + b, "$", {"b|"}},
      {"long line, two apart", a + "xy" + b + "xy" + a, "(?<=x)(?=y)", {"x|y", "x|y"}},
  };
  for (const TCase& c : cases) {
    TRegexRun run(c.Text, c.Pattern);
    trawlex::test::TRecordingSurface surface;
    run.File.GetLine(0)->Draw(surface, {0, 0, 100000, 10}, 0);
    V around;
    const trawlex::test::TRecordingSurface::TCall* before = nullptr;
    for (size_t i = 0; i < surface.Calls.size(); ++i) {
      const auto& call = surface.Calls[i];
      if (call.Op == "text") before = &call;
      if (call.Op != "fill" || call.Rect.Right - call.Rect.Left != 2) continue;
      EXPECT_EQ(trawlex::test::ColorName(call.Color), trawlex::test::ColorName(ItemColor::Find)) << c.Name;
      EXPECT_EQ(call.Rect.Top, 0) << c.Name;
      EXPECT_EQ(call.Rect.Bottom, 10) << c.Name;
      ASSERT_NE(before, nullptr) << c.Name;
      EXPECT_EQ(call.Rect.Left, before->X + static_cast<int32_t>(before->Text.size())) << c.Name;
      std::string after;
      for (size_t j = i + 1; j < surface.Calls.size() && after.empty(); ++j)
        if (surface.Calls[j].Op == "text") after = surface.Calls[j].Text.substr(0, 1);
      around.push_back(before->Text.substr(before->Text.size() - std::min<size_t>(before->Text.size(), 1)) + "|" + after);
    }
    EXPECT_EQ(around, c.Around) << c.Name;
  }
}

// A large file is read a block of whole lines at a time where the pattern sees no further
// than a line or its matches start with a required text: the finds and lines are those of
// the file held whole, also for lines longer than a block, CR LF pairs at a block's edge,
// finds of no length at the end and matches that run on over a block's end.
TEST(RegexSearch, BlockScanGivesTheFindsOfTheWholeFile) {
  std::string text;
  for (uint32_t i = 0, seed = 3; i < 3000; ++i) {
    seed = seed * 1103515245 + 12345;
    const char* pieces[] = {"size_t n;", "\r\n", "\n", "Sherlock Holmes ", "2024-01-05", "xx", " "};
    text += i % 97 == 0 ? std::string(700, 'q') : std::string(pieces[(seed >> 16) % 7]);
  }
  TTempDir dir;
  const std::string path = dir.Write("big.txt", text + "last_t");
  // Each pattern alone and with a line-bound exclude pattern, which a block scan looks for
  // again in each window.
  for (const auto& [pattern, exclude] : std::vector<std::pair<const char*, const char*>>{
           {R"(\w+_t\b)", ""}, {"^", ""}, {"$", ""}, {"x*", ""}, {R"(Sherlock [A-Z]\w+)", ""}, {"[0-9]{4}", ""},
           {R"(\bq+$)", ""}, {R"(Sherlock\s+Holmes\s+\S*)", ""}, {R"(size_t\s+n;\s*)", ""},
           {R"(Sherlock|[0-9]{4}|n;)", R"(Holmes 2024|^size_t n;$|xx[0-9]+)"}, {R"(q|x)", R"(^q+$|xxxx)"}}) {
    // In blocks, whole, and whole byte by byte (lines counted apart from the search for the
    // required text).
    V lines[3];
    int32_t counts[3] = {};
    int64_t totals[3] = {};
    for (int whole = 0; whole < 3; ++whole) {
      TSearchParams params;
      params.RegExp = true;
      params.SetCaseSensitive(true);
      params.SetTarget(pattern);
      params.SetExclude(exclude);
      params.PrepareRegex();
      TSearchFile file(&params);
      file.Name = path;
      TRangeProcessor proc(&params);
      proc.Modes.ByteByByte = whole == 2;
      counts[whole] = whole ? proc.SearchFile(&file, INT32_MAX) : proc.SearchFile(&file, 100, 256);
      totals[whole] = file.TotalLines;
      for (int32_t i = 0; i < file.GetLineCount(); ++i) {
        const TSearchLine& line = *file.GetLine(i);
        lines[whole].push_back(std::to_string(line.LineNo()) + ":" + std::string(line.Text()) + ":" +
                               ::testing::PrintToString(line.GetPositions()));
      }
    }
    EXPECT_GT(counts[1], 0) << pattern;
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(counts[run], counts[2]) << pattern << " run " << run;
      EXPECT_EQ(totals[run], totals[2]) << pattern << " run " << run;
      EXPECT_EQ(lines[run], lines[2]) << pattern << " run " << run;
    }
  }
}
