#pragma once
// The program's settings store. On Windows a store made from a key path alone is the registry
// of the current user itself (config/win32/RegistryStore.h): every read reads the key as it is
// now, every write reads, changes and writes it back under a lock that all processes share.
// Elsewhere, and for a store given a file, the registry keys of the store live in one
// text file per store key, in the form of a registry export, at
// $XDG_CONFIG_HOME/<maker>/<product>.reg (~/.config when the variable is unset); keys below
// the store key (the sections, and stores opened with OpenSubConfig) are kept in the same file.
//
// Nothing is cached: every read parses the file as it is now (a batch, IConfig::OpenBatch,
// reads it once for a whole list), and every write takes the file's advisory lock, re-reads
// the file, changes it and replaces it atomically and durably before it returns, so every
// store instance, in this process or another, sees every write at once and a crash never
// leaves half a file.
//
// A file with lines that cannot be parsed is kept aside (<name>.corrupt-<date>-<time>), the
// lines that parse are written back and used, and the lines that did not are reported once
// through the settings error handler. A file, lock file or folder that cannot be used (a
// folder or device where the file should be, a file without read or write permission) is
// reported once with the system's reason; the store then reads what it can (nothing from a
// file it cannot read) and writes nothing for the rest of the run, so it never replaces a file
// it could not read or that is read-only.
#include <string>

#include "config/DocumentConfig.h"
#include "config/SettingsErrors.h"

namespace trawlex {

// The store key of the program's settings below HKEY_CURRENT_USER.
std::string SettingsRootKey();

// The settings file that holds the key `keyPath` (below HKEY_CURRENT_USER).
std::string SettingsFileFor(const std::string& keyPath);

class TRegistryConfig : public TDocumentConfig {
 public:
  // The store on `keyPath` in the settings file SettingsFileFor(keyPath); on Windows, in the
  // registry (FilePath() is then empty).
  explicit TRegistryConfig(const std::string& keyPath);
  // The store on `keyPath` kept in the file `filePath`.
  TRegistryConfig(const std::string& keyPath, const std::string& filePath);

  const std::string& FilePath() const { return FFilePath; }
  IConfigPtr OpenSubConfig(const std::string& name) override;

  // How long a write waits for another process that holds the file's lock.
  static constexpr int32_t LockTimeoutMs = 10000;

 protected:
  std::shared_ptr<const TRegDocument> ReadDocument(const std::string& what) override;
  void ChangeDocument(const std::string& keyPath, const std::string& what, const TChange& change) override;

 private:
  enum class TLoad { Missing, Parsed, Corrupt, Failed };
  // Reads and parses the file; on Corrupt `doc` holds the lines that parsed and `detail`
  // names the others.
  TLoad LoadFile(TRegDocument& doc, std::string& detail) const;
  // Moves a file with unparsable lines aside and writes the lines that parsed (`doc`) back in
  // its place (the caller holds the lock), and reports it; false when it could not be moved.
  bool SetCorruptFileAside(const TRegDocument& doc, const std::string& reason);
  // Probes the file, its lock file and its folder; whatever cannot be used is reported once
  // and this run reads or writes no more through it. Answers whether reads and writes may go on.
  struct TUse {
    bool Reads = true, Writes = true;
  };
  TUse CheckUse() const;
  bool FolderUsable() const;
  bool LinkUsable() const;
  TUse FileAndLockUse() const;
  // Takes reads (and writes) away from the file for the rest of the run and reports why.
  void Refuse(bool reads, const std::string& message) const;
  void RefuseUnreadable(const std::string& reason) const;

  std::string FFilePath;
  std::string FLockPath;
};

}  // namespace trawlex
