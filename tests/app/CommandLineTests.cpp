#include <gtest/gtest.h>

#include <algorithm>

#include "app/CommandLine.h"
#include "base/Errors.h"

using namespace trawlex;
using V = std::vector<std::string>;

TEST(SearchSwitches, DefaultsWhenNothingIsGiven) {
  TSearchOptions o;
  ApplySearchSwitches({}, o);
  EXPECT_EQ(o.Target, "");
  EXPECT_EQ(o.Patterns, V{"*.*"});
  EXPECT_TRUE(o.Subdirs);
  EXPECT_FALSE(o.CaseSensitive);
  EXPECT_FALSE(o.WholeWord);
}

TEST(SearchSwitches, ReadingRules) {
  const struct {
    const char* Name;
    V Args;
    std::string Target, Directory, Exclude;
    V Patterns;
    bool Subdirs, Case, Word;
  } cases[] = {
      {"target and directory", {"-t", "foo", "-d", "/src"}, "foo", "/src", "", {"*.*"}, true, false, false},
      {"patterns split at bars and trimmed", {"-p", "*.html | *.php"}, "", "", "", {"*.html", "*.php"}, true, false, false},
      {"unknown switch and loose word skipped", {"-x", "foo", "-t", "bar"}, "bar", "", "", {"*.*"}, true, false, false},
      {"a value may start with a dash", {"-t", "-e"}, "-e", "", "", {"*.*"}, true, false, false},
      {"only the letter after the dash counts", {"-target", "x", "-T", "y"}, "y", "", "", {"*.*"}, true, false, false},
      {"booleans", {"-s", "0", "-c", "1", "-w", "1"}, "", "", "", {"*.*"}, false, true, true},
      {"the last argument is never a switch", {"-t", "a", "-w"}, "a", "", "", {"*.*"}, true, false, false},
      {"a later value wins", {"-t", "a", "-t", "b"}, "b", "", "", {"*.*"}, true, false, false},
      {"exclude", {"--report", "-e", "concatenate"}, "", "", "concatenate", {"*.*"}, true, false, false},
  };
  for (const auto& c : cases) {
    TSearchOptions o;
    ApplySearchSwitches(c.Args, o);
    EXPECT_EQ(o.Target, c.Target) << c.Name;
    EXPECT_EQ(o.Directory, c.Directory) << c.Name;
    EXPECT_EQ(o.Exclude, c.Exclude) << c.Name;
    EXPECT_EQ(o.Patterns, c.Patterns) << c.Name;
    EXPECT_EQ(o.Subdirs, c.Subdirs) << c.Name;
    EXPECT_EQ(o.CaseSensitive, c.Case) << c.Name;
    EXPECT_EQ(o.WholeWord, c.Word) << c.Name;
  }
}

TEST(SearchSwitches, BadIntegerIsAnError) {
  for (const char* bad : {"yes", "", "1x", "0.5"}) {
    TSearchOptions o;
    try {
      ApplySearchSwitches({"-s", bad}, o);
      ADD_FAILURE() << bad;
    } catch (const ETrawlexError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
    }
  }
}

TEST(SearchSwitches, ValidationInOrderOfPrecedence) {
  TSearchOptions o;
  o.Patterns = {""};
  EXPECT_EQ(ValidateSearchOptions(o), "No search target");
  o.Target = "x";
  o.Directory = "/no/such/dir";
  EXPECT_EQ(ValidateSearchOptions(o), "No directory specified");
  o.Directory = "/etc/hostname";  // a file is no directory
  EXPECT_EQ(ValidateSearchOptions(o), "No directory specified");
  o.Directory = "/";
  EXPECT_EQ(ValidateSearchOptions(o), "No file patterns");
  o.Patterns = {"*.c"};
  EXPECT_EQ(ValidateSearchOptions(o), "");
}

TEST(SearchSwitches, TrailingDelimiterIsDroppedExceptForTheRoot) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX paths; the program's delimiter here is the backslash";
#else
  EXPECT_EQ(DirectoryWithoutTrailingDelimiter("/src/"), "/src");
  EXPECT_EQ(DirectoryWithoutTrailingDelimiter("/src//"), "/src");
  EXPECT_EQ(DirectoryWithoutTrailingDelimiter("/"), "/");
  EXPECT_EQ(DirectoryWithoutTrailingDelimiter("//"), "/");
#endif
}

TEST(Usage, SwitchLinesWithLabelsHintsAndDefaults) {
  const V lines = UsageLines("trawlex");
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(V(lines.begin(), lines.begin() + 8), (V{
                                                     "trawlex",
                                                     "  -t <Target> -- Find this text",
                                                     "  -d <Directory>",
                                                     "  -p <Patterns> -- List of filename patterns, using wildcards (*.*)",
                                                     "  -e <Exclude> -- Exclude finds where target is part of this",
                                                     "  -s <Subdirs> -- Search subdirectories recursively (1)",
                                                     "  -c <Case sensitive> -- Only include if case in file matches target (0)",
                                                     "  -w <Whole word> -- Include whole words only (0)",
                                                 }));
}

// Every option of the program begins a line of its own, as the manual page made from this text
// needs; the closing notes are paragraphs of their own there too.
TEST(Usage, EveryOptionOnALineOfItsOwn) {
  const V lines = UsageLines("trawlex");
  for (const std::string option : {"--report", "--replace-all", "--dry-run", "--diff", "--no-undo", "--undo-last",
                                    "--undo-list", "--help", "--version"}) {
    const auto starts = std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.rfind("  " + option + " ", 0) == 0 || l == "  " + option;
    });
    EXPECT_EQ(starts, 1) << option;
  }
  const auto note = std::find(lines.begin(), lines.end(), "To separate patterns, use \"|\":  -p *.html|*.php");
  ASSERT_NE(note, lines.end());
  EXPECT_EQ(*(note + 1), "");
  EXPECT_EQ(*(note + 2), "For boolean values, use 0 and 1:  -s 1");
}

TEST(ProgramOptions, TheWindowSkipsWhatTheHeadlessModeRefuses) {
  const struct {
    V Args;
    bool Help, Version;
    std::string StrictError;
  } cases[] = {
      {{"-t", "--help", "-d", "x"}, false, false, ""},
      {{"-t", "a", "--help"}, true, false, ""},
      {{"-e", "--version"}, false, false, ""},
      {{"--version", "-t", "a"}, false, true, ""},
      {{"--dryrun", "-t", "a"}, false, false, "Unknown option --dryrun"},
      {{"-x", "y", "-t", "a"}, false, false, ""},  // an unknown letter stays skipped
      {{"-t", "a", "-REPORT"}, false, false, "Unknown switch -REPORT: the program's own options are written with two dashes"},
      {{"--undo-last"}, false, false, ""},
      {{"--no-undo", "-t", "a"}, false, false, ""},
      {{"-undo-list"}, false, false, "Unknown option -undo-list"},
      {{"-t=a", "-d", "x"}, false, false, "The switch -t=a takes its value as the next argument: -t a"},
  };
  for (const auto& c : cases) {
    const TProgramOptions window = ReadProgramOptions(c.Args, false);
    EXPECT_EQ(window.Help, c.Help) << c.Args[0];
    EXPECT_EQ(window.Version, c.Version) << c.Args[0];
    EXPECT_EQ(window.Error, "") << c.Args[0];
    EXPECT_EQ(ReadProgramOptions(c.Args, true).Error, c.StrictError) << c.Args[0];
  }
  const TProgramOptions eq = ReadProgramOptions({"--replace-all=a=b", "-t", "x"}, true);
  EXPECT_TRUE(eq.ReplaceAll && eq.HasReplaceText);
  EXPECT_EQ(eq.ReplaceText, "a=b");
  EXPECT_EQ(eq.SearchArgs, (V{"-t", "x"}));
}
