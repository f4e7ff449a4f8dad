// The headless replace (or undo) as its own process, for tests that kill it or run it as
// another user.
#include <algorithm>
#include <string>
#include <vector>

#include "app/HeadlessReplace.h"
#include "app/HeadlessUndo.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool undo = std::any_of(args.begin(), args.end(), [](const std::string& a) { return a.rfind("--undo-", 0) == 0; });
  return undo ? trawlex::RunUndo(args, stdout, stderr) : trawlex::RunReplaceAll(args, stdout, stderr);
}
