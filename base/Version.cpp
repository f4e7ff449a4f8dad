#include "base/Version.h"

#include "TrawlexVersion.h"

namespace trawlex {

std::vector<int32_t> ProgramVersion() {
  return {TRAWLEX_VERSION_MAJOR, TRAWLEX_VERSION_MINOR, TRAWLEX_VERSION_PATCH, TRAWLEX_VERSION_BUILD};
}

}  // namespace trawlex
