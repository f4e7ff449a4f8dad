#include "engine/BaseThread.h"

#include <exception>
#include <memory>
#include <new>

namespace trawlex {

TBaseThread::~TBaseThread() { WaitFor(); }

void TBaseThread::Start() { Thread = std::thread([this] { Run(); }); }

void TBaseThread::WaitFor() {
  if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id()) Thread.join();
}

void TBaseThread::Run() {
  try {
    Execute();
    FlushHandOvers();
  } catch (const std::bad_alloc&) {
    FFatalError = "Out of memory";
  } catch (const std::exception& e) {
    FFatalError = e.what();
  } catch (...) {
    FFatalError = "Unknown error";
  }
  if (!FQueue.empty()) {
    // What was found before a failure still reaches the window, ahead of the end notification.
    try {
      FlushHandOvers();
    } catch (...) {
      FQueue.clear();
    }
  }
  // The last touch of the worker: after this the main thread may delete the object,
  // whose destructor then joins this (finishing) thread.
  Invoker.Post([this] {
    DoTerminate();
    if (FreeOnTerminate) delete this;
  });
}

void TBaseThread::DoTerminate() {
  if (OnTerminate) OnTerminate(*this);
}

void TBaseThread::Synchronize(const std::function<void()>& fn) {
  FlushHandOvers();
  Invoker.InvokeAndWait(fn);
}

uint64_t TBaseThread::QueueHandOver(std::function<void()> fn, int units) {
  if (HandOverInterval.count() <= 0) {
    Synchronize(fn);
    return 0;
  }
  FQueue.push_back(std::move(fn));
  const uint64_t number = ++FHandOversQueued;
  GrowQueued(units);  // may hand the batch over already
  return number;
}

void TBaseThread::GrowQueued(int units) {
  FQueuedUnits += units;
  FlushIfDue();
}

void TBaseThread::FlushIfDue() {
  if (FQueuedUnits >= HandOverLimit || std::chrono::steady_clock::now() - FLastFlush >= HandOverInterval)
    FlushHandOvers();
}

void TBaseThread::FlushHandOvers() {
  if (FQueue.empty()) return;
  auto batch = std::make_shared<std::vector<std::function<void()>>>();
  batch->swap(FQueue);
  FQueuedUnits = 0;
  if (!Terminated()) {
    auto run = [this, batch] {
      for (const auto& fn : *batch) {
        if (Terminated()) break;  // a stop request made by one of them ends the flow there
        fn();
      }
      FBatchesInFlight.fetch_sub(1, std::memory_order_release);
    };
    // The worker goes on while the main thread takes the batch; it waits only when the main
    // thread has fallen that far behind. The calls run in the order they were made either way:
    // a posted call and a waiting one travel through the same queue, and the end notification
    // is posted after them.
    if (FBatchesInFlight.fetch_add(1, std::memory_order_acq_rel) < MaxBatchesInFlight) {
      Invoker.Post(std::move(run));
    } else {
      Invoker.InvokeAndWait(run);
    }
  }
  FLastFlush = std::chrono::steady_clock::now();
}

void TBaseThread::SyncMessage(const std::string& text, const TTextHandler& handler) {
  if (Terminated()) return;
  if (HandOverInterval.count() > 0) {
    QueueHandOver([this, text, &handler] {
      if (!Terminated() && handler) handler(text);
    });
    return;
  }
  SyncText = text;
  SyncHandler = handler;
  Synchronize([this] {
    // A stop requested while this call waited in the main thread's queue still counts:
    // the request is made on the main thread, so this check cannot miss it.
    if (!Terminated() && SyncHandler) SyncHandler(SyncText);
  });
}

}  // namespace trawlex
