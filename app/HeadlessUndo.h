#pragma once
// Headless undo: `trawlex --undo-list` prints the replaces that can be undone, newest first;
// `trawlex --undo-last` restores the files of the newest one (which is itself kept as a run
// that can be undone).
#include <cstdio>
#include <string>
#include <vector>

namespace trawlex {

struct TUndoLimits;

// Whether the arguments ask for --undo-last or --undo-list.
bool IsUndoRequest(const std::vector<std::string>& args);

// Runs --undo-last or --undo-list. Exit status: 0 when every file was restored (or the
// list was printed), 1 when there is nothing to undo, 2 when a file was refused or the
// journal could not be used.
int RunUndo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The limits of the undo journals as the settings give them (defaults without settings).
TUndoLimits UndoLimitsFromSettings();

}  // namespace trawlex
