#include "config/RegistryConfig.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "engine/Errors.h"
#include "engine/TextUtils.h"
#include "platform/DurableFile.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

std::mutex HandlerLock;  // guards Handler and Reported
TSettingsErrorHandler Handler;
std::set<std::string> Reported;

void Report(const std::string& message) {
  TSettingsErrorHandler h;
  {
    std::lock_guard<std::mutex> g(HandlerLock);
    h = Handler;
  }
  if (h) {
    h(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

// Reports `message` only the first time `key` comes up in this process.
void ReportOnce(const std::string& key, const std::string& message) {
  {
    std::lock_guard<std::mutex> g(HandlerLock);
    if (!Reported.insert(key).second) return;
  }
  Report(message);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of(PathDelim);
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string UserConfigFolder() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home && home[0] ? home : ".") + "/.config";
}

}  // namespace

std::string SettingsRootKey() { return "Software\\vantorel\\Trawlex"; }

std::string SettingsFileFor(const std::string& keyPath) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= keyPath.size()) {
    size_t bs = keyPath.find('\\', start);
    if (bs == std::string::npos) bs = keyPath.size();
    if (bs > start) names.push_back(keyPath.substr(start, bs - start));
    start = bs + 1;
  }
  if (!names.empty() && CompareTextAscii(names[0], "Software") == 0) names.erase(names.begin());
  const std::string folder = UserConfigFolder();
  if (names.empty()) return folder + "/settings.reg";
  if (names.size() == 1) return folder + "/" + names[0] + ".reg";
  return folder + "/" + names[0] + "/" + names[1] + ".reg";
}

void SetSettingsErrorHandler(TSettingsErrorHandler handler) {
  std::lock_guard<std::mutex> g(HandlerLock);
  Handler = std::move(handler);
}

TRegistryConfig::TRegistryConfig(const std::string& keyPath) : TRegistryConfig(keyPath, SettingsFileFor(keyPath)) {}

TRegistryConfig::TRegistryConfig(const std::string& keyPath, const std::string& filePath)
    : TDocumentConfig(keyPath), FFilePath(filePath), FLockPath(filePath + ".lock") {}

IConfigPtr TRegistryConfig::OpenSubConfig(const std::string& name) {
  return std::make_shared<TRegistryConfig>(KeyPath() + "\\" + name, FFilePath);
}

TRegistryConfig::TLoad TRegistryConfig::LoadFile(TRegDocument& doc, std::string& detail) const {
  doc = TRegDocument();
  TFileInfo info;
  if (!GetFileInfo(FFilePath, info)) {
    if (errno == ENOENT || errno == ENOTDIR) return TLoad::Missing;
    detail = SystemErrorText(errno);
    return TLoad::Failed;
  }
  TReadOnlyFile file;
  if (!file.Open(FFilePath, detail)) return TLoad::Failed;
  std::string text(static_cast<size_t>(file.Size()), '\0');
  const int64_t got = file.ReadFull(text.data(), text.size(), detail);
  if (got < 0) return TLoad::Failed;
  text.resize(static_cast<size_t>(got));
  return doc.Parse(text, detail) ? TLoad::Parsed : TLoad::Corrupt;
}

bool TRegistryConfig::SetCorruptFileAside(const std::string& reason) {
  std::string target, error;
  if (!ResolveLinks(FFilePath, target, error)) return false;
  const std::string base = target + ".corrupt-" + FormatDateTime("yyyymmdd-hhnnss", NowLocal());
  for (int n = 1; n <= 100; ++n) {
    const std::string aside = n == 1 ? base : base + "-" + std::to_string(n);
    if (RenameNoReplace(target, aside, error)) {
      Report(Fmt("The settings file %s could not be read (%s). It has been kept as %s, and the settings "
                 "start from their defaults.",
                 FFilePath, reason, aside));
      return true;
    }
    if (FileExists(aside)) continue;
    return false;
  }
  return false;
}

TRegDocument TRegistryConfig::ReadDocument(const std::string& what) {
  TRegDocument doc;
  std::string detail;
  switch (LoadFile(doc, detail)) {
    case TLoad::Missing:
    case TLoad::Parsed:
      return doc;
    case TLoad::Failed:
      throw ETrawlexError(Fmt("Failed to get data for '%s'", what));
    case TLoad::Corrupt:
      break;
  }
  // Under the lock, so that only one instance moves the file, and only if it is still broken.
  TFileLock lock;
  std::string lockError;
  if (lock.Acquire(FLockPath, LockTimeoutMs, lockError)) {
    const TLoad again = LoadFile(doc, detail);
    if (again == TLoad::Missing || again == TLoad::Parsed) return doc;
    if (again == TLoad::Failed) throw ETrawlexError(Fmt("Failed to get data for '%s'", what));
    if (SetCorruptFileAside(detail)) return TRegDocument();
  }
  TFileInfo info;
  GetFileInfo(FFilePath, info);
  ReportOnce(FFilePath + "|" + std::to_string(info.Inode) + "|" + std::to_string(info.ModifiedNs),
             Fmt("The settings file %s could not be read (%s), and it could not be moved aside. The "
                 "settings start from their defaults and cannot be saved.",
                 FFilePath, detail));
  return TRegDocument();
}

void TRegistryConfig::ChangeDocument(const std::string& keyPath, const std::string& what, const TChange& change) {
  std::string error;
  if (!ForceDirectories(FolderOf(FFilePath), error)) throw ETrawlexError(Fmt("Failed to create key %s", keyPath));
  TFileLock lock;
  if (!lock.Acquire(FLockPath, LockTimeoutMs, error)) throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
  TRegDocument doc;
  switch (LoadFile(doc, error)) {
    case TLoad::Missing:
    case TLoad::Parsed:
      break;
    case TLoad::Failed:
      // Never replace a file that could not be read: it may hold everything the user set.
      throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
    case TLoad::Corrupt:
      if (!SetCorruptFileAside(error)) throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
      doc = TRegDocument();
      break;
  }
  if (!change(doc)) return;
  if (!ReplaceFileContent(FFilePath, doc.Format(), error)) {
    throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
  }
}

}  // namespace trawlex
