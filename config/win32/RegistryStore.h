#pragma once
// The registry of the current user as a settings store: a key and every key below it read
// into a registry document, and a changed document written back as the changes it holds.
// Windows only; TRegistryConfig uses it for a store made from a key path alone.
#include <cstdint>
#include <string>

#include "config/RegDocument.h"

namespace trawlex {

// Exclusive use of the settings in the registry, among all processes of this user: a write
// reads, changes and writes back under it, so no two writers interleave. A holder that died
// leaves it free.
class TRegistryLock {
 public:
  TRegistryLock() = default;
  ~TRegistryLock();
  TRegistryLock(const TRegistryLock&) = delete;
  TRegistryLock& operator=(const TRegistryLock&) = delete;
  // False when another holder kept it past `timeoutMs`, or it cannot be made.
  bool Acquire(int32_t timeoutMs);

 private:
  void* FMutex = nullptr;
  bool FHeld = false;
};

// Reads the key `fullPath` ("HKEY_CURRENT_USER\...") with its values and every key below it
// into `doc`. A missing key gives an empty document; false with `error` set when a key that
// exists cannot be read.
bool ReadRegistryTree(const std::string& fullPath, TRegDocument& doc, std::string& error);

// Writes what changed from `before` to `after` below `fullPath`: keys gone from `after` are
// deleted with everything in them, new keys created, values that differ set, values gone
// deleted. False with `error` set and `failedKey` naming the key on the first failure.
bool WriteRegistryChanges(const std::string& fullPath, const TRegDocument& before, const TRegDocument& after,
                          std::string& error, std::string& failedKey);

}  // namespace trawlex
