#pragma once
// Thin adapters that let configuration elements reach Qt objects: any QObject as a component
// (and a widget as a control with a rectangle) whose named properties are looked up in the
// property registry, a QFont as the font record, and a few line lists (combo-box items, the
// lines of a plain-text edit).
#include <QFont>
#include <QObject>
#include <QString>
#include <functional>
#include <string>

#include "base/TextUtils.h"
#include "config/CfgBindings.h"

class QComboBox;
class QPlainTextEdit;
class QWidget;

namespace trawlex {

// The component face of a QObject. Its class name is the Qt class name without a namespace;
// its properties are the ones registered for that class or one of its base classes: Width,
// Height, Left, Top, Visible, Enabled, Hint, WindowState (widgets), Checked (buttons and
// actions), Enabled and Visible (actions), Text (line edits, combo boxes, buttons, labels,
// plain-text edits), ShowCaptions (tool bars), Value (spin boxes), and every Q_PROPERTY whose
// name starts with an upper-case letter (such as TDirComboBox's Directory).
//
// The adapter is a child of the object it serves, so it lives exactly as long as that object;
// an element bound to it must be destroyed before the object is.
class TQtComponent : public QObject, public ICfgControl {
  Q_OBJECT
 public:
  // The adapter of `object`, created on first use.
  static TQtComponent& For(QObject* object);

  QObject* Object() const { return parent(); }
  QWidget* Widget() const;

  std::string ComponentName() const override;
  std::string ComponentClassName() const override;
  const TPropRegistry& Properties() const override;

  // A widget's geometry: for a window, its client area on the screen; Right and Bottom are
  // exclusive (Left + Width, Top + Height).
  TCfgRect GetBounds() const override;
  void SetBounds(const TCfgRect& bounds) override;
  void SetLeft(int32_t left) override;
  void SetTop(int32_t top) override;

 private:
  explicit TQtComponent(QObject* object);
};

// The registry name of a Qt class: its meta-object name without any namespace qualifier.
std::string QtClassName(const QMetaObject* meta);

// Window state as a number: 0 normal, 1 minimised, 2 maximised.
int32_t WindowStateNumber(const QWidget* window);
void SetWindowStateNumber(QWidget* window, int32_t state);

// A QFont variable as the font record. Height is in pixels: negative for the character height
// (what Qt calls the pixel size), positive for the cell height (ascent plus descent). Qt has no
// character set, so the adapter keeps the stored one for the next save. `changed` runs after
// every change, so that a window can apply the font to its widgets.
class TQtFont : public ICfgFont {
 public:
  explicit TQtFont(QFont& font, std::function<void()> changed = {});
  int32_t Height() const override;
  void SetHeight(int32_t value) override;
  TFontPitch Pitch() const override;
  void SetPitch(TFontPitch value) override;
  uint8_t Style() const override;
  void SetStyle(uint8_t value) override;
  uint8_t Charset() const override { return FCharset; }
  void SetCharset(uint8_t value) override { FCharset = value; }
  std::string FaceName() const override;
  void SetFaceName(const std::string& value) override;

 private:
  void Changed();
  QFont& FFont;
  std::function<void()> FChanged;
  uint8_t FCharset = 1;  // the default character set
};

// The item list of a combo box; writing it keeps the text of an editable combo box.
class TComboItems : public ICfgStrings {
 public:
  explicit TComboItems(QComboBox* combo) : FCombo(combo) {}
  TStrings GetLines() const override;
  void SetLines(const TStrings& lines) override;

 private:
  QComboBox* FCombo;
};

// The lines of a plain-text edit: its text split at line breaks; an empty text has no lines,
// and a line break at the very end does not begin a line ("*.h" and a line break is one line).
// So a list whose last line is empty is written with one more line break, and reads back the same.
class TPlainTextLines : public ICfgStrings {
 public:
  explicit TPlainTextLines(QPlainTextEdit* edit) : FEdit(edit) {}
  TStrings GetLines() const override;
  void SetLines(const TStrings& lines) override;

 private:
  QPlainTextEdit* FEdit;
};

// A window's text as the settings keep it and back, losing nothing (a lone surrogate, a byte
// that is not UTF-8), so that a value read and written back is the same value.
inline std::string ToStd(const QString& s) {
  return Utf16ToBytes(std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size())));
}
inline QString ToQt(const std::string& s) {
  const std::u16string units = BytesToUtf16(s);
  return QString(reinterpret_cast<const QChar*>(units.data()), static_cast<qsizetype>(units.size()));
}

}  // namespace trawlex
