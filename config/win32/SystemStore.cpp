#include "config/SystemStore.h"

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "config/win32/RegistryStore.h"

namespace trawlex {

// The registry holds the settings of a store made from a key path alone.
std::string DefaultSettingsFile(const std::string&) { return std::string(); }

bool ReadSystemStore(const std::string& fullPath, const std::string& what, int32_t timeoutMs, TRegDocument& doc) {
  // A reading waits for a writer that is halfway (but not forever: a reading that cannot wait
  // still sees every value whole).
  TRegistryLock lock;
  lock.Acquire(timeoutMs);
  std::string error;
  if (!ReadRegistryTree(fullPath, doc, error)) throw ETrawlexError(Fmt("Failed to get data for '%s'", what));
  return true;
}

bool ChangeSystemStore(const std::string& fullPath, const std::string& keyPath, const std::string& what,
                       int32_t timeoutMs, const std::function<bool(TRegDocument&)>& change) {
  TRegistryLock lock;
  if (!lock.Acquire(timeoutMs)) throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
  TRegDocument before;
  std::string error, failedKey;
  if (!ReadRegistryTree(fullPath, before, error)) throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
  TRegDocument after = before;
  if (!change(after)) return true;
  if (!WriteRegistryChanges(fullPath, before, after, error, failedKey)) {
    if (!failedKey.empty()) throw ETrawlexError(Fmt("Failed to create key %s", keyPath));
    throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
  }
  return true;
}

}  // namespace trawlex
