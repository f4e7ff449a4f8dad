#include "app/HeadlessUndo.h"

#include <algorithm>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "base/TextUtils.h"
#include "engine/UndoJournal.h"

namespace trawlex {

namespace {

// --undo-list: the runs, newest first, and whether one can be undone.
int ListRuns(const std::vector<TJournalInfo>& journals, bool offered, bool damaged, std::FILE* out, std::FILE* err) {
  for (const TJournalInfo& info : journals) {
    std::fprintf(out, "%s\n", DescribeRun(info).c_str());
    for (const std::string& line : info.Damage) std::fprintf(err, "%s\n", line.c_str());
    damaged = damaged || !info.Damage.empty();
  }
  if (!offered) std::fprintf(err, "No replace can be undone\n");
  if (std::fflush(out) != 0 || damaged) return ExitError;
  return offered ? ExitFinds : ExitNoFinds;
}

// The undo's closing lines; false when they could not be written.
bool ReportUndone(const TUndoOutcome& outcome, std::FILE* out, std::FILE* err) {
  std::string finished = "Finished. Restored " + CountText(outcome.Restored, "file");
  if (outcome.Refused > 0) finished += ", refused " + CountText(outcome.Refused, "file");
  if (outcome.Damaged > 0) finished += ", the journal is damaged";
  std::fprintf(out, "%s\n", finished.c_str());
  if (outcome.Failed > 0)
    std::fprintf(err, "%s could not be written or read now; once that is mended, --undo-last restores %s\n",
                 CountText(outcome.Failed, "file").c_str(), outcome.Failed == 1 ? "it" : "them");
  return std::fflush(out) == 0;
}

}  // namespace

int RunUndo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const TProgramOptions request = ReadProgramOptions(args, true);
  if (!request.Error.empty()) {
    std::fprintf(err, "%s\n", request.Error.c_str());
    return ExitError;
  }
  if (request.UndoLast && request.UndoList) {
    std::fprintf(err, "Give either --undo-last or --undo-list\n");
    return ExitError;
  }
  if (request.ReplaceAll || request.Diff || request.DryRun || !request.SearchArgs.empty()) {
    std::fprintf(err, "--undo-last and --undo-list take no search or replace switches\n");
    return ExitError;
  }
  const std::string folder = DefaultUndoFolder();
  std::vector<std::string> problems;
  const std::vector<TJournalInfo> journals = ListJournals(folder, &problems);
  for (const std::string& line : problems) std::fprintf(err, "%s\n", line.c_str());
  const auto offered = std::find_if(journals.begin(), journals.end(), [](const TJournalInfo& j) { return j.Offered(); });
  if (request.UndoList) return ListRuns(journals, offered != journals.end(), !problems.empty(), out, err);
  if (offered == journals.end()) {
    std::fprintf(err, "There is no replace to undo\n");
    return problems.empty() ? ExitNoFinds : ExitError;
  }
  const TJournalInfo& last = *offered;
  std::fprintf(out, "Undo: %s\n", DescribeRun(last).c_str());
  // The undo keeps a journal of its own, so that it can be undone too, unless --no-undo.
  const TUndoOutcome outcome = UndoJournal(last.Path, request.NoUndo ? std::string() : folder,
                                           [&](const std::string& line) { std::fprintf(err, "%s\n", line.c_str()); });
  if (!outcome.Error.empty()) {
    if (outcome.Busy || outcome.AlreadyUndone) {
      std::fprintf(err, "%s; nothing was restored\n", outcome.Error.c_str());
      return outcome.Busy ? ExitError : ExitNoFinds;
    }
    std::fprintf(err, "%s; nothing was restored. To restore without a way to undo the undo, add --no-undo\n",
                 outcome.Error.c_str());
    return ExitError;
  }
  if (!outcome.Resumed.empty()) std::fprintf(out, "Taken up again: %s\n", outcome.Resumed.c_str());
  PruneJournals(folder, UndoLimitsFromSettings());
  if (!ReportUndone(outcome, out, err)) return ExitError;
  if (outcome.Refused > 0 || outcome.Damaged > 0 || !problems.empty()) return ExitError;
  return outcome.Restored > 0 ? ExitFinds : ExitNoFinds;
}

}  // namespace trawlex
