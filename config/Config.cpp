#include "config/Config.h"

#include <algorithm>

#include "base/TextUtils.h"

namespace trawlex {

std::string StringsText(const TStrings& lines) {
  std::string out;
  for (const auto& line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

void SetStringsText(TStrings& lines, const std::string& text) {
  lines.clear();
  for (const std::string_view line : SplitTextLines(text)) lines.emplace_back(line);
}

void IConfig::MergeStrings(const std::string& section, const std::string& ident, const TStrings& source,
                           int32_t limit) {
  TStrings stored;
  ReadStrings(section, ident, stored, stored);
  WriteStrings(section, ident, MergeHistory(source, stored, limit));
}

TStrings MergeHistory(const TStrings& source, const TStrings& stored, int32_t limit) {
  TStrings merged = source;
  for (const std::string& line : stored) {
    if (static_cast<int64_t>(merged.size()) >= limit) break;
    if (line.empty()) continue;
    const bool known = std::any_of(merged.begin(), merged.end(),
                                   [&](const std::string& m) { return CompareTextAscii(m, line) == 0; });
    if (!known) merged.push_back(line);
  }
  return merged;
}

std::vector<std::string_view> SplitTextLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace trawlex
