#pragma once
// Headless undo: `trawlex --undo-list` prints the replaces that can be undone, newest first;
// `trawlex --undo-last` restores the files of the newest one (which is itself kept as a run
// that can be undone).
#include <cstdio>
#include <string>
#include <vector>

namespace trawlex {

// Runs --undo-last or --undo-list. Exit status: 0 when files were restored and none refused
// (or the list was printed), 1 when there is nothing to undo (no run offered, or no file
// needed restoring), 2 when a file was refused, a journal or the folder was refused or is
// damaged, or the run is in use by a replace or another undo.
int RunUndo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace trawlex
