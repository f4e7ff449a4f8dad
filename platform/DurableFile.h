#pragma once
// Whole-file replacement that never leaves half a file behind, and an advisory lock that
// several processes use to take turns on a file. Shared by the settings store and any other
// code that rewrites a small file the user must not lose.
#include <cstdint>
#include <string>
#include <string_view>

namespace trawlex {

// Follows symbolic links from `path` to the file they finally name (which need not exist).
// Relative link targets are taken relative to the link's folder. False with `error` set on a
// link loop or an unreadable link.
bool ResolveLinks(const std::string& path, std::string& result, std::string& error);

// Whether `path` itself is a symbolic link (it is not followed).
bool IsSymbolicLink(const std::string& path);
// Whether the file `path` names (links followed) belongs to this user; true where files have
// no owners to tell.
bool OwnedByThisUser(const std::string& path);

// Replaces the whole content of `path` with `content`, atomically: the bytes go to a new
// temporary file beside the target (created exclusively), which is flushed and closed, renamed
// over the target, and then the folder is flushed. When `path` is a symbolic link, its final
// target is replaced and the link stays. The permission bits of an existing target are kept.
// Every write, flush and close is checked; on failure the target is untouched, the temporary
// file is removed, and false comes back with `error` set. When only the folder flush after the
// rename fails, the new content is in place: true comes back with `warning` set. A new file is
// readable and writable by its owner only.
bool ReplaceFileContent(const std::string& path, std::string_view content, std::string& error,
                        std::string& warning);
// The same for callers that have nowhere to show a warning.
inline bool ReplaceFileContent(const std::string& path, std::string_view content, std::string& error) {
  std::string warning;
  return ReplaceFileContent(path, content, error, warning);
}

// How a file that ReplaceFileContent would replace can be used.
enum class TFileUse : uint8_t {
  Missing,    // nothing there yet (a missing folder included): it can be created
  ReadWrite,  // a regular file this process may read and replace
  ReadOnly,   // readable, but read-only: without write permission, or without any write bit
              // (which holds for root too)
  Unusable,   // not a regular file, or not readable
};
// Probes `path` (following links); `reason` gets the system's message for anything but
// Missing and ReadWrite.
TFileUse ProbeFileUse(const std::string& path, std::string& reason);

// Whether a lock file can be used at `lockPath`: it exists as a regular file this process may
// open for writing, or it does not exist. False with `reason` set otherwise.
bool LockFileUsable(const std::string& lockPath, std::string& reason);

// Creates `dir` and its missing parents (mode 0700 for the ones it creates, as suits a
// per-user settings folder). True when the folder exists afterwards.
bool ForceDirectories(const std::string& dir, std::string& error);

// Renames `from` to `to` only when `to` does not exist yet; false with `error` set otherwise.
bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error);

// An exclusive advisory lock held through a lock file that stays in place between uses. The
// lock belongs to this object (two objects in one process exclude each other too) and is
// released by Release, the destructor, or the end of the holding process: the lock of a
// process that died is therefore taken over without any clean-up. The lock file records the
// holder's process id for a person who wonders who holds it.
class TFileLock {
 public:
  TFileLock() = default;
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  // Waits up to `timeoutMs` milliseconds for the lock on `lockPath` (creating the file when
  // missing). False with `error` set when the file cannot be created or the wait times out.
  bool Acquire(const std::string& lockPath, int32_t timeoutMs, std::string& error);
  void Release();
  bool Held() const { return Fd >= 0; }
  // Whether the last Acquire failed because another holder kept the lock past the time limit
  // (rather than because the lock file could not be used).
  bool TimedOut() const { return FTimedOut; }

 private:
  enum class TLockTry : uint8_t { Held, Busy, Failed, Again };
  // One try: Held (Fd set), Busy (another holder), Failed (`error` set), or Again when the
  // lock file was replaced meanwhile and the try should be repeated at once.
  TLockTry TryAcquire(const std::string& lockPath, std::string& error);

  int Fd = -1;
  bool FTimedOut = false;
};

}  // namespace trawlex
