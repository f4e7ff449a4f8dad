#include "platform/DurableFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>


#include "platform/FileReplaceParts.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

bool WriteAll(int fd, std::string_view data, std::string& error) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = SystemErrorText(errno);
      return false;
    }
    if (n == 0) {
      error = SystemErrorText(ENOSPC);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SyncFolder(const std::string& dir, std::string& error) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemErrorText(errno);
    return false;
  }
  // Some file systems cannot flush a folder; they say so with EINVAL, which is no failure.
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  if (!ok) error = SystemErrorText(errno);
  ::close(fd);
  return ok;
}


}  // namespace

bool ResolveLinks(const std::string& path, std::string& result, std::string& error) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      result = current;
      return true;
    }
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    for (;;) {
      const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
      if (n < 0) {
        error = SystemErrorText(errno);
        return false;
      }
      if (static_cast<size_t>(n) < target.size()) {
        target.resize(static_cast<size_t>(n));
        break;
      }
      target.resize(target.size() * 2);
    }
    current = (!target.empty() && target[0] == '/') ? target : FolderOf(current) + "/" + target;
  }
  error = SystemErrorText(ELOOP);
  return false;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool OwnedByThisUser(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid();
}

namespace {

// Whether the file at `target`, if there is one (`old` then holds what it is), may be
// replaced: a regular file that the user has not marked read-only.
bool MayReplace(const std::string& target, struct stat& old, bool& hadOld, std::string& error) {
  hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && !S_ISREG(old.st_mode)) {
    error = SystemErrorText(S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    return false;
  }
  // A read-only file is not replaced, though its folder would let the rename through: the
  // user marked it so, and on Windows the rename fails on it too. Root included.
  if (hadOld && (::access(target.c_str(), W_OK) != 0 || (old.st_mode & 0222) == 0)) {
    error = SystemErrorText(EACCES);
    return false;
  }
  return true;
}

// A new file beside `target` under a name of its own (`temp`), open for writing; -1 with
// `error` set when none can be made.
int CreateTempBeside(const std::string& target, std::string& temp, std::string& error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = rewrite_parts::DurableTempName(target, static_cast<uint64_t>(::getpid()));
    // The owner's alone until it gets the old file's permission bits, if any.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST) {
      error = SystemErrorText(errno);
      return -1;
    }
  }
  error = SystemErrorText(EEXIST);
  return -1;
}

// Gives the new file the old one's owner and permission bits (`old`, when there was one),
// writes `content` into it and flushes it to disk.
bool FillNewFile(int fd, const struct stat* old, std::string_view content, std::string& error) {
  // A file replaced by root (sudo keeps HOME) stays its owner's, or they could no longer read
  // it. Others cannot give a file away: for them the new file is their own, as before.
  if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) && ::geteuid() == 0 &&
      ::fchown(fd, old->st_uid, old->st_gid) != 0) {
    error = SystemErrorText(errno);
    return false;
  }
  if (old && ::fchmod(fd, old->st_mode & 07777) != 0) {
    error = SystemErrorText(errno);
    return false;
  }
  if (!WriteAll(fd, content, error)) return false;
  if (::fsync(fd) != 0) {
    error = SystemErrorText(errno);
    return false;
  }
  return true;
}

}  // namespace

bool ReplaceFileContent(const std::string& path, std::string_view content, std::string& error,
                        std::string& warning) {
  warning.clear();
  std::string target;
  if (!ResolveLinks(path, target, error)) return false;
  struct stat old;
  bool hadOld = false;
  if (!MayReplace(target, old, hadOld, error)) return false;
  std::string temp;
  const int fd = CreateTempBeside(target, temp, error);
  if (fd < 0) return false;
  bool ok = FillNewFile(fd, hadOld ? &old : nullptr, content, error);
  if (::close(fd) != 0 && ok) {
    error = SystemErrorText(errno);
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    error = SystemErrorText(errno);
    ok = false;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The new name is in place; flushing the folder makes the rename itself survive a crash.
  // When that fails the content is still replaced: a warning, not a failure.
  std::string flushError;
  if (!SyncFolder(FolderOf(target), flushError)) warning = "The folder could not be flushed to disk (" + flushError + ")";
  return true;
}

TFileUse ProbeFileUse(const std::string& path, std::string& reason) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return TFileUse::Missing;
    reason = SystemErrorText(errno);
    return TFileUse::Unusable;
  }
  if (!S_ISREG(st.st_mode)) {
    reason = S_ISDIR(st.st_mode) ? SystemErrorText(EISDIR) : std::string("It is not a regular file");
    return TFileUse::Unusable;
  }
  if (::access(path.c_str(), R_OK) != 0) {
    reason = SystemErrorText(errno);
    return TFileUse::Unusable;
  }
  if (::access(path.c_str(), W_OK) != 0) {
    reason = SystemErrorText(errno);
    return TFileUse::ReadOnly;
  }
  if ((st.st_mode & 0222) == 0) {
    reason = "It is read-only";
    return TFileUse::ReadOnly;
  }
  return TFileUse::ReadWrite;
}

bool LockFileUsable(const std::string& lockPath, std::string& reason) {
  struct stat st;
  if (::lstat(lockPath.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    reason = SystemErrorText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    reason = S_ISDIR(st.st_mode) ? SystemErrorText(EISDIR) : std::string("It is not a regular file");
    return false;
  }
  if (::access(lockPath.c_str(), R_OK | W_OK) != 0) {
    reason = SystemErrorText(errno);
    return false;
  }
  return true;
}

bool rewrite_parts::MakeOneDirectory(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = SystemErrorText(errno);
    return false;
  }
  return true;
}

bool RenameNoReplace(const std::string& from, const std::string& to, std::string& error) {
  // A hard link fails when `to` exists, which makes the check and the move one step.
  if (::link(from.c_str(), to.c_str()) == 0) {
    if (::unlink(from.c_str()) != 0) {
      error = SystemErrorText(errno);
      ::unlink(to.c_str());
      return false;
    }
    return true;
  }
  if (errno == EEXIST) {
    error = SystemErrorText(EEXIST);
    return false;
  }
  // File systems without hard links: check, then rename.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    error = SystemErrorText(EEXIST);
    return false;
  }
  if (::rename(from.c_str(), to.c_str()) != 0) {
    error = SystemErrorText(errno);
    return false;
  }
  return true;
}

TFileLock::TLockTry TFileLock::TryAcquire(const std::string& lockPath, std::string& error) {
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = SystemErrorText(errno);
    return TLockTry::Failed;
  }
  // A lock file that root makes in another user's folder is given to that user, who must be
  // able to open it later.
  struct stat lockSt, folderSt;
  if (::geteuid() == 0 && ::fstat(fd, &lockSt) == 0 && lockSt.st_uid == 0 &&
      ::stat(FolderOf(lockPath).c_str(), &folderSt) == 0 && folderSt.st_uid != 0)
    (void)!::fchown(fd, folderSt.st_uid, folderSt.st_gid);
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // Someone may have removed and re-created the lock file while we waited: the lock is
    // only good when it sits on the file that the path names now.
    struct stat mine, named;
    if (::fstat(fd, &mine) == 0 && ::stat(lockPath.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
        mine.st_ino == named.st_ino) {
      const std::string pid = std::to_string(::getpid()) + "\n";
      if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
      Fd = fd;
      return TLockTry::Held;
    }
    ::close(fd);
    return TLockTry::Again;
  }
  const int cause = errno;
  ::close(fd);
  if (cause != EWOULDBLOCK && cause != EINTR) {
    error = SystemErrorText(cause);
    return TLockTry::Failed;
  }
  return TLockTry::Busy;
}

void TFileLock::Release() {
  if (Fd >= 0) {
    ::flock(Fd, LOCK_UN);
    ::close(Fd);
    Fd = -1;
  }
}

}  // namespace trawlex
