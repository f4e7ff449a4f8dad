#pragma once
// Rewriting an existing file so that a crash, a kill or a power cut never leaves less than
// the whole old file or the whole new one. The usual way: the new content goes into a
// hidden temporary file created beside the file, which gets the file's permission bits,
// owner, group and extended attributes (ACLs included), is flushed to disk and renamed
// over the file; then the folder is flushed. A symbolic link is followed to the file it
// names and stays a link.
//
// A file with several hard links, or one whose owner, group or attributes a new file could
// not get, is written in place instead, so that every name and every attribute stays: a
// complete copy of the old content is first flushed to disk beside it (a hidden file named
// after the file, see BackupPrefix), then the file is overwritten and flushed, and only
// then is the copy removed. A process that does not see every extended attribute (the
// trusted.* ones are hidden from all but an administrator) writes in place too, since a
// new file would silently lose the ones it cannot see.
//
// Two rewriters, in one process or in two, never work on one file at once: Open takes an
// exclusive advisory lock (flock) on the file and holds it until the new content is in
// place or the rewriter ends, and it checks that the locked file is the one at the path.
// A program that does not take the lock is not kept out; Commit and CommitInPlace still
// refuse a file whose size, times or identity moved since Open. A temporary file is locked
// too while it is written; one that a killed run left in a folder (no run holds its lock)
// is removed by the next rewrite in that folder.
//
// Every write, flush, close and rename is checked. Nothing here raises: a step that fails
// returns false and leaves its reason in Error(), in words fit for the user.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace trawlex {

enum class TRewriteMode : uint8_t {
  Rename,   // temporary file beside the file, renamed over it
  InPlace,  // copy of the old content beside the file, then the file overwritten
};

// The first name folder + prefix + n + ".tmp" (n = 1, 2, ...) under which nothing exists,
// not even a dangling link. Nothing is created.
std::string FirstFreeTempName(const std::string& folder, const std::string& prefix);

// Whether anything (file, folder, link, FIFO, ...) exists under `path`; links are not followed.
bool PathEntryExists(const std::string& path);

// The start of the name of the copy that an in-place rewrite keeps of `path`'s old content
// until the new content is on disk: the folder, a full stop (a hidden name, which no search
// lists), the file's name, "." and the temporary prefix; a number and ".tmp" follow.
std::string BackupPrefix(const std::string& path, const std::string& tempPrefix);
// Whether `name` (a file name, no folder) is a temporary name: `prefix`, a number, ".tmp".
bool IsTempName(const std::string& name, const std::string& prefix);
// Whether `name` is one a rewriter with `tempPrefix` gives its files beside the file it
// rewrites: the new content on its way (".Trawlex7.tmp") or the copy of the old content that
// an in-place rewrite keeps (".NAME.Trawlex7.tmp", see BackupPrefix).
bool IsRewriterFileName(const std::string& name, const std::string& tempPrefix);
// A copy of the old content that an interrupted in-place rewrite of the file at `path`
// (links followed) left beside it, or empty.
std::string FindLeftBackup(const std::string& path, const std::string& tempPrefix);

class TFileRewriter {
 public:
  explicit TFileRewriter(std::string tempPrefix = "Trawlex");
  // Removes a temporary file that was not placed.
  ~TFileRewriter();
  TFileRewriter(const TFileRewriter&) = delete;
  TFileRewriter& operator=(const TFileRewriter&) = delete;

  // Asked while Open waits for another program's lock; true gives up the wait.
  std::function<bool()> Cancelled;
  // How long Open waits for another program to release its lock on the file.
  std::chrono::milliseconds LockWait{std::chrono::seconds(60)};

  // Before the file is read: follows links to the file itself, opens it and locks it
  // (held until the file is placed or the rewriter ends), checks that the locked file is
  // the one at the path, records its identity, size, exact times and metadata, and picks
  // the mode. False when it cannot be examined, is not a regular file, or the wait for
  // the lock ended.
  bool Open(const std::string& path);
  // The locked file's content, read to its end (a size the system reports is not
  // trusted). False when it cannot be read or reaches 2 GiB.
  bool ReadContent(std::string& out);
  // Up to `count` bytes of the locked file at `offset`, for a file too large to read whole:
  // the number read, 0 at its end, -1 with Error() set.
  int64_t ReadPiece(char* buffer, size_t count, int64_t offset) {
    return ReadAt(buffer, count, static_cast<uint64_t>(offset));
  }
  // The file itself (links resolved).
  const std::string& RealPath() const { return FRealPath; }
  const TFileInfo& Info() const { return FInfo; }
  TRewriteMode Mode() const { return FMode; }
  // A copy of the old content that an interrupted in-place rewrite of this file left
  // beside it, or empty. Call it after Open.
  std::string LeftBackup() const;

  // The file still is the one Open saw (same device and inode) with the same size and
  // exact modification time. Call it after reading; Commit checks it again.
  bool Unchanged();
  // Refuses a file whose permission bits let nobody write it (also when running as
  // root), and one this user may not write (permissions, immutable flag).
  bool CheckWritable();

  // Rename mode: creates the temporary file, exclusively under the first free name, and
  // gives it the file's metadata. When the metadata cannot be given to a new file, the
  // temporary file is removed and the mode becomes InPlace (still true). In place mode
  // it does nothing.
  bool BeginWrite();
  // Rename mode: appends to the temporary file; false on an error or a short write.
  bool Write(const void* data, size_t count);
  // Rename mode: flushes and closes the temporary file, checks that the file is
  // unchanged, renames the temporary file over it and flushes the folder.
  bool Commit();
  // In place mode: writes `oldContent` to a copy beside the file and flushes it, then
  // overwrites the file with `newContent`, cuts it to that length, flushes it and removes
  // the copy. When overwriting fails the old content is written back; if even that
  // fails, the copy is kept and Error() names it.
  bool CommitInPlace(std::string_view oldContent, std::string_view newContent);
  // Removes the temporary file, if any; the file stays as it was.
  void Abandon();
  // The identity (device and inode) the file will have once the new content is in place:
  // the temporary file's after BeginWrite in rename mode, the file's own in place.
  bool PlacedIdentity(uint64_t& device, uint64_t& inode) const;

  const std::string& Error() const { return FError; }
  // Set after a successful placement when the folder could not be flushed.
  const std::string& Warning() const { return FWarning; }

 private:
  bool Fail(const std::string& message);
  bool FailErrno(int errorNumber);
  bool LockFile(int fd);
  // Reads up to `count` bytes at `offset` of the opened file: the count read, 0 at its end,
  // -1 with FError set on a failure.
  int64_t ReadAt(char* buffer, size_t count, uint64_t offset);
  enum class TLockTry : uint8_t { Held, Busy, Failed };
  // One try at the exclusive lock; Failed with FError set on anything but another holder.
  TLockTry TryLock(int fd);
  void Unlock();
  bool CreateExclusive(const std::string& prefix, std::string& name, int& fd);
  bool CopyMetadataTo(int fd);
  bool SameFileAsOpened();
  void FlushFolder();
  bool WriteAllAt(int fd, const char* data, size_t count, int64_t offset, int faultStep);
  // The steps of CommitInPlace. KeepCopyOfOld: `oldContent` written to a new file beside the
  // file, flushed, and only then named as this file's copy (`backup`); false with FError set
  // and nothing left behind.
  bool KeepCopyOfOld(std::string_view oldContent, std::string& backup);
  // Flushes (when `ok`) and closes `fd`: false with FError set when this or an earlier step
  // (`ok` false) failed.
  bool FlushAndClose(int fd, bool ok);
  // Gives the complete copy (FTempName) the first free name BackupPrefix makes.
  bool NameCopyOfOld(std::string& backup);
  enum class TNameTry : uint8_t { Taken, InUse, Failed };
  // One try at giving the copy the name `name`; `error` holds the system's words when it
  // was not taken.
  TNameTry TryNameCopy(const std::string& name, std::string& error);
  // Opens the file for writing, checks that it is still the one Open saw, and overwrites it
  // (see OverwriteKeepingCopy).
  bool OverwriteInPlace(std::string_view oldContent, std::string_view newContent, const std::string& backup);
  // Removes the copy once the new content is on disk, and releases the file.
  void DropCopyOfOld(const std::string& backup);
  // The overwrite of an in-place commit, on the file open for writing: the new content over
  // the old, or the old content back when that fails. `writeWhole` writes (fault step as for
  // WriteAllAt), cuts and flushes; `closeFile` closes the file and answers the system's
  // complaint, if any. False with FError set; where the file may be damaged, the copy
  // `backup` is kept and named in the error.
  bool OverwriteKeepingCopy(std::string_view oldContent, std::string_view newContent, const std::string& backup,
                            const std::function<bool(std::string_view bytes, int faultStep)>& writeWhole,
                            const std::function<std::string()>& closeFile);

  std::string FPrefix;
  std::string FRealPath, FFolder;
  int FLockFd = -1;  // the file, open for reading and locked
  TFileInfo FInfo;
  uint32_t FModeBits = 0;  // st_mode & 07777
  uint32_t FUid = 0, FGid = 0;
  uint64_t FLinks = 1;
  TRewriteMode FMode = TRewriteMode::Rename;
  std::string FTempName;
  int FTempFd = -1;
  int FTempLockFd = -1;  // holds the lock on the temporary file until it is placed or removed
  int64_t FWritten = 0;
  std::string FError, FWarning;
};

// ---- Test seam ------------------------------------------------------------------------
// Makes one step of the next rewrites fail with `errorNumber`, as a full disk or an I/O
// error would. Write and Overwrite fail once `afterBytes` bytes have gone to that file (a
// short write first when the limit falls inside a write). Process-wide; defined only in the
// test copy of the rewriter (trawlex_rewrite_faults), so the shipped program never checks.
enum class TRewriteFault : uint8_t {
  None,
  Write,        // writing the temporary file
  Flush,        // flushing the temporary file
  Close,        // closing the temporary file
  Rename,       // renaming it over the file
  BackupWrite,  // writing the copy of the old content (in place)
  Overwrite,    // overwriting the file (in place)
  Restore,      // writing the old content back after a failed overwrite (in place)
};
void InjectRewriteFault(TRewriteFault step, int errorNumber, int64_t afterBytes = 0);
void ClearRewriteFaults();

}  // namespace trawlex
