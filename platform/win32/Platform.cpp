#include "platform/Platform.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>
#include <winternl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/win32/Win32Util.h"

namespace trawlex {

using namespace win32;

namespace {

// What a listing reports: hidden, system and volume-label entries are left out, as the
// directory search of this system does when asked for plain files and folders only.
constexpr DWORD SkippedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

TEntryKind KindOf(DWORD attributes) {
  const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return reparse ? TEntryKind::Other : TEntryKind::Directory;  // a link to a folder is never entered
  if (attributes & FILE_ATTRIBUTE_DEVICE) return TEntryKind::Other;
  return TEntryKind::File;
}

bool IsDotOrDotDot(const wchar_t* name, size_t length) {
  return (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
}

// Lists `dir` with FindFirstFileW; false with `code` set when it cannot be read.
HANDLE OpenFolder(const std::string& path, bool refuseLinks) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (refuseLinks) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  return CreateFileW(WidePath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags, nullptr);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) return dir + name;
  return dir + '\\' + name;
}

}  // namespace

// Here a folder handle is a handle opened with backup semantics; `fd` carries it.
bool TDirHandle::Adopt(int fd, std::string& error) {
  const HANDLE h = FdToHandle(fd);
  if (h == INVALID_HANDLE_VALUE) {
    error = ErrorText(GetLastError());
    return false;
  }
  THandleInfo info;
  if (!QueryHandle(h, info)) {
    error = ErrorText(GetLastError());
    CloseHandle(h);
    return false;
  }
  if (!(info.Attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = ErrorText(ERROR_DIRECTORY);
    CloseHandle(h);
    return false;
  }
  if (info.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = "It is a symbolic link, which is not followed";
    CloseHandle(h);
    return false;
  }
  Take(fd, info.Volume, info.Index);
  return true;
}

bool TDirHandle::Open(const std::string& path, std::string& error) {
  return Adopt(HandleToFd(OpenFolder(path, false)), error);
}

bool TDirHandle::OpenChild(const TDirHandle& parent, const std::string& name, std::string& error) {
  if (!parent.IsOpen()) {
    error = ErrorText(ERROR_INVALID_HANDLE);
    return false;
  }
  if (name != "..") {
    // Opened relative to the parent's handle, as a path of any length allows; a link is
    // opened as itself and refused by Adopt.
    std::wstring wide = Widen(name);
    UNICODE_STRING uname;
    uname.Buffer = wide.data();
    uname.Length = uname.MaximumLength = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &uname, OBJ_CASE_INSENSITIVE, FdToHandle(parent.Fd), nullptr);
    IO_STATUS_BLOCK io;
    HANDLE h = INVALID_HANDLE_VALUE;
    const NTSTATUS status =
        NtCreateFile(&h, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &oa, &io, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                     FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT,
                     nullptr, 0);
    if (status < 0) {
      SetLastError(RtlNtStatusToDosError(status));
      h = INVALID_HANDLE_VALUE;
    }
    return Adopt(HandleToFd(h), error);
  }
  // The folder above has no name relative to this one: it is found through this one's path.
  const std::string base = FinalPath(FdToHandle(parent.Fd));
  if (base.empty()) {
    error = ErrorText(GetLastError());
    return false;
  }
  return Adopt(HandleToFd(OpenFolder(JoinPath(base, name), true)), error);
}

bool TDirHandle::List(std::vector<TDirName>& out, std::string& error) const {
  if (!IsOpen()) {
    error = ErrorText(ERROR_INVALID_HANDLE);
    return false;
  }
  // Read through the handle itself, from the first entry on, whatever the path's length.
  alignas(8) static thread_local char buffer[64 * 1024];
  FILE_INFO_BY_HANDLE_CLASS what = FileFullDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(FdToHandle(Fd), what, buffer, sizeof buffer)) {
    what = FileFullDirectoryInfo;
    for (const char* p = buffer;;) {
      const auto* e = reinterpret_cast<const FILE_FULL_DIR_INFO*>(p);
      const size_t length = e->FileNameLength / sizeof(wchar_t);
      if (!IsDotOrDotDot(e->FileName, length) && !(e->FileAttributes & SkippedAttributes))
        out.push_back({Narrow(std::wstring(e->FileName, length)), KindOf(e->FileAttributes), false});
      if (e->NextEntryOffset == 0) break;
      p += e->NextEntryOffset;
    }
  }
  const DWORD code = GetLastError();
  if (code != ERROR_NO_MORE_FILES && code != ERROR_FILE_NOT_FOUND) {
    error = ErrorText(code);
    return false;
  }
  return true;
}

void TDirHandle::Close() {
  if (Fd >= 0) CloseHandle(FdToHandle(Fd));
  Fd = -1;
}

// Hidden entries are those with the hidden or system attribute, which the listing already
// leaves out; the name alone hides nothing here.
bool IsHiddenName(const std::string&) { return false; }

TDateTime TFileInfo::LastWrite() const {
  int64_t seconds = ModifiedNs / 1000000000;
  if (ModifiedNs < 0 && ModifiedNs % 1000000000 != 0) --seconds;
  return UnixTimeToLocal(seconds, true);
}

bool GetFileInfo(const std::string& path, TFileInfo& info) {
  const HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FailWithLastError();
  THandleInfo hi;
  const bool ok = QueryHandle(h, hi);
  const DWORD code = GetLastError();
  CloseHandle(h);
  if (!ok) {
    errno = ErrnoOf(code);
    return false;
  }
  FillInfo(hi, info);
  return true;
}

std::string SystemErrorText(int errorNumber) {
  const char* text = std::strerror(errorNumber);
  return text ? text : "Unknown error";
}

TReadOnlyFile::~TReadOnlyFile() { Close(); }

bool TReadOnlyFile::Open(const std::string& path, std::string& error) {
  Close();
  FExamined = false;
  // Share mode 0: nobody else opens the file, for reading or writing, while it is read.
  const HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      error = "It is a directory";
    else
      error = ErrorText(code);
    return false;
  }
  THandleInfo hi;
  if (GetFileType(h) != FILE_TYPE_DISK || !QueryHandle(h, hi) || (hi.Attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = "It is not a regular file";
    CloseHandle(h);
    return false;
  }
  Fd = HandleToFd(h);
  FSize = static_cast<int64_t>(hi.Size);
  FillInfo(hi, FInfo);
  FExamined = true;
  return true;
}

// Reads here are examined at the open, and always read to the end.
bool TDirHandle::ShortReadsEndFiles() const { return false; }

int64_t TReadOnlyFile::ReadSome(void* buffer, size_t count, std::string& error) { return ReadFull(buffer, count, error); }

TFolderCache::~TFolderCache() = default;

void TFolderCache::Close() {}

// Opening examines the file here in any case; a path is opened whole.
bool TReadOnlyFile::OpenUnexamined(const std::string& path, std::string& error, TFolderCache*) {
  return Open(path, error);
}

bool TReadOnlyFile::Examine(std::string& error) {
  if (Fd >= 0 && FExamined) return true;
  error = ErrorText(ERROR_INVALID_HANDLE);
  return false;
}

int64_t FileClockNs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (ticks - 116444736000000000LL) * 100;  // 100 ns ticks since 1601
}

// Reads until `count` bytes or the end of the file; `offset` < 0 reads at the file position.
static int64_t ReadLoop(HANDLE h, char* p, size_t count, int64_t offset, std::string& error) {
  size_t done = 0;
  while (done < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
    DWORD got = 0;
    BOOL ok;
    if (offset >= 0) {
      OVERLAPPED ov{};
      const uint64_t at = static_cast<uint64_t>(offset) + done;
      ov.Offset = static_cast<DWORD>(at);
      ov.OffsetHigh = static_cast<DWORD>(at >> 32);
      ok = ReadFile(h, p + done, chunk, &got, &ov);
      if (!ok && GetLastError() == ERROR_HANDLE_EOF) break;
    } else {
      ok = ReadFile(h, p + done, chunk, &got, nullptr);
    }
    if (!ok) {
      error = ErrorText(GetLastError());
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

int64_t TReadOnlyFile::ReadFull(void* buffer, size_t count, std::string& error) {
  return ReadLoop(FdToHandle(Fd), static_cast<char*>(buffer), count, -1, error);
}

int64_t TReadOnlyFile::ReadFullAt(void* buffer, size_t count, int64_t offset, std::string& error) {
  return ReadLoop(FdToHandle(Fd), static_cast<char*>(buffer), count, offset, error);
}

// The system reads ahead of a sequential reader by itself; nothing is asked for early.
void TReadOnlyFile::AdviseWillRead(int64_t, int64_t) {}

void TReadOnlyFile::Close() {
  if (Fd >= 0) CloseHandle(FdToHandle(Fd));
  Fd = -1;
}

int64_t AdviseWillRead(const std::string&, int64_t, TFolderCache*) { return -1; }

// Not told apart from reads served by the cache here: no read-ahead is started.
int64_t StorageBytesRead(bool) { return -1; }

static TDateTime FromSystemTime(const SYSTEMTIME& st, bool twoSeconds, bool withMs) {
  TDateTimeParts p;
  p.Year = st.wYear;
  p.Month = st.wMonth;
  p.Day = st.wDay;
  p.Hour = st.wHour;
  p.Minute = st.wMinute;
  p.Second = twoSeconds ? (st.wSecond & ~1) : st.wSecond;
  p.MilliSecond = withMs ? st.wMilliseconds : 0;
  return EncodeDateTime(p);
}

TDateTime UnixTimeToLocal(int64_t unixSeconds, bool twoSeconds) {
  const int64_t ticks = unixSeconds * 10000000 + 116444736000000000LL;
  if (ticks < 0) return 0;
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
  SYSTEMTIME utc, local;
  // The daylight rule of the date itself, not of today.
  if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return 0;
  return FromSystemTime(local, twoSeconds, false);
}

TDateTime NowLocal() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return FromSystemTime(st, false, true);
}

int32_t TimeZoneBiasMinutes() {
  TIME_ZONE_INFORMATION tzi;
  if (GetTimeZoneInformation(&tzi) == TIME_ZONE_ID_INVALID) return 0;
  return static_cast<int32_t>(tzi.Bias + tzi.StandardBias);
}

std::string TempDirectory() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
  std::string dir = (n > 0 && n <= MAX_PATH + 1) ? Narrow(std::wstring(buffer, n)) : std::string("C:\\Windows\\Temp");
  if (dir.back() != '\\' && dir.back() != '/') dir += PathDelim;
  return dir;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD a = GetFileAttributesW(WidePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD a = GetFileAttributesW(WidePath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ResolvePath(const std::string& path, std::string& result, std::string& error) {
  if (path.empty()) {
    error = ErrorText(ERROR_FILE_NOT_FOUND);
    return false;
  }
  const HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = ErrorText(GetLastError());
    return false;
  }
  std::string final = FinalPathOf(h, path);
  const DWORD code = GetLastError();
  CloseHandle(h);
  if (final.empty()) {
    error = ErrorText(code);
    return false;
  }
  result = std::move(final);
  return true;
}

std::string ResolvedPath(const std::string& path) {
  std::string result, error;
  return ResolvePath(path, result, error) ? result : path;
}

bool CanonicalizePath(const std::string& path, std::string& result) {
  auto isDelim = [](char c) { return c == '\\' || c == '/'; };
  // The root: "X:\", "\\server\share\", "\" or nothing (a relative path); "X:" alone is
  // relative to that drive's current folder and stays as given.
  std::string root;
  size_t i = 0;
  if (path.size() >= 2 && isDelim(path[0]) && isDelim(path[1])) {
    size_t end = 2;
    for (int part = 0; part < 2 && end < path.size(); ++part) {
      while (end < path.size() && !isDelim(path[end])) ++end;
      if (part == 0 && end < path.size()) ++end;
    }
    root = "\\\\" + path.substr(2, end - 2);
    for (char& c : root)
      if (c == '/') c = '\\';
    i = end;
  } else if (path.size() >= 2 && path[1] == ':') {
    root = path.substr(0, 2);
    i = 2;
  }
  const bool absolute = i < path.size() && isDelim(path[i]);
  if (absolute) root += '\\';
  std::vector<std::string> segs;
  while (i <= path.size()) {
    size_t j = i;
    while (j < path.size() && !isDelim(path[j])) ++j;
    std::string seg = path.substr(i, j - i);
    if (seg == "." || seg.empty()) {
      // "." and the empty segments of doubled delimiters disappear
    } else if (seg == "..") {
      if (segs.empty() || segs.back() == "..") {
        if (absolute) return false;  // above the root
        segs.push_back(seg);
      } else {
        segs.pop_back();
      }
    } else {
      segs.push_back(seg);
    }
    i = j + 1;
  }
  std::string out = root;
  for (size_t k = 0; k < segs.size(); ++k) {
    if (k) out += '\\';
    out += segs[k];
  }
  if (out.empty()) out = ".";
  // A trailing delimiter stays, so a directory keeps the form it was given in.
  if (path.size() > 1 && isDelim(path.back()) && out.back() != '\\') out += '\\';
  if (out.size() >= MAX_PATH) return false;
  result = std::move(out);
  return true;
}

bool QueryVolume(const std::string& root, std::string& fileSystem, std::string& volumeName) {
  wchar_t volume[MAX_PATH + 1];
  if (!GetVolumePathNameW(WidePath(root).c_str(), volume, MAX_PATH + 1)) return false;
  wchar_t name[MAX_PATH + 1] = {}, system[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(volume, name, MAX_PATH + 1, nullptr, nullptr, nullptr, system, MAX_PATH + 1)) return false;
  fileSystem = Narrow(system).substr(0, 20);
  volumeName = Narrow(name).substr(0, 80);
  return true;
}

TProcessArguments ReadProcessArguments(int argc, const char* const* argv) {
  // The process's own narrow arguments are in the ANSI code page, which cannot hold every
  // name; its wide command line can. Other argument lists are taken as given (UTF-8).
  std::vector<std::string> all;
  int n = 0;
  wchar_t** wide = argv == __argv ? CommandLineToArgvW(GetCommandLineW(), &n) : nullptr;
  if (wide && n == argc) {
    for (int k = 0; k < n; ++k) all.push_back(Narrow(wide[k]));
  } else {
    all.assign(argv, argv + argc);
  }
  if (wide) LocalFree(wide);
  TProcessArguments result;
  const std::string path = all.empty() ? "trawlex.exe" : all[0];
  const size_t slash = path.find_last_of("\\/:");
  result.ProgramName = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!all.empty()) result.Params.assign(all.begin() + 1, all.end());
  return result;
}

std::string RunningProgramPath() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return {};
  buffer.resize(n);
  return Narrow(buffer);
}

// One argument quoted so that the C runtime's parsing of the command line gives it back whole:
// backslashes double only where a quote follows them.
static std::wstring QuotedArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::string ReplaceProcess(const std::string& path, const std::vector<std::string>& args) {
  std::wstring commandLine;
  for (const std::string& a : args) commandLine += (commandLine.empty() ? L"" : L" ") + QuotedArgument(Widen(a));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(WidePath(path).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process))
    return ErrorText(GetLastError());
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  ExitProcess(code);
}

std::vector<int32_t> FileVersion(const std::string& fileName) {
  if (fileName.empty()) return {};
  const std::wstring wide = WidePath(fileName);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> data(size);
  if (!GetFileVersionInfoW(wide.c_str(), 0, size, data.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) return {};
  return {static_cast<int32_t>(HIWORD(info->dwFileVersionMS)), static_cast<int32_t>(LOWORD(info->dwFileVersionMS)),
          static_cast<int32_t>(HIWORD(info->dwFileVersionLS)), static_cast<int32_t>(LOWORD(info->dwFileVersionLS))};
}

int TerminalColumns(int fd) {
  if (!_isatty(fd)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO csbi;
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(h, &csbi)) {
    const int columns = csbi.srWindow.Right - csbi.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return 80;
}

void WidenPipe(std::FILE*, size_t) {}

bool SeekFile(std::FILE* file, int64_t offset) { return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0; }

bool WriteGathered(std::FILE* file, const std::vector<TByteSpan>& spans) {
  for (const TByteSpan& span : spans)
    if (std::fwrite(span.Data, 1, span.Size, file) != span.Size) return false;
  return true;
}

}  // namespace trawlex
