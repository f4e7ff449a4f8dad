#pragma once
// File-name wildcards as the directory search of the desktop platform applies them.
#include <string_view>

namespace trawlex {

// "*" matches any run of bytes, "?" any one byte; ASCII letters compare without regard to
// case. A name without a dot also matches as if it ended in one, so "*.*" matches every
// name and "*." the names without an extension.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

}  // namespace trawlex
