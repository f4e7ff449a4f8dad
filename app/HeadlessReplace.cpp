#include "app/HeadlessReplace.h"

#include <cerrno>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "config/CommandLine.h"
#include "config/SearchInputs.h"
#include "engine/Errors.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/SearchThread.h"
#include "engine/TextUtils.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

const char* const ReplaceAllSwitch = "--replace-all";
const char* const DryRunSwitch = "--dry-run";

// A search switch ("-t", "-Directory", ...) whose next argument is its value: the same
// letters the search inputs give the command line.
bool IsSearchSwitch(const std::string& a) {
  static TSearchInputs inputs;
  return a.size() >= 2 && a[0] == '-' && FindSwitch(inputs.List(), a[1]) != nullptr;
}

struct TReplaceRequest {
  bool Requested = false;
  bool HasText = false;
  bool DryRun = false;
  std::string Text;
  std::vector<std::string> SearchArgs;  // the arguments without the replace switches
};

// Reads the switches the way ApplySearchSwitches does, so a switch's value that happens
// to read "--replace-all" stays a value.
TReplaceRequest ParseReplaceRequest(const std::vector<std::string>& args) {
  TReplaceRequest r;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == ReplaceAllSwitch) {
      r.Requested = true;
      if (i + 1 < args.size()) {
        r.HasText = true;
        r.Text = args[++i];
      }
    } else if (a == DryRunSwitch) {
      r.DryRun = true;
    } else {
      r.SearchArgs.push_back(a);
      if (IsSearchSwitch(a) && i + 1 < args.size()) r.SearchArgs.push_back(args[++i]);
    }
  }
  return r;
}

}  // namespace

bool IsReplaceAllRequest(const std::vector<std::string>& args) { return ParseReplaceRequest(args).Requested; }

int RunReplaceAll(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const TReplaceRequest request = ParseReplaceRequest(args);
  if (!request.HasText) {
    std::fprintf(err, "%s needs the replacement text as its next argument\n", ReplaceAllSwitch);
    return ExitError;
  }
  TSearchParams params;
  THeadlessInvoker invoker;
  TSearchOutcome searched;
  if (!SearchAndReport(request.SearchArgs, params, invoker, out, err, searched)) return ExitError;
  const bool hadFileError = searched.FileErrors;
  const int32_t totalFinds = searched.TotalFinds;

  for (int32_t i = 0; i < params.GetResultCount(); ++i) params.GetResult(i)->SelectAllFinds(true);
  TReplaceJobList jobs;
  const TFindCounts counts = BuildReplaceJobs(params, jobs);
  if (request.DryRun) {
    std::fprintf(err, "Dry run: %s in %s would be replaced; nothing was changed\n",
                 CountText(counts.Selected, "find").c_str(), CountText(static_cast<int64_t>(jobs.size()), "file").c_str());
    if (hadFileError) return ExitError;
    return totalFinds > 0 ? ExitFinds : ExitNoFinds;
  }

  int32_t replaced = 0;
  bool hadReplaceError = false;
  {
    bool done = false;
    TReplaceThread replace(invoker);
    replace.Params = &params;
    replace.Jobs = &jobs;
    replace.ReplaceText = request.Text;
    replace.OnLogLine = [&](const std::string& text) { std::fprintf(err, "%s\n", text.c_str()); };
    replace.OnTerminate = [&](TBaseThread&) { done = true; };
    replace.Start();
    invoker.RunUntil(done);
    if (!replace.FatalError().empty()) {
      std::fprintf(err, "%s\n", replace.FatalError().c_str());
      hadReplaceError = true;
    }
    replaced = replace.ReplacedCount();
    hadReplaceError = hadReplaceError || replace.FilesNotReplaced() > 0;
  }
  const std::string finished = "Finished. Replaced " + CountText(replaced, "find") + "\n";
  if (std::fputs(finished.c_str(), out) == EOF || std::fflush(out) != 0) {
    std::fprintf(err, "Cannot write the report: %s\n", SystemErrorText(errno).c_str());
    return ExitError;
  }
  if (hadFileError || hadReplaceError) return ExitError;
  return totalFinds > 0 ? ExitFinds : ExitNoFinds;
}

}  // namespace trawlex
