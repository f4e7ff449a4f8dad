#pragma once
// A worker thread that hands text and calls to the main (window) thread and waits for
// them, honours a stop request, and ends with a notification run on the main thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace trawlex {

// How a worker reaches the main thread. The window implements it with the toolkit's
// blocking queued call; tests with a queue that the test's thread pumps; the headless
// mode by running calls under a lock.
class IMainThreadInvoker {
 public:
  virtual ~IMainThreadInvoker() = default;
  // Runs `fn` on the main thread; returns once it has returned.
  virtual void InvokeAndWait(const std::function<void()>& fn) = 0;
  // Queues `fn` for the main thread and returns at once.
  virtual void Post(std::function<void()> fn) = 0;
};

using TTextHandler = std::function<void(const std::string&)>;

class TBaseThread {
 public:
  explicit TBaseThread(IMainThreadInvoker& invoker) : Invoker(invoker) {}
  // Waits for the run to end; request a stop first when it should end early.
  virtual ~TBaseThread();
  TBaseThread(const TBaseThread&) = delete;
  TBaseThread& operator=(const TBaseThread&) = delete;

  // Called on the main thread after the run has ended, whether it finished or stopped.
  std::function<void(TBaseThread&)> OnTerminate;
  // Delete the object right after the end notification has run.
  bool FreeOnTerminate = false;

  void Start();
  // Asks the run to stop; it only sets the flag that the worker checks.
  void Terminate() { FTerminated.store(true, std::memory_order_relaxed); }
  bool Terminated() const { return FTerminated.load(std::memory_order_relaxed); }
  // The message of an error that escaped Execute and ended the run, or empty.
  const std::string& FatalError() const { return FFatalError; }
  // Blocks until the worker has left Execute (not for the end notification).
  void WaitFor();

  // Hand-overs in batches: with a positive interval, text hand-overs (and what a derived worker
  // queues) are collected and run on the main thread together, in the order they were made,
  // once `HandOverInterval` has passed since the last batch or `HandOverLimit` units are
  // waiting. A quiet worker's first hand-over still goes at once, and every direct
  // Synchronize, the end of the run and a stop request keep the order and end the flow as
  // single hand-overs do. Set before Start.
  std::chrono::milliseconds HandOverInterval{0};
  int HandOverLimit = 4096;
  // Batches handed over without waiting for the main thread to take them; the next one waits
  // for all of them. The items a batch hands over must stay valid until the end notification.
  // More than one keeps the main thread's queue from ever running dry when it is the slower:
  // the toolkit then holds back its timers (a window's timers stood still for 350 ms).
  int MaxBatchesInFlight = 1;

 protected:
  virtual void Execute() = 0;
  // Runs `fn` on the main thread while the worker waits, after every queued hand-over.
  void Synchronize(const std::function<void()>& fn);
  // Queues `fn` for the next batch (runs it at once when batches are off); `units` counts it
  // against HandOverLimit. Returns the hand-over's number (see LastQueuedHandOver), 0 when
  // it ran at once.
  uint64_t QueueHandOver(std::function<void()> fn, int units = 1);
  // Counts more units against the hand-over queued last (a batch that grows in place).
  void GrowQueued(int units);
  // The number of the last hand-over still queued, 0 when none is: a derived worker that
  // grows its last one checks that it is still queued and nothing was queued after it.
  // Numbers never repeat, so a hand-over already run is never taken for a new one that
  // happens to stand at the same place in a later batch.
  uint64_t LastQueuedHandOver() const { return FQueue.empty() ? 0 : FHandOversQueued; }
  // Hands every queued hand-over to the main thread, to run there in order (see
  // MaxBatchesInFlight).
  void FlushHandOvers();
  // Hands `text` to `handler` on the main thread and waits; dropped after a stop request.
  void SyncMessage(const std::string& text, const TTextHandler& handler);
  virtual void DoTerminate();

  std::string SyncText;
  TTextHandler SyncHandler;

 private:
  void Run();

  void FlushIfDue();

  IMainThreadInvoker& Invoker;
  std::vector<std::function<void()>> FQueue;  // worker only
  int FQueuedUnits = 0;
  std::atomic<int> FBatchesInFlight{0};  // posted to the main thread and not yet taken
  uint64_t FHandOversQueued = 0;  // every hand-over ever queued
  std::chrono::steady_clock::time_point FLastFlush{};
  std::atomic<bool> FTerminated{false};
  std::string FFatalError;  // written by the worker before the end notification is posted
  std::thread Thread;
};

}  // namespace trawlex
