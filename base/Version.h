#pragma once
// The program's own version, as this build was made.
#include <cstdint>
#include <vector>

namespace trawlex {

// Major, minor, patch and build number.
std::vector<int32_t> ProgramVersion();

}  // namespace trawlex
