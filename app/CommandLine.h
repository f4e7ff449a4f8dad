#pragma once
// The search switches of the command line (-t -d -p -e -s -c -w) as the headless mode
// reads them: through the same configuration elements and parser as the search window.
#include <string>
#include <vector>

namespace trawlex {

struct TSearchOptions {
  std::string Target;
  std::string Directory;
  std::vector<std::string> Patterns{"*.*"};
  std::string Exclude;
  bool Subdirs = true;
  bool CaseSensitive = false;
  bool WholeWord = false;
};

// Applies the switches among `args` (the process arguments without the program path).
// Raises ETrawlexError "'%s' is not a valid integer value" for a bad -s, -c or -w value.
void ApplySearchSwitches(const std::vector<std::string>& args, TSearchOptions& options);

// The base directory as the directory box hands it on: without a trailing delimiter,
// except for the root itself.
std::string DirectoryWithoutTrailingDelimiter(const std::string& dir);

// The first problem that keeps a search from starting ("No search target", "No directory
// specified", "No file patterns"), or empty.
std::string ValidateSearchOptions(const TSearchOptions& options);

// The usage text: the program name, one line per switch with its label, hint and
// default value, then the notes on patterns, booleans and the headless mode.
std::vector<std::string> UsageLines(const std::string& programName);

}  // namespace trawlex
