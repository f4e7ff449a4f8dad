#include "app/CommandLine.h"

#include "config/CommandLine.h"
#include "config/SearchInputs.h"
#include "engine/Errors.h"
#include "engine/TextUtils.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

// What the search window's controls call each switch (their labels and hints).
std::pair<std::string, std::string> WindowLabel(const TBaseCfgElem& element) {
  switch (SwitchLetter(element)) {
    case 't': return {"Target", "Find this text"};
    case 'd': return {"Directory", ""};
    case 'p': return {"Patterns", "List of filename patterns, using wildcards"};
    case 'e': return {"Exclude", "Exclude finds where target is part of this"};
    case 's': return {"Subdirs", "Search subdirectories recursively"};
    case 'c': return {"Case sensitive", "Only include if case in file matches target"};
    case 'w': return {"Whole word", "Include whole words only"};
    default: return {};
  }
}

}  // namespace

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
  return {};
}

std::vector<std::string> UsageLines(const std::string& programName) {
  TSearchInputs inputs;  // the design values
  std::vector<std::string> lines = BuildUsageLines(inputs.List(), &WindowLabel, programName);
  lines.push_back("");
  lines.push_back("To separate patterns, use \"|\":  -p *.html|*.php");
  lines.push_back("For boolean values, use 0 and 1:  -s 1");
  lines.push_back("");
  lines.push_back("  --report   search without a window and write the results to standard output");
  lines.push_back("             (exit status 0: finds, 1: no finds, 2: error)");
  lines.push_back("  --report --replace-all TEXT [--dry-run | --diff]");
  lines.push_back("             search as above, then replace every find with TEXT");
  lines.push_back("             (--dry-run: only tell how many finds would be replaced;");
  lines.push_back("              --diff: print the changes as a patch instead, change nothing)");
  lines.push_back("  --help     show this text");
  lines.push_back("  --version  show the version");
  return lines;
}

}  // namespace trawlex
