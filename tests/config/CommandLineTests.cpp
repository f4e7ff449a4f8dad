#include <gtest/gtest.h>

#include "base/Errors.h"
#include "config/CommandLine.h"
#include "config/MemoryConfig.h"
#include "config/SearchInputs.h"

using namespace trawlex;
using V = std::vector<std::string>;

TEST(CommandLineSwitches, LettersComeFromTheElementNames) {
  TSearchInputs in;
  V letters;
  for (int32_t i = 0; i < in.List().Count(); ++i) letters.push_back(std::string(1, SwitchLetter(in.List().GetElem(i))));
  EXPECT_EQ(letters, (V{"t", "d", "p", "e", "s", "c", "w", "r", "h", "b", "f", "i"}));
  EXPECT_EQ(ElementLabel(in.List().GetElem(1)), "Directory");
  EXPECT_EQ(ElementLabel(in.List().GetElem(2)), "Patterns");
  EXPECT_EQ(FindSwitch(in.List(), 'W'), &in.List().GetElem(6));
  EXPECT_EQ(FindSwitch(in.List(), 'x'), nullptr);
}

TEST(CommandLineSwitches, LaterElementWinsWhenTwoShareALetter) {
  TTextInput first("cbxTarget"), second("cbxTopic");
  TBaseCfgList list(std::make_shared<TMemoryConfig>(), "fmSearch");
  list.AddProp(first, "Text");
  list.AddProp(second, "Text");
  ApplyCommandLine(list, {"-t", "x"});
  EXPECT_EQ(first.Text(), "");
  EXPECT_EQ(second.Text(), "x");
}

TEST(CommandLineSwitches, ValuesGoThroughTheElementsTextForm) {
  TSearchInputs in;
  ApplyCommandLine(in.List(), {"one", "-p", " *.c | *.h ", "-S", "0", "-d", "/src", "-e"});
  EXPECT_EQ(in.Patterns, (V{"*.c", "*.h"}));
  EXPECT_FALSE(in.Subdirs.Checked());
  EXPECT_EQ(in.Directory.Text(), "/src");
  EXPECT_EQ(in.Exclude.Text(), "");  // a switch as the last argument has no value
  EXPECT_THROW(ApplyCommandLine(in.List(), {"-c", "on"}), ETrawlexError);
}

TEST(CommandLineSwitches, UsageShowsLabelsHintsAndValues) {
  TSearchInputs in;
  in.Target.SetText("foo");
  const V lines = BuildUsageLines(
      in.List(),
      [](const TBaseCfgElem& e) {
        return SwitchLetter(e) == 't' ? std::pair<std::string, std::string>{"Target", "Find this text"}
                                      : std::pair<std::string, std::string>{};
      },
      "trawlex");
  EXPECT_EQ(lines, (V{"trawlex", "  -t <Target> -- Find this text (foo)", "  -d <Directory>", "  -p <Patterns> (*.*)",
                      "  -e <Exclude>", "  -s <Subdirs> (1)", "  -c <CaseSenstv> (0)", "  -w <WholeWord> (0)",
                      "  -r <RegExp> (0)", "  -h <Hidden> (0)", "  -b <BinarySkip> (0)", "  -f <FolderSkip>", "  -i <Ignored> (0)"}));
}
