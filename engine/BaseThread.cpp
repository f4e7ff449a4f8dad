#include "engine/BaseThread.h"

#include <exception>
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
  } catch (const std::bad_alloc&) {
    FFatalError = "Out of memory";
  } catch (const std::exception& e) {
    FFatalError = e.what();
  } catch (...) {
    FFatalError = "Unknown error";
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

void TBaseThread::SyncMessage(const std::string& text, const TTextHandler& handler) {
  if (Terminated()) return;
  SyncText = text;
  SyncHandler = handler;
  Synchronize([this] {
    // A stop requested while this call waited in the main thread's queue still counts:
    // the request is made on the main thread, so this check cannot miss it.
    if (!Terminated() && SyncHandler) SyncHandler(SyncText);
  });
}

}  // namespace trawlex
