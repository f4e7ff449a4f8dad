#include "config/SystemStore.h"

#include "config/RegistryConfig.h"

namespace trawlex {

// No system store here: every store is a settings file.

std::string DefaultSettingsFile(const std::string& keyPath) { return SettingsFileFor(keyPath); }

bool ReadSystemStore(const std::string&, const std::string&, int32_t, TRegDocument&) { return false; }

bool ChangeSystemStore(const std::string&, const std::string&, const std::string&, int32_t,
                       const std::function<bool(TRegDocument&)>&) {
  return false;
}

}  // namespace trawlex
