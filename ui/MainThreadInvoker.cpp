#include "ui/MainThreadInvoker.h"

#include <QCoreApplication>
#include <QThread>

#include "base/Errors.h"

namespace trawlex {

TQtMainThreadInvoker::TQtMainThreadInvoker() : QObject(QCoreApplication::instance()) {}

TQtMainThreadInvoker& TQtMainThreadInvoker::Instance() {
  static TQtMainThreadInvoker* invoker = nullptr;
  TRAWLEX_ASSERT(QCoreApplication::instance() != nullptr, "The invoker needs the application object");
  if (!invoker) {
    invoker = new TQtMainThreadInvoker;
    // The application object deletes it; a later application (tests) gets a new one.
    QObject::connect(invoker, &QObject::destroyed, [] { invoker = nullptr; });
  }
  return *invoker;
}

void TQtMainThreadInvoker::InvokeAndWait(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void TQtMainThreadInvoker::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

}  // namespace trawlex
