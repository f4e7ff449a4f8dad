#pragma once
// The actions of one window, in order. The list re-evaluates every action's update rule each
// time the thread's event loop is about to wait for more events, so enabled and checked states
// follow the window's state without any code having to remember them.
#include <QList>
#include <QObject>

#include "ui/Action.h"

namespace trawlex {

class TActionList : public QObject {
  Q_OBJECT
 public:
  explicit TActionList(QObject* parent = nullptr);

  // Creates an action owned by the list's parent (or the list) and appends it.
  TAction* Add(const QString& name, const QString& caption, const QString& category = {},
               const QKeySequence& shortcut = {}, const QString& hint = {});
  void Append(TAction* action);
  const QList<TAction*>& Actions() const { return FActions; }
  TAction* Find(const QString& name) const;

  // Runs every update rule now.
  void UpdateAll();

 private:
  QList<TAction*> FActions;
};

}  // namespace trawlex
