#include "config/RegistryConfig.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "config/SystemStore.h"
#include "platform/DurableFile.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

// The settings files this process no longer reads or writes, by path (guarded by UseLock).
std::mutex UseLock;
std::map<std::string, bool> NoReads;   // present: no writes; true: no reads either

std::string UserConfigFolder() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home && home[0] ? home : ".") + "/.config";
}

// Why the settings file `link`, a symbolic link, is not followed (in words that follow "and
// "), or nothing when it leads to a settings file of the user's own, or to where one of
// theirs is yet to be made. A target that is no regular file or cannot be read is not
// refused here: it is reported as the settings file itself.
std::string LinkRefusal(const std::string& link) {
  std::string target, why, unused;
  const TFileUse targetUse = ResolveLinks(link, target, why) ? ProbeFileUse(target, unused) : TFileUse::Unusable;
  if (!why.empty()) return "it cannot be followed (" + why + ")";
  if (targetUse == TFileUse::Unusable) return {};
  if (targetUse == TFileUse::Missing) {
    // A settings file yet to be made: only under a settings file's name, in a folder of the user's own.
    const std::string ext = ".reg";
    if (target.size() <= ext.size() || target.compare(target.size() - ext.size(), ext.size(), ext) != 0 ||
        !OwnedByThisUser(FolderOf(target)))
      return "it leads to " + target + ", where there is no settings file";
    return {};
  }
  if (!OwnedByThisUser(target)) return "it leads to " + target + ", which belongs to another user";
  TReadOnlyFile file;
  std::string start(512, '\0'), error;
  const int64_t got = file.Open(target, error) ? file.ReadFull(start.data(), start.size(), error) : -1;
  start.resize(got > 0 ? static_cast<size_t>(got) : 0);
  if (!IsRegExportStart(start)) return "it leads to " + target + ", which is not a settings file";
  return {};
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

TRegistryConfig::TRegistryConfig(const std::string& keyPath) : TRegistryConfig(keyPath, DefaultSettingsFile(keyPath)) {}

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

void TRegistryConfig::Refuse(bool reads, const std::string& message) const {
  {
    std::lock_guard<std::mutex> g(UseLock);
    bool& noReads = NoReads[FFilePath];
    noReads = noReads || reads;
  }
  // One report per file: the first trouble found is the one the user needs to act on.
  ReportSettingsErrorOnce(FFilePath + "|unusable", message);
}

void TRegistryConfig::RefuseUnreadable(const std::string& reason) const {
  Refuse(true, Fmt("The settings file %s cannot be read (%s). The settings start from their defaults and are not "
                   "saved in this run.",
                   FFilePath, reason));
}

TRegistryConfig::TUse TRegistryConfig::CheckUse() const {
  {
    std::lock_guard<std::mutex> g(UseLock);
    const auto it = NoReads.find(FFilePath);
    if (it != NoReads.end()) return TUse{!it->second, false};
  }
  if (!FolderUsable() || !LinkUsable()) return TUse{false, false};
  return FileAndLockUse();
}

// Whether the settings folder is one or is yet to be made; reported when not.
bool TRegistryConfig::FolderUsable() const {
  std::string reason;
  const std::string folder = FolderOf(FFilePath);
  const TFileUse folderUse = ProbeFileUse(folder, reason);
  if (folderUse == TFileUse::ReadWrite || folderUse == TFileUse::ReadOnly) reason = SystemErrorText(ENOTDIR);
  if (folderUse == TFileUse::Missing || DirectoryExists(folder)) return true;
  Refuse(true, Fmt("The settings folder %s cannot be used (%s). The settings start from their defaults and "
                   "are not saved in this run.",
                   folder, reason));
  return false;
}

// Through a link only to a settings file of the user's own: anything else (another user's
// file, a dotfile, nothing at all) is neither read as settings nor moved aside nor written.
bool TRegistryConfig::LinkUsable() const {
  if (!IsSymbolicLink(FFilePath)) return true;
  const std::string why = LinkRefusal(FFilePath);
  if (why.empty()) return true;
  Refuse(true, Fmt("The settings file %s is a symbolic link, and %s. Nothing is read from it or written through "
                   "it in this run: remove the link, or point it at a settings file.",
                   FFilePath, why));
  return false;
}

// Whether the settings file and its lock file can be read and written; reported when not.
TRegistryConfig::TUse TRegistryConfig::FileAndLockUse() const {
  std::string reason;
  switch (ProbeFileUse(FFilePath, reason)) {
    case TFileUse::Missing:
    case TFileUse::ReadWrite:
      break;
    case TFileUse::ReadOnly:
      Refuse(false, Fmt("The settings file %s cannot be written (%s). The settings are read from it, but they "
                        "are not saved in this run.",
                        FFilePath, reason));
      return TUse{true, false};
    case TFileUse::Unusable:
      RefuseUnreadable(reason);
      return TUse{false, false};
  }
  if (!LockFileUsable(FLockPath, reason)) {
    Refuse(false, Fmt("The settings lock file %s cannot be used (%s). The settings are read, but they are not "
                      "saved in this run.",
                      FLockPath, reason));
    return TUse{true, false};
  }
  return TUse{};
}

bool TRegistryConfig::SetCorruptFileAside(const TRegDocument& doc, const std::string& reason) {
  std::string target, error;
  if (!ResolveLinks(FFilePath, target, error)) return false;
  const std::string base = target + ".corrupt-" + FormatDateTime("yyyymmdd-hhnnss", NowLocal());
  for (int n = 1; n <= 100; ++n) {
    const std::string aside = n == 1 ? base : base + "-" + std::to_string(n);
    if (RenameNoReplace(target, aside, error)) {
      std::string warning;
      if (!doc.Keys().empty() && ReplaceFileContent(FFilePath, doc.Format(), error, warning)) {
        ReportSettingsError(Fmt("The settings file %s has lines that could not be read (%s). It has been kept as "
                                "%s, and the settings on the other lines are used.",
                                FFilePath, reason, aside));
      } else {
        ReportSettingsError(Fmt("The settings file %s could not be read (%s). It has been kept as %s, and the "
                                "settings start from their defaults.",
                                FFilePath, reason, aside));
      }
      return true;
    }
    if (FileExists(aside)) continue;
    return false;
  }
  return false;
}

std::shared_ptr<const TRegDocument> TRegistryConfig::ReadDocument(const std::string& what) {
  auto doc = std::make_shared<TRegDocument>();
  if (FFilePath.empty() && ReadSystemStore(SectionKey(""), what, LockTimeoutMs, *doc)) return doc;
  const TUse use = CheckUse();
  if (!use.Reads) return doc;
  std::string detail;
  switch (LoadFile(*doc, detail)) {
    case TLoad::Missing:
    case TLoad::Parsed:
      return doc;
    case TLoad::Failed:
      RefuseUnreadable(detail);
      return std::make_shared<TRegDocument>();
    case TLoad::Corrupt:
      break;
  }
  if (use.Writes) {
    // Under the lock, so that only one instance moves the file, and only if it is still broken.
    TFileLock lock;
    std::string lockError;
    if (lock.Acquire(FLockPath, LockTimeoutMs, lockError)) {
      const TLoad again = LoadFile(*doc, detail);
      if (again == TLoad::Missing || again == TLoad::Parsed) return doc;
      if (again == TLoad::Failed) {
        RefuseUnreadable(detail);
        return std::make_shared<TRegDocument>();
      }
      if (SetCorruptFileAside(*doc, detail)) return doc;
    }
  }
  // The file stays as it is; what parsed is used, and nothing is written over it.
  Refuse(false, Fmt("The settings file %s has lines that could not be read (%s), and it could not be kept aside. "
                    "The settings on the other lines are used, but they are not saved in this run.",
                    FFilePath, detail));
  return doc;
}

void TRegistryConfig::ChangeDocument(const std::string& keyPath, const std::string& what, const TChange& change) {
  if (FFilePath.empty() && ChangeSystemStore(SectionKey(""), keyPath, what, LockTimeoutMs, change)) return;
  if (!CheckUse().Writes) return;  // reported once already
  std::string error;
  if (!ForceDirectories(FolderOf(FFilePath), error)) {
    Refuse(true, Fmt("The settings folder %s cannot be created (%s). The settings are not saved in this run.",
                     FolderOf(FFilePath), error));
    return;
  }
  TFileLock lock;
  if (!lock.Acquire(FLockPath, LockTimeoutMs, error)) {
    // Another copy of the program holding the lock too long is a failure of this write only.
    if (lock.TimedOut()) throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
    Refuse(false, Fmt("The settings lock file %s cannot be used (%s). The settings are not saved in this run.",
                      FLockPath, error));
    return;
  }
  TRegDocument doc;
  switch (LoadFile(doc, error)) {
    case TLoad::Missing:
    case TLoad::Parsed:
      break;
    case TLoad::Failed:
      // Never replace a file that could not be read: it may hold everything the user set.
      RefuseUnreadable(error);
      return;
    case TLoad::Corrupt:
      if (!SetCorruptFileAside(doc, error)) {
        Refuse(false, Fmt("The settings file %s has lines that could not be read (%s), and it could not be kept "
                          "aside. The settings are not saved in this run.",
                          FFilePath, error));
        return;
      }
      break;
  }
  if (!change(doc)) return;
  std::string warning;
  if (!ReplaceFileContent(FFilePath, doc.Format(), error, warning)) {
    throw ETrawlexError(Fmt("Failed to set data for '%s'", what));
  }
  if (!warning.empty()) {
    ReportSettingsErrorOnce(FFilePath + "|" + warning,
                            Fmt("The settings were saved in %s, but not for certain: %s.", FFilePath, warning));
  }
}

}  // namespace trawlex
