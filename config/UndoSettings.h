#pragma once
// The limits of the kept undo journals, from the program-wide settings: "Undo Runs" (how
// many replaces can be undone, default 20) and "Undo Size MiB" (how much their journals may
// take together, default 1024). A missing or unusable value gives its default.
#include "engine/UndoJournal.h"

namespace trawlex {

TUndoLimits UndoLimitsFromSettings();

}  // namespace trawlex
