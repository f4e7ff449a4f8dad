#include "platform/RewriteFaults.h"

// Empty in the shipped library: the table and InjectRewriteFault exist only in the test copy.
#ifdef TRAWLEX_REWRITE_FAULTS
#include <array>
#include <mutex>

namespace trawlex {

namespace {
std::mutex FaultLock;
std::array<rewrite_faults::TFaultSetting, 8> Faults;  // guarded by FaultLock, indexed by TRewriteFault
}  // namespace

rewrite_faults::TFaultSetting rewrite_faults::FaultFor(TRewriteFault step) {
  std::lock_guard lock(FaultLock);
  return Faults[static_cast<size_t>(step)];
}

void InjectRewriteFault(TRewriteFault step, int errorNumber, int64_t afterBytes) {
  std::lock_guard lock(FaultLock);
  Faults[static_cast<size_t>(step)] = {step != TRewriteFault::None, errorNumber, afterBytes};
}

void ClearRewriteFaults() {
  std::lock_guard lock(FaultLock);
  Faults = {};
}

}  // namespace trawlex
#endif
