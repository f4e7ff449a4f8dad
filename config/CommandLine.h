#pragma once
// Command-line switches derived from configuration elements: every remembered search
// input can also be given as "-<letter> value", the letter being the first letter of the
// control's own name (the fourth character of the element's name, after its kind prefix).
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/CfgElements.h"

namespace trawlex {

// The switch letter of an element: the fourth character of its name, in lower case.
char SwitchLetter(const TBaseCfgElem& element);

// The element whose letter is `letter` (any case), searching from the last element to the
// first; null when there is none.
TBaseCfgElem* FindSwitch(const TBaseCfgList& list, char letter);

// Sets elements from `args` (the arguments without the program path). A "-x" whose letter
// names an element takes the next argument as its value, whatever it looks like; other
// arguments are skipped one at a time, and the last one is only ever a value. A value an
// element cannot take raises its error (for example "'%s' is not a valid integer value").
void ApplyCommandLine(TBaseCfgList& list, const std::vector<std::string>& args);

// A switch's label and hint, as the window's controls give them.
using TSwitchLabelSource = std::function<std::pair<std::string, std::string>(const TBaseCfgElem&)>;

// The label an element gives itself: its name from the fourth character up to the first
// "." ("cbxDirectory.Directory" gives "Directory").
std::string ElementLabel(const TBaseCfgElem& element);

// The program's name, then one line per element: "  -<letter> <label>", " -- " and the hint
// when there is one, " (" + the current value + ")" when it is not empty.
std::vector<std::string> BuildUsageLines(const TBaseCfgList& list, const TSwitchLabelSource& labels,
                                         const std::string& programName);

// The program's own options (a search without a window, replacing, undoing), as the usage text
// lists them: one line per option, with its description after it or on indented lines below.
std::vector<std::string> ProgramOptionLines();

}  // namespace trawlex
