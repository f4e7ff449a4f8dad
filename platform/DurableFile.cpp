// The parts of the durable writes and the file lock that do not depend on the operating
// system; posix/ and win32/ hold the rest.
#include "platform/DurableFile.h"

#include <chrono>
#include <thread>

namespace trawlex {

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
