#pragma once
// What the window routines ask of the desktop: open a URL with its application, start a program
// detached, ask the file manager to show items. The desktop's answers are not observable in
// tests (the URL opener returns at once and reports nothing about the program it starts), so
// the routines reach the desktop through this interface, which a test may replace.
#include <QString>
#include <QStringList>
#include <QUrl>

namespace trawlex {

class IShellServices {
 public:
  virtual ~IShellServices() = default;
  virtual bool OpenUrl(const QUrl& url) = 0;
  virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
  // The file manager's ShowItems call; false when no file manager answers it.
  virtual bool ShowItems(const QList<QUrl>& items) = 0;
};

// The services in use: the desktop's unless a test installed others.
IShellServices& ShellServices();
// Installs `services` (not owned); null restores the desktop's.
void SetShellServices(IShellServices* services);

}  // namespace trawlex
