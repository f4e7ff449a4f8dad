#include "app/HeadlessReplace.h"

#include <cerrno>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "engine/Errors.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/SearchThread.h"
#include "engine/TextUtils.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

const char* const ReplaceAllSwitch = "--replace-all";

}  // namespace

bool IsReplaceAllRequest(const std::vector<std::string>& args) { return ReadProgramOptions(args, false).ReplaceAll; }

int RunReplaceAll(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  if (!CheckHeadlessArguments(args, err)) return ExitError;
  const TProgramOptions request = ReadProgramOptions(args, true);
  if (!request.HasReplaceText) {
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
    replace.ReplaceText = request.ReplaceText;
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
