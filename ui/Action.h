#pragma once
// A command of a window: caption, category (the caption of the main menu it appears under),
// shortcut, hint, an update rule that sets its enabled (and checked) state, and what it does.
// The rule runs whenever the window goes idle (see TActionList) and again just before the
// action runs; an action that is disabled then does nothing, whether it was reached through a
// menu, a button or its shortcut.
#include <QAction>
#include <QKeySequence>
#include <QString>
#include <functional>

namespace trawlex {

class TAction : public QAction {
  Q_OBJECT
 public:
  // `name` is the object name (acSave); `hint` goes to the tool tip and the status tip.
  TAction(QObject* parent, const QString& name, const QString& caption, const QString& category = {},
          const QKeySequence& shortcut = {}, const QString& hint = {});

  QString Category() const { return FCategory; }
  void SetCategory(const QString& category) { FCategory = category; }
  QString Hint() const { return statusTip(); }
  void SetHint(const QString& hint);

  // The update rule: sets enabled, checked, caption as the window's state requires.
  std::function<void(TAction&)> OnUpdate;
  // What the action does.
  std::function<void(TAction&)> OnExecute;
  // Shorthand for an update rule that only decides whether the action is enabled.
  void SetEnabledRule(std::function<bool()> rule);

  // Runs the update rule (if any).
  void Update();
  // Runs the update rule, then the action when it is still enabled; true when it ran. A
  // failure is shown in an error box and does not escape.
  bool Execute();

 private:
  void Triggered();
  QString FCategory;
};

}  // namespace trawlex
