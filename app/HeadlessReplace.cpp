#include "app/HeadlessReplace.h"

#include <cerrno>
#include <chrono>
#include <set>
#include <utility>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/ChangeSet.h"
#include "engine/RegexMatcher.h"
#include "engine/RegexReplace.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/SearchThread.h"
#include "engine/UndoJournal.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

const char* const ReplaceAllSwitch = "--replace-all";
const char* const DiffSwitch = "--diff";
#ifdef _WIN32
const char* const NullDevice = "NUL";
#else
const char* const NullDevice = "/dev/null";
#endif

// The finds and files a replace of `jobs` would change: a file reached under several names
// (links) counts once, as the replace rewrites it once and passes over its other names.
struct TToReplace {
  int64_t Finds = 0, Files = 0;
  std::string Text() const { return CountText(Finds, "find") + " in " + CountText(Files, "file"); }
};

TToReplace CountOncePerFile(const TReplaceJobList& jobs) {
  TToReplace count;
  std::set<std::pair<uint64_t, uint64_t>> seen;
  for (const auto& job : jobs) {
    const TFileIdentity& id = job->File->Identity;
    if (id.Known() && !seen.insert({id.Device, id.Inode}).second) continue;
    count.Finds += job->FindCount();
    ++count.Files;
  }
  return count;
}

// Writes the change set of the selected finds to `out` and a summary to `err`; nothing changes.
int PrintChangeSet(const TSearchParams& params, const TReplaceJobList& jobs, const std::string& text, std::FILE* out,
                   std::FILE* err, bool hadFileError, int32_t totalFinds) {
  const TChangeSet set = BuildChangeSet(params, jobs, text);
  if (std::fwrite(set.Text.data(), 1, set.Text.size(), out) != set.Text.size() || std::fflush(out) != 0) {
    std::fprintf(err, "Cannot write the changes: %s\n", SystemErrorText(errno).c_str());
    return ExitError;
  }
  std::fprintf(err, "Changes: %s would be replaced; nothing was changed\n", CountOncePerFile(jobs).Text().c_str());
  if (set.Linked > 0)
    std::fprintf(err, "%s not shown: reached through symbolic links that lead out of the folder\n",
                 CountText(set.Linked, "file").c_str());
  if (set.NotShown > 0) {
    std::fprintf(err, "%s not shown: changed since the search, unreadable or refused (see the \"Not shown\" lines)\n",
                 CountText(set.NotShown, "file").c_str());
    return ExitError;
  }
  if (hadFileError) return ExitError;
  return totalFinds > 0 ? ExitFinds : ExitNoFinds;
}

// Opens the journal that keeps every file's old content for --undo-last, unless the files
// would not fit the undo's limits; false, with the reason written, when nothing may be replaced.
bool StartJournal(const TSearchParams& params, const TReplaceJobList& jobs, const std::string& replacement,
                  const TUndoLimits& limits, const std::string& folder, TUndoJournalWriter& journal, std::FILE* err) {
  int64_t oldBytes = 0;
  for (const auto& job : jobs) oldBytes += job->File->Size;
  std::string problem = UndoSpaceProblem(oldBytes, limits);
  if (problem.empty()) {
    TJournalRun run;
    run.Time = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    run.Target = params.Target();
    run.Replacement = replacement;
    run.Directory = params.BaseDir;
    if (!journal.Create(folder, run)) problem = journal.Error();
  }
  if (problem.empty()) return true;
  std::fprintf(err, "%s; nothing was replaced. To replace without a way to undo, add --no-undo\n", problem.c_str());
  return false;
}

struct TReplaceRun {
  int32_t Replaced = 0;
  bool Failed = false;  // a file was not replaced, or the replace stopped
};

// Replaces the selected finds of `jobs` on the replace thread, writing its log to `err`.
TReplaceRun ReplaceJobs(TSearchParams& params, TReplaceJobList& jobs, const std::string& replacement,
                        TUndoJournalWriter& journal, THeadlessInvoker& invoker, std::FILE* err) {
  bool done = false;
  TReplaceThread replace(invoker);
  replace.Params = &params;
  replace.Jobs = &jobs;
  replace.ReplaceText = replacement;
  if (!journal.Path().empty()) replace.Journal = &journal;
  replace.OnLogLine = [&](const std::string& text) { std::fprintf(err, "%s\n", text.c_str()); };
  replace.OnTerminate = [&](TBaseThread&) { done = true; };
  replace.Start();
  invoker.RunUntil(done);
  TReplaceRun run;
  if (!replace.FatalError().empty()) {
    std::fprintf(err, "%s\n", replace.FatalError().c_str());
    run.Failed = true;
  }
  run.Replaced = replace.ReplacedCount();
  run.Failed = run.Failed || replace.FilesNotReplaced() > 0;
  return run;
}

// The request's switches belong together: false, with the reason written, where they do not.
bool CheckReplaceRequest(const TProgramOptions& request, std::FILE* err) {
  if (request.Diff && !request.ReplaceAll) {
    std::fprintf(err, "%s shows what %s TEXT would change: give both\n", DiffSwitch, ReplaceAllSwitch);
    return false;
  }
  if (!request.HasReplaceText) {
    std::fprintf(err, "%s needs the replacement text as its next argument\n", ReplaceAllSwitch);
    return false;
  }
  return true;
}

}  // namespace

bool IsReplaceAllRequest(const std::vector<std::string>& args) {
  const TProgramOptions o = ReadProgramOptions(args, false);
  return o.ReplaceAll || o.Diff;
}

// A replacement that names a group the pattern lacks, found before anything is searched or
// written; empty outside regular-expression mode or when the pattern itself is at fault (the
// search says so).
static std::string RegexReplacementProblem(const std::vector<std::string>& searchArgs, const std::string& replaceText) {
  TSearchOptions options;
  try {
    ApplySearchSwitches(searchArgs, options);
    if (!options.RegExp) return {};
    const TRegex regex(options.Target, options.CaseSensitive);
    TRegexReplacement(replaceText, regex);
  } catch (const ETrawlexError& e) {
    return options.RegExp && !std::string(e.what()).starts_with("The regular expression is not valid") ? e.what() : "";
  }
  return {};
}

int RunReplaceAll(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  return RunReplaceAll(args, out, err, "trawlex");
}

int RunReplaceAll(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const std::string& programName) {
  if (!CheckHeadlessArguments(args, err, programName)) return ExitError;
  const TProgramOptions request = ReadProgramOptions(args, true);
  if (!CheckReplaceRequest(request, err)) return ExitError;
  if (const std::string problem = RegexReplacementProblem(request.SearchArgs, request.ReplaceText); !problem.empty()) {
    std::fprintf(err, "%s; nothing was replaced\n", problem.c_str());
    return ExitError;
  }
  TSearchParams params;
  THeadlessInvoker invoker;
  TSearchOutcome searched;
  // With --diff, standard output holds the change set alone, ready for a patch tool.
  std::FILE* reportTo = request.Diff ? std::fopen(NullDevice, "w") : out;
  if (!reportTo) {
    std::fprintf(err, "Cannot open %s: %s\n", NullDevice, SystemErrorText(errno).c_str());
    return ExitError;
  }
  const bool searchedOk = SearchAndReport(request.SearchArgs, params, invoker, reportTo, err, searched);
  if (reportTo != out) std::fclose(reportTo);
  if (!searchedOk) return ExitError;
  const bool hadFileError = searched.FileErrors;
  const int32_t totalFinds = searched.TotalFinds;

  for (int32_t i = 0; i < params.GetResultCount(); ++i) params.GetResult(i)->SelectAllFinds(true);
  TReplaceJobList jobs;
  BuildReplaceJobs(params, jobs);
  if (request.Diff) return PrintChangeSet(params, jobs, request.ReplaceText, out, err, hadFileError, totalFinds);
  if (request.DryRun) {
    std::fprintf(err, "Dry run: %s would be replaced; nothing was changed\n", CountOncePerFile(jobs).Text().c_str());
    if (hadFileError) return ExitError;
    return totalFinds > 0 ? ExitFinds : ExitNoFinds;
  }

  TUndoJournalWriter journal;
  const TUndoLimits limits = UndoLimitsFromSettings();
  const std::string undoFolder = DefaultUndoFolder();
  if (!request.NoUndo && !jobs.empty() && !StartJournal(params, jobs, request.ReplaceText, limits, undoFolder, journal, err))
    return ExitError;
  TReplaceRun run = ReplaceJobs(params, jobs, request.ReplaceText, journal, invoker, err);
  if (!journal.Path().empty()) {
    if (!journal.Finish()) {
      std::fprintf(err, "%s\n", journal.Error().c_str());
      run.Failed = true;
    }
    PruneJournals(undoFolder, limits, journal.Path());
  }
  const std::string finished = "Finished. Replaced " + CountText(run.Replaced, "find") + "\n";
  if (std::fputs(finished.c_str(), out) == EOF || std::fflush(out) != 0) {
    std::fprintf(err, "Cannot write the report: %s\n", SystemErrorText(errno).c_str());
    return ExitError;
  }
  if (hadFileError || run.Failed) return ExitError;
  return totalFinds > 0 ? ExitFinds : ExitNoFinds;
}

}  // namespace trawlex
