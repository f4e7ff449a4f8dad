#include "engine/Report.h"

#include "engine/SearchParams.h"

namespace trawlex {

std::vector<std::string> ReportHeaderLines(const TSearchParams& params, const std::string& foundText,
                                           const std::string& findsText) {
  std::vector<std::string> lines{"Time: " + FormatDateTime(ReportTimePattern, params.SearchTime)};
  for (auto& d : params.GetDescription()) lines.push_back(std::move(d));
  lines.push_back(foundText);
  lines.push_back(findsText);
  return lines;
}

}  // namespace trawlex
