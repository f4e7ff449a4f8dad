#pragma once
// Configuration elements: every setting the program remembers is an element of a
// configuration list. An element holds (or is bound to) one value, copies it from and to the
// list's store under its own name in the list's section, and renders it as text for the
// command line. A window declares its elements once, loads the list after creating it and
// saves it when it goes.
#include <array>
#include <cstdint>
#include <string>

#include "config/CfgBindings.h"
#include "config/Config.h"
#include "config/NamedObj.h"

namespace trawlex {

class TBaseCfgList;

class TBaseCfgElem : public TNamedObj {
 public:
  using TNamedObj::TNamedObj;
  std::string ClassName() const override { return "TBaseCfgElem"; }

  // The value's text form. Kinds without one raise "SetAsString not implemented for "
  // (or "GetAsString ...") followed by the class name.
  virtual void SetAsString(const std::string& text);
  virtual std::string GetAsString() const;
  // Reads the value from the store, the current value being the default.
  virtual void Load() = 0;
  // Writes the current value to the store.
  virtual void Save() = 0;

  TBaseCfgList& CfgList() const;
  // Whether the store holds a value under this element's name.
  bool ExistsInStore() const;

 protected:
  IConfig& Config() const;
  const std::string& Section() const;
};

// A string value owned by the element.
class TStringVCfgElem : public TBaseCfgElem {
 public:
  explicit TStringVCfgElem(std::string name, std::string value = {})
      : TBaseCfgElem(std::move(name)), Value(std::move(value)) {}
  std::string ClassName() const override { return "TStringVCfgElem"; }
  void SetAsString(const std::string& text) override;
  std::string GetAsString() const override { return Value; }
  void Load() override;
  void Save() override;

  std::string Value;
};

// A file name; Exists tells whether it names an existing regular file (as of the last SetAsString).
class TFileCfgElem : public TStringVCfgElem {
 public:
  using TStringVCfgElem::TStringVCfgElem;
  std::string ClassName() const override { return "TFileCfgElem"; }
  void SetAsString(const std::string& text) override;

  bool Exists = false;
};

class TIntVCfgElem : public TBaseCfgElem {
 public:
  explicit TIntVCfgElem(std::string name, int32_t value = 0) : TBaseCfgElem(std::move(name)), Value(value) {}
  std::string ClassName() const override { return "TIntVCfgElem"; }
  void Load() override;
  void Save() override;

  int32_t Value;
};

class TBoolVCfgElem : public TBaseCfgElem {
 public:
  explicit TBoolVCfgElem(std::string name, bool value = false) : TBaseCfgElem(std::move(name)), Value(value) {}
  std::string ClassName() const override { return "TBoolVCfgElem"; }
  void Load() override;
  void Save() override;

  bool Value;
};

// An element bound to a published property of a component; the property's current value is
// the element's value and its default.
class TPropCfgElem : public TBaseCfgElem {
 public:
  TPropCfgElem(std::string name, ICfgComponent& instance, const TPropInfo& propInfo, std::string propName)
      : TBaseCfgElem(std::move(name)), PropInfo(propInfo), PropName(std::move(propName)), Instance(instance) {}
  std::string ClassName() const override { return "TPropCfgElem"; }

  const TPropInfo PropInfo;  // a copy: the registry may be changed later
  const std::string PropName;
  ICfgComponent& Instance;
};

class TIntPropCfgElem : public TPropCfgElem {
 public:
  using TPropCfgElem::TPropCfgElem;
  std::string ClassName() const override { return "TIntPropCfgElem"; }
  // Decimal; text that is not a signed 32-bit integer raises "'%s' is not a valid integer value".
  void SetAsString(const std::string& text) override;
  std::string GetAsString() const override;
  void Load() override;
  void Save() override;
};

class TFloatPropCfgElem : public TPropCfgElem {
 public:
  using TPropCfgElem::TPropCfgElem;
  std::string ClassName() const override { return "TFloatPropCfgElem"; }
  // The general number format with the user's decimal separator; bad text raises
  // "'%s' is not a valid floating point value".
  void SetAsString(const std::string& text) override;
  std::string GetAsString() const override;
  void Load() override;
  void Save() override;
};

class TStringPropCfgElem : public TPropCfgElem {
 public:
  using TPropCfgElem::TPropCfgElem;
  std::string ClassName() const override { return "TStringPropCfgElem"; }
  void SetAsString(const std::string& text) override;
  std::string GetAsString() const override;
  void Load() override;
  void Save() override;
};

// A control's bounds, stored as 16 bytes: left, top, right, bottom (int32, little-endian).
class TBoundsCfgElem : public TBaseCfgElem {
 public:
  TBoundsCfgElem(std::string name, ICfgControl& control) : TBaseCfgElem(std::move(name)), Control(control) {}
  std::string ClassName() const override { return "TBoundsCfgElem"; }
  void Load() override;
  void Save() override;

  ICfgControl& Control;
};

// A control's top-left corner, stored as 8 bytes: left, top (int32, little-endian).
class TTopLeftCfgElem : public TBaseCfgElem {
 public:
  TTopLeftCfgElem(std::string name, ICfgControl& control) : TBaseCfgElem(std::move(name)), Control(control) {}
  std::string ClassName() const override { return "TTopLeftCfgElem"; }
  void Load() override;
  void Save() override;

  ICfgControl& Control;
};

// A list of lines; its text form joins the lines with "|".
class TStringsCfgElem : public TBaseCfgElem {
 public:
  TStringsCfgElem(std::string name, ICfgStrings& strings) : TBaseCfgElem(std::move(name)), Strings(strings) {}
  std::string ClassName() const override { return "TStringsCfgElem"; }
  void SetAsString(const std::string& text) override;
  std::string GetAsString() const override;
  void Load() override;
  void Save() override;

  ICfgStrings& Strings;
};

// A font, stored as the 39-byte font record.
class TFontCfgElem : public TBaseCfgElem {
 public:
  TFontCfgElem(std::string name, ICfgFont& font) : TBaseCfgElem(std::move(name)), Font(font) {}
  std::string ClassName() const override { return "TFontCfgElem"; }
  void Load() override;
  void Save() override;

  ICfgFont& Font;
};

// The element list of one window (or of the program-wide settings): its store and section.
class TBaseCfgList : public TNamedObjList {
 public:
  explicit TBaseCfgList(IConfigPtr config);
  TBaseCfgList(IConfigPtr config, std::string section);

  std::string ClassName() const override { return "TBaseCfgList"; }
  std::string ItemClassName() const override { return "TBaseCfgElem"; }
  bool IsItemClass(const TNamedObj& item) const override;

  // The store the elements use: during LoadAll and SaveAll, one batch over the list's store.
  IConfig& Config() const { return FActive ? *FActive : *FConfig; }
  const std::string& Section() const { return FSection; }

  TBaseCfgElem& GetElem(int32_t index) const;
  // Load of every element from the first created on, all from one reading of the store. An
  // element whose stored value cannot be taken (a value of the wrong type) keeps its value;
  // the others still load, and the errors are reported together through the settings error
  // handler, each naming its value.
  void LoadAll();
  // Save of every element, written to the store as one step (for the file store one locked
  // write, so a crash leaves all of the list or none of it).
  void SaveAll();

  // Binds an element to a published property of `component`, named "<component>.<property>":
  // an integer or enumeration gives a TIntPropCfgElem, a float a TFloatPropCfgElem, a string
  // kind a TStringPropCfgElem; any other kind raises "Uncatered-for PropType kind".
  TPropCfgElem& AddProp(ICfgComponent& component, const std::string& propName);
  TBoundsCfgElem& AddBounds(ICfgControl& window);
  TTopLeftCfgElem& AddTopLeft(ICfgControl& window);
  TStringsCfgElem& AddStrings(ICfgStrings& strings, const std::string& name);
  // Takes the element out of the list and destroys it.
  void Remove(TBaseCfgElem& element);

 private:
  IConfigPtr FConfig;
  IConfig* FActive = nullptr;  // the batch that LoadAll or SaveAll runs on
  std::string FSection;
};

// Loads one element; a store error is reported through the settings error handler and the
// element keeps its value. False when it was reported.
bool LoadElementOrReport(TBaseCfgElem& element);

// The length of the history list stored under `name` (0: the value is no history). A history
// is saved merged with what is stored (IConfig::MergeStrings), so that two running copies keep
// each other's entries.
int32_t HistoryLimitOf(const std::string& name);

// The component's name, or its class name when the name is empty.
std::string ComponentCfgName(const ICfgComponent& component);

// The fixed-size byte layouts of the stored values (little-endian, packed).
constexpr int32_t BoundsRecordSize = 16;
constexpr int32_t TopLeftRecordSize = 8;
constexpr int32_t FontRecordSize = 39;
constexpr int32_t FontFaceNameMax = 31;

struct TFontRecord {
  int32_t Height = 0;
  uint8_t Pitch = 0;
  uint8_t Style = 0;
  uint8_t Charset = 0;
  std::string FaceName;  // at most FontFaceNameMax bytes when encoded
};

std::array<uint8_t, BoundsRecordSize> EncodeBounds(const TCfgRect& r);
TCfgRect DecodeBounds(const uint8_t* bytes);
std::array<uint8_t, FontRecordSize> EncodeFontRecord(const TFontRecord& f);
TFontRecord DecodeFontRecord(const uint8_t* bytes);
// Cuts a face name to at most FontFaceNameMax bytes without splitting a UTF-8 character.
std::string CutFaceName(const std::string& name);

}  // namespace trawlex
