#pragma once
// Helpers of the window tests: a private settings file, answering the next modal dialog,
// letting deferred deletions run, desktop requests recorded, and saving a picture of a window.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "config/CfgElements.h"
#include "config/RegistryConfig.h"
#include "ui/Application.h"
#include "ui/FormBase.h"
#include "ui/services/ShellServices.h"

namespace trawlex::uitest {

// A settings store in a file of its own; Reopen gives a fresh store on the same file, as the
// next run of the program would see it.
class TTestStore {
 public:
  TTestStore() : FPath(FDir.filePath(QStringLiteral("Trawlex.reg")).toStdString()) {}
  IConfigPtr Open() const { return std::make_shared<TRegistryConfig>(SettingsRootKey(), FPath); }
  std::unique_ptr<TBaseCfgList> NewList(const std::string& section) const {
    return std::make_unique<TBaseCfgList>(Open(), section);
  }
  const std::string& Path() const { return FPath; }
  std::string Dir() const { return FDir.path().toStdString(); }

 private:
  QTemporaryDir FDir;
  std::string FPath;
};

// Desktop services that only record what was asked of them, each call as "open <url>",
// "start <program> <argument>|<argument>..." or "show <first item's url>". Works is what
// opening and starting answer; FileManager whether a file manager showed the items.
class TRecordingShell : public IShellServices {
 public:
  bool OpenUrl(const QUrl& url) override {
    Calls << QStringLiteral("open ") + url.toString();
    return Works;
  }
  bool StartDetached(const QString& program, const QStringList& arguments) override {
    Calls << QStringLiteral("start ") + program + QLatin1Char(' ') + arguments.join(QLatin1Char('|'));
    return Works;
  }
  void ShowItems(const QList<QUrl>& items, std::function<void(bool)> done) override {
    Calls << QStringLiteral("show ") + items.first().toString();
    done(FileManager);
  }
  QStringList Calls;
  bool Works = true;
  bool FileManager = false;
};

// Runs every deferred deletion (closing a window schedules its destruction).
inline void FlushDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Deletes every window of the application's list of windows, one at a time by its own pointer
// (a window may take others with it), and runs the deletions that follow.
inline void DeleteAllWindows(const TApp& app) {
  QList<QPointer<TfmGeneric>> windows;
  for (TfmGeneric* w : app.Windows()) windows.append(w);
  for (const QPointer<TfmGeneric>& w : windows) delete w.data();
  FlushDeletes();
}

// Calls `answer` with the modal widget as soon as one of class W shows (within 5 seconds).
template <class W = QWidget>
void WhenModal(std::function<void(W*)> answer) {
  auto* timer = new QTimer;
  auto ticks = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, ticks, answer] {
    auto* modal = qobject_cast<W*>(QApplication::activeModalWidget());
    if (modal && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      answer(modal);
    } else if (++*ticks > 500) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

// Clicks the button `button` of the next message box; records its title and text.
inline void AnswerMessageBox(QMessageBox::StandardButton button, QString* title = nullptr, QString* text = nullptr) {
  WhenModal<QMessageBox>([=](QMessageBox* box) {
    if (title) *title = box->windowTitle();
    if (text) *text = box->text();
    box->button(button)->click();
  });
}

// Runs the event loop for `ms` milliseconds the way the program does, so that it goes idle
// (waits for events) in between.
inline void RunLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Types `path` into a file dialog's name field and accepts it, as a user would.
inline void TypeFileName(QFileDialog* dialog, const QString& path) {
  auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (edit) edit->setText(path);
  QMetaObject::invokeMethod(dialog, "accept");
}

// Brings `window` to the front and waits until it is the active window, as a click on it does.
inline bool ActivateWindow(QWidget* window) {
  window->show();
  window->activateWindow();
  return QTest::qWaitForWindowActive(window);
}

// A key as the keyboard gives it: to the widget that holds the focus (the active window when
// none does), never to a widget the test picks.
inline void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
  QTest::keyClick(target, key, modifiers);
}

// A click at the middle of `part`, delivered to its window at that point the way the mouse
// does: whatever lies there gets it (and the focus, when it takes focus by clicks).
inline void ClickAt(QWidget* part, Qt::MouseButton button = Qt::LeftButton) {
  QWidget* window = part->window();
  QTest::mouseClick(window->windowHandle(), button, Qt::NoModifier, part->mapTo(window, part->rect().center()));
}

// A double click at `point` of `part` (its own coordinates), delivered to its window there.
inline void DoubleClickAt(QWidget* part, const QPoint& point) {
  QWidget* window = part->window();
  QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, part->mapTo(window, point));
}

// Saves a picture of `w` for a person to look at.
inline QString SaveShot(QWidget* w, const QString& name) {
  const QString dir = qEnvironmentVariable("TRAWLEX_UI_SHOTS", QDir::tempPath());
  const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
  w->grab().save(path);
  return path;
}

}  // namespace trawlex::uitest
