#include "platform/FileReplace.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/FileReplaceParts.h"
#include "platform/posix/StatInfo.h"
#include "platform/RewriteFaults.h"

namespace trawlex {

using namespace rewrite_faults;
using namespace rewrite_parts;

namespace {

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

// Whether this process sees every extended attribute of a file: the trusted.* ones are
// listed only to a process with the administrator capability.
bool SeesAllAttributes() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
  return (data[CAP_SYS_ADMIN / 32].effective & (1u << (CAP_SYS_ADMIN % 32))) != 0;
}

// Whether the file system of `path` can hold extended attributes at all.
bool HoldsAttributes(const std::string& path) {
  return llistxattr(path.c_str(), nullptr, 0) >= 0 || errno != ENOTSUP;
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

// The folders whose stale temporary files this process has removed already.
std::mutex SweptLock;
std::set<std::string> Swept;

// Removes the temporary files a killed rewrite left in `folder` (once per folder and process):
// those no run holds the lock of. A rewrite that just created one and has not locked it yet
// sees it gone once it holds the lock, and makes another.
void RemoveStaleTemps(const std::string& folder, const std::string& prefix) {
  {
    std::lock_guard<std::mutex> g(SweptLock);
    if (!Swept.insert(folder).second) return;
  }
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir))
    if (IsTempName(e->d_name, prefix)) names.emplace_back(e->d_name);
  ::closedir(dir);
  for (const std::string& name : names) {
    const std::string path = InFolder(folder, name);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st, now;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
      ::unlink(path.c_str());
    ::close(fd);
  }
}

}  // namespace

bool PathEntryExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TFileRewriter::TLockTry TFileRewriter::TryLock(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return TLockTry::Held;
  if (errno == EWOULDBLOCK || errno == EINTR) return TLockTry::Busy;
  FailErrno(errno);
  return TLockTry::Failed;
}

void TFileRewriter::Unlock() {
  if (FLockFd >= 0) ::close(FLockFd);  // closing releases the lock
  FLockFd = -1;
}

bool TFileRewriter::Open(const std::string& path) {
  Abandon();
  Unlock();
  FError.clear();
  FWarning.clear();
  struct stat st;
  // The file at the path may be swapped while the lock is awaited; the lock must be held
  // on the file that the path names once it is held.
  for (int attempt = 0;; ++attempt) {
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real)) return FailErrno(errno);
    FRealPath = real;
    const int fd = ::open(FRealPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP && attempt < 10) continue;  // a link put there since realpath
    if (fd < 0) return FailErrno(errno);
    if (fstat(fd, &st) != 0) {
      const int e = errno;
      ::close(fd);
      return FailErrno(e);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      return Fail("It is not a regular file");
    }
    if (!LockFile(fd)) {
      ::close(fd);
      return false;
    }
    struct stat now;
    if (fstat(fd, &st) == 0 && lstat(FRealPath.c_str(), &now) == 0 && now.st_dev == st.st_dev &&
        now.st_ino == st.st_ino) {
      FLockFd = fd;
      break;
    }
    ::close(fd);
    if (attempt == 10) return Fail("The file keeps being replaced by other files, so it was not changed");
  }
  FFolder = FolderOf(FRealPath);
  FillInfo(st, FInfo);
  FModeBits = st.st_mode & 07777;
  FUid = st.st_uid;
  FGid = st.st_gid;
  FLinks = st.st_nlink;
  // A new file can carry the same owner and group only where this process may set them,
  // and the same attributes only where it sees them all; otherwise, and for hard links,
  // the file keeps its inode.
  const bool mayChown = geteuid() == 0 || (st.st_uid == geteuid() && InGroup(st.st_gid));
  const bool keepsAttributes = SeesAllAttributes() || !HoldsAttributes(FRealPath);
  FMode = (FLinks > 1 || !mayChown || !keepsAttributes) ? TRewriteMode::InPlace : TRewriteMode::Rename;
  return true;
}

int64_t TFileRewriter::ReadAt(char* buffer, size_t count, uint64_t offset) {
  for (;;) {
    const ssize_t n = ::pread(FLockFd, buffer, count, static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno != EINTR) {
      FailErrno(errno);
      return -1;
    }
  }
}

std::string FindLeftBackup(const std::string& path, const std::string& tempPrefix) {
  char real[PATH_MAX];
  const std::string prefix = BackupPrefix(realpath(path.c_str(), real) ? std::string(real) : path, tempPrefix);
  for (uint64_t n = 1; n <= 16; ++n) {
    const std::string name = prefix + std::to_string(n) + ".tmp";
    if (PathEntryExists(name)) return name;
  }
  return {};
}

std::string TFileRewriter::LeftBackup() const { return FRealPath.empty() ? std::string() : FindLeftBackup(FRealPath, FPrefix); }

bool TFileRewriter::SameFileAsOpened() {
  struct stat st;
  if (lstat(FRealPath.c_str(), &st) != 0) {
    const int e = errno;
    return Fail("The file cannot be examined any more (" + SystemErrorText(e) + "), so it was not changed");
  }
  TFileInfo now;
  FillInfo(st, now);
  if (now.Device != FInfo.Device || now.Inode != FInfo.Inode)
    return Fail("The file was replaced by another file since it was read, so it was not changed");
  // A program that does not take the lock may still have written to it.
  if (FLockFd < 0 || fstat(FLockFd, &st) != 0) return Fail("The file is not open");
  FillInfo(st, now);
  if (now.Size != FInfo.Size || now.ModifiedNs != FInfo.ModifiedNs || now.ChangeNs != FInfo.ChangeNs)
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

bool TFileRewriter::CreateExclusive(const std::string& prefix, std::string& name, int& fd) {
  // O_EXCL with O_NOFOLLOW: whatever is planted at a name (a link, a FIFO) is skipped,
  // never opened or followed.
  RemoveStaleTemps(FFolder, FileNameOf(prefix));
  for (uint64_t n = 1; n < 100000000; ++n) {
    name = prefix + std::to_string(n) + ".tmp";
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      // Locked while it is written (through a second descriptor, which outlives the close
      // before the rename), so that no other run takes it for one left by a killed run.
      struct stat st;
      const int lockFd = ::dup(fd);
      if (lockFd >= 0 && flock(lockFd, LOCK_EX) == 0 && fstat(lockFd, &st) == 0 && st.st_nlink > 0) {
        if (FTempLockFd >= 0) ::close(FTempLockFd);
        FTempLockFd = lockFd;
        return true;
      }
      if (lockFd >= 0) ::close(lockFd);
      ::close(fd);
      continue;  // removed as stale before it was locked: another name
    }
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
  if (!CreateExclusive(InFolder(FFolder, "." + FPrefix), name, fd)) return false;
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
  const TFaultSetting fault = FaultFor(static_cast<TRewriteFault>(faultStep));
  const size_t limit = BytesBeforeFault(fault, offset, count);
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
  Abandon();  // nothing left to remove: releases the temporary file's lock
  Unlock();  // the lock was on the old file, which the path no longer names
  FlushFolder();
  return true;
}

bool TFileRewriter::FlushAndClose(int fd, bool ok) {
  if (ok && fsync(fd) != 0) ok = FailErrno(errno);
  if (::close(fd) != 0 && ok) ok = FailErrno(errno);
  return ok;
}

TFileRewriter::TNameTry TFileRewriter::TryNameCopy(const std::string& name, std::string& error) {
  if (::link(FTempName.c_str(), name.c_str()) == 0) {
    ::unlink(FTempName.c_str());
    return TNameTry::Taken;
  }
  // A file system without hard links: a free name is taken by renaming (the file's lock
  // keeps every other replace of this name out meanwhile).
  if ((errno == EPERM || errno == ENOTSUP) && !PathEntryExists(name) && ::rename(FTempName.c_str(), name.c_str()) == 0)
    return TNameTry::Taken;
  const int e = errno;
  error = SystemErrorText(e);
  return e == EEXIST ? TNameTry::InUse : TNameTry::Failed;
}

bool TFileRewriter::OverwriteInPlace(std::string_view oldContent, std::string_view newContent, const std::string& backup) {
  // O_NONBLOCK so that a FIFO swapped in cannot hang us.
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
  auto writeWhole = [&](std::string_view bytes, int step) {
    if (!WriteAllAt(fd, bytes.data(), bytes.size(), 0, step)) return false;
    if (ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return FailErrno(errno);
    if (fsync(fd) != 0) return FailErrno(errno);
    return true;
  };
  auto closeFile = [fd] { return ::close(fd) != 0 ? SystemErrorText(errno) : std::string(); };
  return OverwriteKeepingCopy(oldContent, newContent, backup, writeWhole, closeFile);
}

void TFileRewriter::DropCopyOfOld(const std::string& backup) {
  ::unlink(backup.c_str());
  FTempName.clear();
  Abandon();  // releases the copy's lock
  FlushFolder();
  Unlock();
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
  if (FTempLockFd >= 0) ::close(FTempLockFd);
  FTempLockFd = -1;
}

bool TFileRewriter::PlacedIdentity(uint64_t& device, uint64_t& inode) const {
  struct stat st;
  if (FMode == TRewriteMode::Rename && FTempFd >= 0) {
    if (fstat(FTempFd, &st) != 0) return false;
    device = static_cast<uint64_t>(st.st_dev);
    inode = static_cast<uint64_t>(st.st_ino);
    return true;
  }
  device = FInfo.Device;
  inode = FInfo.Inode;
  return true;
}

}  // namespace trawlex
