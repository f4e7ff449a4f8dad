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

void AppendReportItems(const TItemList& items, std::vector<std::string>& lines) {
  for (const TListEntry& e : items)
    if (e.Item) lines.push_back(e.Item->GetText());
}

TItemList ListAllResults(const TSearchParams& params, bool withLines) {
  TItemList list;
  for (int32_t i = 0; i < params.GetResultCount(); ++i) {
    TSearchFile* file = params.GetResult(i);
    list.push_back({std::string(), file});
    if (!withLines) continue;
    for (int32_t k = 0; k < file->GetLineCount(); ++k) list.push_back({std::string(), file->GetLine(k)});
  }
  return list;
}

}  // namespace trawlex
