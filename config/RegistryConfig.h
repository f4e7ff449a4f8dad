#pragma once
// The program's settings store. On this platform the registry keys of the store live in one
// text file per store key, in the form of a registry export, at
// $XDG_CONFIG_HOME/<maker>/<product>.reg (~/.config when the variable is unset); keys below
// the store key (the sections, and stores opened with OpenSubConfig) are kept in the same file.
//
// Nothing is cached: every read parses the file as it is now, and every write takes the
// file's advisory lock, re-reads the file, changes it and replaces it atomically and durably
// before it returns, so every store instance, in this process or another, sees every write
// at once and a crash never leaves half a file. A file that cannot be parsed is moved aside
// (<name>.corrupt-<date>-<time>), reported once through the settings error handler, and the
// store starts empty.
#include <functional>
#include <string>

#include "config/DocumentConfig.h"

namespace trawlex {

// The store key of the program's settings below HKEY_CURRENT_USER.
std::string SettingsRootKey();

// The settings file that holds the key `keyPath` (below HKEY_CURRENT_USER).
std::string SettingsFileFor(const std::string& keyPath);

// Receives the one-time report of a settings file that could not be read. The program shows
// it to the user; without a handler it goes to the standard error stream.
using TSettingsErrorHandler = std::function<void(const std::string& message)>;
void SetSettingsErrorHandler(TSettingsErrorHandler handler);

class TRegistryConfig : public TDocumentConfig {
 public:
  // The store on `keyPath` in the settings file SettingsFileFor(keyPath).
  explicit TRegistryConfig(const std::string& keyPath);
  // The store on `keyPath` kept in the file `filePath`.
  TRegistryConfig(const std::string& keyPath, const std::string& filePath);

  const std::string& FilePath() const { return FFilePath; }
  IConfigPtr OpenSubConfig(const std::string& name) override;

  // How long a write waits for another process that holds the file's lock.
  static constexpr int32_t LockTimeoutMs = 10000;

 protected:
  TRegDocument ReadDocument(const std::string& what) override;
  void ChangeDocument(const std::string& keyPath, const std::string& what, const TChange& change) override;

 private:
  enum class TLoad { Missing, Parsed, Corrupt, Failed };
  TLoad LoadFile(TRegDocument& doc, std::string& detail) const;
  // Moves an unparsable file aside (the caller holds the lock) and reports it; false when it
  // could not be moved.
  bool SetCorruptFileAside(const std::string& reason);

  std::string FFilePath;
  std::string FLockPath;
};

}  // namespace trawlex
