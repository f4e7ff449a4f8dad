#include "ui/dialogs/ReplaceRules.h"

#include "base/TextUtils.h"

namespace trawlex {

TReplacePlan PlanReplace(const TSearchParams& params) {
  TReplacePlan plan;
  plan.Counts = BuildReplaceJobs(params, plan.Jobs);
  return plan;
}

bool ReplaceEnabled(const TReplaceDialogState& state) { return state.SelectedFinds > 0 && !state.ReplaceStarted; }

bool ShowChangesEnabled(const TReplaceDialogState& state) { return ReplaceEnabled(state); }

int LogGrowth(int linesBefore) { return linesBefore == 0 ? ReplaceLogHeight : 0; }

bool KeepInHistory(const std::string& replacement) { return !replacement.empty(); }

std::string FinishedText(int32_t replaced) { return "Finished. Replaced " + CountText(replaced, "find"); }

}  // namespace trawlex
