#include "ui/Action.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QThread>

#include "ui/ActionList.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

// ---- TAction -----------------------------------------------------------------------------

TAction::TAction(QObject* parent, const QString& name, const QString& caption, const QString& category,
                 const QKeySequence& shortcut, const QString& hint)
    : QAction(caption, parent), FCategory(category) {
  setObjectName(name);
  if (!shortcut.isEmpty()) setShortcut(shortcut);
  SetHint(hint);
  connect(this, &QAction::triggered, this, [this] { RunHandler([this] { Triggered(); }); });
}

void TAction::SetHint(const QString& hint) {
  setStatusTip(hint);
  setToolTip(hint.isEmpty() ? StripAccelerator(text()) : hint);
}

void TAction::SetEnabledRule(std::function<bool()> rule) {
  OnUpdate = [rule = std::move(rule)](TAction& a) { a.setEnabled(rule()); };
}

void TAction::Update() {
  if (OnUpdate) OnUpdate(*this);
}

bool TAction::Execute() {
  Update();
  if (!isEnabled()) return false;
  if (OnExecute) RunHandler([this] { OnExecute(*this); });
  return true;
}

void TAction::Triggered() {
  Update();
  if (!isEnabled()) {
    // The state changed since the last idle time: undo the toggle Qt made and do nothing.
    if (isCheckable()) {
      const QSignalBlocker quiet(this);
      setChecked(!isChecked());
    }
    return;
  }
  if (OnExecute) RunHandler([this] { OnExecute(*this); });
}

// ---- TActionList -------------------------------------------------------------------------

TActionList::TActionList(QObject* parent) : QObject(parent) {
  if (auto* dispatcher = QAbstractEventDispatcher::instance(thread())) {
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TActionList::UpdateAll);
  }
}

TAction* TActionList::Add(const QString& name, const QString& caption, const QString& category,
                          const QKeySequence& shortcut, const QString& hint) {
  auto* a = new TAction(parent() ? parent() : this, name, caption, category, shortcut, hint);
  Append(a);
  return a;
}

void TActionList::Append(TAction* action) {
  FActions.append(action);
  // An action destroyed before the list leaves it.
  connect(action, &QObject::destroyed, this, [this, action] { FActions.removeAll(action); });
}

TAction* TActionList::Find(const QString& name) const {
  for (TAction* a : FActions) {
    if (a->objectName() == name) return a;
  }
  return nullptr;
}

void TActionList::UpdateAll() {
  // An update rule may close a window and so destroy actions: walk a guarded copy.
  QList<QPointer<TAction>> actions;
  for (TAction* a : FActions) actions.append(a);
  for (const QPointer<TAction>& a : actions) {
    if (a) RunHandler([&a] { a->Update(); });
  }
}

}  // namespace trawlex
