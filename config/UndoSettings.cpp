#include "config/UndoSettings.h"

#include <algorithm>
#include <exception>

#include "config/RegistryConfig.h"

namespace trawlex {

TUndoSettings ReadUndoSettings() {
  TUndoSettings stored;
  try {
    TRegistryConfig store(SettingsRootKey());
    stored.Runs = std::max(0, store.ReadInteger("", "Undo Runs", 0));
    stored.SizeMiB = std::max(0, store.ReadInteger("", "Undo Size MiB", 0));
  } catch (const std::exception&) {
    stored = TUndoSettings{};
  }
  return stored;
}

}  // namespace trawlex
