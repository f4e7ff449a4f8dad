#pragma once
// Runs one whole search in the background: collects the candidate files, searches each
// with one matcher, hands every file item (at its first find) and line item (when lines
// are shown; once the line is whole) to its owner through OnItems, keeps the counters the
// window shows, and reports progress, errors and the time taken.
//
// Every notification runs on the main thread while the worker waits; at that moment the
// counters can be read consistently. After a stop request nothing more is handed over
// except the end notification. The parameters and their items must stay alive until the
// end notification has run.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/DirScanThread.h"
#include "engine/RangeProcessor.h"
#include "engine/SearchAhead.h"

namespace trawlex {

class TSearchParams;
class TSearchFile;

// The searches running in the program, counted on the main thread. Its owner, the
// application, hands it to every search it starts. OnTitle gets "Trawlex - Running" when the
// first search starts and "Trawlex" when the last ends.
class TRunningSearches {
 public:
  int32_t Count() const { return FCount; }
  void Started();
  void Ended();
  std::function<void(const std::string& title)> OnTitle;

 private:
  int32_t FCount = 0;
};

class TSearchThread : public TDirScanThread {
 public:
  using TDirScanThread::TDirScanThread;
  ~TSearchThread() override;

  // Told (on the main thread) when this search starts and when it ends; none when null.
  // Set before Start.
  TRunningSearches* RunningSearches = nullptr;

  bool ShowLines = true;
  // Helper threads that read and match files ahead of the hand-overs (0: none), and the
  // largest file read whole; larger ones are read and searched a block at a time.
  int SearchAheadThreads = DefaultSearchAheadThreads();
  int64_t SearchAheadMaxFileSize = 16 << 20;
  // When files and folders are read ahead of the search (only where helpers search ahead).
  TReadAhead ReadAhead = TReadAhead::WhenReadsWait;
  // While the tree is still read, the worker hands over the files whose place in the order is
  // known but the last this many: without helpers it searches them itself; with helpers
  // (which search in the order found meanwhile) it hands over those they have done and reads
  // on, never waiting for them. The items and texts are the same either way.
  size_t WalkLead = 256;
  // Where the items handed over go (the window's shown list), in order, on the main thread:
  // one call per item, or one per batch when hand-overs are batched (HandOverInterval).
  std::function<void(std::span<TSearchResult* const> items)> OnItems;
  // After items were given to OnItems: the width of the widest of them.
  std::function<void(int32_t width)> OnItemAdded;

  int32_t FilesWithFinds() const { return FFilesWithFinds.load(std::memory_order_relaxed); }
  int32_t FilesSearched() const { return FFilesSearched.load(std::memory_order_relaxed); }
  int32_t TotalFinds() const { return FTotalFinds.load(std::memory_order_relaxed); }
  // Files left out as binary (SkipBinary of the parameters); they count as searched.
  int32_t BinaryFilesSkipped() const { return FBinarySkipped.load(std::memory_order_relaxed); }
  // The file being searched; read it inside a hand-over.
  TSearchParams* SearchParams() const { return FSearchParams; }

  // Takes the parameters; anything but search parameters is refused with an error.
  TDirScanThread& SetParams(TDirScanParams* params) override;

 protected:
  void Execute() override;
  void ProcessFiles(const TCandidateList& files) override;
  void CandidatesAdded(const std::vector<std::string_view>& paths, const std::vector<bool>& shortReadsEnd) override;
  void CandidatesSettled(size_t count) override;
  void CandidatesEnding() override;
  bool ListedAhead(const std::string& dir, std::vector<TDirName>& names) override;

 private:
  void CountEnded();
  void OutOfMemory(TSearchFile* file);
  void HandleNewFindLine();
  void HandleLineCreated(TSearchLine* line);
  void AddItem(TSearchResult* item);
  void HandOverItems(const std::vector<TSearchResult*>& items);
  void HandOverSearched(TSearchFile* file, const TSearchAhead::TOutcome& outcome);
  void SearchHere(TSearchFile* file, bool shortReadsEnd);
  // Searches (or takes from a helper) and hands over the file at place `i` of the order;
  // with `taken`, its outcome and item were taken from a helper already.
  void ProcessFile(size_t i, std::string_view path, TSearchAhead::TOutcome* taken = nullptr,
                   std::unique_ptr<TSearchFile> file = nullptr);

  TSearchResult* PendingItem = nullptr;
  bool LastErrorOutOfMemory = false;  // the file being handed over ran out of memory
  std::shared_ptr<std::vector<TSearchResult*>> FOpenRun;  // the items of the batch's last hand-over
  uint64_t FOpenRunSlot = 0;  // its LastQueuedHandOver()
  int32_t FWidestHandedOver = 0;  // main thread: the widest item a batch handed over
  int64_t FWidestByte = -1;  // main thread: the widest any byte but a tab can be drawn
  TSearchParams* FSearchParams = nullptr;
  std::string FCurrentFile;
  size_t FHandedOver = 0;  // the first files of the order, handed over while the tree was read
  std::unique_ptr<TRangeProcessor> Processor;
  std::unique_ptr<TSearchAhead> Ahead;  // helpers searching ahead; only while the candidates live
  std::atomic<int32_t> FFilesWithFinds{0};
  std::atomic<int32_t> FFilesSearched{0};
  std::atomic<int32_t> FTotalFinds{0};
  std::atomic<int32_t> FBinarySkipped{0};
};

// Panel text of a running or finished search: "Found in 3 of 10 files", with
// "Searching 250 " in front while candidates remain and ", 2 binary files skipped" after
// when any were.
std::string SearchProgressText(int32_t filesWithFinds, int32_t filesSearched, int32_t filesFound,
                               int32_t binarySkipped = 0);

}  // namespace trawlex
