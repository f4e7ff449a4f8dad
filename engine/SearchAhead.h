#pragma once
// Searches candidate files ahead of the search worker on helper threads, so that reading
// and matching use every core while the worker still hands over every status line, item
// and count in path order, exactly as if it searched each file itself.
//
// Helpers start while the tree is still being read: each candidate is added as the scan
// finds it, and helpers search those in the order found. Once the scan is done the list
// is sealed in path order; from then on helpers take files in that order, at most
// `window` ahead of the one being handed over. Files above `maxFileSize` are read and
// searched a block at a time, so that no thread holds a large file whole.
//
// Each candidate has a slot: free, taken (being searched) or done. The worker takes its
// file's slot if no helper did and searches it itself; while a helper is still at it, the
// worker searches a file further on, and it replays the outcome once the helper is done.
//
// On a cold cache each of those threads would wait on one read at a time. Once the
// process is seen reading from storage, one more thread asks the system to read the next
// files into its cache (a bounded number of files and bytes ahead of the searching
// threads), so that many reads are in flight; it rests while the files it asks for turn
// out to be cached already.
// A few more threads list the folders ahead of the walk, so that the walk finds them in
// the cache too. With the tree in the cache all of them only look at a read counter now
// and then.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"

namespace trawlex {

class TSearchParams;
class TSearchFile;
class TRangeProcessor;

// When a search reads ahead of its searching threads: once the process is seen reading
// from storage (the default), from the start, or never.
enum class TReadAhead : uint8_t { WhenReadsWait, Always, Never };

class TSearchAhead {
 public:
  struct TOutcome {
    int32_t Finds = 0;
    bool Binary = false;  // left out as binary (SkipBinary)
    std::string Error;  // the message of a failed search, without the path
    bool OutOfMemory = false;  // it failed for want of memory
  };

  // Fails (with the helpers it started stopped again) when a helper cannot be created.
  TSearchAhead(TSearchParams* params, int threads, int64_t maxFileSize, size_t window,
               TReadAhead readAhead = TReadAhead::WhenReadsWait, std::function<bool()> stopRequested = {});
  // Stops the helpers and waits for them; the files may be freed only after this.
  ~TSearchAhead();
  TSearchAhead(const TSearchAhead&) = delete;
  TSearchAhead& operator=(const TSearchAhead&) = delete;

  // While the tree is read: new candidates, which helpers may search at once (with whether
  // a short read of each reaches its end). The paths must stay valid until this object is gone.
  void Add(const std::vector<std::string_view>& paths, const std::vector<bool>& shortReadsEnd);
  // While the tree is read: the first `count` of the order the candidates will be handed
  // over in are known (as their places in the order they were added); Take may hand
  // those over already. The helpers still search in the order found.
  void Settle(const std::vector<size_t>& addedOrder, size_t count);
  // After the scan (no more Add): the whole order, which begins with the settled ones.
  void Seal(const std::vector<size_t>& addedOrder);
  // For the file at position i of that order, in turn (settled or sealed): true with the
  // outcome when a helper searched it (waiting for it if needed), and its file item when it
  // has finds (else null); false when nobody has taken it, which now leaves it to the caller.
  bool Take(size_t i, TOutcome& outcome, std::unique_ptr<TSearchFile>& file);
  // The same for a settled file while the tree is still read, but only when a helper has
  // searched it already: false (leaving it as it is) when not, without waiting.
  bool TakeDone(size_t i, TOutcome& outcome, std::unique_ptr<TSearchFile>& file);
  // Before the scan: the folders below `baseDir` (hidden ones as the parameters say, skipped
  // ones left out) may be listed ahead of the walk, at most ReadAheadFolders more than
  // `entered` counts, once the tree is seen to be read from storage. Not for searches that
  // leave out what ignore files name (those folders the walk itself leaves out).
  void ReadFoldersAhead(const std::string& baseDir, const std::atomic<int64_t>* entered);
  // The entries of the folder at `path` (as the walk joins it) when a thread listing ahead
  // has them, which the walk then need not list again.
  bool TakeListing(const std::string& path, std::vector<TDirName>& names);

  // How far the read-ahead goes beyond the files being searched and the folders walked.
  static constexpr size_t ReadAheadFiles = 1024;
  static constexpr int64_t ReadAheadBytes = int64_t{64} << 20;
  static constexpr int64_t ReadAheadFolders = 256;

 private:
  enum : uint8_t { Free = 0, Taken = 1, Done = 2 };
  struct TSlot {
    TSlot(std::string_view path, bool shortReadsEnd) : Path(path), ShortReadsEnd(shortReadsEnd) {}
    std::string_view Path;
    bool ShortReadsEnd;
    std::atomic<uint8_t> State{Free};
    bool Advised = false;  // the read-ahead's own
    // Written by whoever took the slot before it turns Done: the file item, kept only when
    // it has finds, and the outcome.
    std::unique_ptr<TSearchFile> File;
    TOutcome Outcome;
  };
  // Appends the slots of addedOrder[order.size(), count) to `order` (Found is read as it is).
  void ExtendOrder(std::vector<TSlot*>& order, const std::vector<size_t>& addedOrder, size_t count);

  void Work();
  void StopHelpers();
  bool HelperHasWork() const;  // with Lock held
  // Takes the next free slot for the calling thread; null when there is none now.
  TSlot* Claim();
  void SearchSlot(TRangeProcessor& processor, TSlot& slot);
  void Publish(TSlot& slot, uint8_t state);
  std::unique_ptr<TRangeProcessor> MakeProcessor() const;
  // The read-ahead thread's own state.
  struct TAdvising {
    std::deque<std::pair<TSlot*, int64_t>> Advised;  // in the order asked for, with their bytes
    int64_t Bytes = 0;                                // theirs in all
    bool SealedBefore = false;
    std::string Path;
    TFolderCache Folders;
  };
  static constexpr size_t ProbeFiles = 32;
  void ReadAhead();
  void ReadAheadGuarded();
  // Asks for probes of files until one does not pay (`paid` false then), or until there is
  // nothing more to ask for; false when the search stops.
  bool AdviseWhilePaid(TAdvising& advising, bool always, bool& paid);
  // Asks for up to ProbeFiles files, counting them in `asked` and their bytes in
  // `probeBytes`; false when the search stops.
  bool AdviseProbe(TAdvising& advising, size_t& asked, int64_t& probeBytes);
  void StartListingFolders();
  void ListFoldersAhead();
  // The next slot the read-ahead asks for, or null when it is far enough ahead or has
  // reached the end of what was found (with Lock held).
  TSlot* NextToAdvise(const std::deque<std::pair<TSlot*, int64_t>>& advised, int64_t bytes);

  TSearchParams* Params;
  const int64_t MaxFileSize;
  const size_t Window;
  const TReadAhead ReadAheadMode;
  // Guards everything below but the slots' states and WorkerWaitsFor, which are atomic.
  // Each side is woken only when the other waits for it, so a file costs no extra switches.
  std::mutex Lock;
  std::condition_variable HelperWake, WorkerWake;
  std::deque<TSlot> Found;  // in the order the scan found them; growing keeps addresses
  std::vector<TSlot*> Order;                   // in hand-over order: settled so far, all once sealed
  bool Sealed = false;
  size_t NextFound = 0;  // before sealing: the next found slot a helper looks at
  size_t Next = 0;       // after sealing: the next position a helper looks at
  size_t Current = 0;    // the position being handed over
  bool Stop = false;
  std::atomic<bool> Stopping{false};  // Stop, read by scans between their blocks without Lock
  // The search's own stop, asked by the same scans.
  const std::function<bool()> SearchStopRequested;
  int HelpersWaiting = 0;
  std::atomic<const TSlot*> WorkerWaitsFor{nullptr};
  std::unique_ptr<TRangeProcessor> WorkerProcessor;  // for files the worker searches ahead
  std::vector<std::thread> Helpers;
  size_t AdviseFound = 0;  // the read-ahead's place in Found before sealing, in Order after
  std::condition_variable AheadWake;
  std::thread AheadThread;
  // The folders still to list ahead of the walk, last in first out (under Lock).
  struct TFolderJob {
    std::string Path, Rel;
  };
  std::vector<TFolderJob> FolderStack;
  // Listings made ahead, until the walk takes them (a bounded number).
  std::unordered_map<std::string, std::vector<TDirName>> Listings;
  // The folders being listed ahead now, and those of them the walk has listed itself
  // meanwhile (whose listings nobody will take).
  std::vector<std::string> BeingListed, ListedByWalk;
  int64_t FoldersListed = 0;
  int FoldersBusy = 0;
  bool FoldersGo = false;  // the tree is read from storage: the listing threads run
  const std::atomic<int64_t>* FoldersEntered = nullptr;
  std::condition_variable FolderWake;
  std::vector<std::thread> FolderThreads;
};

// The item of a candidate file before it is searched: its path; size and time are those of
// the file as it is read.
std::unique_ptr<TSearchFile> MakeCandidateFile(TSearchParams* params, std::string_view path);

// How many helpers a search uses: one per core besides the worker, which searches ahead
// too while it waits; none on a single core.
int DefaultSearchAheadThreads();

}  // namespace trawlex
