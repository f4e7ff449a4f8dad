#pragma once
// The search switches of the command line (-t -d -p -e -s -c -w -r -h -b -f -i) as the headless mode
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
  bool RegExp = false;
  bool Hidden = false;
  bool SkipBinary = false;
  std::string SkipFolders;  // patterns separated by "|"
  bool SkipIgnored = false;
};

// The program's own options (those written with two dashes) among the arguments, read in
// the same pass as the search switches, so that a switch's value is never taken for an
// option: "-t --help" searches for "--help".
struct TProgramOptions {
  bool Report = false;  // search without a window
  bool Help = false;
  bool Version = false;
  bool ReplaceAll = false;
  bool HasReplaceText = false;
  bool DryRun = false;
  bool Diff = false;  // print the change set of the replace instead of replacing
  bool UndoLast = false;  // restore the files of the newest undo journal
  bool UndoList = false;  // list the undo journals kept
  bool NoUndo = false;    // replace without keeping the old content
  std::string ReplaceText;
  std::vector<std::string> SearchArgs;  // the arguments without the program's own options
  // Set only when read strictly: the first argument the program cannot take, in words.
  std::string Error;
  bool ShowUsageLine = false;  // the error is a misspelt option: the usage line helps
};

// Reads `args` (without the program path). Strictly, as the headless mode does, an
// unknown "--" option, a one-dash spelling of an option ("-dry-run"), a search switch
// without its value or with "=" in it ("-t=foo"), and a bare --replace-all followed by a "--" argument are errors;
// otherwise they are skipped as the window's command line skips unknown switches.
TProgramOptions ReadProgramOptions(const std::vector<std::string>& args, bool strict);

// One line that shows how the headless mode is called.
std::string HeadlessUsageLine(const std::string& programName);

// Applies the switches among `args` (the process arguments without the program path).
// Raises ETrawlexError "'%s' is not a valid integer value" for a bad value of a switch
// that takes 0 or 1.
void ApplySearchSwitches(const std::vector<std::string>& args, TSearchOptions& options);

// The base directory as the directory box hands it on: without a trailing delimiter,
// except for the root itself.
std::string DirectoryWithoutTrailingDelimiter(const std::string& dir);

// The first problem that keeps a search from starting ("No search target", "No directory
// specified", "No file patterns", a regular expression that does not compile), or empty.
std::string ValidateSearchOptions(const TSearchOptions& options);

// The usage text: the program name, one line per switch with its label, hint and
// default value, then the notes on patterns, booleans and the headless mode.
std::vector<std::string> UsageLines(const std::string& programName);

}  // namespace trawlex
