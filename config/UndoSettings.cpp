#include "config/UndoSettings.h"

#include "config/RegistryConfig.h"

namespace trawlex {

TUndoLimits UndoLimitsFromSettings() {
  TUndoLimits limits;
  try {
    TRegistryConfig store(SettingsRootKey());
    const int32_t runs = store.ReadInteger("", "Undo Runs", limits.Runs);
    const int32_t mib = store.ReadInteger("", "Undo Size MiB", static_cast<int32_t>(limits.Bytes >> 20));
    if (runs > 0) limits.Runs = runs;
    if (mib > 0) limits.Bytes = int64_t{mib} << 20;
  } catch (const std::exception&) {
    // Settings that cannot be read leave the defaults; the store reports its own problems.
  }
  return limits;
}

}  // namespace trawlex
