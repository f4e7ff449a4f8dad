#pragma once
// The file rewriter's fault seam, shared by its POSIX and Windows versions. Only a build with
// TRAWLEX_REWRITE_FAULTS (the test copy of the rewriter) keeps a table of injected faults;
// in the shipped program every check below is a constant "no fault" that the compiler drops.
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/FileReplace.h"

namespace trawlex::rewrite_faults {

struct TFaultSetting {
  bool Active = false;
  int Error = 0;
  int64_t AfterBytes = 0;
};

#ifdef TRAWLEX_REWRITE_FAULTS
TFaultSetting FaultFor(TRewriteFault step);
#else
constexpr TFaultSetting FaultFor(TRewriteFault) { return {}; }
#endif

// How many of `count` bytes written at `offset` go through before the fault `f` stops the
// step: all of them without one.
inline size_t BytesBeforeFault(const TFaultSetting& f, int64_t offset, size_t count) {
  if (!f.Active) return count;
  const int64_t room = f.AfterBytes - offset;
  if (room >= static_cast<int64_t>(count)) return count;
  return room > 0 ? static_cast<size_t>(room) : 0;
}

// Fails a step without a byte count when its fault is set: sets errno and says so.
inline bool Faulted(TRewriteFault step) {
  const TFaultSetting f = FaultFor(step);
  if (!f.Active) return false;
  errno = f.Error;
  return true;
}

}  // namespace trawlex::rewrite_faults
