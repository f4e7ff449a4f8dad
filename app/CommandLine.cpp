#include "app/CommandLine.h"

#include <charconv>

#include "engine/Errors.h"
#include "engine/TextUtils.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

bool ParseSwitchInteger(const std::string& text) {
  int64_t n = 0;
  const std::string t = TrimText(text);
  const char* b = t.data();
  const char* e = b + t.size();
  if (b != e && *b == '+') ++b;
  const auto r = std::from_chars(b, e, n);
  if (b == e || r.ec != std::errc() || r.ptr != e || n < INT32_MIN || n > INT32_MAX)
    throw ETrawlexError(Fmt("'%s' is not a valid integer value", text));
  return n != 0;
}

struct TSwitch {
  char Letter;
  const char* Label;
  const char* Hint;
  const char* Default;
  void (*Apply)(TSearchOptions&, const std::string&);
};

const TSwitch Switches[] = {
    {'t', "Target", "Find this text", "", [](TSearchOptions& o, const std::string& v) { o.Target = v; }},
    {'d', "Directory", "", "", [](TSearchOptions& o, const std::string& v) { o.Directory = v; }},
    {'p', "Patterns", "List of filename patterns, using wildcards", "*.*",
     [](TSearchOptions& o, const std::string& v) { TextToStrings(v, o.Patterns); }},
    {'e', "Exclude", "Exclude finds where target is part of this", "",
     [](TSearchOptions& o, const std::string& v) { o.Exclude = v; }},
    {'s', "Subdirs", "Search subdirectories recursively", "1",
     [](TSearchOptions& o, const std::string& v) { o.Subdirs = ParseSwitchInteger(v); }},
    {'c', "Case sensitive", "Only include if case in file matches target", "0",
     [](TSearchOptions& o, const std::string& v) { o.CaseSensitive = ParseSwitchInteger(v); }},
    {'w', "Whole word", "Include whole words only", "0",
     [](TSearchOptions& o, const std::string& v) { o.WholeWord = ParseSwitchInteger(v); }},
};

const TSwitch* FindSwitch(char c) {
  c = LowerChar(c);
  for (const TSwitch& s : Switches)
    if (s.Letter == c) return &s;
  return nullptr;
}

}  // namespace

void ApplySearchSwitches(const std::vector<std::string>& args, TSearchOptions& options) {
  const size_t n = args.size();
  // Arguments are numbered 1..N; the last one is never read as a switch.
  for (size_t i = 0; i + 1 < n; ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-') continue;
    const TSwitch* s = FindSwitch(a[1]);
    if (!s) continue;
    ++i;
    s->Apply(options, args[i]);
  }
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
  std::vector<std::string> lines{programName};
  for (const TSwitch& s : Switches) {
    std::string line = std::string("  -") + s.Letter + " <" + s.Label + ">";
    if (*s.Hint) line += std::string(" -- ") + s.Hint;
    if (*s.Default) line += std::string(" (") + s.Default + ")";
    lines.push_back(line);
  }
  lines.push_back("");
  lines.push_back("To separate patterns, use \"|\":  -p *.html|*.php");
  lines.push_back("For boolean values, use 0 and 1:  -s 1");
  lines.push_back("");
  lines.push_back("  --report   search without a window and write the results to standard output");
  lines.push_back("             (exit status 0: finds, 1: no finds, 2: error)");
  lines.push_back("  --report --replace-all TEXT [--dry-run]");
  lines.push_back("             search as above, then replace every find with TEXT");
  lines.push_back("             (--dry-run: only tell how many finds would be replaced)");
  lines.push_back("  --help     show this text");
  lines.push_back("  --version  show the version");
  return lines;
}

}  // namespace trawlex
