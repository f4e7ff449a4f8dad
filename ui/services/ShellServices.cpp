#include "ui/services/ShellServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QProcess>

namespace trawlex {

namespace {

class TDesktopShell : public IShellServices {
 public:
  bool OpenUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }

  bool StartDetached(const QString& program, const QStringList& arguments) override {
    return QProcess::startDetached(program, arguments);
  }

  void ShowItems(const QList<QUrl>& items, std::function<void(bool)> done) override {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
      done(false);
      return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    QStringList uris;
    for (const QUrl& u : items) uris << u.toString(QUrl::FullyEncoded);
    call << uris << QString();
    // Asked without waiting: a file manager that is slow to start must not freeze the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [done](QDBusPendingCallWatcher* w) {
      const bool shown = !w->isError();
      w->deleteLater();
      done(shown);
    });
  }
};

}  // namespace

std::unique_ptr<IShellServices> MakeDesktopShell() { return std::make_unique<TDesktopShell>(); }

}  // namespace trawlex
