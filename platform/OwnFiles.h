#pragma once
// Files and folders that hold one user's private data (the undo journals, which keep the old
// content of the user's files): they must be the user's own and closed to every other user,
// since whatever they say is acted upon. Nothing here follows a symbolic link.
#include <cstdint>
#include <cstdio>
#include <string>

namespace trawlex {

enum class TOwnCheck : uint8_t {
  Fine,     // a folder of this user's own that no other user can write into
  Missing,  // nothing at the path (its parent folders may be missing too)
  Refused,  // anything else; the problem says what and how to mend it
};

// Checks that `folder` is a real folder (no symbolic link), owned by this user, that no other
// user may write into, in folders that no other user could swap it in (each folder above it
// is this user's or the administrator's, and writable by others only with the sticky bit).
// With `tighten`, a folder of this user's own that others may read or enter is closed to
// them (mode 0700). Where the system has no owners and modes, only the kind is checked.
TOwnCheck CheckOwnFolder(const std::string& folder, bool tighten, std::string& problem);

// Creates `folder` and its missing parents for private files (mode 0700), then checks it as
// above (tightening it). False with `problem` set when it cannot be made or used.
bool MakeOwnFolder(const std::string& folder, std::string& problem);

// A private file, open as a stream. Closing releases its lock.
class TOwnFile {
 public:
  enum class TLock : uint8_t { Held, Busy, Failed };

  TOwnFile() = default;
  ~TOwnFile();
  TOwnFile(const TOwnFile&) = delete;
  TOwnFile& operator=(const TOwnFile&) = delete;
  TOwnFile(TOwnFile&& other) noexcept : F(other.F) { other.F = nullptr; }
  TOwnFile& operator=(TOwnFile&& other) noexcept {
    if (this != &other) {
      Close();
      F = other.F;
      other.F = nullptr;
    }
    return *this;
  }

  // Opens an existing file for reading, and writing when `write`, without following a
  // symbolic link and without waiting on a FIFO. Refuses (with `problem` naming the file and
  // saying how to mend it) anything but a regular file of this user's own that no other user
  // may write.
  bool Open(const std::string& path, bool write, std::string& problem);
  // Creates a new file for writing, readable by its owner only, and only when nothing (not
  // even a dangling link) is at the path. False with `errorNumber` set (EEXIST when taken).
  bool Create(const std::string& path, int& errorNumber);
  // One try at the file's lock (exclusive, or `shared`), without waiting; `error` set on
  // Failed. A shared lock shows whether anyone holds the exclusive one.
  TLock TryLock(std::string& error, bool shared = false);
  // Gives up a lock taken with TryLock.
  void Unlock();
  // Flushes the stream and the file's content to the disk.
  bool FlushToDisk();
  // Cuts the file to `size` bytes (the stream is flushed first and left at the end).
  bool Truncate(int64_t size);
  // The file's size as the system reports it, or -1.
  int64_t Size() const;
  std::FILE* Stream() const { return F; }
  bool IsOpen() const { return F != nullptr; }
  void Close();

 private:
  std::FILE* F = nullptr;
};

// Flushes the folder's entries to the disk where the system can (a new name survives a crash).
void FlushFolderEntries(const std::string& folder);

}  // namespace trawlex
