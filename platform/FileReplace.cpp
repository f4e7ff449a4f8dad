// The parts of the file rewriter that do not depend on the operating system; posix/ and
// win32/ hold the rest.
#include "platform/FileReplace.h"

#include <algorithm>
#include <atomic>
#include <string_view>
#include <thread>

#include "platform/FileReplaceParts.h"
#include "platform/Platform.h"

namespace trawlex {

using namespace rewrite_parts;

std::string rewrite_parts::FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of(PathDelims);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string rewrite_parts::DurableTempName(const std::string& target, uint64_t processId) {
  static std::atomic<uint32_t> counter{0};
  return InFolder(FolderOf(target), "." + FileNameOf(target) + ".tmp-" + std::to_string(processId) + "-" +
                                        std::to_string(counter.fetch_add(1)));
}

std::string rewrite_parts::InFolder(const std::string& folder, const std::string& name) {
  std::string path = folder;
  if (path.empty() || std::string_view(PathDelims).find(path.back()) == std::string_view::npos) path += PathDelim;
  return path + name;
}

std::string rewrite_parts::TempNameAt(const std::string& folder, const std::string& prefix, uint64_t n) {
  return InFolder(folder, prefix + std::to_string(n) + ".tmp");
}

std::string BackupPrefix(const std::string& path, const std::string& tempPrefix) {
  const std::string folder = FolderOf(path);
  std::string name = FileNameOf(path);
  // Room for ".", ".", the prefix, a number and ".tmp" within the longest name allowed.
  const size_t room = NameMax - tempPrefix.size() - 2 - 20 - 4;
  if (name.size() > room) name.resize(room);
  return InFolder(folder, "." + name + "." + tempPrefix);
}

bool IsTempName(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - 4, 4, ".tmp") != 0)
    return false;
  for (size_t i = prefix.size(); i < name.size() - 4; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return true;
}

bool IsRewriterFileName(const std::string& name, const std::string& tempPrefix) {
  if (name.empty() || name[0] != '.') return false;
  if (IsTempName(name, "." + tempPrefix)) return true;
  // A copy's name: "." and the file's name (which may hold full stops) before "." + prefix.
  const size_t at = name.rfind("." + tempPrefix);
  return at != std::string::npos && at >= 2 && IsTempName(name.substr(at), "." + tempPrefix);
}

std::string FirstFreeTempName(const std::string& folder, const std::string& prefix) {
  for (uint64_t n = 1;; ++n) {
    std::string name = TempNameAt(folder, prefix, n);
    if (!PathEntryExists(name)) return name;
  }
}

// Largest file the replace reads, as for a search: offsets are 32-bit.
constexpr int64_t MaxContentSize = int64_t{1} << 31;

bool TFileRewriter::ReadContent(std::string& out) {
  out.clear();
  if (FLockFd < 0) return Fail("The file is not open");
  // The reported size is a first guess only; the read goes on to the end of the file.
  out.resize(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(FInfo.Size, 0), MaxContentSize)) + 1);
  size_t done = 0;
  for (;;) {
    if (done == out.size()) {
      if (static_cast<int64_t>(out.size()) >= MaxContentSize) {
        out.clear();
        return Fail("The file is 2 GiB or larger, which is more than a replace can handle");
      }
      out.resize(static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(out.size()) * 2, MaxContentSize)));
    }
    const int64_t n = ReadAt(out.data() + done, out.size() - done, done);
    if (n < 0) {
      out.clear();
      return false;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  return true;
}

TFileRewriter::TFileRewriter(std::string tempPrefix) : FPrefix(std::move(tempPrefix)) {}

TFileRewriter::~TFileRewriter() {
  Abandon();
  Unlock();
}

bool TFileRewriter::Fail(const std::string& message) {
  FError = message;
  return false;
}

bool TFileRewriter::FailErrno(int errorNumber) { return Fail(SystemErrorText(errorNumber)); }

bool TFileRewriter::LockFile(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + LockWait;
  for (auto pause = std::chrono::milliseconds(1);; pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
    const TLockTry got = TryLock(fd);
    if (got == TLockTry::Held) return true;
    if (got == TLockTry::Failed) return false;
    if (Cancelled && Cancelled()) return Fail("The replace was stopped");
    if (std::chrono::steady_clock::now() >= deadline)
      return Fail("Another program keeps the file locked, so it was not changed");
    std::this_thread::sleep_for(pause);
  }
}

bool TFileRewriter::Write(const void* data, size_t count) {
  if (FTempFd < 0) return Fail("No temporary file is open");
  if (!WriteAllAt(FTempFd, static_cast<const char*>(data), count, FWritten, static_cast<int>(TRewriteFault::Write)))
    return false;
  FWritten += static_cast<int64_t>(count);
  return true;
}


bool TFileRewriter::CommitInPlace(std::string_view oldContent, std::string_view newContent) {
  if (!SameFileAsOpened()) return false;
  // 1. A whole copy of the old content on disk beside the file.
  std::string backup;
  if (!KeepCopyOfOld(oldContent, backup)) return false;
  // 2. The file itself, overwritten.
  if (!OverwriteInPlace(oldContent, newContent, backup)) return false;
  // 3. The copy is no longer needed: the new content is on disk.
  DropCopyOfOld(backup);
  return true;
}

bool TFileRewriter::KeepCopyOfOld(std::string_view oldContent, std::string& backup) {
  // The copy gets the name that marks it as this file's old content only once it is
  // complete and flushed, so a copy under that name is always whole.
  int bfd = -1;
  if (!CreateExclusive(InFolder(FFolder, "." + FPrefix), backup, bfd)) return false;
  FTempName = backup;
  const bool written =
      WriteAllAt(bfd, oldContent.data(), oldContent.size(), 0, static_cast<int>(TRewriteFault::BackupWrite));
  if (!FlushAndClose(bfd, written) || !NameCopyOfOld(backup)) {
    Abandon();
    return false;
  }
  FlushFolder();
  return true;
}

bool TFileRewriter::NameCopyOfOld(std::string& backup) {
  const std::string prefix = BackupPrefix(FRealPath, FPrefix);
  for (uint64_t n = 1;; ++n) {
    const std::string name = prefix + std::to_string(n) + ".tmp";
    std::string error;
    const TNameTry named = TryNameCopy(name, error);
    if (named == TNameTry::Taken) {
      FTempName = backup = name;
      return true;
    }
    if (named == TNameTry::Failed || n == 1000) return Fail(error);
  }
}

bool TFileRewriter::OverwriteKeepingCopy(std::string_view oldContent, std::string_view newContent,
                                         const std::string& backup,
                                         const std::function<bool(std::string_view bytes, int faultStep)>& writeWhole,
                                         const std::function<std::string()>& closeFile) {
  const std::string damaged = ". The file may be damaged; its old content is kept in " + backup;
  if (!writeWhole(newContent, static_cast<int>(TRewriteFault::Overwrite))) {
    const std::string reason = FError;
    if (writeWhole(oldContent, static_cast<int>(TRewriteFault::Restore))) {
      closeFile();
      Fail(reason);
      Abandon();
      return false;
    }
    closeFile();
    Fail(reason + damaged);
    FTempName.clear();  // the only whole copy: keep it
    return false;
  }
  const std::string closeError = closeFile();
  if (!closeError.empty()) {
    Fail(closeError + damaged);
    FTempName.clear();
    return false;
  }
  return true;
}

}  // namespace trawlex
