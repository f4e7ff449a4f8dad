#pragma once
// The headless mode: `trawlex --report [switches]` searches without any window and
// writes the results report to standard output.
#include <cstdio>
#include <string>
#include <vector>

namespace trawlex {

enum THeadlessExit { ExitFinds = 0, ExitNoFinds = 1, ExitError = 2 };

// Runs the search the switches among `args` describe; returns the exit status. The
// report goes to `out` with "\n" line ends, error lines and input problems to `err`;
// when `err` is a terminal, one progress line is redrawn there and erased at the end.
int RunReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace trawlex
