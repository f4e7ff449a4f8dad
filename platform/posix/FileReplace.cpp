#include "platform/FileReplace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace trawlex {

namespace {

// ---- Injected faults (tests only) ----

struct TFaultSetting {
  bool Active = false;
  int Error = 0;
  int64_t AfterBytes = 0;
};
std::mutex FaultLock;
std::array<TFaultSetting, 8> Faults;  // guarded by FaultLock, indexed by TRewriteFault

TFaultSetting FaultFor(TRewriteFault step) {
  std::lock_guard lock(FaultLock);
  return Faults[static_cast<size_t>(step)];
}

// Fails a step without a byte count when its fault is set: sets errno and says so.
bool Faulted(TRewriteFault step) {
  const TFaultSetting f = FaultFor(step);
  if (!f.Active) return false;
  errno = f.Error;
  return true;
}

const char* const AclAccess = "system.posix_acl_access";

bool InGroup(gid_t gid) {
  if (gid == getegid()) return true;
  const int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = getgroups(n, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}

std::string TempNameAt(const std::string& folder, const std::string& prefix, uint64_t n) {
  std::string name = folder;
  if (name.empty() || name.back() != PathDelim) name += PathDelim;
  return name + prefix + std::to_string(n) + ".tmp";
}

// The names and values of the extended attributes of `path` (links not followed).
bool ReadAttributes(const std::string& path, std::vector<std::pair<std::string, std::string>>& out) {
  ssize_t size = llistxattr(path.c_str(), nullptr, 0);
  if (size < 0) return errno == ENOTSUP;  // a file system without attributes has none
  std::string names(static_cast<size_t>(size), '\0');
  size = llistxattr(path.c_str(), names.data(), names.size());
  if (size < 0) return false;
  names.resize(static_cast<size_t>(size));
  for (size_t i = 0; i < names.size();) {
    const std::string name = names.c_str() + i;
    i += name.size() + 1;
    if (name.empty()) continue;
    ssize_t vsize = lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (vsize < 0) return false;
    std::string value(static_cast<size_t>(vsize), '\0');
    vsize = lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
    if (vsize < 0) return false;
    value.resize(static_cast<size_t>(vsize));
    out.emplace_back(name, value);
  }
  return true;
}

}  // namespace

void InjectRewriteFault(TRewriteFault step, int errorNumber, int64_t afterBytes) {
  std::lock_guard lock(FaultLock);
  Faults[static_cast<size_t>(step)] = {step != TRewriteFault::None, errorNumber, afterBytes};
}

void ClearRewriteFaults() {
  std::lock_guard lock(FaultLock);
  Faults = {};
}

bool PathEntryExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string FirstFreeTempName(const std::string& folder, const std::string& prefix) {
  for (uint64_t n = 1;; ++n) {
    std::string name = TempNameAt(folder, prefix, n);
    if (!PathEntryExists(name)) return name;
  }
}

TFileRewriter::TFileRewriter(std::string tempPrefix) : FPrefix(std::move(tempPrefix)) {}

TFileRewriter::~TFileRewriter() { Abandon(); }

bool TFileRewriter::Fail(const std::string& message) {
  FError = message;
  return false;
}

bool TFileRewriter::FailErrno(int errorNumber) { return Fail(SystemErrorText(errorNumber)); }

bool TFileRewriter::Open(const std::string& path) {
  Abandon();
  FError.clear();
  FWarning.clear();
  char real[PATH_MAX];
  if (!realpath(path.c_str(), real)) return FailErrno(errno);
  FRealPath = real;
  const size_t slash = FRealPath.rfind('/');
  FFolder = slash == 0 ? "/" : FRealPath.substr(0, slash);
  struct stat st;
  if (stat(FRealPath.c_str(), &st) != 0) return FailErrno(errno);
  if (!S_ISREG(st.st_mode)) return Fail("It is not a regular file");
  if (!GetFileInfo(FRealPath, FInfo)) return FailErrno(errno);
  FModeBits = st.st_mode & 07777;
  FUid = st.st_uid;
  FGid = st.st_gid;
  FLinks = st.st_nlink;
  // A new file can carry the same owner and group only where this process may set them;
  // otherwise, and for hard links, the file keeps its inode.
  const bool mayChown = geteuid() == 0 || (st.st_uid == geteuid() && InGroup(st.st_gid));
  FMode = (FLinks > 1 || !mayChown) ? TRewriteMode::InPlace : TRewriteMode::Rename;
  return true;
}

bool TFileRewriter::SameFileAsOpened() {
  TFileInfo now;
  if (!GetFileInfo(FRealPath, now)) {
    const int e = errno;
    return Fail("The file cannot be examined any more (" + SystemErrorText(e) + "), so it was not changed");
  }
  if (now.Device != FInfo.Device || now.Inode != FInfo.Inode)
    return Fail("The file was replaced by another file since it was read, so it was not changed");
  if (now.Size != FInfo.Size || now.ModifiedNs != FInfo.ModifiedNs)
    return Fail("The file changed while it was being replaced, so it was not changed");
  return true;
}

bool TFileRewriter::Unchanged() { return SameFileAsOpened(); }

bool TFileRewriter::CheckWritable() {
  if ((FModeBits & 0222) == 0) return Fail("The file is read-only, so it was not changed");
  if (faccessat(AT_FDCWD, FRealPath.c_str(), W_OK, AT_EACCESS) != 0) {
    const int e = errno;
    return Fail("The file cannot be written (" + SystemErrorText(e) + "), so it was not changed");
  }
  return true;
}

bool TFileRewriter::CreateExclusive(std::string& name, int& fd) {
  // O_EXCL with O_NOFOLLOW: whatever is planted at a name (a link, a FIFO) is skipped,
  // never opened or followed.
  for (uint64_t n = 1; n < 100000000; ++n) {
    name = TempNameAt(FFolder, FPrefix, n);
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) return true;
    if (errno != EEXIST) {
      const int e = errno;
      name.clear();
      return Fail("Cannot create a temporary file in its folder (" + SystemErrorText(e) + ")");
    }
  }
  name.clear();
  return Fail("Cannot create a temporary file in its folder (no free name)");
}

bool TFileRewriter::CopyMetadataTo(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if ((st.st_uid != FUid || st.st_gid != FGid) && fchown(fd, FUid, FGid) != 0) return false;
  std::vector<std::pair<std::string, std::string>> attributes;
  if (!ReadAttributes(FRealPath, attributes)) return false;
  bool hasAcl = false;
  for (const auto& [name, value] : attributes) {
    if (name == AclAccess) hasAcl = true;
    if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  // A folder's default ACL gives the new file an ACL the old one did not have.
  if (!hasAcl && fremovexattr(fd, AclAccess) != 0 && errno != ENODATA && errno != ENOTSUP) return false;
  // Last, since a change of owner clears the set-user-ID and set-group-ID bits.
  return fchmod(fd, FModeBits) == 0;
}

bool TFileRewriter::BeginWrite() {
  FError.clear();
  if (FMode == TRewriteMode::InPlace) return true;
  std::string name;
  int fd = -1;
  if (!CreateExclusive(name, fd)) return false;
  if (!CopyMetadataTo(fd)) {
    ::close(fd);
    ::unlink(name.c_str());
    FMode = TRewriteMode::InPlace;
    return true;
  }
  FTempName = name;
  FTempFd = fd;
  FWritten = 0;
  return true;
}

bool TFileRewriter::WriteAllAt(int fd, const char* data, size_t count, int64_t offset, int faultStep) {
  size_t limit = count;
  const TFaultSetting fault = FaultFor(static_cast<TRewriteFault>(faultStep));
  if (fault.Active) {
    const int64_t room = fault.AfterBytes - offset;
    if (room < static_cast<int64_t>(count)) limit = room > 0 ? static_cast<size_t>(room) : 0;
  }
  size_t done = 0;
  while (done < limit) {
    const ssize_t n = ::pwrite(fd, data + done, limit - done, offset + static_cast<int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailErrno(errno);
    }
    if (n == 0) return Fail("The file system accepted fewer bytes than were written");
    done += static_cast<size_t>(n);
  }
  if (limit < count) return FailErrno(fault.Error);
  return true;
}

bool TFileRewriter::Write(const void* data, size_t count) {
  if (FTempFd < 0) return Fail("No temporary file is open");
  if (!WriteAllAt(FTempFd, static_cast<const char*>(data), count, FWritten, static_cast<int>(TRewriteFault::Write)))
    return false;
  FWritten += static_cast<int64_t>(count);
  return true;
}

bool TFileRewriter::Commit() {
  if (FTempFd < 0) return Fail("No temporary file is open");
  if (Faulted(TRewriteFault::Flush) || fsync(FTempFd) != 0) {
    FailErrno(errno);
    Abandon();
    return false;
  }
  const int fd = FTempFd;
  FTempFd = -1;
  if (Faulted(TRewriteFault::Close) || ::close(fd) != 0) {
    FailErrno(errno);
    Abandon();
    return false;
  }
  if (!SameFileAsOpened()) {
    Abandon();
    return false;
  }
  if (Faulted(TRewriteFault::Rename) || ::rename(FTempName.c_str(), FRealPath.c_str()) != 0) {
    FailErrno(errno);
    Abandon();
    return false;
  }
  FTempName.clear();
  FlushFolder();
  return true;
}

bool TFileRewriter::CommitInPlace(std::string_view oldContent, std::string_view newContent) {
  if (!SameFileAsOpened()) return false;

  // 1. A whole copy of the old content on disk beside the file.
  std::string backup;
  int bfd = -1;
  if (!CreateExclusive(backup, bfd)) return false;
  FTempName = backup;
  bool ok = WriteAllAt(bfd, oldContent.data(), oldContent.size(), 0, static_cast<int>(TRewriteFault::BackupWrite));
  if (ok && fsync(bfd) != 0) ok = FailErrno(errno);
  if (::close(bfd) != 0 && ok) ok = FailErrno(errno);
  if (!ok) {
    Abandon();
    return false;
  }
  FlushFolder();

  // 2. The file itself, overwritten; O_NONBLOCK so that a FIFO swapped in cannot hang us.
  const int fd = ::open(FRealPath.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    FailErrno(errno);
    Abandon();
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_dev != FInfo.Device || st.st_ino != FInfo.Inode) {
    ::close(fd);
    Fail("The file was replaced by another file since it was read, so it was not changed");
    Abandon();
    return false;
  }
  auto writeWhole = [&](std::string_view bytes, TRewriteFault step) {
    if (!WriteAllAt(fd, bytes.data(), bytes.size(), 0, static_cast<int>(step))) return false;
    if (ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return FailErrno(errno);
    if (fsync(fd) != 0) return FailErrno(errno);
    return true;
  };
  if (!writeWhole(newContent, TRewriteFault::Overwrite)) {
    const std::string reason = FError;
    if (writeWhole(oldContent, TRewriteFault::Restore)) {
      ::close(fd);
      Fail(reason);
      Abandon();
      return false;
    }
    ::close(fd);
    Fail(reason + ". The file may be damaged; its old content is kept in " + backup);
    FTempName.clear();  // the only whole copy: keep it
    return false;
  }
  if (::close(fd) != 0) {
    Fail(SystemErrorText(errno) + ". The file may be damaged; its old content is kept in " + backup);
    FTempName.clear();
    return false;
  }

  // 3. The copy is no longer needed.
  ::unlink(backup.c_str());
  FTempName.clear();
  FlushFolder();
  return true;
}

void TFileRewriter::FlushFolder() {
  const int dfd = ::open(FFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0 || fsync(dfd) != 0) {
    const int e = errno;
    // Some file systems cannot flush a folder; the file itself is on disk already.
    if (e != EINVAL && e != EROFS) FWarning = "The folder could not be flushed to disk (" + SystemErrorText(e) + ")";
  }
  if (dfd >= 0) ::close(dfd);
}

void TFileRewriter::Abandon() {
  if (FTempFd >= 0) ::close(FTempFd);
  FTempFd = -1;
  if (!FTempName.empty()) ::unlink(FTempName.c_str());
  FTempName.clear();
}

}  // namespace trawlex
