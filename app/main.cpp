// Trawlex: find a text in every file of a directory tree.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TrawlexVersion.h"
#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/HeadlessReplace.h"
#include "platform/Platform.h"

using namespace trawlex;

static void PrintUsage(std::FILE* to) {
  for (const std::string& line : UsageLines(ProgramFileName())) std::fprintf(to, "%s\n", line.c_str());
}

int main(int argc, char** argv) {
  SetProcessArguments(argc, argv);
  const std::vector<std::string> args = ParamList();
  for (const std::string& a : args) {
    if (a == "--help") {
      PrintUsage(stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("Trawlex %s\n", TRAWLEX_VERSION_TEXT);
      return 0;
    }
  }
  if (!args.empty() && args[0] == "--report" && IsReplaceAllRequest(args)) return RunReplaceAll(args, stdout, stderr);
  if (!args.empty() && args[0] == "--report") return RunReport(args, stdout, stderr);
  // The window is not part of this build yet: say how to search without one.
  PrintUsage(stderr);
  return 2;
}
