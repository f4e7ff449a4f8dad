#pragma once
// The application-wide tab display settings ("Expand tabs", "Spaces Per Tab"), read at
// every draw of a result line. Atomic, since the window may change them while a worker
// measures items.
#include <cstdint>

namespace trawlex {

struct TTabSettings {
  bool ExpandTabs;
  int32_t SpacesPerTab;
};

TTabSettings GetTabSettings();
void SetTabSettings(bool expandTabs, int32_t spacesPerTab);

}  // namespace trawlex
