#pragma once
// Helpers of the window tests: a private settings file, answering the next modal dialog,
// letting deferred deletions run, and saving a picture of a window.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "config/CfgElements.h"
#include "config/RegistryConfig.h"

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

// Runs every deferred deletion (closing a window schedules its destruction).
inline void FlushDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Calls `answer` with the next modal widget as soon as one shows (within 5 seconds).
inline void WhenModal(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer;
  auto started = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, started, answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      answer(modal);
    } else if (++*started > 500) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

// Clicks the message box button `button` of the next message box; records its title and text.
inline void AnswerMessageBox(QMessageBox::StandardButton button, QString* title = nullptr, QString* text = nullptr) {
  WhenModal([=](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return;
    if (title) *title = box->windowTitle();
    if (text) *text = box->text();
    box->button(button)->click();
  });
}

// Saves a picture of `w` for a person to look at.
inline QString SaveShot(QWidget* w, const QString& name) {
  const QString dir = qEnvironmentVariable("TRAWLEX_UI_SHOTS", QDir::tempPath());
  const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
  w->grab().save(path);
  return path;
}

}  // namespace trawlex::uitest
