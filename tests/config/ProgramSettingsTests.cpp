// The program itself (offscreen, with a private settings folder) meeting settings files that
// are wrong in one way or another: it must start, say what is wrong once, and end through
// SIGTERM as Exit does, keeping every valid value byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "config/ConfigTestUtil.h"
#include "config/RegistryConfig.h"

namespace trawlex {
namespace {

using testing::FinishProcess;
using testing::ReadFileBytes;
using testing::ReadSettingsText;
using testing::ReadUntil;
using testing::StartProcess;
using testing::TRunResult;
using testing::TTempDir;
using testing::WriteFileBytes;

const std::string Root = "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n";
const std::string Window = "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\fmSearch]\r\n";
const std::string Header = "Windows Registry Editor Version 5.00\r\n\r\n";

std::string Program() {
  const char* dir = std::getenv("TRAWLEX_TEST_BIN_DIR");
  return std::string(dir ? dir : TRAWLEX_BUILD_DIR) + "/trawlex";
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class ProgramSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(Home / "config/vantorel");
    std::filesystem::create_directories(Home / "runtime");
    chmod((Home / "runtime").c_str(), 0700);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", (Home / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (Home / "runtime").c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + Home / "runtime/no-bus").c_str(), 1);
  }

  struct TRunning {
    pid_t Pid;
    int Fd;
    std::string Output;  // read while waiting for it to get somewhere
  };
  TRunning Start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), Program());
    TRunning r{};
    r.Pid = StartProcess(args, r.Fd);
    return r;
  }
  // Waits until the program has said each of `said` (what it says of the settings it read),
  // then ends it with SIGTERM. The program handles the signal from before it reads them.
  TRunResult Terminate(TRunning r, const std::vector<std::string>& said = {}) {
    const bool allSaid = ReadUntil(r.Fd, r.Output, [&](const std::string& out) {
      for (const std::string& text : said)
        if (out.find(text) == std::string::npos) return false;
      return true;
    });
    EXPECT_TRUE(allSaid) << r.Output;
    kill(r.Pid, SIGTERM);
    TRunResult result = FinishProcess(r.Pid, r.Fd, 60);
    result.Output.insert(0, r.Output);
    return result;
  }
  TRunResult RunAndTerminate(const std::vector<std::string>& said) { return Terminate(Start(), said); }
  std::string TargetHistory() { return TRegistryConfig(SettingsRootKey(), File).ReadString("fmSearch", "cbxTarget.Items", ""); }

  TTempDir Home;
  std::string File = Home / "config/vantorel/Trawlex.reg";
};

TEST_F(ProgramSettings, ValuesOfTheWrongTypeAreReportedOnceAndEveryValidValueIsKept) {
  const std::vector<std::string> kept = {
      "\"Expand tabs\"=\"0\"\r\n",
      "\"Spaces Per Tab\"=dword:00000007\r\n",
      "\"pnlPreview.Height\"=dword:00000063\r\n",
      "\"acHideResultLines.Checked\"=dword:00000001\r\n",
  };
  WriteFileBytes(File, Header + Root + "\"Preferred Editor\"=dword:00000001\r\n" + kept[0] + kept[1] + "\r\n" +
                           Window + "\"fmSearch.bounds\"=dword:00000001\r\n" +
                           "\"dlgSaveResults.FileName\"=dword:00000001\r\n" + "\"pnlWildCards.Width\"=dword:0\r\n" +
                           kept[2] + kept[3] + "\"cbxTarget.Items\"=\"alpha\"\r\n\r\n");
  const std::vector<std::string> names = {"Preferred Editor", "fmSearch.bounds", "dlgSaveResults.FileName",
                                          "pnlWildCards.Width"};
  std::vector<std::string> reports;
  for (const std::string& name : names) reports.push_back("Invalid data type for '" + name + "'");
  const TRunResult r = RunAndTerminate(reports);
  EXPECT_EQ(0, r.ExitCode) << r.Output;  // a signal during the error box ends as Exit does
  for (const std::string& report : reports) EXPECT_EQ(1u, Count(r.Output, report)) << r.Output;
  const std::string after = ReadSettingsText(File);
  for (const std::string& line : kept) EXPECT_NE(std::string::npos, after.find(line)) << line << after;
  // The values of the wrong type were replaced by their elements' values, with their own types.
  EXPECT_NE(std::string::npos, after.find("\"Preferred Editor\"=\"\"\r\n")) << after;
  EXPECT_NE(std::string::npos, after.find("\"dlgSaveResults.FileName\"=\"search.txt\"\r\n")) << after;
  EXPECT_NE(std::string::npos, after.find("\"fmSearch.bounds\"=hex:")) << after;
  EXPECT_EQ("alpha\r\n", TargetHistory());
}

TEST_F(ProgramSettings, ValuesEditedOutOfRangeAreReportedAndBroughtIntoRange) {
  TTempDir tree;
  WriteFileBytes(tree / "tab.txt", "a\tfind me\n");
  const struct {
    std::string Stored, Report, Saved;
  } cases[] = {
      {"dword:7fffffff", "'Spaces Per Tab' (2147483647) is not between 1 and 100; 100 is used",
       "\"Spaces Per Tab\"=dword:00000064\r\n"},
      {"dword:ffffffff", "'Spaces Per Tab' (-1) is not between 1 and 100; 1 is used",
       "\"Spaces Per Tab\"=dword:00000001\r\n"},
  };
  for (const auto& c : cases) {
    WriteFileBytes(File, Header + Root + "\"Spaces Per Tab\"=" + c.Stored + "\r\n\r\n");
    // A search that draws a tab: every tab would otherwise become that many spaces.
    const TRunResult r = Terminate(Start({"-t", "find", "-d", tree.Path}), {c.Report});
    EXPECT_EQ(0, r.ExitCode) << c.Stored << r.Output;
    EXPECT_EQ(1u, Count(r.Output, c.Report)) << r.Output;
    EXPECT_NE(std::string::npos, ReadSettingsText(File).find(c.Saved)) << c.Stored;
  }
}

TEST_F(ProgramSettings, BadLinesAreReportedKeptAsideAndTheOtherLinesUsed) {
  const std::string original = Header + Root + "\"Spaces Per Tab\"=dword:00000003\r\n" + "this is no value line\r\n" +
                               "\r\n" + Window + "\"cbxTarget.Items\"=\"kept\"\r\n" + "\"x\"=\"no end\r\n";
  WriteFileBytes(File, original);
  const std::string report =
      "has lines that could not be read (line 5: not a key or value line; line 9: the text has no closing quote)";
  const TRunResult r = RunAndTerminate({report});
  EXPECT_EQ(0, r.ExitCode) << r.Output;
  EXPECT_EQ(1u, Count(r.Output, report)) << r.Output;
  std::vector<std::string> aside;
  for (const auto& e : std::filesystem::directory_iterator(Home / "config/vantorel")) {
    if (e.path().filename().string().find(".corrupt-") != std::string::npos) aside.push_back(e.path());
  }
  ASSERT_EQ(1u, aside.size());
  EXPECT_EQ(original, ReadFileBytes(aside[0]));
  const std::string after = ReadSettingsText(File);
  EXPECT_NE(std::string::npos, after.find("\"Spaces Per Tab\"=dword:00000003\r\n")) << after;
  EXPECT_EQ("kept\r\n", TargetHistory());
}

TEST_F(ProgramSettings, UnusablePathsAreReportedOnceAndNothingIsReplaced) {
  // A folder where the file should be.
  std::filesystem::create_directory(File);
  const std::string unreadable = "The settings file " + File + " cannot be read (Is a directory)";
  TRunResult r = RunAndTerminate({unreadable});
  EXPECT_EQ(0, r.ExitCode) << r.Output;
  EXPECT_EQ(1u, Count(r.Output, unreadable)) << r.Output;
  EXPECT_EQ(0u, Count(r.Output, "Failed to")) << r.Output;
  EXPECT_TRUE(std::filesystem::is_directory(File));
  std::filesystem::remove(File);

  // A read-only file is read and left exactly as it is.
  const std::string readOnly = Header + Root + "\"Spaces Per Tab\"=dword:00000002\r\n\r\n";
  WriteFileBytes(File, readOnly);
  chmod(File.c_str(), 0444);
  const std::string unwritable = "The settings file " + File + " cannot be written";
  r = RunAndTerminate({unwritable});
  EXPECT_EQ(0, r.ExitCode) << r.Output;
  EXPECT_EQ(1u, Count(r.Output, unwritable)) << r.Output;
  EXPECT_EQ(readOnly, ReadFileBytes(File));
}

TEST_F(ProgramSettings, TwoRunningCopiesKeepEachOthersHistories) {
  TTempDir tree;
  WriteFileBytes(tree / "a.txt", "alpha beta\n");
  WriteFileBytes(File, Header + Window + "\"cbxTarget.Items\"=\"old\"\r\n\r\n");
  // The first copy has read the history once a search of its own has saved it; the second
  // adds to it after that, and the first saves its own at exit.
  const TRunning first = Start({"-t", "beta", "-d", tree.Path});
  ASSERT_TRUE(WaitFor([&] { return TargetHistory() == "beta\r\nold\r\n"; }, 60)) << TargetHistory();
  const TRunning second = Start({"-t", "alpha", "-d", tree.Path});
  ASSERT_TRUE(WaitFor([&] { return TargetHistory() == "alpha\r\nbeta\r\nold\r\n"; }, 60)) << TargetHistory();
  const TRunResult r2 = Terminate(second);
  const TRunResult r1 = Terminate(first);
  EXPECT_EQ(0, r1.ExitCode) << r1.Output;
  EXPECT_EQ(0, r2.ExitCode) << r2.Output;
  // Saved last by the first copy: its entries first, then the one only the other copy had.
  EXPECT_EQ("beta\r\nold\r\nalpha\r\n", TargetHistory()) << ReadFileBytes(File);
}

}  // namespace
}  // namespace trawlex
