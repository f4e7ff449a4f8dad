#pragma once
// The results report: the header (time, description, the two status texts) and one
// line per shown entry. The same lines go to a file, the printer or standard output.
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
// The shown entries as text, in list order.
void AppendReportItems(const TItemList& items, std::vector<std::string>& lines);
// Every result file followed by all its line items, in result order.
TItemList ListAllResults(const TSearchParams& params, bool withLines = true);

}  // namespace trawlex
