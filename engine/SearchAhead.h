#pragma once
// Searches the candidate files ahead of the search worker on helper threads, so that
// reading and matching use every core while the worker still hands over every status
// line, item and count in path order, exactly as if it searched each file itself.
//
// Each candidate has a slot: free, taken (being searched) or done. A helper takes free
// slots in path order, at most `window` files ahead of the one being handed over, and
// leaves files above `maxFileSize` to the worker, so that at most one large file is in
// memory at a time. The worker takes its file's slot if no helper did and searches it
// itself; otherwise, while the helper is still at it, the worker searches a file further
// on, and it replays the outcome once the helper is done.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/DirScanThread.h"

namespace trawlex {

class TSearchParams;
class TSearchFile;
class TRangeProcessor;

class TSearchAhead {
 public:
  struct TOutcome {
    int32_t Finds = 0;
    std::string Error;  // the message of a failed search, without the path
  };

  TSearchAhead(TSearchParams* params, const TCandidateList& files, int threads, int32_t maxFileSize, size_t window);
  // Stops the helpers and waits for them.
  ~TSearchAhead();
  TSearchAhead(const TSearchAhead&) = delete;
  TSearchAhead& operator=(const TSearchAhead&) = delete;

  // For file i, in order: true with the outcome when a helper searched it (waiting for it
  // if needed); false when nobody has taken it, which now leaves it to the caller.
  bool Take(size_t i, TOutcome& outcome);

 private:
  void Work();
  // Takes the next free file of the window for the calling thread; SIZE_MAX when none.
  size_t ClaimNext();
  void SearchSlot(TRangeProcessor& processor, size_t j);
  void Publish(size_t j, uint8_t state);
  std::unique_ptr<TRangeProcessor> MakeProcessor() const;

  enum : uint8_t { Free = 0, Taken = 1, Done = 2 };
  TSearchParams* Params;
  std::vector<TSearchFile*> Files;
  const int32_t MaxFileSize;
  const size_t Window;
  std::unique_ptr<std::atomic<uint8_t>[]> State;
  std::vector<TOutcome> Outcomes;  // written by a helper before its slot turns Done
  // Guards Next, Current, Stop, the waiting counts and the moves to Free and Done. Each
  // side is woken only when the other waits for it, so a file costs no extra switches.
  std::mutex Lock;
  std::condition_variable HelperWake, WorkerWake;
  size_t Next = 0;     // the next slot a helper looks at
  size_t Current = 0;  // the slot being handed over
  bool Stop = false;
  int HelpersWaiting = 0;
  size_t WorkerWaitsFor = SIZE_MAX;
  std::unique_ptr<TRangeProcessor> WorkerProcessor;  // for files the worker searches ahead
  std::vector<std::thread> Helpers;
};

// How many helpers a search uses: one per core besides the worker, which searches ahead
// too while it waits; none on a single core.
int DefaultSearchAheadThreads();

}  // namespace trawlex
