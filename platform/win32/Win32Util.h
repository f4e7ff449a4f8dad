#pragma once
// Helpers shared by the Windows implementations of the platform layer: UTF-8 and UTF-16,
// paths the wide-character API takes at any length, error texts, handles kept in an int, and
// file times. Internal to platform/win32.
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace trawlex::win32 {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
inline std::string Narrow(const wchar_t* text) { return text ? Narrow(std::wstring(text)) : std::string(); }

// `path` as the wide-character API takes it: a long absolute path gets the "\\?\" form
// (forward slashes turned into backslashes), so no path is too long to open.
std::wstring WidePath(const std::string& path);
// A path the system gave back ("\\?\C:\..." or "\\?\UNC\server\...") in its usual form.
std::string PlainPath(const std::wstring& path);

// The system's description of a Windows error code, without a closing full stop.
std::string ErrorText(DWORD code);
// The C error number nearest to a Windows error code (for callers that test errno).
int ErrnoOf(DWORD code);
// Sets errno from GetLastError() and answers false.
bool FailWithLastError();

// Windows keeps handle values within 32 bits, so an int holds one (as the headers' Fd do).
inline int HandleToFd(HANDLE h) { return h == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(reinterpret_cast<intptr_t>(h)); }
inline HANDLE FdToHandle(int fd) { return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

// 100-nanosecond ticks since 1601 as nanoseconds since 1970, and back.
int64_t TicksToUnixNs(int64_t ticks);
inline int64_t FileTimeToUnixNs(const FILETIME& ft) {
  return TicksToUnixNs((static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

// The identity, size and times of an open file. False (GetLastError set) when the system
// cannot tell.
struct THandleInfo {
  uint64_t Volume = 0, Index = 0, Size = 0;
  DWORD Attributes = 0, Links = 1;
  int64_t WriteNs = 0, ChangeNs = 0;
};
bool QueryHandle(HANDLE h, THandleInfo& info);
// Size, times, identity and kind of a file from what QueryHandle gave.
void FillInfo(const THandleInfo& h, TFileInfo& info);

// The final path of an open file or folder, in its usual form; empty when unknown.
std::string FinalPath(HANDLE h);
// The same for the file opened as `path`; where the system cannot tell the final path of a
// long one (ERROR_MORE_DATA whatever the buffer), the full form of `path` itself.
std::string FinalPathOf(HANDLE h, const std::string& path);

}  // namespace trawlex::win32
