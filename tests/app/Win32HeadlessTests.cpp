// The program itself on Windows (run under Wine here): a report and a replace of everything
// on a tree made here, with names outside the ANSI code page and hidden files.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "support/TestSupport.h"
#include "support/Win32TestSupport.h"

using trawlex::test::ReadAll;
using trawlex::test::RunProgram;
using trawlex::test::TProgramRun;
using trawlex::test::W;
using trawlex::test::WinePath;
using trawlex::test::TTempDir;

namespace {

std::string BinDir() {
  const char* dir = std::getenv("TRAWLEX_TEST_BIN_DIR");
  return dir ? dir : TRAWLEX_BUILD_DIR;
}

// Runs trawlex.exe with `args` (each quoted), waiting at most a minute.
TProgramRun RunTrawlex(const std::vector<std::string>& args) {
  std::string line = "\"" + WinePath(BinDir()) + "\\trawlex.exe\"";
  for (const std::string& a : args) line += " \"" + a + "\"";
  return RunProgram(line);
}

}  // namespace

TEST(Win32Headless, ReportThenReplaceAllOnATreeWithWideNamesAndHiddenFiles) {
  TTempDir dir;
  const std::string greek = "\xCE\xA9\xCE\xB4\xCE\xAE";
  const std::string main = dir.Write("src/main.c", "x\r\nint foo = 1;\r\nfoo\r\n");
  const std::string wide = dir.Write(greek + "/\xCF\x88.txt", "one foo\n");
  const std::string hidden = dir.Write("src/hidden.c", "foo\n");
  const std::string readOnly = dir.Write("src/locked.c", "foo\n");
  ASSERT_TRUE(SetFileAttributesW(W(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesW(W(main).c_str(), FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(SetFileAttributesW(W(readOnly).c_str(), FILE_ATTRIBUTE_READONLY));

  const TProgramRun report = RunTrawlex({"--report", "-t", "foo", "-d", dir.Path()});
  EXPECT_EQ(report.Status, 0u) << report.Out;
  for (const std::string& expected : std::vector<std::string>{"Found in 3 of 3 files\r\n", "Finds: 4\r\n", main + "\r\n 2: int foo = 1;\r\n 3: foo\r\n",
                                      wide + "\r\n 1: one foo\r\n", readOnly + "\r\n"})
    EXPECT_NE(report.Out.find(expected), std::string::npos) << expected << "\n" << report.Out;
  EXPECT_EQ(report.Out.find("hidden.c"), std::string::npos) << report.Out;

  const TProgramRun replace = RunTrawlex({"--report", "--replace-all=bar", "-t", "foo", "-d", dir.Path()});
  EXPECT_NE(replace.Out.find(readOnly), std::string::npos) << replace.Out;  // named with its trouble
  EXPECT_EQ(ReadAll(main), "x\r\nint bar = 1;\r\nbar\r\n");
  EXPECT_EQ(ReadAll(wide), "one bar\n");
  EXPECT_EQ(ReadAll(hidden), "foo\n");
  EXPECT_EQ(ReadAll(readOnly), "foo\n");
  EXPECT_TRUE(GetFileAttributesW(W(main).c_str()) & FILE_ATTRIBUTE_ARCHIVE);

  // Nothing left to find but the read-only file; a missing folder is an error.
  const TProgramRun again = RunTrawlex({"--report", "-t", "foo", "-d", dir.Path(), "-p", "*.txt"});
  EXPECT_EQ(again.Status, 1u) << again.Out;
  const TProgramRun missing = RunTrawlex({"--report", "-t", "foo", "-d", dir / "missing"});
  EXPECT_EQ(missing.Out, "No directory specified\r\n");
  EXPECT_NE(missing.Status, 0u);
}

TEST(Win32Headless, FilesBeyondTheClassicPathLimitAreSearchedAndReplaced) {
  TTempDir dir;
  std::string deep;
  for (int i = 0; i < 12; ++i) deep += "a_folder_with_a_fairly_long_name_" + std::to_string(i) + "/";
  const std::string file = dir.Write(deep + "deep.txt", "deep foo\n");
  ASSERT_GT(file.size(), 300u);
  const TProgramRun report = RunTrawlex({"--report", "-t", "foo", "-d", dir.Path()});
  EXPECT_EQ(report.Status, 0u) << report.Out;
  EXPECT_NE(report.Out.find(file + "\r\n 1: deep foo\r\n"), std::string::npos) << report.Out;
  const TProgramRun replace = RunTrawlex({"--report", "--replace-all=bar", "-t", "foo", "-d", dir.Path()});
  EXPECT_EQ(replace.Status, 0u) << replace.Out;
  EXPECT_EQ(ReadAll(file), "deep bar\n");
}
