#include "platform/Platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <mntent.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/posix/StatInfo.h"

namespace trawlex {

static TEntryKind KindOfStat(const struct stat& st, bool viaLink) {
  if (S_ISREG(st.st_mode)) return TEntryKind::File;
  if (S_ISDIR(st.st_mode) && !viaLink) return TEntryKind::Directory;
  return TEntryKind::Other;
}

// Opens `path` with `flags`, also when it is longer than the system takes in one call:
// then the folders on the way are opened one stretch at a time, each relative to the last.
static int OpenAnyLength(const std::string& path, int flags) {
  if (path.size() < PATH_MAX) return ::open(path.c_str(), flags);
  const size_t nameStart = path.rfind('/') + 1;  // a path this long always has a folder part
  int dirFd = path[0] == '/' ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
  if (path[0] == '/' && dirFd < 0) return -1;
  size_t from = path.find_first_not_of('/');
  while (from < nameStart) {
    // The longest stretch of whole folder names that one call takes.
    size_t to = from;
    for (size_t slash; (slash = path.find('/', to)) != std::string::npos && slash < nameStart &&
                       slash - from < PATH_MAX / 2;)
      to = slash + 1;
    if (to == from) to = path.find('/', from) + 1;  // a single name longer than the stretch
    const std::string stretch = path.substr(from, to - from);
    const int next = ::openat(dirFd, stretch.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int saved = errno;
    if (dirFd != AT_FDCWD) ::close(dirFd);
    if (next < 0) {
      errno = saved;
      return -1;
    }
    dirFd = next;
    from = path.find_first_not_of('/', to);
    if (from == std::string::npos) from = path.size();
  }
  const int fd = ::openat(dirFd, path.c_str() + nameStart, flags);
  const int saved = errno;
  if (dirFd != AT_FDCWD) ::close(dirFd);
  errno = saved;
  return fd;
}

// Adds one entry of the folder open as `dfd` to `out`, unless it is "." or "..": its kind
// from the listing, or from the entry itself where the listing leaves it open.
static void AddListedEntry(int dfd, const char* name, unsigned char type, std::vector<TDirName>& out) {
  if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) return;
  TEntryKind kind = TEntryKind::Other;
  bool viaLink = false;
  switch (type) {
    case DT_REG: kind = TEntryKind::File; break;
    case DT_DIR: kind = TEntryKind::Directory; break;
    case DT_LNK: {
      struct stat st;
      viaLink = true;
      if (fstatat(dfd, name, &st, 0) == 0) kind = KindOfStat(st, true);
      break;
    }
    case DT_UNKNOWN: {
      struct stat st;
      if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
          viaLink = true;
          if (fstatat(dfd, name, &st, 0) == 0) kind = KindOfStat(st, true);
        } else {
          kind = KindOfStat(st, false);
        }
      }
      break;
    }
    default: break;
  }
  out.push_back({name, kind, viaLink});
}

// Checks what an open gave: false with `error` set (and `fd` closed) when the open failed or
// the file cannot be examined; else `st` describes it.
static bool StatOpened(int fd, struct stat& st, std::string& error) {
  if (fd < 0) {
    error = SystemErrorText(errno);
    return false;
  }
  if (fstat(fd, &st) != 0) {
    error = SystemErrorText(errno);
    ::close(fd);
    return false;
  }
  return true;
}

bool TDirHandle::Adopt(int fd, std::string& error) {
  struct stat st;
  if (!StatOpened(fd, st, error)) return false;
  Take(fd, st.st_dev, st.st_ino);
  return true;
}

bool TDirHandle::Open(const std::string& path, std::string& error) {
  return Adopt(OpenAnyLength(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC), error);
}

bool TDirHandle::OpenChild(const TDirHandle& parent, const std::string& name, std::string& error) {
  if (!parent.IsOpen()) {
    error = SystemErrorText(EBADF);
    return false;
  }
  return Adopt(::openat(parent.Fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), error);
}

bool TDirHandle::List(std::vector<TDirName>& out, std::string& error) const {
  // The entries are read straight from the folder's own handle, from its first entry
  // whatever an earlier listing left behind (no second handle, no stream buffer per folder).
  if (!IsOpen()) {
    error = SystemErrorText(EBADF);
    return false;
  }
  if (::lseek(Fd, 0, SEEK_SET) < 0) {
    error = SystemErrorText(errno);
    return false;
  }
  alignas(8) char buffer[32768];
  for (;;) {
    const ssize_t got = ::getdents64(Fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = SystemErrorText(errno);
      return false;
    }
    if (got == 0) return true;
    for (ssize_t at = 0; at < got;) {
      const auto* e = reinterpret_cast<const dirent64*>(buffer + at);
      at += e->d_reclen;
      AddListedEntry(Fd, e->d_name, e->d_type, out);
    }
  }
}

bool TDirHandle::ShortReadsEndFiles() const {
  struct statfs fs;
  if (Fd < 0 || fstatfs(Fd, &fs) != 0) return false;
  // Each reads a regular file through the page cache, which gives fewer bytes than asked
  // for only at the file's end.
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
    case 0x794C7630:  // overlayfs
      return true;
    default:
      return false;
  }
}

void TDirHandle::Close() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
}

bool IsHiddenName(const std::string& name) { return !name.empty() && name[0] == '.'; }

void FillInfo(const struct stat& st, TFileInfo& info) {
  info.Size = st.st_size;
  info.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info.ChangeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  info.Device = st.st_dev;
  info.Inode = st.st_ino;
  info.IsRegular = S_ISREG(st.st_mode);
}

TDateTime TFileInfo::LastWrite() const {
  int64_t seconds = ModifiedNs / 1000000000;
  if (ModifiedNs < 0 && ModifiedNs % 1000000000 != 0) --seconds;
  return UnixTimeToLocal(seconds, true);
}

bool GetFileInfo(const std::string& path, TFileInfo& info) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  FillInfo(st, info);
  return true;
}

std::string SystemErrorText(int errorNumber) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(errorNumber, buf, sizeof buf);
  return text ? text : "Unknown error";
}

TReadOnlyFile::~TReadOnlyFile() { Close(); }

bool TReadOnlyFile::Open(const std::string& path, std::string& error) {
  if (!OpenUnexamined(path, error)) return false;
  if (Examine(error)) return true;
  Close();
  return false;
}

TFolderCache::~TFolderCache() { Close(); }

void TFolderCache::Close() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
  Path.clear();
}

bool TReadOnlyFile::OpenUnexamined(const std::string& path, std::string& error, TFolderCache* folders) {
  Close();
  FSize = 0;
  FInfo = TFileInfo{};
  FExamined = false;
  // O_NONBLOCK only keeps a FIFO from blocking the open; a regular file's reads ignore it.
  constexpr int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  int fd = -1;
  const size_t slash = path.rfind('/');
  if (folders && path.size() < PATH_MAX && slash != std::string::npos && slash > 0 && slash + 1 < path.size()) {
    const std::string_view folder(path.data(), slash);
    if (folders->Fd < 0 || folders->Path != folder) {
      folders->Close();
      const std::string name(folder);
      folders->Fd = ::open(name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (folders->Fd >= 0) folders->Path = name;
    }
    // Where the folder cannot be opened, the whole path gives the reason.
    fd = folders->Fd >= 0 ? ::openat(folders->Fd, path.c_str() + slash + 1, flags) : OpenAnyLength(path, flags);
  } else {
    fd = OpenAnyLength(path, flags);
  }
  if (fd < 0) {
    error = SystemErrorText(errno);
    return false;
  }
  Fd = fd;
  return true;
}

bool TReadOnlyFile::Examine(std::string& error) {
  struct stat st;
  if (Fd < 0 || fstat(Fd, &st) != 0) {
    error = SystemErrorText(Fd < 0 ? EBADF : errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? "It is a directory" : "It is not a regular file";
    return false;
  }
  FSize = st.st_size;
  FillInfo(st, FInfo);
  FExamined = true;
  return true;
}

int64_t FileClockNs() {
  // File times are taken from the coarse clock (or a finer one), never from an earlier one.
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Reads until `count` bytes or the end of the file, retrying short and interrupted reads.
template <class TRead>
static int64_t ReadLoop(char* p, size_t count, std::string& error, TRead read) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = read(p + done, count - done, done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = SystemErrorText(errno);
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t TReadOnlyFile::ReadFull(void* buffer, size_t count, std::string& error) {
  return ReadLoop(static_cast<char*>(buffer), count, error,
                  [this](char* p, size_t n, size_t) { return ::read(Fd, p, n); });
}

int64_t TReadOnlyFile::ReadSome(void* buffer, size_t count, std::string& error) {
  for (;;) {
    const ssize_t n = ::read(Fd, buffer, count);
    if (n >= 0) return n;
    if (errno != EINTR) {
      error = SystemErrorText(errno);
      return -1;
    }
  }
}

int64_t TReadOnlyFile::ReadFullAt(void* buffer, size_t count, int64_t offset, std::string& error) {
  return ReadLoop(static_cast<char*>(buffer), count, error, [this, offset](char* p, size_t n, size_t done) {
    return ::pread(Fd, p, n, static_cast<off_t>(offset + static_cast<int64_t>(done)));
  });
}

void TReadOnlyFile::AdviseWillRead(int64_t offset, int64_t length) {
  if (Fd >= 0 && length > 0) ::posix_fadvise(Fd, static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_WILLNEED);
}

void TReadOnlyFile::Close() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
}

int64_t AdviseWillRead(const std::string& path, int64_t length, TFolderCache* folders) {
  TReadOnlyFile file;
  std::string error;
  if (!file.OpenUnexamined(path, error, folders) || !file.Examine(error)) return -1;
  file.AdviseWillRead(0, std::min(file.Size(), length));
  return file.Size();
}

int64_t StorageBytesRead(bool thisThread) {
  // Without the kernel's I/O accounting the file is missing.
  const int fd = ::open(thisThread ? "/proc/thread-self/io" : "/proc/self/io", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[512];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return -1;
  text[n] = 0;
  static constexpr char key[] = "\nread_bytes: ";
  const char* at = std::strstr(text, key);
  if (!at) return -1;
  return std::strtoll(at + sizeof key - 1, nullptr, 10);
}

TDateTime UnixTimeToLocal(int64_t unixSeconds, bool twoSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  TDateTimeParts p;
  p.Year = tm.tm_year + 1900;
  p.Month = tm.tm_mon + 1;
  p.Day = tm.tm_mday;
  p.Hour = tm.tm_hour;
  p.Minute = tm.tm_min;
  p.Second = twoSeconds ? (tm.tm_sec & ~1) : tm.tm_sec;
  if (p.Second > 58 && twoSeconds) p.Second = 58;  // a leap second still fits the packed form
  return EncodeDateTime(p);
}

TDateTime NowLocal() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return UnixTimeToLocal(ts.tv_sec, false) + (ts.tv_nsec / 1000000) / MSecsPerDay;
}

int32_t TimeZoneBiasMinutes() {
  static std::once_flag once;
  std::call_once(once, [] { tzset(); });
  return static_cast<int32_t>(timezone / 60);
}

std::string TempDirectory() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  if (dir.back() != PathDelim) dir += PathDelim;
  return dir;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool ResolvePath(const std::string& path, std::string& result, std::string& error) {
  if (path.empty()) {
    error = SystemErrorText(ENOENT);
    return false;
  }
  char* real = realpath(path.c_str(), nullptr);
  if (!real) {
    error = SystemErrorText(errno);
    return false;
  }
  result = real;
  std::free(real);
  return true;
}

std::string ResolvedPath(const std::string& path) {
  std::string result, error;
  return ResolvePath(path, result, error) ? result : path;
}

bool CanonicalizePath(const std::string& path, std::string& result) {
  const bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> segs;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string seg = path.substr(i, j - i);
    if (seg == "." || (seg.empty() && j != path.size())) {
      // "." and the empty segments of doubled delimiters disappear
    } else if (seg == "..") {
      if (segs.empty() || segs.back() == "..") {
        if (absolute) return false;  // above the root
        segs.push_back(seg);
      } else {
        segs.pop_back();
      }
    } else if (!seg.empty()) {
      segs.push_back(seg);
    }
    i = j + 1;
  }
  std::string out = absolute ? "/" : "";
  for (size_t k = 0; k < segs.size(); ++k) {
    if (k) out += '/';
    out += segs[k];
  }
  if (!absolute && out.empty()) out = ".";
  // A trailing delimiter stays, so a directory keeps the form it was given in.
  if (path.size() > 1 && path.back() == '/' && out.back() != '/') out += '/';
  if (out.size() >= PATH_MAX) return false;
  result = std::move(out);
  return true;
}

bool QueryVolume(const std::string& root, std::string& fileSystem, std::string& volumeName) {
  struct stat st;
  if (stat(root.c_str(), &st) != 0) return false;
  struct statvfs vfs;
  if (statvfs(root.c_str(), &vfs) != 0) return false;
  FILE* mounts = setmntent("/proc/self/mounts", "r");
  if (!mounts) return false;
  std::string bestDir, bestType, bestDevice;
  struct mntent ent;
  char buf[4096];
  while (getmntent_r(mounts, &ent, buf, sizeof buf)) {
    struct stat mst;
    if (stat(ent.mnt_dir, &mst) != 0 || mst.st_dev != st.st_dev) continue;
    const std::string dir = ent.mnt_dir;
    if (dir.size() >= bestDir.size() && root.compare(0, dir.size(), dir) == 0) {
      bestDir = dir;
      bestType = ent.mnt_type;
      bestDevice = ent.mnt_fsname;
    }
  }
  endmntent(mounts);
  if (bestType.empty()) return false;
  fileSystem = bestType.substr(0, 20);
  volumeName.clear();
  // A label, where the system knows one, is a link in /dev/disk/by-label to the device.
  if (DIR* d = opendir("/dev/disk/by-label")) {
    char real[PATH_MAX];
    std::string device = realpath(bestDevice.c_str(), real) ? real : bestDevice;
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string link = std::string("/dev/disk/by-label/") + e->d_name;
      if (realpath(link.c_str(), real) && device == real) {
        volumeName = std::string(e->d_name).substr(0, 80);
        break;
      }
    }
    closedir(d);
  }
  return true;
}

TProcessArguments ReadProcessArguments(int argc, const char* const* argv) {
  TProcessArguments result;
  const std::string path = argc > 0 && argv[0] ? argv[0] : "trawlex";
  const size_t slash = path.rfind('/');
  result.ProgramName = slash == std::string::npos ? path : path.substr(slash + 1);
  for (int i = 1; i < argc; ++i) result.Params.emplace_back(argv[i]);
  return result;
}

std::string RunningProgramPath() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
  path.resize(static_cast<size_t>(n));
  return path;
}

std::string ReplaceProcess(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(path.c_str(), argv.data());
  return SystemErrorText(errno);
}

std::vector<int32_t> FileVersion(const std::string&) { return {}; }

int TerminalColumns(int fd) {
  if (!isatty(fd)) return 0;
  struct winsize ws;
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

void WidenPipe(std::FILE* file, size_t bytes) {
#if defined(F_SETPIPE_SZ)
  struct stat st;
  if (fstat(fileno(file), &st) == 0 && S_ISFIFO(st.st_mode)) (void)fcntl(fileno(file), F_SETPIPE_SZ, static_cast<int>(bytes));
#else
  (void)file;
  (void)bytes;
#endif
}

bool SeekFile(std::FILE* file, int64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

bool WriteGathered(std::FILE* file, const std::vector<TByteSpan>& spans) {
  if (std::fflush(file) != 0) return false;
  std::vector<iovec> io;
  io.reserve(spans.size());
  for (const TByteSpan& span : spans) io.push_back({const_cast<char*>(span.Data), span.Size});
  // One gathering write after another, each taking up where the last one stopped.
  size_t first = 0;
  while (first < io.size() && io[first].iov_len == 0) ++first;
  while (first < io.size()) {
    const ssize_t n = writev(fileno(file), io.data() + first, static_cast<int>(std::min<size_t>(io.size() - first, 1024)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (auto left = static_cast<size_t>(n); left > 0 && first < io.size();) {
      const size_t take = std::min(left, io[first].iov_len);
      io[first].iov_base = static_cast<char*>(io[first].iov_base) + take;
      io[first].iov_len -= take;
      left -= take;
      if (io[first].iov_len == 0) ++first;
    }
    while (first < io.size() && io[first].iov_len == 0) ++first;
  }
  return true;
}

}  // namespace trawlex
