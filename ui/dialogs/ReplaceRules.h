#pragma once
// The rules of the replace dialog that need no window: what it counts and hands to the replace
// engine, when its buttons are enabled, how its log grows and what it says at the end.
#include <cstdint>
#include <string>

#include "engine/ReplaceThread.h"

namespace trawlex {

class TSearchParams;

// The log of the dialog is this many pixels high once it shows.
constexpr int ReplaceLogHeight = 60;
// Replacement texts kept in the history.
constexpr int ReplaceHistoryLimit = 20;

// What the dialog works on: the counts it shows and one job per file with a selected find.
struct TReplacePlan {
  TFindCounts Counts;
  TReplaceJobList Jobs;
};
TReplacePlan PlanReplace(const TSearchParams& params);

// Where the dialog stands; the enabled rules read it.
struct TReplaceDialogState {
  int32_t SelectedFinds = 0;
  bool ReplaceStarted = false;  // one dialog performs at most one run
  bool Running = false;
};
// Replace: something is selected and no run was started in this dialog.
bool ReplaceEnabled(const TReplaceDialogState& state);
// Show changes: the same, since after a run the files no longer hold what the search saw.
bool ShowChangesEnabled(const TReplaceDialogState& state);

// How many pixels the window grows when a log line arrives and `linesBefore` are shown.
int LogGrowth(int linesBefore);

// An empty replacement deletes the finds but is not worth remembering.
bool KeepInHistory(const std::string& replacement);

// "Finished. Replaced 1 find", "Finished. Replaced 0 finds".
std::string FinishedText(int32_t replaced);

}  // namespace trawlex
