#pragma once
// Headless undo: `trawlex --undo-list` prints the replaces that can be undone, newest first;
// `trawlex --undo-last` restores the files of the newest one (which is itself kept as a run
// that can be undone).
#include <cstdio>
#include <string>
#include <vector>

namespace trawlex {

// Runs --undo-last or --undo-list. Exit status: 0 when every file was restored (or the
// list was printed), 1 when there is nothing to undo, 2 when a file was refused or the
// journal could not be used.
int RunUndo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace trawlex
