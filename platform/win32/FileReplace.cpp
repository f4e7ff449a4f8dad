#include "platform/FileReplace.h"

#include <windows.h>

#include <cerrno>
#include <thread>

#include "platform/FileReplaceParts.h"
#include "platform/RewriteFaults.h"
#include "platform/win32/Win32Util.h"

// Here the file is locked through a byte range far beyond its content (LockFileEx), so that
// rewriters take turns without keeping readers out, and a new content is put in place with
// ReplaceFileW, which keeps the file's attributes, security and creation time (MoveFileExW
// with write-through where the system cannot replace that way). A file with several hard
// links is written in place, so that every name keeps the new content.

namespace trawlex {

using namespace rewrite_faults;
using namespace rewrite_parts;
using namespace win32;

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD LockOffsetHigh = 0x7FFFFFFE;

// The identity of whatever the path names now (a link itself, not its target).
bool IdentityAt(const std::string& path, THandleInfo& info) {
  const HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = QueryHandle(h, info);
  CloseHandle(h);
  return ok;
}

std::string RealPathOf(const std::string& path, DWORD& code) {
  const HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    code = GetLastError();
    return {};
  }
  std::string real = FinalPathOf(h, path);
  code = GetLastError();
  CloseHandle(h);
  return real;
}

}  // namespace

bool PathEntryExists(const std::string& path) {
  return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES ||
         (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND);
}

TFileRewriter::TLockTry TFileRewriter::TryLock(int fd) {
  OVERLAPPED ov{};
  ov.OffsetHigh = LockOffsetHigh;
  if (LockFileEx(FdToHandle(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) return TLockTry::Held;
  const DWORD code = GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return TLockTry::Busy;
  Fail(ErrorText(code));
  return TLockTry::Failed;
}

void TFileRewriter::Unlock() {
  if (FLockFd >= 0) CloseHandle(FdToHandle(FLockFd));  // closing releases the lock
  FLockFd = -1;
}

bool TFileRewriter::Open(const std::string& path) {
  Abandon();
  Unlock();
  FError.clear();
  FWarning.clear();
  THandleInfo hi;
  for (int attempt = 0;; ++attempt) {
    DWORD code = 0;
    FRealPath = RealPathOf(path, code);
    if (FRealPath.empty()) return Fail(ErrorText(code));
    // Sharing delete lets the new content be renamed over the file while it is held.
    const HANDLE h = CreateFileW(WidePath(FRealPath).c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail(ErrorText(GetLastError()));
    if (GetFileType(h) != FILE_TYPE_DISK || !QueryHandle(h, hi) ||
        (hi.Attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      CloseHandle(h);
      if (hi.Attributes & FILE_ATTRIBUTE_REPARSE_POINT && attempt < 10) continue;  // a link put there meanwhile
      return Fail("It is not a regular file");
    }
    if (!LockFile(HandleToFd(h))) {
      CloseHandle(h);
      return false;
    }
    THandleInfo now;
    if (QueryHandle(h, hi) && IdentityAt(FRealPath, now) && now.Volume == hi.Volume && now.Index == hi.Index) {
      FLockFd = HandleToFd(h);
      break;
    }
    CloseHandle(h);
    if (attempt == 10) return Fail("The file keeps being replaced by other files, so it was not changed");
  }
  FFolder = FolderOf(FRealPath);
  FillInfo(hi, FInfo);
  FModeBits = hi.Attributes;
  FUid = FGid = 0;
  FLinks = hi.Links;
  FMode = FLinks > 1 ? TRewriteMode::InPlace : TRewriteMode::Rename;
  return true;
}

int64_t TFileRewriter::ReadAt(char* buffer, size_t count, uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(FdToHandle(FLockFd), buffer, static_cast<DWORD>(count), &got, &ov)) {
    const DWORD code = GetLastError();
    if (code == ERROR_HANDLE_EOF) return 0;
    Fail(ErrorText(code));
    return -1;
  }
  return got;
}

std::string FindLeftBackup(const std::string& path, const std::string& tempPrefix) {
  DWORD code = 0;
  std::string real = RealPathOf(path, code);
  const std::string prefix = BackupPrefix(real.empty() ? path : real, tempPrefix);
  for (uint64_t n = 1; n <= 16; ++n) {
    const std::string name = prefix + std::to_string(n) + ".tmp";
    if (PathEntryExists(name)) return name;
  }
  return {};
}

std::string TFileRewriter::LeftBackup() const { return FRealPath.empty() ? std::string() : FindLeftBackup(FRealPath, FPrefix); }

bool TFileRewriter::PlacedIdentity(uint64_t& device, uint64_t& inode) const {
  if (FMode == TRewriteMode::Rename && FTempFd >= 0) {
    THandleInfo hi;
    if (!QueryHandle(FdToHandle(FTempFd), hi)) return false;
    device = hi.Volume;
    inode = hi.Index;
    return true;
  }
  device = FInfo.Device;
  inode = FInfo.Inode;
  return true;
}

bool TFileRewriter::SameFileAsOpened() {
  THandleInfo now;
  if (!IdentityAt(FRealPath, now))
    return Fail("The file cannot be examined any more (" + ErrorText(GetLastError()) + "), so it was not changed");
  if (now.Volume != FInfo.Device || now.Index != FInfo.Inode)
    return Fail("The file was replaced by another file since it was read, so it was not changed");
  if (FLockFd < 0 || !QueryHandle(FdToHandle(FLockFd), now)) return Fail("The file is not open");
  if (static_cast<int64_t>(now.Size) != FInfo.Size || now.WriteNs != FInfo.ModifiedNs || now.ChangeNs != FInfo.ChangeNs)
    return Fail("The file changed while it was being replaced, so it was not changed");
  return true;
}

bool TFileRewriter::Unchanged() { return SameFileAsOpened(); }

bool TFileRewriter::CheckWritable() {
  if (FModeBits & FILE_ATTRIBUTE_READONLY) return Fail("The file is read-only, so it was not changed");
  const HANDLE h = CreateFileW(WidePath(FRealPath).c_str(), GENERIC_WRITE, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return Fail("The file cannot be written (" + ErrorText(GetLastError()) + "), so it was not changed");
  CloseHandle(h);
  return true;
}

bool TFileRewriter::CreateExclusive(const std::string& prefix, std::string& name, int& fd) {
  for (uint64_t n = 1; n < 100000000; ++n) {
    name = prefix + std::to_string(n) + ".tmp";
    const HANDLE h = CreateFileW(WidePath(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      fd = HandleToFd(h);
      return true;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      name.clear();
      return Fail("Cannot create a temporary file in its folder (" + ErrorText(code) + ")");
    }
  }
  name.clear();
  return Fail("Cannot create a temporary file in its folder (no free name)");
}

// The attributes, security and times go over with ReplaceFileW at the commit; nothing to do
// before.
bool TFileRewriter::CopyMetadataTo(int) { return true; }

bool TFileRewriter::BeginWrite() {
  FError.clear();
  if (FMode == TRewriteMode::InPlace) return true;
  std::string name;
  int fd = -1;
  if (!CreateExclusive(InFolder(FFolder, "." + FPrefix), name, fd)) return false;
  FTempName = name;
  FTempFd = fd;
  FWritten = 0;
  return true;
}

bool TFileRewriter::WriteAllAt(int fd, const char* data, size_t count, int64_t offset, int faultStep) {
  const TFaultSetting fault = FaultFor(static_cast<TRewriteFault>(faultStep));
  const size_t limit = BytesBeforeFault(fault, offset, count);
  size_t done = 0;
  while (done < limit) {
    OVERLAPPED ov{};
    const uint64_t at = static_cast<uint64_t>(offset) + done;
    ov.Offset = static_cast<DWORD>(at);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(limit - done, 1u << 30));
    if (!WriteFile(FdToHandle(fd), data + done, chunk, &wrote, &ov)) return Fail(ErrorText(GetLastError()));
    if (wrote == 0) return Fail("The file system accepted fewer bytes than were written");
    done += wrote;
  }
  if (limit < count) return FailErrno(fault.Error);
  return true;
}

bool TFileRewriter::Commit() {
  if (FTempFd < 0) return Fail("No temporary file is open");
  const HANDLE h = FdToHandle(FTempFd);
  if (Faulted(TRewriteFault::Flush) ? true : !FlushFileBuffers(h)) {
    Fail(FaultFor(TRewriteFault::Flush).Active ? SystemErrorText(errno) : ErrorText(GetLastError()));
    Abandon();
    return false;
  }
  FTempFd = -1;
  const bool closeFault = Faulted(TRewriteFault::Close);
  if (!CloseHandle(h) || closeFault) {
    Fail(closeFault ? SystemErrorText(errno) : ErrorText(GetLastError()));
    Abandon();
    return false;
  }
  if (!SameFileAsOpened()) {
    Abandon();
    return false;
  }
  if (Faulted(TRewriteFault::Rename)) {
    FailErrno(errno);
    Abandon();
    return false;
  }
  const std::wstring target = WidePath(FRealPath), temp = WidePath(FTempName);
  if (!ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    // Where the system cannot replace so, the temporary file takes the file's attributes
    // and is moved over it; a file still open here cannot be moved over, so the lock goes
    // first (the file was checked unchanged just now).
    Unlock();
    SetFileAttributesW(temp.c_str(), FModeBits & ~(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      Fail(ErrorText(GetLastError()));
      Abandon();
      return false;
    }
  }
  FTempName.clear();
  Unlock();  // the lock was on the old file, which the path no longer names
  return true;
}

bool TFileRewriter::FlushAndClose(int fd, bool ok) {
  if (ok && !FlushFileBuffers(FdToHandle(fd))) ok = Fail(ErrorText(GetLastError()));
  if (!CloseHandle(FdToHandle(fd)) && ok) ok = Fail(ErrorText(GetLastError()));
  return ok;
}

TFileRewriter::TNameTry TFileRewriter::TryNameCopy(const std::string& name, std::string& error) {
  if (MoveFileExW(WidePath(FTempName).c_str(), WidePath(name).c_str(), MOVEFILE_WRITE_THROUGH)) return TNameTry::Taken;
  const DWORD code = GetLastError();
  error = ErrorText(code);
  return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS ? TNameTry::InUse : TNameTry::Failed;
}

bool TFileRewriter::OverwriteInPlace(std::string_view oldContent, std::string_view newContent, const std::string& backup) {
  const HANDLE h = CreateFileW(WidePath(FRealPath).c_str(), GENERIC_WRITE, ShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail(ErrorText(GetLastError()));
    Abandon();
    return false;
  }
  THandleInfo now;
  if (!QueryHandle(h, now) || now.Volume != FInfo.Device || now.Index != FInfo.Inode) {
    CloseHandle(h);
    Fail("The file was replaced by another file since it was read, so it was not changed");
    Abandon();
    return false;
  }
  const int fd = HandleToFd(h);
  auto writeWhole = [&](std::string_view bytes, int step) {
    if (!WriteAllAt(fd, bytes.data(), bytes.size(), 0, step)) return false;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(bytes.size());
    if (!SetFilePointerEx(h, end, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) return Fail(ErrorText(GetLastError()));
    if (!FlushFileBuffers(h)) return Fail(ErrorText(GetLastError()));
    return true;
  };
  auto closeFile = [h] { return CloseHandle(h) ? std::string() : ErrorText(GetLastError()); };
  return OverwriteKeepingCopy(oldContent, newContent, backup, writeWhole, closeFile);
}

void TFileRewriter::DropCopyOfOld(const std::string& backup) {
  DeleteFileW(WidePath(backup).c_str());
  FTempName.clear();
  Unlock();
}

// Renames here are written through (MOVEFILE_WRITE_THROUGH); a folder has nothing more to flush.
void TFileRewriter::FlushFolder() {}

void TFileRewriter::Abandon() {
  if (FTempFd >= 0) CloseHandle(FdToHandle(FTempFd));
  FTempFd = -1;
  if (!FTempName.empty()) DeleteFileW(WidePath(FTempName).c_str());
  FTempName.clear();
}

}  // namespace trawlex
