#pragma once
// The base of every window (TfmGeneric) and of the small non-modal dialogs that exist at most
// once per reference variable (TfmNMDialog, ShowNMDialog).
//
// A generic window is bound to a configuration list: its own (the search window) or its
// owner's, so that the settings of child windows land in the section of the window that opened
// them. It keeps its placement ("<name>.bounds", or "<name>.TopLeft" when UseTopLeftOnly) and
// its window state ("<name>.WindowState") in that list, restores them on creation and saves
// them when it is destroyed. Closing a generic window always destroys it.
#include <QApplication>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "config/CfgElements.h"

namespace trawlex {

class TApp;

class TfmGeneric : public QMainWindow {
  Q_OBJECT
 public:
  // The window construction only; the window stays unbound. Use Create (which binds the
  // owner's list) or CreateUnbound rather than `new`, so that every class's own UseTopLeftOnly
  // is in force when the placement element is made. The window belongs to `app`, or, without
  // one, to its owner's application.
  explicit TfmGeneric(QWidget* owner = nullptr, TApp* app = nullptr);
  ~TfmGeneric() override;

  // Constructs a window of class T owned by `owner`, then binds the owner's list. A window
  // whose settings cannot be loaded is destroyed again and the error raised.
  template <class T, class... A>
  static T* Create(QWidget* owner, A&&... args) {
    auto window = std::unique_ptr<T>(new T(owner, std::forward<A>(args)...));
    window->BindOwnerCfgList();
    return Made(std::move(window));
  }
  // Constructs a window of class T that stays unbound until SetCfgList.
  template <class T, class... A>
  static T* CreateUnbound(QWidget* owner, A&&... args) {
    return Made(std::unique_ptr<T>(new T(owner, std::forward<A>(args)...)));
  }

  // False: the whole bounds are kept. Windows that keep only their top-left corner answer true.
  virtual bool UseTopLeftOnly() const { return false; }

  // Binds the window to `list` (null: none) and restores the stored placement and state.
  // A window is bound at most once.
  void SetCfgList(TBaseCfgList* list);
  // Binds the owner's list when the window has none yet and its owner is a generic window.
  void BindOwnerCfgList();
  TBaseCfgList* CfgList() const { return FCfgList; }

  // True when the window created its list: it then saves the whole list and destroys it
  // when it goes. Set it before binding the own list.
  void SetOwnsCfgList(bool owns) { FOwnsCfgList = owns; }

  // The window's name in the settings: its object name, or its class name without one.

  // Opens and shows another window of this window's class, owned by the application; when
  // another generic window stands exactly where the new one would appear, the new one moves to
  // a random place on the screen.
  TfmGeneric* NewWindow();

  // Resolves the design placement (centred on the screen) now instead of at the first show.
  void ApplyDesignPlacement();
  // Moves the window onto the screen under its title bar (the nearest screen when none is),
  // so that it lies wholly on that screen, or, when it is larger, with its top-left corner at
  // the screen's: the title bar is always on a screen. Every window is kept so when shown.
  void KeepOnScreen();

  // The application this window belongs to: given to a search window at its creation and
  // passed on to every generic window it owns; null for a window made without one.
  TApp* App() const { return FApp; }

  // The application's state changed ("Trawlex - Running" or back): a window whose title shows
  // it shows it anew.
  virtual void ApplicationTitleChanged() {}

 protected:
  // Runs once the window is fully made and has joined the list of windows.
  virtual void Created() {}

  // A new window of this window's class; NewWindow uses it. Classes that can be opened again
  // through NewWindow override it.
  virtual TfmGeneric* CreateSameClass();

  void showEvent(QShowEvent* event) override;

 private:
  template <class T>
  static T* Made(std::unique_ptr<T> window) {
    static_cast<TfmGeneric*>(window.get())->Join();
    // Should Created fail, the window is destroyed, which takes it out of the list again.
    static_cast<TfmGeneric*>(window.get())->Created();
    return window.release();
  }
  // Joins the application's list of windows (TApp::Windows), when the window has an application.
  void Join();
  void DropPlacementElements();

  TApp* FApp = nullptr;
  TBaseCfgList* FCfgList = nullptr;
  std::unique_ptr<TBaseCfgElem> FPosElem;
  std::unique_ptr<TBaseCfgElem> FWindowStateElem;
  bool FOwnsCfgList = false;
  bool FCentreOnShow = true;  // the design placement, until stored bounds take precedence
};

// A small non-modal dialog reached through one reference variable: while it lives the variable
// holds it; destroying it clears the variable. Its placement is its top-left corner.
class TfmNMDialog : public TfmGeneric {
  Q_OBJECT
 public:
  explicit TfmNMDialog(QWidget* owner = nullptr, TApp* app = nullptr);
  ~TfmNMDialog() override;

  bool UseTopLeftOnly() const override { return true; }

  // Records the variable through which the program reaches this dialog. The variable must hold
  // this dialog already; anything else is a programming error.
  template <class T>
  void SetSelfRef(T** ref) {
    if (ref == nullptr || *ref != this) RaiseInvalidRef();
    FClearRef = [this, ref] {
      if (*ref == this) *ref = nullptr;
    };
  }

 private:
  [[noreturn]] void RaiseInvalidRef();
  std::function<void()> FClearRef;
};

// Shows the single dialog of class T reached through `ref`, creating it when `ref` is empty
// (owned by `owner`, the window that asks for it, and bound to its list when `useCfg`); the
// dialog is shown non-modally and gets the focus. True when it was created by this call.
// The owner is given rather than taken from the active window, which may be another window,
// a dialog, or none at all.
template <class T>
bool ShowNMDialog(QWidget* owner, T*& ref, bool useCfg = true) {
  const bool created = ref == nullptr;
  if (created) {
    T* dialog = useCfg ? TfmGeneric::Create<T>(owner) : TfmGeneric::CreateUnbound<T>(owner);
    ref = dialog;
    dialog->SetSelfRef(&ref);
  }
  ref->show();
  ref->raise();
  ref->activateWindow();
  // The focus goes to the control the dialog gives it (the folder tree, say), not to the
  // dialog's frame, where keys would miss that control.
  if (QWidget* control = ref->focusWidget()) {
    control->setFocus();
  } else {
    ref->setFocus();
  }
  return created;
}

}  // namespace trawlex
