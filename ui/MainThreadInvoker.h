#pragma once
// How workers reach the window thread in the program: a blocking queued call for the hand-overs
// and a queued call for the end notification. One invoker serves the whole application; it
// lives in the thread that created the application object.
#include <QObject>

#include "engine/BaseThread.h"

namespace trawlex {

class TQtMainThreadInvoker : public QObject, public IMainThreadInvoker {
  Q_OBJECT
 public:
  // The application's invoker, created on first use (on the main thread) as a child of the
  // application object.
  static TQtMainThreadInvoker& Instance();

  // Runs `fn` at once when called on the main thread, else on it while the caller waits.
  void InvokeAndWait(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;

 private:
  TQtMainThreadInvoker();
};

}  // namespace trawlex
