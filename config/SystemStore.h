#pragma once
// The system's own settings store, where the system has one (the current user's registry on
// Windows); elsewhere settings live in files only. TRegistryConfig uses it for a store made
// from a key path alone.
#include <cstdint>
#include <functional>
#include <string>

#include "config/RegDocument.h"

namespace trawlex {

// The settings file a store made from `keyPath` alone keeps its keys in: empty where the
// system's own store holds them.
std::string DefaultSettingsFile(const std::string& keyPath);

// Reads the key `fullPath` and everything below it from the system's store into `doc`,
// waiting at most `timeoutMs` for a writer that is halfway. False with `doc` untouched where
// the system has no store; throws naming `what` when the store cannot be read.
bool ReadSystemStore(const std::string& fullPath, const std::string& what, int32_t timeoutMs, TRegDocument& doc);

// Reads, changes and writes back the key `fullPath` in the system's store under its lock, so
// that no other writer interleaves; `change` returns false when nothing changed. False where
// the system has no store; throws naming `keyPath` or `what` on failure.
bool ChangeSystemStore(const std::string& fullPath, const std::string& keyPath, const std::string& what,
                       int32_t timeoutMs, const std::function<bool(TRegDocument&)>& change);

}  // namespace trawlex
