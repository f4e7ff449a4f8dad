#include "platform/win32/Win32Util.h"

#include <cerrno>

namespace trawlex::win32 {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Widen(path);
  // Below the classic limit every form works as given.
  if (wide.size() < 240 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(n);
  for (wchar_t& c : full)
    if (c == L'/') c = L'\\';
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string PlainPath(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return "\\\\" + Narrow(path.substr(8));
  if (path.rfind(L"\\\\?\\", 0) == 0) return Narrow(path.substr(4));
  return Narrow(path);
}

std::string ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n ? Narrow(std::wstring(buffer, n)) : std::string();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "System error " + std::to_string(code);
  return text;
}

int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    default:
      return EIO;
  }
}

bool FailWithLastError() {
  errno = ErrnoOf(GetLastError());
  return false;
}

int64_t TicksToUnixNs(int64_t ticks) {
  constexpr int64_t TicksTo1970 = 116444736000000000LL;
  return (ticks - TicksTo1970) * 100;
}

bool QueryHandle(HANDLE h, THandleInfo& info) {
  BY_HANDLE_FILE_INFORMATION bhfi;
  if (!GetFileInformationByHandle(h, &bhfi)) return false;
  info.Volume = bhfi.dwVolumeSerialNumber;
  info.Index = (static_cast<uint64_t>(bhfi.nFileIndexHigh) << 32) | bhfi.nFileIndexLow;
  info.Size = (static_cast<uint64_t>(bhfi.nFileSizeHigh) << 32) | bhfi.nFileSizeLow;
  info.Attributes = bhfi.dwFileAttributes;
  info.Links = bhfi.nNumberOfLinks;
  info.WriteNs = FileTimeToUnixNs(bhfi.ftLastWriteTime);
  // The change time moves with every write and metadata change; where the system does not
  // keep one, the last-write time stands in.
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) && basic.ChangeTime.QuadPart != 0)
    info.ChangeNs = TicksToUnixNs(basic.ChangeTime.QuadPart);
  else
    info.ChangeNs = info.WriteNs;
  return true;
}

std::string FinalPath(HANDLE h) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) {
      // Some systems answer a short buffer with an error instead of the size it needs.
      if (GetLastError() != ERROR_MORE_DATA || buffer.size() >= 32768) return {};
      buffer.resize(buffer.size() * 4);
      continue;
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      return PlainPath(buffer);
    }
    buffer.resize(n + 1);
  }
}

std::string FinalPathOf(HANDLE h, const std::string& path) {
  std::string final = FinalPath(h);
  if (!final.empty() || GetLastError() != ERROR_MORE_DATA) return final;
  const std::wstring wide = WidePath(path);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(n);
  return PlainPath(full);
}

void FillInfo(const THandleInfo& h, TFileInfo& info) {
  info.Size = static_cast<int64_t>(h.Size);
  info.ModifiedNs = h.WriteNs;
  info.ChangeNs = h.ChangeNs;
  info.Device = h.Volume;
  info.Inode = h.Index;
  info.IsRegular = !(h.Attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

}  // namespace trawlex::win32
