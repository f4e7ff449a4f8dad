#include "engine/SearchParams.h"

#include <algorithm>
#include <cstring>

#include "base/TextUtils.h"
#include "engine/CaseFold.h"
#include "engine/RegexMatcher.h"
#include "platform/Platform.h"
#include "platform/Wildcard.h"

namespace trawlex {

std::vector<std::string> TDirScanParams::GetDescription() const {
  std::vector<std::string> lines{
      "Base directory: " + BaseDir,
      std::string("Include subdirectories: ") + (IncludeSubdirs ? "Yes" : "No"),
      "File names: " + StringsToText(FilePatterns),
  };
  // The choices that leave files out or take more in are named only when made.
  if (IncludeHidden) lines.push_back("Search hidden files: Yes");
  if (!SkipFolders.empty()) lines.push_back("Skip folders: " + StringsToText(SkipFolders));
  if (SkipIgnored) lines.push_back("Skip ignored files: Yes");
  return lines;
}

namespace {

// A path pattern as the folder's path below the searched folder is written: "./src",
// "src//gen" and "src/./gen" name the same folders as "/src" and "src/gen" do. One that
// names a single folder keeps its leading "/", so it stays a path, not a name at any depth.
std::string FolderPathPattern(std::string_view piece) {
  if (piece.find('/') == std::string_view::npos) return std::string(piece);
  std::string path;
  int segments = 0;
  for (size_t start = 0; start <= piece.size();) {
    size_t slash = piece.find('/', start);
    if (slash == std::string_view::npos) slash = piece.size();
    const std::string_view segment = piece.substr(start, slash - start);
    if (!segment.empty() && segment != ".") {
      if (segments++ > 0) path += '/';
      path += segment;
    }
    start = slash + 1;
  }
  if (segments == 1 || (piece.front() == '/' && !path.empty())) path.insert(0, "/");
  return path;
}

}  // namespace

void TDirScanParams::SetSkipFolders(const std::string& text) {
  SkipFolders.clear();
  size_t start = 0;
  for (;;) {
    const size_t bar = text.find('|', start);
    std::string_view piece = std::string_view(text).substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    while (!piece.empty() && static_cast<unsigned char>(piece.front()) <= ' ') piece.remove_prefix(1);
    while (!piece.empty() && (static_cast<unsigned char>(piece.back()) <= ' ' || piece.back() == '/')) piece.remove_suffix(1);
    if (const std::string pattern = FolderPathPattern(piece); !pattern.empty()) SkipFolders.push_back(pattern);
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
}

bool TDirScanParams::SkipsFolder(const std::string& name, const std::string& relPath) const {
  for (const std::string& pattern : SkipFolders) {
    if (pattern.find('/') == std::string::npos) {
      if (MatchesWildcard(name, pattern)) return true;
    } else if (MatchesWildcard(relPath, pattern[0] == '/' ? std::string_view(pattern).substr(1) : pattern)) {
      return true;
    }
  }
  return false;
}

bool BytesEqualExact(const unsigned char* a, const unsigned char* b, size_t n) { return std::memcmp(a, b, n) == 0; }

bool BytesEqualIgnoreCase(const unsigned char* a, const unsigned char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (UpperByte(a[i]) != UpperByte(b[i])) return false;
  return true;
}

std::vector<int32_t> FindAllPositions(const std::string& target, const std::string& text, bool caseSensitive) {
  std::vector<int32_t> positions;
  // An empty target is no text at all: it occurs nowhere (not at every position).
  if (target.empty()) return positions;
  if (!caseSensitive && FoldsBeyondAscii(target, text)) return FoldPositions(target, text);
  if (target.size() >= text.size()) return positions;
  const std::string t = caseSensitive ? target : UpperAscii(target);
  const std::string s = caseSensitive ? text : UpperAscii(text);
  for (size_t p = s.find(t); p != std::string::npos; p = s.find(t, p + 1)) positions.push_back(static_cast<int32_t>(p + 1));
  return positions;
}

bool ContainsTarget(const std::string& target, const std::string& exclude, bool caseSensitive) {
  return !FindAllPositions(target, exclude, caseSensitive).empty();
}

TSearchParams::TSearchParams() : SearchTime(NowLocal()) {}

TSearchParams::~TSearchParams() = default;

void TSearchParams::SetTarget(const std::string& target) {
  FTarget = target;
  UpdateExcludePositions();
}

void TSearchParams::SetExclude(const std::string& exclude) {
  FExclude = exclude;
  UpdateExcludePositions();
}

void TSearchParams::SetCaseSensitive(bool caseSensitive) {
  FCaseSensitive = caseSensitive;
  FExcludeCompare = caseSensitive ? &BytesEqualExact : &BytesEqualIgnoreCase;
  UpdateExcludePositions();
}

void TSearchParams::UpdateExcludePositions() { FExcludePositions = FindAllPositions(FTarget, FExclude, FCaseSensitive); }

void TSearchParams::SetCanvas(IDrawSurface* canvas) {
  FCanvas = canvas;
  UpdateLineNoWidth();
}

void TSearchParams::SetLineNoDigits(int32_t n) {
  if (n == FLineNoDigits.load(std::memory_order_relaxed)) return;  // the usual case, without the lock
  std::lock_guard lock(FWidthLock);
  if (n == FLineNoDigits.load(std::memory_order_relaxed)) return;
  FLineNoDigits.store(n, std::memory_order_relaxed);
  ComputeLineNoWidth();
}

void TSearchParams::UpdateLineNoWidth() {
  const int32_t colon = FCanvas ? FCanvas->TextWidth(": ") : 0;
  const int32_t zero = FCanvas ? FCanvas->TextWidth("0") : 0;
  std::lock_guard lock(FWidthLock);
  FColonWidth = colon;
  FZeroWidth = zero;
  ComputeLineNoWidth();
}

void TSearchParams::ComputeLineNoWidth() {
  FLineNoWidth.store(FColonWidth + FLineNoDigits.load(std::memory_order_relaxed) * FZeroWidth, std::memory_order_relaxed);
}

void TSearchParams::SortResults(TFileCompare compare) {
  std::stable_sort(Results.begin(), Results.end(),
                   [compare](const auto& a, const auto& b) { return compare(*a, *b) < 0; });
}

void TSearchParams::PrepareRegex() {
  Regex = RegExp ? std::make_shared<const TRegexSearch>(FTarget, FExclude, FCaseSensitive, WholeWord) : nullptr;
}

std::vector<std::string> TSearchParams::GetDescription() const {
  std::vector<std::string> lines = TDirScanParams::GetDescription();
  lines.push_back("Target: " + FTarget);
  if (HasExclude()) lines.push_back("Exclude String: " + FExclude);
  lines.push_back(std::string("Whole word: ") + (WholeWord ? "Yes" : "No"));
  // "senstive" is kept on purpose: saved reports and the headless output carry these lines word
  // for word, and whatever reads them back (scripts, comparisons of reports) matches them as they are.
  lines.push_back(std::string("Case senstive: ") + (FCaseSensitive ? "Yes" : "No"));
  if (SkipBinary) lines.push_back("Skip binary files: Yes");
  if (RegExp) lines.push_back("Regular expression: Yes");
  return lines;
}

}  // namespace trawlex
