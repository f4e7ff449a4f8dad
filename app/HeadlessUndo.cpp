#include "app/HeadlessUndo.h"

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "base/TextUtils.h"
#include "engine/UndoJournal.h"

namespace trawlex {

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
  const std::vector<TJournalInfo> journals = ListJournals(folder);
  if (request.UndoList) {
    for (const TJournalInfo& info : journals) std::fprintf(out, "%s\n", DescribeRun(info).c_str());
    if (journals.empty()) std::fprintf(err, "No replace can be undone\n");
    return std::fflush(out) == 0 ? (journals.empty() ? ExitNoFinds : ExitFinds) : ExitError;
  }
  if (journals.empty()) {
    std::fprintf(err, "There is no replace to undo\n");
    return ExitNoFinds;
  }
  const TJournalInfo& last = journals.front();
  std::fprintf(out, "Undo: %s\n", DescribeRun(last).c_str());
  // The undo keeps a journal of its own, so that it can be undone too, unless --no-undo.
  const TUndoOutcome outcome = UndoJournal(last.Path, request.NoUndo ? std::string() : folder,
                                           [&](const std::string& line) { std::fprintf(err, "%s\n", line.c_str()); });
  if (!outcome.Error.empty()) {
    std::fprintf(err, "%s; nothing was restored. To restore without a way to undo the undo, add --no-undo\n",
                 outcome.Error.c_str());
    return ExitError;
  }
  PruneJournals(folder, UndoLimitsFromSettings());
  std::string finished = "Finished. Restored " + CountText(outcome.Restored, "file");
  if (outcome.Refused > 0) finished += ", refused " + CountText(outcome.Refused, "file");
  std::fprintf(out, "%s\n", finished.c_str());
  if (std::fflush(out) != 0) return ExitError;
  return outcome.Refused > 0 ? ExitError : ExitFinds;
}

}  // namespace trawlex
