#pragma once
// The header of the results report (time, description, the two status texts); each
// shown entry's GetText follows it. The same lines go to a file, the printer or standard
// output.
#include <string>
#include <vector>

#include "engine/SearchResult.h"

namespace trawlex {

class TSearchParams;

// How the report's "Time: " line shows the search time.
constexpr const char* ReportTimePattern = "yyyy-mm-dd hh:nn:ss";

// The header: "Time: ", the description lines, then the two status texts.
std::vector<std::string> ReportHeaderLines(const TSearchParams& params, const std::string& foundText,
                                           const std::string& findsText);
}  // namespace trawlex
