// The headless replace as its own process, for tests that kill it or run it as another user.
#include <string>
#include <vector>

#include "app/HeadlessReplace.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return trawlex::RunReplaceAll(args, stdout, stderr);
}
