#include "ui/QtConfigAdapters.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolBar>
#include <QWidget>
#include <cmath>
#include <mutex>
#include <set>

namespace trawlex {

namespace {

template <class Q>
Q* As(const ICfgComponent& c) {
  auto* q = qobject_cast<Q*>(static_cast<const TQtComponent&>(c).Object());
  TRAWLEX_ASSERT(q != nullptr, "A Qt property accessor was registered for another class");
  return q;
}

template <class Q>
void AddInt(TPropRegistry& reg, const char* cls, const char* name, std::function<int32_t(Q*)> get,
            std::function<void(Q*, int32_t)> set, TPropKind kind = TPropKind::Integer) {
  TPropInfo p{name, kind};
  p.GetOrd = [get](const ICfgComponent& c) { return get(As<Q>(c)); };
  p.SetOrd = [set](ICfgComponent& c, int32_t v) { set(As<Q>(c), v); };
  reg.RegisterProperty(cls, std::move(p));
}

template <class Q>
void AddBool(TPropRegistry& reg, const char* cls, const char* name, std::function<bool(Q*)> get,
             std::function<void(Q*, bool)> set) {
  AddInt<Q>(
      reg, cls, name, [get](Q* q) { return get(q) ? 1 : 0; }, [set](Q* q, int32_t v) { set(q, v != 0); },
      TPropKind::Enumeration);
}

template <class Q>
void AddText(TPropRegistry& reg, const char* cls, const char* name, std::function<QString(Q*)> get,
             std::function<void(Q*, const QString&)> set) {
  TPropInfo p{name, TPropKind::LString};
  p.GetStr = [get](const ICfgComponent& c) { return ToStd(get(As<Q>(c))); };
  p.SetStr = [set](ICfgComponent& c, const std::string& v) { set(As<Q>(c), ToQt(v)); };
  reg.RegisterProperty(cls, std::move(p));
}

void RegisterBuiltIns(TPropRegistry& reg) {
  reg.RegisterClass("QObject", "");
  reg.RegisterClass("QWidget", "QObject");
  AddInt<QWidget>(reg, "QWidget", "Width", [](QWidget* w) { return w->width(); },
                  [](QWidget* w, int32_t v) { w->resize(v, w->height()); });
  AddInt<QWidget>(reg, "QWidget", "Height", [](QWidget* w) { return w->height(); },
                  [](QWidget* w, int32_t v) { w->resize(w->width(), v); });
  AddInt<QWidget>(reg, "QWidget", "Left", [](QWidget* w) { return w->geometry().x(); },
                  [](QWidget* w, int32_t v) { w->setGeometry(v, w->geometry().y(), w->width(), w->height()); });
  AddInt<QWidget>(reg, "QWidget", "Top", [](QWidget* w) { return w->geometry().y(); },
                  [](QWidget* w, int32_t v) { w->setGeometry(w->geometry().x(), v, w->width(), w->height()); });
  AddBool<QWidget>(reg, "QWidget", "Visible", [](QWidget* w) { return w->isVisible(); },
                   [](QWidget* w, bool v) { w->setVisible(v); });
  AddBool<QWidget>(reg, "QWidget", "Enabled", [](QWidget* w) { return w->isEnabled(); },
                   [](QWidget* w, bool v) { w->setEnabled(v); });
  AddText<QWidget>(reg, "QWidget", "Hint", [](QWidget* w) { return w->toolTip(); },
                   [](QWidget* w, const QString& v) { w->setToolTip(v); });
  AddInt<QWidget>(reg, "QWidget", "WindowState", [](QWidget* w) { return WindowStateNumber(w); },
                  [](QWidget* w, int32_t v) { SetWindowStateNumber(w, v); }, TPropKind::Enumeration);

  AddBool<QAbstractButton>(reg, "QAbstractButton", "Checked", [](QAbstractButton* b) { return b->isChecked(); },
                           [](QAbstractButton* b, bool v) { b->setChecked(v); });
  AddText<QAbstractButton>(reg, "QAbstractButton", "Text", [](QAbstractButton* b) { return b->text(); },
                           [](QAbstractButton* b, const QString& v) { b->setText(v); });
  AddBool<QAction>(reg, "QAction", "Checked", [](QAction* a) { return a->isChecked(); },
                   [](QAction* a, bool v) { a->setChecked(v); });
  AddBool<QAction>(reg, "QAction", "Enabled", [](QAction* a) { return a->isEnabled(); },
                   [](QAction* a, bool v) { a->setEnabled(v); });
  AddBool<QAction>(reg, "QAction", "Visible", [](QAction* a) { return a->isVisible(); },
                   [](QAction* a, bool v) { a->setVisible(v); });
  AddText<QLineEdit>(reg, "QLineEdit", "Text", [](QLineEdit* e) { return e->text(); },
                     [](QLineEdit* e, const QString& v) { e->setText(v); });
  AddText<QComboBox>(reg, "QComboBox", "Text", [](QComboBox* c) { return c->currentText(); },
                     [](QComboBox* c, const QString& v) {
                       if (c->isEditable()) {
                         c->setEditText(v);
                       } else {
                         c->setCurrentIndex(c->findText(v));
                       }
                     });
  AddText<QLabel>(reg, "QLabel", "Text", [](QLabel* l) { return l->text(); },
                  [](QLabel* l, const QString& v) { l->setText(v); });
  AddText<QPlainTextEdit>(reg, "QPlainTextEdit", "Text", [](QPlainTextEdit* e) { return e->toPlainText(); },
                          [](QPlainTextEdit* e, const QString& v) { e->setPlainText(v); });
  AddBool<QToolBar>(reg, "QToolBar", "ShowCaptions",
                    [](QToolBar* t) { return t->toolButtonStyle() != Qt::ToolButtonIconOnly; },
                    [](QToolBar* t, bool v) {
                      t->setToolButtonStyle(v ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
                    });
  AddInt<QSpinBox>(reg, "QSpinBox", "Value", [](QSpinBox* s) { return s->value(); },
                   [](QSpinBox* s, int32_t v) { s->setValue(v); });
}

// Our own published properties: a Q_PROPERTY whose name starts with an upper-case letter.
void RegisterOwnProperties(TPropRegistry& reg, const QMetaObject* meta, const std::string& cls) {
  for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
    const QMetaProperty prop = meta->property(i);
    const QString name = QString::fromLatin1(prop.name());
    if (name.isEmpty() || !name.at(0).isUpper()) continue;
    const std::string propName = name.toStdString();
    TPropInfo p;
    p.Name = propName;
    switch (prop.metaType().id()) {
      case QMetaType::Int:
        p.Kind = TPropKind::Integer;
        break;
      case QMetaType::Bool:
        p.Kind = TPropKind::Enumeration;
        break;
      case QMetaType::Double:
        p.Kind = TPropKind::Float;
        break;
      case QMetaType::QString:
        p.Kind = TPropKind::LString;
        break;
      default:
        p.Kind = TPropKind::Unknown;
        break;
    }
    const QByteArray key(prop.name());
    auto object = [](const ICfgComponent& c) { return static_cast<const TQtComponent&>(c).Object(); };
    p.GetOrd = [key, object](const ICfgComponent& c) { return object(c)->property(key.constData()).toInt(); };
    p.SetOrd = [key, object, kind = p.Kind](ICfgComponent& c, int32_t v) {
      object(c)->setProperty(key.constData(), kind == TPropKind::Enumeration ? QVariant(v != 0) : QVariant(v));
    };
    p.GetFloat = [key, object](const ICfgComponent& c) { return object(c)->property(key.constData()).toDouble(); };
    p.SetFloat = [key, object](ICfgComponent& c, double v) { object(c)->setProperty(key.constData(), v); };
    p.GetStr = [key, object](const ICfgComponent& c) {
      return ToStd(object(c)->property(key.constData()).toString());
    };
    p.SetStr = [key, object](ICfgComponent& c, const std::string& v) {
      object(c)->setProperty(key.constData(), ToQt(v));
    };
    reg.RegisterProperty(cls, std::move(p));
  }
}

// The properties of the Qt classes whose objects settings are bound to, each class registered
// at the first binding of one of its objects.
//
// One for the whole process on purpose, like the Qt meta-objects it is read from: it holds no
// application state, only facts about classes (which properties a class publishes and how to
// read and write them) that are the same for every application object, window and test, and
// an entry never changes once made. Owned by TApp it would hand every adapter a pointer to the
// same facts. Classes join under FLock; lookups run where the bound objects live, on the main
// thread.
class TQtProperties {
 public:
  static TQtProperties& Instance() {
    static TQtProperties cache;  // made once, safely, by the first thread to get here
    return cache;
  }
  const TPropRegistry& Registry() const { return FRegistry; }

  // Declares `meta` and its ancestors, once per class.
  void EnsureRegistered(const QMetaObject* meta) {
    std::lock_guard<std::mutex> g(FLock);
    for (const QMetaObject* m = meta; m && !FRegistered.count(m); m = m->superClass()) {
      FRegistered.insert(m);
      const std::string cls = QtClassName(m);
      if (cls == "QObject") continue;
      FRegistry.RegisterClass(cls, m->superClass() ? QtClassName(m->superClass()) : "");
      RegisterOwnProperties(FRegistry, m, cls);
    }
  }

 private:
  TQtProperties() { RegisterBuiltIns(FRegistry); }
  std::mutex FLock;
  std::set<const QMetaObject*> FRegistered;  // guarded by FLock
  TPropRegistry FRegistry;                   // added to under FLock
};

}  // namespace

std::string QtClassName(const QMetaObject* meta) {
  std::string name = meta->className();
  const size_t colon = name.rfind(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

int32_t WindowStateNumber(const QWidget* window) {
  if (window->isMinimized()) return 1;
  if (window->isMaximized()) return 2;
  return 0;
}

void SetWindowStateNumber(QWidget* window, int32_t state) {
  Qt::WindowStates s = window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (state == 1) s |= Qt::WindowMinimized;
  if (state == 2) s |= Qt::WindowMaximized;
  window->setWindowState(s);
}

// ---- TQtComponent ------------------------------------------------------------------------

TQtComponent::TQtComponent(QObject* object) : QObject(object) {}

TQtComponent& TQtComponent::For(QObject* object) {
  TRAWLEX_ASSERT(object != nullptr, "No object to bind settings to");
  TQtProperties::Instance().EnsureRegistered(object->metaObject());
  if (auto* a = object->findChild<TQtComponent*>(QString(), Qt::FindDirectChildrenOnly)) return *a;
  return *new TQtComponent(object);
}

QWidget* TQtComponent::Widget() const { return qobject_cast<QWidget*>(parent()); }

std::string TQtComponent::ComponentName() const { return parent()->objectName().toStdString(); }

std::string TQtComponent::ComponentClassName() const { return QtClassName(parent()->metaObject()); }

const TPropRegistry& TQtComponent::Properties() const { return TQtProperties::Instance().Registry(); }

TCfgRect TQtComponent::GetBounds() const {
  const QWidget* w = Widget();
  if (!w) return {};
  const QRect g = w->geometry();
  return TCfgRect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

void TQtComponent::SetBounds(const TCfgRect& b) {
  if (QWidget* w = Widget()) w->setGeometry(b.Left, b.Top, std::max(0, b.Right - b.Left), std::max(0, b.Bottom - b.Top));
}

void TQtComponent::SetLeft(int32_t left) {
  if (QWidget* w = Widget()) w->setGeometry(left, w->geometry().y(), w->width(), w->height());
}

void TQtComponent::SetTop(int32_t top) {
  if (QWidget* w = Widget()) w->setGeometry(w->geometry().x(), top, w->width(), w->height());
}

// ---- TQtFont -------------------------------------------------------------------------------

TQtFont::TQtFont(QFont& font, std::function<void()> changed) : FFont(font), FChanged(std::move(changed)) {}

void TQtFont::Changed() {
  if (FChanged) FChanged();
}

int32_t TQtFont::Height() const {
  if (FFont.pixelSize() > 0) return -FFont.pixelSize();
  // A font given in points: its pixel size on the screen.
  return -QFontInfo(FFont).pixelSize();
}

void TQtFont::SetHeight(int32_t value) {
  if (value == 0) return;  // the default height: keep the font's own
  if (value < 0) {
    FFont.setPixelSize(-value);
  } else {
    // A cell height: start from it as the character height and shrink by the font's leading.
    FFont.setPixelSize(value);
    const int cell = QFontMetrics(FFont).height();
    if (cell > value) FFont.setPixelSize(std::max(1, static_cast<int>(std::lround(double(value) * value / cell))));
  }
  Changed();
}

TFontPitch TQtFont::Pitch() const {
  if (FFont.fixedPitch()) return TFontPitch::Fixed;
  if (FFont.styleHint() == QFont::SansSerif) return TFontPitch::Variable;
  return TFontPitch::Default;
}

void TQtFont::SetPitch(TFontPitch value) {
  switch (value) {
    case TFontPitch::Fixed:
      FFont.setFixedPitch(true);
      FFont.setStyleHint(QFont::TypeWriter);
      break;
    case TFontPitch::Variable:
      FFont.setFixedPitch(false);
      FFont.setStyleHint(QFont::SansSerif);
      break;
    default:
      FFont.setFixedPitch(false);
      FFont.setStyleHint(QFont::AnyStyle);
      break;
  }
  Changed();
}

uint8_t TQtFont::Style() const {
  uint8_t s = 0;
  if (FFont.weight() >= QFont::DemiBold) s |= fsBold;
  if (FFont.italic()) s |= fsItalic;
  if (FFont.underline()) s |= fsUnderline;
  if (FFont.strikeOut()) s |= fsStrikeOut;
  return s;
}

void TQtFont::SetStyle(uint8_t value) {
  FFont.setBold((value & fsBold) != 0);
  FFont.setItalic((value & fsItalic) != 0);
  FFont.setUnderline((value & fsUnderline) != 0);
  FFont.setStrikeOut((value & fsStrikeOut) != 0);
  Changed();
}

std::string TQtFont::FaceName() const { return FFont.family().toStdString(); }

void TQtFont::SetFaceName(const std::string& value) {
  if (!value.empty()) FFont.setFamily(QString::fromStdString(value));
  Changed();
}

// ---- Line lists ----------------------------------------------------------------------------

TStrings TComboItems::GetLines() const {
  TStrings lines;
  for (int i = 0; i < FCombo->count(); ++i) lines.push_back(ToStd(FCombo->itemText(i)));
  return lines;
}

void TComboItems::SetLines(const TStrings& lines) {
  const QString text = FCombo->currentText();
  {
    const QSignalBlocker quiet(FCombo);
    FCombo->clear();
    for (const std::string& l : lines) FCombo->addItem(ToQt(l));
    FCombo->setCurrentIndex(-1);
  }
  // The items are a history; the text in the edit field stays what it was.
  if (FCombo->isEditable()) {
    const QSignalBlocker quiet(FCombo);
    FCombo->setEditText(text);
  }
}

TStrings TPlainTextLines::GetLines() const {
  TStrings lines;
  const QString text = FEdit->toPlainText();
  if (text.isEmpty()) return lines;
  QStringList pieces = text.split(QLatin1Char('\n'));
  if (pieces.size() > 1 && pieces.last().isEmpty()) pieces.removeLast();  // the break ends the last line
  for (const QString& l : pieces) lines.push_back(ToStd(l));
  return lines;
}

void TPlainTextLines::SetLines(const TStrings& lines) {
  QStringList l;
  for (const std::string& s : lines) l << ToQt(s);
  QString text = l.join(QLatin1Char('\n'));
  if (!l.isEmpty() && l.last().isEmpty()) text += QLatin1Char('\n');
  FEdit->setPlainText(text);
}

}  // namespace trawlex
