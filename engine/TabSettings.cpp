#include "engine/TabSettings.h"

#include <atomic>

namespace trawlex {

namespace {
std::atomic<bool> gExpandTabs{true};
std::atomic<int32_t> gSpacesPerTab{4};
}  // namespace

TTabSettings GetTabSettings() { return {gExpandTabs.load(std::memory_order_relaxed), gSpacesPerTab.load(std::memory_order_relaxed)}; }

void SetTabSettings(bool expandTabs, int32_t spacesPerTab) {
  gExpandTabs.store(expandTabs, std::memory_order_relaxed);
  gSpacesPerTab.store(spacesPerTab, std::memory_order_relaxed);
}

}  // namespace trawlex
