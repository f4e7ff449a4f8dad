#include "config/CfgElements.h"

#include <charconv>
#include <clocale>
#include <cstring>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "config/RegValue.h"
#include "config/SettingsErrors.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

void PutInt32(uint8_t* p, int32_t v) { PutLittleEndian(p, static_cast<uint32_t>(v), 4); }

int32_t GetInt32(const uint8_t* p) { return static_cast<int32_t>(static_cast<uint32_t>(GetLittleEndian(p, 4))); }

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The user's decimal separator, as the general number format writes it.
char DecimalSeparator() {
  const std::lconv* lc = std::localeconv();
  return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

bool ParseFloat(const std::string& text, double& out) {
  std::string t = TrimText(text);
  const char sep = DecimalSeparator();
  if (sep != '.') {
    for (char& c : t) {
      if (c == sep) c = '.';
    }
  }
  const char* b = t.data();
  const char* e = b + t.size();
  if (b != e && *b == '+') ++b;
  if (b == e || *b == '+') return false;
  const auto r = std::from_chars(b, e, out);
  return r.ec == std::errc() && r.ptr == e;
}

TFontRecord RecordOf(const ICfgFont& f) {
  return TFontRecord{f.Height(), static_cast<uint8_t>(f.Pitch()), f.Style(), f.Charset(), f.FaceName()};
}

}  // namespace

// ---- TBaseCfgElem -----------------------------------------------------------------------

void TBaseCfgElem::SetAsString(const std::string&) {
  throw ETrawlexError("SetAsString not implemented for " + ClassName());
}

std::string TBaseCfgElem::GetAsString() const {
  throw ETrawlexError("GetAsString not implemented for " + ClassName());
}

TBaseCfgList& TBaseCfgElem::CfgList() const {
  auto* list = dynamic_cast<TBaseCfgList*>(List());
  TRAWLEX_ASSERT(list != nullptr, "A configuration element outside a configuration list");
  return *list;
}

bool TBaseCfgElem::ExistsInStore() const { return Config().ValueExists(Section(), Name()); }

IConfig& TBaseCfgElem::Config() const { return CfgList().Config(); }

const std::string& TBaseCfgElem::Section() const { return CfgList().Section(); }

// ---- Owned values ------------------------------------------------------------------------

void TStringVCfgElem::SetAsString(const std::string& text) { Value = text; }

void TStringVCfgElem::Load() { SetAsString(Config().ReadString(Section(), Name(), Value)); }

void TStringVCfgElem::Save() { Config().WriteString(Section(), Name(), Value); }

void TFileCfgElem::SetAsString(const std::string& text) {
  TStringVCfgElem::SetAsString(text);
  TFileInfo info;
  Exists = !text.empty() && GetFileInfo(text, info) && info.IsRegular;
}

void TIntVCfgElem::Load() { Value = Config().ReadInteger(Section(), Name(), Value); }

void TIntVCfgElem::Save() { Config().WriteInteger(Section(), Name(), Value); }

void TBoolVCfgElem::Load() { Value = Config().ReadBool(Section(), Name(), Value); }

void TBoolVCfgElem::Save() { Config().WriteBool(Section(), Name(), Value); }

// ---- Properties --------------------------------------------------------------------------

void TIntPropCfgElem::SetAsString(const std::string& text) {
  const auto n = ParseInt32(text);
  if (!n) throw ETrawlexError(Fmt("'%s' is not a valid integer value", text));
  PropInfo.SetOrd(Instance, *n);
}

std::string TIntPropCfgElem::GetAsString() const { return std::to_string(PropInfo.GetOrd(Instance)); }

void TIntPropCfgElem::Load() {
  const int32_t current = PropInfo.GetOrd(Instance);
  const int32_t stored = Config().ReadInteger(Section(), Name(), current);
  if (stored != current) PropInfo.SetOrd(Instance, stored);
}

void TIntPropCfgElem::Save() { Config().WriteInteger(Section(), Name(), PropInfo.GetOrd(Instance)); }

void TFloatPropCfgElem::SetAsString(const std::string& text) {
  double v;
  if (!ParseFloat(text, v)) throw ETrawlexError(Fmt("'%s' is not a valid floating point value", text));
  PropInfo.SetFloat(Instance, v);
}

std::string TFloatPropCfgElem::GetAsString() const { return GeneralFloatText(PropInfo.GetFloat(Instance)); }

void TFloatPropCfgElem::Load() {
  const double current = PropInfo.GetFloat(Instance);
  const double stored = Config().ReadFloat(Section(), Name(), current);
  // Compared bit for bit, so that a stored NaN equal to the current one assigns nothing and
  // a stored -0.0 over 0.0 is applied.
  if (!SameBits(stored, current)) PropInfo.SetFloat(Instance, stored);
}

void TFloatPropCfgElem::Save() { Config().WriteFloat(Section(), Name(), PropInfo.GetFloat(Instance)); }

void TStringPropCfgElem::SetAsString(const std::string& text) { PropInfo.SetStr(Instance, text); }

std::string TStringPropCfgElem::GetAsString() const { return PropInfo.GetStr(Instance); }

void TStringPropCfgElem::Load() {
  const std::string current = GetAsString();
  const std::string stored = Config().ReadString(Section(), Name(), current);
  if (stored != current) SetAsString(stored);
}

void TStringPropCfgElem::Save() { Config().WriteString(Section(), Name(), GetAsString()); }

// ---- Rectangles, lines, fonts -----------------------------------------------------------

void TBoundsCfgElem::Load() {
  const auto current = EncodeBounds(Control.GetBounds());
  std::array<uint8_t, BoundsRecordSize> stored = current;
  Config().ReadBytes(Section(), Name(), stored.data(), BoundsRecordSize, current.data());
  Control.SetBounds(DecodeBounds(stored.data()));
}

void TBoundsCfgElem::Save() {
  const auto bytes = EncodeBounds(Control.GetBounds());
  Config().WriteBytes(Section(), Name(), BoundsRecordSize, bytes.data());
}

void TTopLeftCfgElem::Load() {
  const TCfgRect r = Control.GetBounds();
  uint8_t current[TopLeftRecordSize], stored[TopLeftRecordSize];
  PutInt32(current, r.Left);
  PutInt32(current + 4, r.Top);
  std::memcpy(stored, current, sizeof stored);
  Config().ReadBytes(Section(), Name(), stored, TopLeftRecordSize, current);
  Control.SetLeft(GetInt32(stored));
  Control.SetTop(GetInt32(stored + 4));
}

void TTopLeftCfgElem::Save() {
  const TCfgRect r = Control.GetBounds();
  uint8_t bytes[TopLeftRecordSize];
  PutInt32(bytes, r.Left);
  PutInt32(bytes + 4, r.Top);
  Config().WriteBytes(Section(), Name(), TopLeftRecordSize, bytes);
}

void TStringsCfgElem::SetAsString(const std::string& text) {
  TStrings lines;
  TextToStrings(text, lines);
  Strings.SetLines(lines);
}

std::string TStringsCfgElem::GetAsString() const { return StringsToText(Strings.GetLines()); }

void TStringsCfgElem::Load() {
  TStrings lines = Strings.GetLines();
  Config().ReadStrings(Section(), Name(), lines, lines);
  Strings.SetLines(lines);
}

void TStringsCfgElem::Save() {
  const int32_t limit = HistoryLimitOf(Name());
  if (limit > 0) {
    Config().MergeStrings(Section(), Name(), Strings.GetLines(), limit);
  } else {
    Config().WriteStrings(Section(), Name(), Strings.GetLines());
  }
}

void TFontCfgElem::Load() {
  const auto current = EncodeFontRecord(RecordOf(Font));
  std::array<uint8_t, FontRecordSize> stored = current;
  Config().ReadBytes(Section(), Name(), stored.data(), FontRecordSize, current.data());
  const TFontRecord r = DecodeFontRecord(stored.data());
  Font.SetHeight(r.Height);
  Font.SetPitch(static_cast<TFontPitch>(r.Pitch));
  Font.SetStyle(r.Style);
  Font.SetCharset(r.Charset);
  Font.SetFaceName(r.FaceName);
}

void TFontCfgElem::Save() {
  const auto bytes = EncodeFontRecord(RecordOf(Font));
  Config().WriteBytes(Section(), Name(), FontRecordSize, bytes.data());
}

// ---- TBaseCfgList ----------------------------------------------------------------------

TBaseCfgList::TBaseCfgList(IConfigPtr config) : FConfig(std::move(config)) {
  TRAWLEX_ASSERT(FConfig != nullptr, "A configuration list needs a store");
}

TBaseCfgList::TBaseCfgList(IConfigPtr config, std::string section) : TBaseCfgList(std::move(config)) {
  FSection = std::move(section);
}

bool TBaseCfgList::IsItemClass(const TNamedObj& item) const {
  return dynamic_cast<const TBaseCfgElem*>(&item) != nullptr;
}

TBaseCfgElem& TBaseCfgList::GetElem(int32_t index) const {
  auto* e = dynamic_cast<TBaseCfgElem*>(&GetItem(index));
  TRAWLEX_ASSERT(e != nullptr, "A configuration list holds an item that is no element");
  return *e;
}

namespace {

// Points a list's elements at a batch for as long as it lives.
class TActiveBatch {
 public:
  TActiveBatch(IConfig*& active, IConfig& config) : FActive(active), FBatch(config.OpenBatch()) {
    if (FBatch && !FActive) {
      FActive = &FBatch->Store();
      FOwns = true;
    }
  }
  ~TActiveBatch() {
    if (FOwns) FActive = nullptr;
  }
  void Commit() {
    if (!FOwns) return;
    FActive = nullptr;
    FOwns = false;
    FBatch->Commit();
  }

 private:
  IConfig*& FActive;
  std::unique_ptr<IConfigBatch> FBatch;
  bool FOwns = false;
};

}  // namespace

void TBaseCfgList::LoadAll() {
  std::string errors;
  {
    TActiveBatch batch(FActive, *FConfig);
    for (int32_t i = 0; i < Count(); ++i) {
      try {
        GetElem(i).Load();
      } catch (const ETrawlexError& e) {
        errors += errors.empty() ? e.what() : std::string("\n") + e.what();
      }
    }
  }
  if (!errors.empty()) ReportSettingsError(errors);
}

void TBaseCfgList::SaveAll() {
  std::string firstError;
  {
    TActiveBatch batch(FActive, *FConfig);
    // An element that cannot be written does not keep the others from being saved.
    for (int32_t i = 0; i < Count(); ++i) {
      try {
        GetElem(i).Save();
      } catch (const ETrawlexError& e) {
        if (firstError.empty()) firstError = e.what();
      }
    }
    batch.Commit();
  }
  if (!firstError.empty()) throw ETrawlexError(firstError);
}

bool LoadElementOrReport(TBaseCfgElem& element) {
  try {
    element.Load();
    return true;
  } catch (const ETrawlexError& e) {
    ReportSettingsError(e.what());
    return false;
  }
}

int32_t HistoryLimitOf(const std::string& name) {
  // The stored names of the input histories and the lengths their controls keep.
  static const struct {
    const char* Name;
    int32_t Limit;
  } histories[] = {
      {"cbxTarget.Items", 20}, {"cbxExclude.Items", 20},     {"cbxDirectory.Items", 20},
      {"cbxReplace.Items", 20}, {"WildCardMemo.History", 10},
  };
  for (const auto& h : histories) {
    if (CompareTextAscii(name, h.Name) == 0) return h.Limit;
  }
  return 0;
}

TPropCfgElem& TBaseCfgList::AddProp(ICfgComponent& component, const std::string& propName) {
  const std::string name = ComponentCfgName(component) + "." + propName;
  const TPropInfo* info = component.Properties().FindProperty(component.ComponentClassName(), propName);
  if (!info) {
    RaiseAssertion(Fmt("Class %s has no published property %s", component.ComponentClassName(), propName).c_str(),
                   __FILE__, __LINE__);
  }
  switch (info->Kind) {
    case TPropKind::Integer:
    case TPropKind::Enumeration:
      return CreateItem<TIntPropCfgElem>(name, component, *info, propName);
    case TPropKind::Float:
      return CreateItem<TFloatPropCfgElem>(name, component, *info, propName);
    case TPropKind::String:
    case TPropKind::LString:
    case TPropKind::WString:
      return CreateItem<TStringPropCfgElem>(name, component, *info, propName);
    default:
      throw ETrawlexError("Uncatered-for PropType kind");
  }
}

TBoundsCfgElem& TBaseCfgList::AddBounds(ICfgControl& window) {
  return CreateItem<TBoundsCfgElem>(ComponentCfgName(window) + ".bounds", window);
}

TTopLeftCfgElem& TBaseCfgList::AddTopLeft(ICfgControl& window) {
  return CreateItem<TTopLeftCfgElem>(ComponentCfgName(window) + ".TopLeft", window);
}

TStringsCfgElem& TBaseCfgList::AddStrings(ICfgStrings& strings, const std::string& name) {
  return CreateItem<TStringsCfgElem>(name, strings);
}

void TBaseCfgList::Remove(TBaseCfgElem& element) { Extract(element); }

std::string ComponentCfgName(const ICfgComponent& component) {
  std::string name = component.ComponentName();
  return name.empty() ? component.ComponentClassName() : name;
}

// ---- Byte layouts ----------------------------------------------------------------------

std::array<uint8_t, BoundsRecordSize> EncodeBounds(const TCfgRect& r) {
  std::array<uint8_t, BoundsRecordSize> b{};
  PutInt32(&b[0], r.Left);
  PutInt32(&b[4], r.Top);
  PutInt32(&b[8], r.Right);
  PutInt32(&b[12], r.Bottom);
  return b;
}

TCfgRect DecodeBounds(const uint8_t* b) {
  return TCfgRect{GetInt32(b), GetInt32(b + 4), GetInt32(b + 8), GetInt32(b + 12)};
}

std::string CutFaceName(const std::string& name) {
  if (name.size() <= static_cast<size_t>(FontFaceNameMax)) return name;
  size_t n = FontFaceNameMax;
  // Step back over continuation bytes so that no character is cut in half.
  while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  return name.substr(0, n);
}

std::array<uint8_t, FontRecordSize> EncodeFontRecord(const TFontRecord& f) {
  std::array<uint8_t, FontRecordSize> b{};
  PutInt32(&b[0], f.Height);
  b[4] = f.Pitch;
  b[5] = f.Style;
  b[6] = f.Charset;
  const std::string face = CutFaceName(f.FaceName);
  b[7] = static_cast<uint8_t>(face.size());
  std::memcpy(&b[8], face.data(), face.size());
  return b;
}

TFontRecord DecodeFontRecord(const uint8_t* b) {
  TFontRecord f;
  f.Height = GetInt32(b);
  f.Pitch = b[4] <= 2 ? b[4] : 0;  // an unknown pitch is the default pitch
  f.Style = b[5] & 0x0F;
  f.Charset = b[6];
  const size_t len = b[7] <= FontFaceNameMax ? b[7] : FontFaceNameMax;
  f.FaceName.assign(reinterpret_cast<const char*>(b + 8), len);
  return f;
}

}  // namespace trawlex
