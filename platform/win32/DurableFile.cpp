#include "platform/DurableFile.h"

#include <windows.h>


#include "platform/FileReplaceParts.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Util.h"

namespace trawlex {

using namespace win32;

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool WriteAll(HANDLE h, std::string_view data, std::string& error) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
    if (!WriteFile(h, data.data() + done, chunk, &wrote, nullptr)) {
      error = ErrorText(GetLastError());
      return false;
    }
    if (wrote == 0) {
      error = ErrorText(ERROR_DISK_FULL);
      return false;
    }
    done += wrote;
  }
  return true;
}


// A byte far beyond any real content: locking it keeps other lockers out without keeping
// anyone from reading or writing the file itself.
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

}  // namespace

bool IsSymbolicLink(const std::string& path) {
  const DWORD a = GetFileAttributesW(WidePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool OwnedByThisUser(const std::string&) { return true; }

bool ResolveLinks(const std::string& path, std::string& result, std::string& error) {
  const DWORD a = GetFileAttributesW(WidePath(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
    result = path;
    return true;
  }
  const HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // A link whose target does not exist yet: the file goes where the link is.
    result = path;
    return true;
  }
  result = FinalPath(h);
  const DWORD code = GetLastError();
  CloseHandle(h);
  if (result.empty()) {
    error = ErrorText(code);
    return false;
  }
  return true;
}

bool ReplaceFileContent(const std::string& path, std::string_view content, std::string& error,
                        std::string& warning) {
  warning.clear();
  std::string target;
  if (!ResolveLinks(path, target, error)) return false;
  const std::wstring wideTarget = WidePath(target);
  const DWORD old = GetFileAttributesW(wideTarget.c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY)) {
    error = SystemErrorText(EISDIR);
    return false;
  }

  std::wstring temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = WidePath(rewrite_parts::DurableTempName(target, GetCurrentProcessId()));
    h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      error = ErrorText(GetLastError());
      return false;
    }
  }
  if (h == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(EEXIST);
    return false;
  }
  bool ok = WriteAll(h, content, error);
  if (ok && !FlushFileBuffers(h)) {
    error = ErrorText(GetLastError());
    ok = false;
  }
  if (!CloseHandle(h) && ok) {
    error = ErrorText(GetLastError());
    ok = false;
  }
  if (ok) {
    // An existing file keeps its attributes and security when replaced; a new one gets the
    // attributes of a plain file.
    if (old != INVALID_FILE_ATTRIBUTES) {
      if (!ReplaceFileW(wideTarget.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        SetFileAttributesW(temp.c_str(), old & ~FILE_ATTRIBUTE_REPARSE_POINT);
        if (!MoveFileExW(temp.c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
          error = ErrorText(GetLastError());
          ok = false;
        }
      }
    } else {
      SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!MoveFileExW(temp.c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = ErrorText(GetLastError());
        ok = false;
      }
    }
  }
  if (!ok) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

TFileUse ProbeFileUse(const std::string& path, std::string& reason) {
  const std::wstring wide = WidePath(path);
  const DWORD a = GetFileAttributesW(wide.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return TFileUse::Missing;
    reason = ErrorText(code);
    return TFileUse::Unusable;
  }
  if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    reason = (a & FILE_ATTRIBUTE_DIRECTORY) ? SystemErrorText(EISDIR) : std::string("It is not a regular file");
    return TFileUse::Unusable;
  }
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = ErrorText(GetLastError());
    return TFileUse::Unusable;
  }
  CloseHandle(h);
  if (a & FILE_ATTRIBUTE_READONLY) {
    reason = "It is read-only";
    return TFileUse::ReadOnly;
  }
  h = CreateFileW(wide.c_str(), GENERIC_WRITE, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = ErrorText(GetLastError());
    return TFileUse::ReadOnly;
  }
  CloseHandle(h);
  return TFileUse::ReadWrite;
}

bool LockFileUsable(const std::string& lockPath, std::string& reason) {
  const std::wstring wide = WidePath(lockPath);
  const DWORD a = GetFileAttributesW(wide.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    reason = ErrorText(code);
    return false;
  }
  if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    reason = (a & FILE_ATTRIBUTE_DIRECTORY) ? SystemErrorText(EISDIR) : std::string("It is not a regular file");
    return false;
  }
  const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = ErrorText(GetLastError());
    return false;
  }
  CloseHandle(h);
  return true;
}

bool rewrite_parts::MakeOneDirectory(const std::string& path, std::string& error) {
  if (!CreateDirectoryW(WidePath(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    error = ErrorText(GetLastError());
    return false;
  }
  return true;
}

bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists: check and move are one step.
  if (!MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    error = (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) ? SystemErrorText(EEXIST) : ErrorText(code);
    return false;
  }
  return true;
}

TFileLock::TLockTry TFileLock::TryAcquire(const std::string& lockPath, std::string& error) {
  const HANDLE h = CreateFileW(WidePath(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE, ShareAll, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = ErrorText(GetLastError());
    return TLockTry::Failed;
  }
  OVERLAPPED ov{};
  ov.OffsetHigh = LockOffsetHigh;
  if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) {
    const std::string pid = std::to_string(GetCurrentProcessId()) + "\r\n";
    DWORD wrote = 0;
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    if (SetEndOfFile(h)) WriteFile(h, pid.data(), static_cast<DWORD>(pid.size()), &wrote, nullptr);
    Fd = HandleToFd(h);
    return TLockTry::Held;
  }
  const DWORD code = GetLastError();
  CloseHandle(h);
  if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
    error = ErrorText(code);
    return TLockTry::Failed;
  }
  return TLockTry::Busy;
}

void TFileLock::Release() {
  if (Fd >= 0) {
    const HANDLE h = FdToHandle(Fd);
    OVERLAPPED ov{};
    ov.OffsetHigh = LockOffsetHigh;
    UnlockFileEx(h, 0, 1, 0, &ov);
    CloseHandle(h);
    Fd = -1;
  }
}

}  // namespace trawlex
