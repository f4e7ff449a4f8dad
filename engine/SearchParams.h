#pragma once
// The record of one search: what to look for and where, the display settings of the
// result list, and the owner of the results once the search has run.
//
// Threads: the window fills the record before the worker starts and leaves it alone
// while the worker runs. The worker reads the inputs, appends to Results and raises the
// line-number digits; LineNoDigits/LineNoWidth are atomics and the widths they are built
// from are measured on the main thread and cached, so the worker never touches the
// window's surface.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "engine/DrawSurface.h"
#include "engine/SearchResult.h"
#include "platform/DateTime.h"

namespace trawlex {

class TDirScanParams {
 public:
  TDirScanParams() = default;
  virtual ~TDirScanParams() = default;
  TDirScanParams(const TDirScanParams&) = delete;
  TDirScanParams& operator=(const TDirScanParams&) = delete;

  std::string BaseDir;
  std::vector<std::string> FilePatterns;
  bool IncludeSubdirs = false;
  // Files and folders whose names begin with a full stop are searched too.
  bool IncludeHidden = false;
  // Folders never entered: a pattern (wildcards as the file patterns) is matched against a
  // folder's name, or, when it holds a "/", against its path below BaseDir ("/" between
  // names on every system).
  std::vector<std::string> SkipFolders;
  // From the text of the input: patterns separated by "|", blanks around each and a "/" at
  // its end cut off, empty ones dropped. A "/" at the start ties a name to the base folder.
  void SetSkipFolders(const std::string& text);
  // What git ignores in a work tree is left out (GitIgnore.h): its folders are never entered.
  bool SkipIgnored = false;
  // Whether a folder named `name`, at `relPath` below BaseDir, is skipped.
  bool SkipsFolder(const std::string& name, const std::string& relPath) const;

  void SetFilePatterns(const std::vector<std::string>& patterns) { FilePatterns = patterns; }
  virtual std::vector<std::string> GetDescription() const;
};

// Equality of `n` bytes under the search's case rule.
using TBytesEqual = bool (*)(const unsigned char* a, const unsigned char* b, size_t n);
bool BytesEqualExact(const unsigned char* a, const unsigned char* b, size_t n);
bool BytesEqualIgnoreCase(const unsigned char* a, const unsigned char* b, size_t n);

// Every 1-based position at which `target` occurs in `text`, overlaps included; empty
// when the target is empty or not shorter than the text.
std::vector<int32_t> FindAllPositions(const std::string& target, const std::string& text, bool caseSensitive);
// Whether this exclude text would take effect for this target.
bool ContainsTarget(const std::string& target, const std::string& exclude, bool caseSensitive);

class TRegexSearch;

class TSearchParams : public TDirScanParams {
 public:
  TSearchParams();
  ~TSearchParams() override;

  bool WholeWord = false;
  // The target and the exclude text are regular expressions (RegexMatcher.h).
  bool RegExp = false;
  // Compiled from the target, the exclude text, the case rule and whole word by
  // PrepareRegex, before the search starts; read-only while it runs.
  std::shared_ptr<const TRegexSearch> Regex;
  // Raises ETrawlexError, naming the position and the reason, for a pattern that does not
  // compile. Nothing to do outside regular-expression mode.
  void PrepareRegex();
  // A file whose first BinaryProbeSize bytes hold a zero byte is left out (and counted).
  bool SkipBinary = false;
  uint8_t SortKey = 0;  // 0 full name, 1 size, 2 time, 3 finds
  bool Descending = false;
  TDateTime SearchTime;

  const std::string& Target() const { return FTarget; }
  const std::string& Exclude() const { return FExclude; }
  bool CaseSensitive() const { return FCaseSensitive; }
  bool HasExclude() const { return !FExcludePositions.empty(); }
  const std::vector<int32_t>& ExcludePositions() const { return FExcludePositions; }
  TBytesEqual ExcludeCompare() const { return FExcludeCompare; }
  IDrawSurface* Canvas() const { return FCanvas; }
  int32_t LineNoDigits() const { return FLineNoDigits.load(std::memory_order_relaxed); }
  int32_t LineNoWidth() const { return FLineNoWidth.load(std::memory_order_relaxed); }

  void SetTarget(const std::string& target);
  void SetExclude(const std::string& exclude);
  void SetCaseSensitive(bool caseSensitive);
  // Main thread: stores the measuring surface and measures the line-number column.
  void SetCanvas(IDrawSurface* canvas);
  // Any thread: raises or sets the digit count; re-measures only on a change.
  void SetLineNoDigits(int32_t n);
  // Main thread: re-measures ": " and "0" on the surface (after a font change).
  void UpdateLineNoWidth();
  void UpdateExcludePositions();

  int32_t GetResultCount() const { return static_cast<int32_t>(Results.size()); }
  TSearchFile* GetResult(int32_t index) const {
    TRAWLEX_ASSERT(index >= 0 && static_cast<size_t>(index) < Results.size(), "Invalid value in GetResult");
    return Results[static_cast<size_t>(index)].get();
  }
  void AddResult(std::unique_ptr<TSearchFile> file) { Results.push_back(std::move(file)); }
  // Room for `n` more results, so that adding them cannot run short of memory. Asked for a
  // little at a time, the room grows by half at least, not by a copy of all each time.
  void ReserveResults(size_t n) {
    if (Results.capacity() - Results.size() >= n) return;
    Results.reserve(std::max(Results.size() + n, Results.capacity() + Results.capacity() / 2));
  }
  void SortResults(TFileCompare compare);

  std::vector<std::string> GetDescription() const override;

 private:
  void ComputeLineNoWidth();  // with FWidthLock held

  std::string FTarget, FExclude;
  bool FCaseSensitive = false;
  TBytesEqual FExcludeCompare = &BytesEqualIgnoreCase;
  std::vector<int32_t> FExcludePositions;
  IDrawSurface* FCanvas = nullptr;
  std::mutex FWidthLock;  // guards the two cached widths and digit changes
  int32_t FColonWidth = 0, FZeroWidth = 0;
  std::atomic<int32_t> FLineNoDigits{1};
  std::atomic<int32_t> FLineNoWidth{0};
  std::vector<std::unique_ptr<TSearchFile>> Results;
};

}  // namespace trawlex
