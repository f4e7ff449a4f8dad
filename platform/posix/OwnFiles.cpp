#include "platform/OwnFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/DurableFile.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Why a folder above the private folder would let another user swap it, or empty.
std::string AncestorProblem(const std::string& folder) {
  char real[PATH_MAX];
  if (!realpath(folder.c_str(), real)) return {};
  std::string path = real;
  while (path.size() > 1) {
    path = FolderOf(path);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return {};
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
      return "the folder " + path + " above it belongs to another user (user id " + std::to_string(st.st_uid) +
             "), who could put another folder in its place";
    if ((st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0)
      return "the folder " + path + " above it can be written by other users (mode " + ModeText(st.st_mode) +
             "), who could put another folder in its place; mend it with: chmod go-w " + Quoted(path);
  }
  return {};
}

}  // namespace

TOwnCheck CheckOwnFolder(const std::string& folder, bool tighten, std::string& problem) {
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) {
    if (errno == ENOENT) return TOwnCheck::Missing;
    problem = "The folder " + folder + " cannot be examined (" + SystemErrorText(errno) + ")";
    return TOwnCheck::Refused;
  }
  const std::string end = ", so it is not used. ";
  if (S_ISLNK(st.st_mode)) {
    problem = "The folder " + folder + " is a symbolic link" + end +
              "It must be a folder of your own: remove the link (rm " + Quoted(folder) + "), and the next replace makes the folder";
    return TOwnCheck::Refused;
  }
  if (!S_ISDIR(st.st_mode)) {
    problem = "The folder " + folder + " is not a folder" + end + "Remove what is there: rm " + Quoted(folder);
    return TOwnCheck::Refused;
  }
  if (st.st_uid != ::geteuid()) {
    problem = "The folder " + folder + " belongs to another user (user id " + std::to_string(st.st_uid) + ")" + end +
              "Move it away (mv " + Quoted(folder) + " " + Quoted(folder + ".suspect") +
              "), and the next replace makes a folder of your own";
    return TOwnCheck::Refused;
  }
  if ((st.st_mode & 022) != 0) {
    problem = "The folder " + folder + " can be written by other users (mode " + ModeText(st.st_mode) + ")" + end +
              "Check what is in it, then close it with: chmod 700 " + Quoted(folder);
    return TOwnCheck::Refused;
  }
  if (const std::string above = AncestorProblem(folder); !above.empty()) {
    problem = "The folder " + folder + " is not safe: " + above;
    return TOwnCheck::Refused;
  }
  if (tighten && (st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    problem = "The folder " + folder + " cannot be closed to other users (" + SystemErrorText(errno) + ")";
    return TOwnCheck::Refused;
  }
  return TOwnCheck::Fine;
}

bool TOwnFile::Open(const std::string& path, bool write, std::string& problem) {
  Close();
  const int fd = ::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    problem = errno == ELOOP ? "it is a symbolic link; remove it if you did not make it: rm " + Quoted(path)
                             : SystemErrorText(errno);
    return false;
  }
  struct stat st;
  std::string why;
  if (::fstat(fd, &st) != 0) why = SystemErrorText(errno);
  else if (!S_ISREG(st.st_mode)) why = "it is not a regular file; remove it: rm " + Quoted(path);
  else if (st.st_uid != ::geteuid())
    why = "it belongs to another user (user id " + std::to_string(st.st_uid) +
          "); remove it if you did not put it there: rm " + Quoted(path);
  else if ((st.st_mode & 022) != 0)
    why = "it can be written by other users (mode " + ModeText(st.st_mode) +
          "); remove it if you did not write it, or close it: chmod 600 " + Quoted(path);
  if (why.empty()) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    F = ::fdopen(fd, write ? "r+b" : "rb");
    if (!F) why = SystemErrorText(errno);
  }
  if (!why.empty()) {
    problem = why;
    if (!F) ::close(fd);
    Close();
    return false;
  }
  return true;
}

bool TOwnFile::Create(const std::string& path, int& errorNumber) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    errorNumber = errno;
    return false;
  }
  F = ::fdopen(fd, "r+b");
  if (!F) {
    errorNumber = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

TOwnFile::TLock TOwnFile::TryLock(std::string& error, bool shared) {
  if (!F) {
    error = SystemErrorText(EBADF);
    return TLock::Failed;
  }
  for (;;) {
    if (::flock(::fileno(F), (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) return TLock::Held;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return TLock::Busy;
    error = SystemErrorText(errno);
    return TLock::Failed;
  }
}

void TOwnFile::Unlock() {
  if (F) ::flock(::fileno(F), LOCK_UN);
}

bool TOwnFile::FlushToDisk() { return F && std::fflush(F) == 0 && ::fsync(::fileno(F)) == 0; }

bool TOwnFile::Truncate(int64_t size) {
  return F && std::fflush(F) == 0 && ::ftruncate(::fileno(F), static_cast<off_t>(size)) == 0 &&
         std::fseek(F, 0, SEEK_END) == 0;
}

int64_t TOwnFile::Size() const {
  struct stat st;
  if (!F || ::fstat(::fileno(F), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void FlushFolderEntries(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace trawlex
