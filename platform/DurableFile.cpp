// The parts of the durable writes and the file lock that do not depend on the operating
// system; posix/ and win32/ hold the rest.
#include "platform/DurableFile.h"

#include <cerrno>
#include <chrono>
#include <string_view>
#include <thread>

#include "platform/FileReplaceParts.h"
#include "platform/Platform.h"

namespace trawlex {

bool ForceDirectories(const std::string& dir, std::string& error) {
  if (dir.empty()) {
    error = SystemErrorText(ENOENT);
    return false;
  }
  if (DirectoryExists(dir)) return true;
  std::string trimmed = dir;
  while (trimmed.size() > 1 && std::string_view(PathDelims).find(trimmed.back()) != std::string_view::npos)
    trimmed.pop_back();
  const std::string parent = FolderOf(trimmed);
  if (parent != trimmed && parent != "." && !DirectoryExists(parent) && !ForceDirectories(parent, error)) return false;
  if (!rewrite_parts::MakeOneDirectory(trimmed, error)) return false;
  if (!DirectoryExists(trimmed)) {
    error = SystemErrorText(ENOTDIR);
    return false;
  }
  return true;
}

TFileLock::~TFileLock() { Release(); }

bool TFileLock::Acquire(const std::string& lockPath, int32_t timeoutMs, std::string& error) {
  Release();
  FTimedOut = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    switch (TryAcquire(lockPath, error)) {
      case TLockTry::Held: return true;
      case TLockTry::Failed: return false;
      case TLockTry::Again: continue;
      case TLockTry::Busy: break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      FTimedOut = true;
      error = "Timed out waiting for the lock " + lockPath;
      return false;
    }
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(20)) pause *= 2;
  }
}

}  // namespace trawlex
