// Text beyond ASCII: simple case folding and word characters in valid UTF-8, bytes that are
// not UTF-8, and UTF-16 files searched, replaced and restored by undo.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "app/Headless.h"
#include "app/HeadlessReplace.h"
#include "app/HeadlessUndo.h"
#include "engine/CaseFold.h"
#include "engine/RangeProcessor.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/TextEncoding.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::ReadAll;
using trawlex::test::TTempDir;
using V = std::vector<std::string>;

namespace {

std::string RunTool(int (*fn)(const V&, std::FILE*, std::FILE*), const V& args, int* status = nullptr) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int s = fn(args, out, err);
  if (status) *status = s;
  std::string text;
  for (std::FILE* f : {out, err}) {
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(f);
  }
  return text;
}

std::string Utf16(const std::string& hexUnits, bool little) {
  std::string out;
  std::istringstream in(hexUnits);
  for (unsigned u; in >> std::hex >> u;) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += little ? lo : hi;
    out += little ? hi : lo;
  }
  return out;
}

}  // namespace

TEST(CaseFoldTest, TargetsMatchTheirSimpleFoldsOnlyInValidUtf8) {
  struct TCase {
    const char* Target;
    std::string Text;
    int32_t Length;  // of the find at the text's start; -1: none
  } cases[] = {
      {"ä", "Ä", 2},
      {"Ωμέγα", "ωΜΈΓΑ", 10},
      {"ж", "Ж", 2},
      {"ǆ", "ǅ", 2},
      {"ǅ", "Ǆ", 2},
      {"σ", "ς", 2},
      {"ß", "ẞ", 3},          // lengths differ: the find has the text's
      {"ka", "\u212AA", 4},   // Kelvin sign
      {"ſ", "S", 1},
      {"ß", "ss", -1},        // full folding only
      {"ä", "a", -1},
      {"ä", "\xC4", -1},      // Latin-1, not UTF-8: a byte of its own
      {"ä", "\xC3", -1},      // cut short
      {"éa", "\xC3\x89\xC3", -1},
      {"i", "\xC4\xB0", -1},  // dotted capital I has no simple folding
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Target);
    const TFoldTarget target(c.Target, "");
    const auto* data = reinterpret_cast<const unsigned char*>(c.Text.data());
    EXPECT_EQ(target.MatchAt(data, 0, static_cast<int64_t>(c.Text.size())), c.Length);
    // The candidate filters pass every find.
    if (c.Length > 0) {
      std::string padded = c.Text + std::string(64, '\0');
      const auto* p = reinterpret_cast<const unsigned char*>(padded.data());
      EXPECT_EQ(TFoldCandidates(target).Find(p, 0, 1), 0);
    }
  }
}

TEST(CaseFoldTest, WordCharactersOfEveryScriptAndBytesThatAreNotUtf8) {
  const std::pair<std::string, bool> cases[] = {
      {"a", true}, {"_", true}, {"7", true}, {"ä", true}, {"Ж", true}, {"日", true}, {"٣", true},
      {"\xCC\x81", true},  // a combining mark
      {"-", false}, {" ", false}, {"\xC2\xA0", false}, {"—", false}, {"\xE4", false}, {"\xC3", false},
  };
  for (const auto& [text, word] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(StartsWithWordChar(text), word);
    EXPECT_EQ(EndsWithWordChar("x" + text), word);
  }
}

// Every row is checked against the expected lines with finds per file, and where ripgrep
// is installed against its count with the same switches.
TEST(UnicodeSearchTest, TargetsInSeveralScriptsAgainstUtf8InvalidAndUtf16Files) {
  TTempDir dir;
  dir.Write("u8.txt",
            "Ärger über ärger\nΩΜΈΓΑ and ωμέγα\nжук ЖУК Жук\nǅungla ǄUNGLA\nword_ärger ärgerlich xärger\n"
            "Größe GRÖSSE größe\n日本語 テスト\n");
  dir.Write("bad.txt", "\xC4rger \xE4rger ARGER\n\xFF \xC3\x84RGER\n");
  // "Ärger CRLF zwei ЖУК CRLF Ωμέγα ärger CRLF" and "erste LF жук und Ärger LF 𝔸 ǆ LF"
  const std::string le = "FEFF C4 72 67 65 72 D A 7A 77 65 69 20 416 423 41A D A 3A9 3BC 3AD 3B3 3B1 20 E4 72 67 65 72 D A";
  const std::string be = "FEFF 65 72 73 74 65 A 436 443 43A 20 75 6E 64 20 C4 72 67 65 72 A D835 DD38 20 1C6 A";
  dir.Write("le.txt", Utf16(le, true));
  dir.Write("be.txt", Utf16(be, false));
  dir.Write("bom8.txt", "\xEF\xBB\xBF\xC3\xA4rger am Anfang\n\xCF\x89\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1\n");
  struct TRow {
    const char* Target;
    bool CaseSensitive, WholeWord;
    const char* Lines;  // lines with finds per file
    int32_t Finds;
    bool SameAsRg = true;
    const char* Exclude = "";  // ripgrep has none
  } rows[] = {
      {"ärger", false, false, "bad:1 be:1 bom8:1 le:2 u8:2", 10},
      {"ärger", true, false, "bom8:1 le:1 u8:2", 6},
      {"ärger", false, true, "bad:1 be:1 bom8:1 le:2 u8:1", 7},
      {"ärger", true, true, "bom8:1 le:1 u8:1", 3},
      {"ωμέγα", false, false, "bom8:1 le:1 u8:1", 4},
      {"ЖУК", false, false, "be:1 le:1 u8:1", 5},
      {"ǆungla", false, false, "u8:1", 2},
      {"größe", false, false, "u8:1", 2},
      {"arger", false, false, "bad:1", 1},
      {"日本語", true, true, "u8:1", 1},
      {"\xF0\x9D\x94\xB8", true, false, "be:1", 1},
      // A byte that is not UTF-8 is no word character here; ripgrep takes it for neither.
      {"rger", true, true, "bad:1", 2, false},
      // The exclude text folds too, before the find and after it.
      {"ärger", false, false, "bad:1 be:1 bom8:1 le:2 u8:2", 9, false, "ÜBER ÄRGER"},
      {"ärger", false, false, "bad:1 be:1 bom8:1 le:2 u8:2", 9, false, "\xC3\x84RGERLICH"},
      {"ärger", false, false, "bad:1 be:1 bom8:1 le:1 u8:2", 9, false, "ωμέγα ÄRGER"},
  };
  const bool haveRg = std::system("rg --version >/dev/null 2>&1") == 0;
  for (const TRow& row : rows) {
    SCOPED_TRACE(std::string(row.Target) + (row.CaseSensitive ? " case" : "") + (row.WholeWord ? " word" : ""));
    const std::string report = RunTool(RunReport, {"--report", "-t", row.Target, "-d", dir.Path(), "-p", "*.txt", "-c",
                                               row.CaseSensitive ? "1" : "0", "-w", row.WholeWord ? "1" : "0", "-e", row.Exclude});
    std::map<std::string, int> lines;
    std::string file;
    int32_t finds = -1;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("Finds: ", 0) == 0) finds = std::stoi(line.substr(7));
      else if (finds >= 0 && !line.empty() && line[0] != ' ') file = line.substr(line.find_last_of("/\\") + 1);
      else if (finds >= 0 && !file.empty() && !line.empty()) ++lines[file.substr(0, file.find('.'))];
    }
    std::string got;
    for (const auto& [name, count] : lines) got += (got.empty() ? "" : " ") + name + ":" + std::to_string(count);
    EXPECT_EQ(got, row.Lines) << report;
    EXPECT_EQ(finds, row.Finds) << report;
    if (!haveRg || !row.SameAsRg) continue;
    const std::string cmd = std::string("cd '") + dir.Path() + "' && rg -c -F" + (row.CaseSensitive ? "" : " -i") +
                            (row.WholeWord ? " -w" : "") + " -- '" + row.Target + "' . | sed 's|^./||; s|\\.txt||' | sort";
    std::string rg;
    if (std::FILE* p = popen(cmd.c_str(), "r")) {
      for (int c; (c = std::fgetc(p)) != EOF;) rg.push_back(c == '\n' ? ' ' : static_cast<char>(c));
      pclose(p);
    }
    if (!rg.empty()) rg.pop_back();
    EXPECT_EQ(rg, row.Lines);
  }
}

// Folding finds of other lengths than the target's, skipped by no candidate filter and cut
// by no block edge: the candidate jumps, block reads and the linear matcher give what
// visiting every byte gives.
TEST(UnicodeSearchTest, FoldedFindsAreTheSameByteByByteWholeAndInBlocks) {
  TTempDir dir;
  std::mt19937 rng(32);
  const V letters{"a", "s", "S", "\xC5\xBF", "k", "\xE2\x84\xAA", "\xC3\xA4", "\xC3\x84", "\xC3\x9F",
                  "\xE1\xBA\x9E", "\xC3", " ", "_", "\r\n", "\n"};
  for (int round = 0; round < 200; ++round) {
    std::string text, target, exclude;
    for (int i = rng() % 300; i > 0; --i) text += letters[rng() % letters.size()];
    for (int i = 1 + rng() % 3; i > 0; --i) target += letters[rng() % 10];
    if (target.find('\xC3') == std::string::npos && target.find('\xC5') == std::string::npos) target += "\xC3\xA4";
    if (round % 3 == 0) exclude = letters[rng() % 10] + target + letters[rng() % 10];
    const std::string path = dir.Write("r.txt", text);
    TSearchParams params;
    params.SetCaseSensitive(false);
    params.WholeWord = rng() % 3 == 0;
    params.SetTarget(target);
    params.SetExclude(exclude);
    auto search = [&](bool byteByByte, int64_t wholeMax, size_t block, bool linear = false) {
      TSearchFile file(&params);
      file.Name = path;
      TRangeProcessor proc(&params);
      proc.Modes.ByteByByte = byteByByte;
      proc.Modes.AlwaysLinear = linear;
      std::string out = std::to_string(proc.SearchFile(&file, wholeMax, block));
      for (int32_t i = 0; i < file.GetLineCount(); ++i) {
        out += " |" + std::to_string(file.GetLine(i)->LineNo()) + ":";
        for (const int32_t p : file.GetLine(i)->GetPositions()) out += " " + std::to_string(p);
      }
      return out;
    };
    const std::string reference = search(true, INT32_MAX, 0);
    SCOPED_TRACE(text + " / " + target + " / " + exclude);
    EXPECT_EQ(search(false, INT32_MAX, 0), reference);
    for (const size_t block : {1, 7, 64}) {
      EXPECT_EQ(search(false, 0, block), reference) << block;
      EXPECT_EQ(search(false, 0, block, true), reference) << block << " linear";
    }
    EXPECT_EQ(search(false, INT32_MAX, 0, true), reference) << "linear";
  }
}

TEST(UnicodeSearchTest, Utf16LinesAreNumberedByTheirBreaksAndReportedInUtf8) {
  TTempDir dir;
  dir.Write("le.txt", Utf16("FEFF 61 D A D 62 A 416 D A", true));  // a CRLF CR b LF Ж CRLF
  const std::string report = RunTool(RunReport, {"--report", "-t", "ж", "-d", dir.Path(), "-p", "*.txt"});
  EXPECT_NE(report.find("\n 4: \xD0\x96\n"), std::string::npos) << report;
  // Too large to be read whole, it is still read whole to be decoded, never in blocks.
  TSearchParams params;
  params.SetTarget("ж");
  TSearchFile file(&params);
  file.Name = dir / "le.txt";
  TRangeProcessor proc(&params);
  proc.Modes.SkipBinary = true;
  ASSERT_EQ(proc.SearchFile(&file, 0, 4), 1);
  ASSERT_EQ(file.GetLineCount(), 1);
  EXPECT_EQ(file.GetLine(0)->LineNo(), 3);
  EXPECT_EQ(file.GetLine(0)->Text(), "\xD0\x96");
  EXPECT_EQ(file.Size, 20);
  dir.Write("bom8.txt", "\xEF\xBB\xBFJ\xC3\xA4h\n");  // UTF-8 with its mark: the mark is no part of line 1
  EXPECT_NE(RunTool(RunReport, {"--report", "-t", "jÄ", "-d", dir.Path()}).find("\n 1: J\xC3\xA4h\n"), std::string::npos);
}

TEST(UnicodeReplaceTest, Utf16FileIsWrittenBackInItsEncodingAndUndoRestoresEveryByte) {
#ifdef _WIN32
  GTEST_SKIP() << "the undo folder of these tests is a POSIX path";
#endif
  TTempDir dir;
  setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  const std::string tree = dir.MakeDir("tree");
  // "Ärger CRLF 😀 ärger, lone surrogate D800, LF ÄRGER" in both byte orders.
  const std::string units = "FEFF C4 72 67 65 72 D A D83D DE00 20 E4 72 67 65 72 2C D800 A C4 52 47 45 52";
  const std::string after = "FEFF 5A 6F 72 6E D A D83D DE00 20 5A 6F 72 6E 2C D800 A 5A 6F 72 6E";
  // Searched for as text and with a regular expression, which reads the decoded text too.
  for (const std::vector<std::string>& search : {std::vector<std::string>{"-t", "ärger"}, {"-r", "1", "-t", "ä.ge(r)"}}) {
    SCOPED_TRACE(search.back());
    const std::string le = dir.Write("tree/le.txt", Utf16(units, true));
    const std::string be = dir.Write("tree/be.txt", Utf16(units, false));
    const std::string plain = dir.Write("tree/plain.txt", "ärger\n");
    std::vector<std::string> args{"--report", "--replace-all", "Zorn", "-d", tree};
    args.insert(args.end(), search.begin(), search.end());

    std::vector<std::string> diffArgs = args;
    diffArgs.push_back("--diff");
    const std::string diff = RunTool(RunReplaceAll, diffArgs);
    EXPECT_NE(diff.find("Not shown: UTF-16BE text file be.txt, 3 finds to replace\n"), std::string::npos) << diff;
    EXPECT_NE(diff.find("Not shown: UTF-16LE text file le.txt, 3 finds to replace\n"), std::string::npos) << diff;
    EXPECT_NE(diff.find("-\xC3\xA4rger\n+Zorn\n"), std::string::npos) << diff;

    int status = -1;
    const std::string out = RunTool(RunReplaceAll, args, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(ReadAll(le), Utf16(after, true));
    EXPECT_EQ(ReadAll(be), Utf16(after, false));
    EXPECT_EQ(ReadAll(plain), "Zorn\n");
    ASSERT_EQ((RunTool(RunUndo, {"--undo-last"}, &status), status), 0);
    EXPECT_EQ(ReadAll(le), Utf16(units, true));
    EXPECT_EQ(ReadAll(be), Utf16(units, false));
    EXPECT_EQ(ReadAll(plain), "ärger\n");
  }
}

TEST(TextEncodingTest, Utf16RoundTripKeepsEveryUnitAndOddLengthsStayBytes) {
  const std::string le = Utf16("FEFF 41 DC00 D800 D83D DE00 FEFF 0", true);
  std::string text, back;
  ASSERT_TRUE(DecodeUtf16Text(le, text));
  ASSERT_TRUE(EncodeUtf16Text(text, TTextEncoding::Utf16LE, back));
  EXPECT_EQ(back, le);
  EXPECT_EQ(DetectEncoding(le + "x"), TTextEncoding::Bytes);
  EXPECT_FALSE(EncodeUtf16Text("\xFF", TTextEncoding::Utf16BE, back));
}
