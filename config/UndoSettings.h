#pragma once
// The limits of the kept undo journals as the program-wide settings hold them: "Undo Runs"
// (how many replaces can be undone) and "Undo Size MiB" (how much their journals may take
// together). The engine's own defaults stand wherever a value here is 0.
#include <cstdint>

namespace trawlex {

struct TUndoSettings {
  int32_t Runs = 0;
  int32_t SizeMiB = 0;
};

// A value that is missing, unusable or not positive reads as 0; settings that cannot be read
// at all give both 0 (the store reports its own problems).
TUndoSettings ReadUndoSettings();

}  // namespace trawlex
