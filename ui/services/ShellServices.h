#pragma once
// What the window routines ask of the desktop: open a URL with its application, start a program
// detached, ask the file manager to show items. The desktop's answers are not observable in
// tests (the URL opener returns at once and reports nothing about the program it starts), so
// the routines reach the desktop through this interface, which a test may replace in the
// application object (TApp::SetShell). No request waits for the program it starts: the window
// never blocks on the desktop.
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

namespace trawlex {

class IShellServices {
 public:
  virtual ~IShellServices() = default;
  virtual bool OpenUrl(const QUrl& url) = 0;
  // Starts `program` with `arguments`, each passed as it is (no shell sees them); false when
  // the program cannot be started.
  virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
  // The file manager's ShowItems call. `done` runs once, now or when the answer comes, with
  // false when no file manager answered it.
  virtual void ShowItems(const QList<QUrl>& items, std::function<void(bool shown)> done) = 0;
};

// The desktop's services: URLs go to their applications, items to the file manager.
std::unique_ptr<IShellServices> MakeDesktopShell();

}  // namespace trawlex
