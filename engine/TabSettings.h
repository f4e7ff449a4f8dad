#pragma once
// How result lines show tabs ("Expand tabs", "Spaces Per Tab"). The application owns one
// `TTabDisplay` for all its windows; a drawing surface answers the settings it draws with,
// so the items read them from the surface they are drawn on or measured with.
#include <atomic>
#include <cstdint>

namespace trawlex {

struct TTabSettings {
  bool ExpandTabs = true;
  int32_t SpacesPerTab = 4;
};

// The settings as the windows share them. Atomic, since the window may change them while a
// worker measures items.
class TTabDisplay {
 public:
  TTabSettings Get() const {
    return {FExpandTabs.load(std::memory_order_relaxed), FSpacesPerTab.load(std::memory_order_relaxed)};
  }
  void Set(TTabSettings tabs) {
    FExpandTabs.store(tabs.ExpandTabs, std::memory_order_relaxed);
    FSpacesPerTab.store(tabs.SpacesPerTab, std::memory_order_relaxed);
  }

 private:
  std::atomic<bool> FExpandTabs{TTabSettings{}.ExpandTabs};
  std::atomic<int32_t> FSpacesPerTab{TTabSettings{}.SpacesPerTab};
};

}  // namespace trawlex
