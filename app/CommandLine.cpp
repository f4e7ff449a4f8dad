#include "app/CommandLine.h"

#include <utility>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "config/CommandLine.h"
#include "config/SearchInputs.h"
#include "engine/RegexMatcher.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

// What the search window's controls call each switch (their captions without the access-key
// mark, and their hints); a control without a caption goes by its element's own label
// (BuildUsageLines).
std::pair<std::string, std::string> WindowLabel(const TBaseCfgElem& element) {
  const TInputText* text = nullptr;
  switch (SwitchLetter(element)) {
    case 't': text = &InputText::Target; break;
    case 'd': text = &InputText::Directory; break;
    case 'p': text = &InputText::Patterns; break;
    case 'e': text = &InputText::Exclude; break;
    case 's': text = &InputText::Subdirs; break;
    case 'c': text = &InputText::CaseSensitive; break;
    case 'w': text = &InputText::WholeWord; break;
    case 'r': text = &InputText::RegExp; break;
    case 'h': text = &InputText::Hidden; break;
    case 'b': text = &InputText::BinarySkip; break;
    case 'f': text = &InputText::FolderSkip; break;
    case 'i': text = &InputText::Ignored; break;
    default: return {};
  }
  return {ReplaceAll(text->Caption, "&", ""), text->Hint};
}

const char* const ReplaceAllOption = "--replace-all";

// A search switch ("-t", "-Directory", ...) whose next argument is its value.
bool IsSearchSwitch(const std::string& a) {
  static TSearchInputs inputs;  // read only
  return a.size() >= 2 && a[0] == '-' && FindSwitch(inputs.List(), a[1]) != nullptr;
}

// "-dry-run", "-Replace_All": an option of the program written with one dash (or an
// underscore), which the search switches would otherwise read as "-d ..." or skip.
bool LooksLikeOption(const std::string& a) {
  if (a.size() < 2 || a[0] != '-') return false;
  std::string name;
  for (size_t i = a.find_first_not_of('-'); i < a.size(); ++i)
    name += a[i] == '_' ? '-' : LowerChar(a[i]);
  for (const char* option : {"report", "replace-all", "dry-run", "dryrun", "diff", "help", "version", "undo-last", "undo-list", "no-undo"})
    if (name == option || name.rfind(std::string(option) + "=", 0) == 0) return true;
  return false;
}

// The member an option without a value sets, or null.
bool* FlagOption(TProgramOptions& o, const std::string& a) {
  static constexpr std::pair<const char*, bool TProgramOptions::*> Flags[] = {
      {"--help", &TProgramOptions::Help},          {"--version", &TProgramOptions::Version},
      {"--report", &TProgramOptions::Report},      {"--dry-run", &TProgramOptions::DryRun},
      {"--diff", &TProgramOptions::Diff},          {"--undo-last", &TProgramOptions::UndoLast},
      {"--undo-list", &TProgramOptions::UndoList}, {"--no-undo", &TProgramOptions::NoUndo}};
  for (const auto& [name, member] : Flags)
    if (a == name) return &(o.*member);
  return nullptr;
}

}  // namespace

TProgramOptions ReadProgramOptions(const std::vector<std::string>& args, bool strict) {
  TProgramOptions o;
  auto fail = [&](std::string text, bool usage) {
    if (o.Error.empty()) {
      o.Error = std::move(text);
      o.ShowUsageLine = usage;
    }
  };
  for (size_t i = 0; i < args.size() && o.Error.empty(); ++i) {
    const std::string& a = args[i];
    if (IsSearchSwitch(a)) {
      if (strict && LooksLikeOption(a)) {
        fail("Unknown switch " + a + ": the program's own options are written with two dashes", true);
      } else if (const size_t eq = a.find('='); strict && eq != std::string::npos) {
        // "-t=foo" would take the next argument for the target and pass over "foo".
        fail("The switch " + a + " takes its value as the next argument: " + a.substr(0, eq) + " " + a.substr(eq + 1), true);
      } else if (i + 1 < args.size()) {
        o.SearchArgs.push_back(a);
        o.SearchArgs.push_back(args[++i]);
      } else if (strict) {
        fail("The switch " + a + " needs a value", true);
      }
    } else if (bool* flag = FlagOption(o, a)) {
      *flag = true;
    } else if (a == ReplaceAllOption) {
      o.ReplaceAll = true;
      if (i + 1 >= args.size()) {
        o.HasReplaceText = false;
        o.ReplaceText.clear();
      } else if (strict && args[i + 1].rfind("--", 0) == 0) {
        fail(std::string(ReplaceAllOption) + " is followed by the option " + args[i + 1] + "; to replace with that text, write " +
                 ReplaceAllOption + "=" + args[i + 1],
             false);
      } else {
        o.HasReplaceText = true;
        o.ReplaceText = args[++i];
      }
    } else if (a.rfind(std::string(ReplaceAllOption) + "=", 0) == 0) {
      o.ReplaceAll = true;
      o.HasReplaceText = true;
      o.ReplaceText = a.substr(std::string(ReplaceAllOption).size() + 1);
    } else if (strict && (a.rfind("--", 0) == 0 || LooksLikeOption(a))) {
      fail("Unknown option " + a, true);
    } else {
      o.SearchArgs.push_back(a);  // a loose word or an unknown letter, skipped by the switches
    }
  }
  return o;
}

std::string HeadlessUsageLine(const std::string& programName) {
  return "Usage: " + programName +
         " --report [--replace-all=TEXT [--dry-run | --diff | --no-undo]] -t TARGET -d DIRECTORY [-p PATTERNS] [-e EXCLUDE] [-s 0|1] [-c 0|1] "
         "[-w 0|1] [-r 0|1] [-h 0|1] [-b 0|1] [-f FOLDERS] [-i 0|1]";
}

void ApplySearchSwitches(const std::vector<std::string>& args, TSearchOptions& options) {
  TSearchInputs inputs;
  ApplyCommandLine(inputs.List(), args);
  options.Target = inputs.Target.Text();
  options.Directory = inputs.Directory.Text();
  options.Patterns = inputs.Patterns;
  options.Exclude = inputs.Exclude.Text();
  options.Subdirs = inputs.Subdirs.Checked();
  options.CaseSensitive = inputs.CaseSensitive.Checked();
  options.WholeWord = inputs.WholeWord.Checked();
  options.RegExp = inputs.RegExp.Checked();
  options.Hidden = inputs.Hidden.Checked();
  options.SkipBinary = inputs.BinarySkip.Checked();
  options.SkipFolders = inputs.FolderSkip.Text();
  options.SkipIgnored = inputs.Ignored.Checked();
}

std::string DirectoryWithoutTrailingDelimiter(const std::string& dir) {
  std::string d = dir;
  while (d.size() > 1 && d.back() == PathDelim) d.pop_back();
  return d;
}

std::string ValidateSearchOptions(const TSearchOptions& options) {
  if (options.Target.empty()) return "No search target";
  if (!DirectoryExists(options.Directory)) return "No directory specified";
  bool anyPattern = false;
  for (const auto& p : options.Patterns) anyPattern = anyPattern || !p.empty();
  if (!anyPattern) return "No file patterns";
  if (options.RegExp) {
    try {
      TRegexSearch(options.Target, options.Exclude, options.CaseSensitive, options.WholeWord);
    } catch (const ETrawlexError& e) {
      return e.what();
    }
  }
  return {};
}

std::vector<std::string> UsageLines(const std::string& programName) {
  TSearchInputs inputs;  // the design values
  std::vector<std::string> lines = BuildUsageLines(inputs.List(), &WindowLabel, programName);
  lines.push_back("");
  // Each closing note a paragraph of its own, also in the manual page made from this text.
  lines.push_back("To separate patterns, use \"|\":  -p *.html|*.php");
  lines.push_back("");
  lines.push_back("For boolean values, use 0 and 1:  -s 1");
  lines.push_back("To skip folders, name them or their paths:  -f node_modules|build*|src/gen");
  lines.push_back("");
  for (std::string& line : ProgramOptionLines()) lines.push_back(std::move(line));
  return lines;
}

}  // namespace trawlex
