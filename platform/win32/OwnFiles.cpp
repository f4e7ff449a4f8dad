// Windows keeps a user's own folders closed to others by their ACLs; only the kind of entry
// is checked here, and links are never followed.
#include "platform/OwnFiles.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "platform/DurableFile.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Util.h"

namespace trawlex {

using namespace win32;

TOwnCheck CheckOwnFolder(const std::string& folder, bool, std::string& problem) {
  const DWORD a = GetFileAttributesW(WidePath(folder).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return TOwnCheck::Missing;
    problem = "The folder " + folder + " cannot be examined (" + ErrorText(code) + ")";
    return TOwnCheck::Refused;
  }
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
    problem = "The folder " + folder + " is a link, so it is not used. It must be a folder of your own: remove the link";
    return TOwnCheck::Refused;
  }
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    problem = "The folder " + folder + " is not a folder, so it is not used. Remove what is there";
    return TOwnCheck::Refused;
  }
  return TOwnCheck::Fine;
}

bool TOwnFile::Open(const std::string& path, bool write, std::string& problem) {
  Close();
  const DWORD a = GetFileAttributesW(WidePath(path).c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    problem = "it is a link or a folder; remove it";
    return false;
  }
  const int fd = _wopen(WidePath(path).c_str(), (write ? _O_RDWR : _O_RDONLY) | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    problem = SystemErrorText(errno);
    return false;
  }
  F = _fdopen(fd, write ? "r+b" : "rb");
  if (!F) {
    problem = SystemErrorText(errno);
    _close(fd);
    return false;
  }
  return true;
}

bool TOwnFile::Create(const std::string& path, int& errorNumber) {
  Close();
  const int fd = _wopen(WidePath(path).c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    errorNumber = errno;
    return false;
  }
  F = _fdopen(fd, "r+b");
  if (!F) {
    errorNumber = errno;
    _close(fd);
    return false;
  }
  return true;
}

TOwnFile::TLock TOwnFile::TryLock(std::string& error, bool shared) {
  if (!F) {
    error = SystemErrorText(EBADF);
    return TLock::Failed;
  }
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(F)));
  OVERLAPPED at{};
  at.OffsetHigh = 0x7FFFFFFF;  // far beyond the content: readers are not kept out
  if (LockFileEx(h, (shared ? 0 : LOCKFILE_EXCLUSIVE_LOCK) | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return TLock::Held;
  const DWORD code = GetLastError();
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return TLock::Busy;
  error = ErrorText(code);
  return TLock::Failed;
}

void TOwnFile::Unlock() {
  if (!F) return;
  OVERLAPPED at{};
  at.OffsetHigh = 0x7FFFFFFF;
  UnlockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(F))), 0, 1, 0, &at);
}

bool TOwnFile::FlushToDisk() { return F && std::fflush(F) == 0 && _commit(_fileno(F)) == 0; }

bool TOwnFile::Truncate(int64_t size) {
  return F && std::fflush(F) == 0 && _chsize_s(_fileno(F), size) == 0 && std::fseek(F, 0, SEEK_END) == 0;
}

int64_t TOwnFile::Size() const {
  if (!F) return -1;
  return _filelengthi64(_fileno(F));
}

void FlushFolderEntries(const std::string&) {}

}  // namespace trawlex
