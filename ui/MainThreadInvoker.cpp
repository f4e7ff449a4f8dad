#include "ui/MainThreadInvoker.h"

#include <QCoreApplication>
#include <QThread>

#include "base/Errors.h"

namespace trawlex {

TQtMainThreadInvoker::TQtMainThreadInvoker() {
  TRAWLEX_ASSERT(QCoreApplication::instance() != nullptr, "The invoker needs the application object");
  TRAWLEX_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread(),
                 "The invoker must be made on the main thread");
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
