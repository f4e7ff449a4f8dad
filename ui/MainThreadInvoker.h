#pragma once
// How workers reach the window thread in the program: a blocking queued call for the hand-overs
// and a queued call for the end notification. One invoker serves the whole application: the
// application object (TApp::Invoker) makes it on the main thread and owns it.
#include <QObject>

#include "engine/BaseThread.h"

namespace trawlex {

class TQtMainThreadInvoker : public QObject, public IMainThreadInvoker {
  Q_OBJECT
 public:
  // Lives in the thread that makes it, which must be the main thread.
  TQtMainThreadInvoker();

  // Runs `fn` at once when called on the main thread, else on it while the caller waits.
  void InvokeAndWait(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
};

}  // namespace trawlex
