#pragma once
// What configuration elements bind to, kept free of any toolkit: a component with named
// properties (looked up in a registry of named accessors per component class), a control
// with a rectangle, a font, and a list of lines. The windows bind their widgets through thin
// adapters that implement these.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "base/Errors.h"
#include "base/FontStyles.h"
#include "config/Config.h"

namespace trawlex {

// The kinds a published property can have; only integer, enumeration, floating point and the
// string kinds can be bound to a configuration element (a set or a method cannot).
enum class TPropKind { Unknown, Integer, Enumeration, Float, String, Set, Method, LString, WString };

class TPropRegistry;

class ICfgComponent {
 public:
  virtual ~ICfgComponent() = default;
  // The component's name; may be empty.
  virtual std::string ComponentName() const = 0;
  // The class under which its properties are registered (and reported in messages).
  virtual std::string ComponentClassName() const = 0;
  // The registry that publishes the properties of the component's class.
  virtual const TPropRegistry& Properties() const = 0;
};

// The accessors of one published property. Ordinal accessors serve integer and enumeration
// kinds (booleans are enumerations: false 0, true 1).
struct TPropInfo {
  TPropInfo() = default;
  TPropInfo(std::string name, TPropKind kind) : Name(std::move(name)), Kind(kind) {}
  std::string Name;
  TPropKind Kind = TPropKind::Unknown;
  std::function<int32_t(const ICfgComponent&)> GetOrd;
  std::function<void(ICfgComponent&, int32_t)> SetOrd;
  std::function<double(const ICfgComponent&)> GetFloat;
  std::function<void(ICfgComponent&, double)> SetFloat;
  std::function<std::string(const ICfgComponent&)> GetStr;
  std::function<void(ICfgComponent&, const std::string&)> SetStr;
};

// The published properties of a family of component classes, each class inheriting those of
// its parent class. Names are looked up without regard to ASCII letter case. Each family keeps
// its own (the window's controls one, the inputs without a window another), and each of its
// components answers it from Properties().
class TPropRegistry {
 public:
  // Declares a class and its parent (empty: none). A class is declared by its first property too.
  void RegisterClass(const std::string& className, const std::string& parentClassName = "");
  void RegisterProperty(const std::string& className, TPropInfo info);
  // The property as published by the class or its ancestors; null when there is none.
  const TPropInfo* FindProperty(const std::string& className, const std::string& propName) const;

  template <class C>
  void RegisterInt(const std::string& className, const std::string& name, int32_t (C::*get)() const,
                   void (C::*set)(int32_t), TPropKind kind = TPropKind::Integer) {
    TPropInfo p{name, kind};
    p.GetOrd = [get](const ICfgComponent& c) { return (As<C>(c).*get)(); };
    p.SetOrd = [set](ICfgComponent& c, int32_t v) { (As<C>(c).*set)(v); };
    RegisterProperty(className, std::move(p));
  }
  template <class C>
  void RegisterBool(const std::string& className, const std::string& name, bool (C::*get)() const, void (C::*set)(bool)) {
    TPropInfo p{name, TPropKind::Enumeration};
    p.GetOrd = [get](const ICfgComponent& c) { return (As<C>(c).*get)() ? 1 : 0; };
    p.SetOrd = [set](ICfgComponent& c, int32_t v) { (As<C>(c).*set)(v != 0); };
    RegisterProperty(className, std::move(p));
  }
  template <class C>
  void RegisterFloat(const std::string& className, const std::string& name, double (C::*get)() const,
                     void (C::*set)(double)) {
    TPropInfo p{name, TPropKind::Float};
    p.GetFloat = [get](const ICfgComponent& c) { return (As<C>(c).*get)(); };
    p.SetFloat = [set](ICfgComponent& c, double v) { (As<C>(c).*set)(v); };
    RegisterProperty(className, std::move(p));
  }
  template <class C>
  void RegisterString(const std::string& className, const std::string& name, std::string (C::*get)() const,
                      void (C::*set)(const std::string&)) {
    TPropInfo p{name, TPropKind::LString};
    p.GetStr = [get](const ICfgComponent& c) { return (As<C>(c).*get)(); };
    p.SetStr = [set](ICfgComponent& c, const std::string& v) { (As<C>(c).*set)(v); };
    RegisterProperty(className, std::move(p));
  }

 private:
  template <class C, class B>
  static C& As(B& c) {
    auto* p = dynamic_cast<C*>(&c);
    TRAWLEX_ASSERT(p != nullptr, "A property accessor was registered for another class");
    return *p;
  }
  template <class C, class B>
  static const C& As(const B& c) {
    auto* p = dynamic_cast<const C*>(&c);
    TRAWLEX_ASSERT(p != nullptr, "A property accessor was registered for another class");
    return *p;
  }

  struct TClassEntry {
    std::string Parent;
    std::map<std::string, TPropInfo> Props;  // keyed by the upper-case name
  };
  mutable std::mutex FLock;  // guards FClasses
  std::map<std::string, TClassEntry> FClasses;
};

// A rectangle in pixels: in the parent's coordinates, for a window on the screen.
struct TCfgRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TCfgRect&) const = default;
};

class ICfgControl : public ICfgComponent {
 public:
  virtual TCfgRect GetBounds() const = 0;
  virtual void SetBounds(const TCfgRect& bounds) = 0;
  virtual void SetLeft(int32_t left) = 0;
  virtual void SetTop(int32_t top) = 0;
};

enum class TFontPitch : uint8_t { Default = 0, Variable = 1, Fixed = 2 };

// Font style bits as the font record keeps them: the same bits as the drawing surface's
// styles (fsBold, fsItalic, fsUnderline, fsStrikeOut).
using TFontStyleBits = TFontStyles;

class ICfgFont {
 public:
  virtual ~ICfgFont() = default;
  // Pixels, with the platform's sign convention.
  virtual int32_t Height() const = 0;
  virtual void SetHeight(int32_t value) = 0;
  virtual TFontPitch Pitch() const = 0;
  virtual void SetPitch(TFontPitch value) = 0;
  // A set of TFontStyleBits.
  virtual uint8_t Style() const = 0;
  virtual void SetStyle(uint8_t value) = 0;
  virtual uint8_t Charset() const = 0;
  virtual void SetCharset(uint8_t value) = 0;
  virtual std::string FaceName() const = 0;
  virtual void SetFaceName(const std::string& value) = 0;
};

class ICfgStrings {
 public:
  virtual ~ICfgStrings() = default;
  virtual TStrings GetLines() const = 0;
  virtual void SetLines(const TStrings& lines) = 0;
};

// A plain list of lines seen as ICfgStrings.
class TStringsRef : public ICfgStrings {
 public:
  explicit TStringsRef(TStrings& lines) : FLines(lines) {}
  TStrings GetLines() const override { return FLines; }
  void SetLines(const TStrings& lines) override { FLines = lines; }

 private:
  TStrings& FLines;
};

}  // namespace trawlex
