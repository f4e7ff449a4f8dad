#include "ui/FormBase.h"

#include "ui/Application.h"

#include <QGuiApplication>
#include <QPointer>
#include <QRandomGenerator>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

#include "base/Errors.h"
#include "ui/QtConfigAdapters.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

QRect ScreenArea(const QWidget* w) {
  const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

// ---- TfmGeneric ----------------------------------------------------------------------------

TfmGeneric::TfmGeneric(QWidget* owner, TApp* app) : QMainWindow(owner), FApp(app) {
  if (auto* generic = qobject_cast<TfmGeneric*>(owner); generic && !FApp) FApp = generic->FApp;
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("fmGeneric"));
  setWindowTitle(QStringLiteral("fmGeneric"));
  resize(442, 308);
}

TfmGeneric::~TfmGeneric() {
  if (FApp) FApp->Unregister(this);
  try {
    if (FCfgList) {
      // A minimised or maximised window leaves its last normal placement stored.
      if (WindowStateNumber(this) == 0) FPosElem->Save();
      FWindowStateElem->Save();
      DropPlacementElements();
      if (FOwnsCfgList) FCfgList->SaveAll();
    }
  } catch (const std::exception& e) {
    ReportError(e.what());
  }
  // The windows this one owns go before its list, since they save into it.
  QList<QPointer<TfmGeneric>> owned;
  for (QObject* child : children()) {
    if (auto* w = qobject_cast<TfmGeneric*>(child)) owned.append(w);
  }
  for (const QPointer<TfmGeneric>& w : owned) delete w.data();
  if (FOwnsCfgList) delete FCfgList;
  FCfgList = nullptr;
}

void TfmGeneric::DropPlacementElements() {
  FPosElem.reset();
  FWindowStateElem.reset();
}

void TfmGeneric::SetCfgList(TBaseCfgList* list) {
  TRAWLEX_ASSERT(!FPosElem, "A window is bound to a configuration list only once");
  if (list) {
    TQtComponent& self = TQtComponent::For(this);
    TBaseCfgElem& pos = UseTopLeftOnly() ? static_cast<TBaseCfgElem&>(list->AddTopLeft(self))
                                         : static_cast<TBaseCfgElem&>(list->AddBounds(self));
    // Extracted at once: the window owns its placement elements, and the list's LoadAll and
    // SaveAll never reach them.
    FPosElem.reset(static_cast<TBaseCfgElem*>(list->Extract(pos).release()));
    try {
      if (FPosElem->ExistsInStore()) FCentreOnShow = false;
      TBaseCfgElem& state = list->AddProp(self, "WindowState");
      FWindowStateElem.reset(static_cast<TBaseCfgElem*>(list->Extract(state).release()));
      // A stored value of the wrong type is reported; the window keeps its design placement.
      LoadElementOrReport(*FPosElem);
      LoadElementOrReport(*FWindowStateElem);
    } catch (...) {
      // Nothing is bound, so nothing half-loaded is saved over the stored values later.
      DropPlacementElements();
      throw;
    }
  }
  FCfgList = list;
}

void TfmGeneric::BindOwnerCfgList() {
  if (FCfgList) return;
  if (auto* owner = qobject_cast<TfmGeneric*>(parentWidget())) SetCfgList(owner->CfgList());
}


void TfmGeneric::Join() {
  if (FApp) FApp->Register(this);
}

TfmGeneric* TfmGeneric::CreateSameClass() { return Create<TfmGeneric>(nullptr, FApp); }

void TfmGeneric::ApplyDesignPlacement() {
  if (!FCentreOnShow) return;
  FCentreOnShow = false;
  if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) return;
  const QRect area = ScreenArea(this);
  QRect g = geometry();
  g.moveCenter(area.center());
  setGeometry(g);
}

void TfmGeneric::KeepOnScreen() {
  if (!isWindow() || (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) return;
  const QRect frame = frameGeometry();
  const int titleHeight = std::max(1, geometry().top() - frame.top());
  const QPoint titleBar(frame.center().x(), frame.top() + titleHeight / 2);
  const QScreen* screen = QGuiApplication::screenAt(titleBar);
  if (!screen) {
    // Off every screen: the one nearest to the title bar.
    qint64 best = -1;
    for (const QScreen* s : QGuiApplication::screens()) {
      const QRect a = s->availableGeometry();
      const qint64 dx = std::max({a.left() - titleBar.x(), 0, titleBar.x() - a.right()});
      const qint64 dy = std::max({a.top() - titleBar.y(), 0, titleBar.y() - a.bottom()});
      if (best < 0 || dx * dx + dy * dy < best) {
        best = dx * dx + dy * dy;
        screen = s;
      }
    }
  }
  const QRect area = screen ? screen->availableGeometry() : ScreenArea(this);
  const int left = std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() - frame.width() + 1));
  const int top = std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - frame.height() + 1));
  if (left != frame.left() || top != frame.top()) setGeometry(geometry().translated(left - frame.left(), top - frame.top()));
}

void TfmGeneric::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    ApplyDesignPlacement();
    // Stored bounds from another screen layout, or a random place for a new window, may lie
    // off the screen; so placed, the window would also be stored there.
    KeepOnScreen();
  }
  QMainWindow::showEvent(event);
}

TfmGeneric* TfmGeneric::NewWindow() {
  TfmGeneric* window = CreateSameClass();
  window->ApplyDesignPlacement();
  const QPoint at = window->geometry().topLeft();
  const std::vector<TfmGeneric*> live = FApp ? FApp->Windows() : std::vector<TfmGeneric*>{};
  for (auto it = live.rbegin(); it != live.rend(); ++it) {
    if (*it == window || (*it)->geometry().topLeft() != at) continue;
    const QRect screen = ScreenArea(window);
    auto* random = QRandomGenerator::global();
    const int left = random->bounded(std::max(1, static_cast<int>(std::lround(0.9 * screen.width()))));
    const int top = random->bounded(std::max(1, static_cast<int>(std::lround(0.9 * screen.height()))));
    window->setGeometry(left, top, window->width(), window->height());
    break;
  }
  window->show();
  return window;
}

// ---- TfmNMDialog ---------------------------------------------------------------------------

TfmNMDialog::TfmNMDialog(QWidget* owner, TApp* app) : TfmGeneric(owner, app) {
  // A window that another one owns stays above its owner, as a dialog does (the window manager
  // learns the owner from the dialog type), and keeps the buttons of a window.
  if (owner) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
  }
  setObjectName(QStringLiteral("fmNMDialog"));
  setWindowTitle(QStringLiteral("fmNMDialog"));
  resize(281, 151);
}

TfmNMDialog::~TfmNMDialog() {
  if (FClearRef) FClearRef();
}

void TfmNMDialog::RaiseInvalidRef() {
  RaiseAssertion(Fmt("Invalid ref in %s.SetSelfRef", QtClassName(metaObject())).c_str(), __FILE__, __LINE__);
}

}  // namespace trawlex
