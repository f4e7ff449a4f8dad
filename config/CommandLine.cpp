#include "config/CommandLine.h"

#include "base/TextUtils.h"

namespace trawlex {

char SwitchLetter(const TBaseCfgElem& element) {
  const std::string& name = element.Name();
  return name.size() >= 4 ? LowerChar(name[3]) : '\0';
}

TBaseCfgElem* FindSwitch(const TBaseCfgList& list, char letter) {
  const char wanted = LowerChar(letter);
  for (int32_t i = list.Count() - 1; i >= 0; --i) {
    TBaseCfgElem& e = list.GetElem(i);
    if (SwitchLetter(e) == wanted && wanted != '\0') return &e;
  }
  return nullptr;
}

void ApplyCommandLine(TBaseCfgList& list, const std::vector<std::string>& args) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-') continue;
    TBaseCfgElem* element = FindSwitch(list, a[1]);
    if (!element) continue;
    element->SetAsString(args[++i]);
  }
}

std::string ElementLabel(const TBaseCfgElem& element) {
  const std::string& name = element.Name();
  if (name.size() <= 3) return {};
  const size_t dot = name.find('.', 3);
  return name.substr(3, dot == std::string::npos ? std::string::npos : dot - 3);
}

std::vector<std::string> BuildUsageLines(const TBaseCfgList& list, const TSwitchLabelSource& labels,
                                         const std::string& programName) {
  std::vector<std::string> lines{programName};
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TBaseCfgElem& e = list.GetElem(i);
    auto [label, hint] = labels ? labels(e) : std::pair<std::string, std::string>{};
    if (label.empty()) label = ElementLabel(e);
    std::string line = std::string("  -") + SwitchLetter(e) + " <" + label + ">";
    if (!hint.empty()) line += " -- " + hint;
    const std::string value = e.GetAsString();
    if (!value.empty()) line += " (" + value + ")";
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> ProgramOptionLines() {
  return {
      "  --report   search without a window and write the results to standard output",
      "             (exit status 0: finds, 1: no finds, 2: error)",
      "  --replace-all TEXT  with --report: replace every find with TEXT (or --replace-all=TEXT)",
      "  --dry-run  with --replace-all: only tell how many finds would be replaced",
      "  --diff     with --replace-all: print the changes as a patch and change nothing",
      "  --no-undo  with --replace-all: keep no copy of the old content for --undo-last",
      "  --undo-last  restore the files of the last replace (a file changed since is left alone)",
      "  --undo-list  list the replaces that can be undone, newest first",
      "  --help     show this text",
      "  --version  show the version",
  };
}

}  // namespace trawlex
