#include "platform/Wildcard.h"

#include <string>

namespace trawlex {

static inline unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// Iterative glob with single-star backtracking: linear in practice, no recursion.
static bool Glob(std::string_view name, std::string_view pat) {
  size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pat.size() && (pat[p] == '?' || Upper(pat[p]) == Upper(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
  if (pattern == "*" || pattern == "*.*") return true;  // the usual pattern: every name
  if (Glob(name, pattern)) return true;
  if (name.find('.') == std::string_view::npos) {
    std::string dotted(name);
    dotted += '.';
    return Glob(dotted, pattern);
  }
  return false;
}

}  // namespace trawlex
