#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "base/Errors.h"
#include "config/CfgElements.h"
#include "config/ConfigTestUtil.h"
#include "config/MemoryConfig.h"
#include "config/SettingsErrors.h"

namespace trawlex {
namespace {

// ---- Test components ---------------------------------------------------------------------

const TPropRegistry& FakeProperties();

class TFakeAction : public ICfgComponent {
 public:
  explicit TFakeAction(std::string name) : FName(std::move(name)) {}
  std::string ComponentName() const override { return FName; }
  std::string ComponentClassName() const override { return "TFakeAction"; }
  const TPropRegistry& Properties() const override { return FakeProperties(); }

  bool GetChecked() const { return Checked; }
  void SetChecked(bool v) { Checked = v, ++Assignments; }
  int32_t GetTag() const { return Tag; }
  void SetTag(int32_t v) { Tag = v, ++Assignments; }
  double GetRatio() const { return Ratio; }
  void SetRatio(double v) { Ratio = v, ++Assignments; }
  std::string GetCaption() const { return Caption; }
  void SetCaption(const std::string& v) { Caption = v, ++Assignments; }

  std::string FName;
  bool Checked = false;
  int32_t Tag = 0;
  double Ratio = 0.5;
  std::string Caption = "Find";
  int Assignments = 0;
};

class TFakeProperties : public TPropRegistry {
 public:
  TFakeProperties() {
    RegisterClass("TFakeComponent");
    RegisterInt<TFakeAction>("TFakeComponent", "Tag", &TFakeAction::GetTag, &TFakeAction::SetTag);
    RegisterClass("TFakeAction", "TFakeComponent");
    RegisterBool<TFakeAction>("TFakeAction", "Checked", &TFakeAction::GetChecked, &TFakeAction::SetChecked);
    RegisterFloat<TFakeAction>("TFakeAction", "Ratio", &TFakeAction::GetRatio, &TFakeAction::SetRatio);
    RegisterString<TFakeAction>("TFakeAction", "Caption", &TFakeAction::GetCaption, &TFakeAction::SetCaption);
    RegisterProperty("TFakeAction", TPropInfo{"Styles", TPropKind::Set});
    RegisterProperty("TFakeAction", TPropInfo{"OnExecute", TPropKind::Method});
  }
};

const TPropRegistry& FakeProperties() {
  static const TFakeProperties registry;
  return registry;
}

class TFakeWindow : public ICfgControl {
 public:
  TFakeWindow(std::string name, TCfgRect r) : FName(std::move(name)), Rect(r) {}
  std::string ComponentName() const override { return FName; }
  std::string ComponentClassName() const override { return "TfmFake"; }
  const TPropRegistry& Properties() const override { return FakeProperties(); }
  TCfgRect GetBounds() const override { return Rect; }
  void SetBounds(const TCfgRect& r) override { Rect = r, Log += "B"; }
  void SetLeft(int32_t v) override { Rect.Right += v - Rect.Left, Rect.Left = v, Log += "L"; }
  void SetTop(int32_t v) override { Rect.Bottom += v - Rect.Top, Rect.Top = v, Log += "T"; }
  std::string FName;
  TCfgRect Rect;
  std::string Log;
};

class TFakeFont : public ICfgFont {
 public:
  int32_t Height() const override { return H; }
  void SetHeight(int32_t v) override { H = v, Log += "h"; }
  TFontPitch Pitch() const override { return P; }
  void SetPitch(TFontPitch v) override { P = v, Log += "p"; }
  uint8_t Style() const override { return S; }
  void SetStyle(uint8_t v) override { S = v, Log += "s"; }
  uint8_t Charset() const override { return C; }
  void SetCharset(uint8_t v) override { C = v, Log += "c"; }
  std::string FaceName() const override { return N; }
  void SetFaceName(const std::string& v) override { N = v, Log += "n"; }
  int32_t H = -13;
  TFontPitch P = TFontPitch::Default;
  uint8_t S = 0, C = 1;
  std::string N = "DejaVu Sans";
  std::string Log;
};

class CfgElements : public ::testing::Test {
 protected:
  std::shared_ptr<TMemoryConfig> Store = std::make_shared<TMemoryConfig>();
  TBaseCfgList List{Store, "fmSearch"};
};

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s += static_cast<char>(x);
  return s;
}

std::string StoredBytes(IConfig& c, const std::string& section, const std::string& ident, int size) {
  std::string buf(static_cast<size_t>(size), '\0');
  c.ReadBytes(section, ident, buf.data(), size, nullptr);
  return buf;
}

// ---- Lists and names ---------------------------------------------------------------------

TEST_F(CfgElements, AddPropChoosesTheElementKindByPropertyKindAndNamesIt) {
  TFakeAction act("acHideResultLines");
  TPropCfgElem& checked = List.AddProp(act, "Checked");
  TPropCfgElem& tag = List.AddProp(act, "tag");  // inherited, looked up without regard to case
  TPropCfgElem& ratio = List.AddProp(act, "Ratio");
  TPropCfgElem& caption = List.AddProp(act, "Caption");
  EXPECT_EQ("acHideResultLines.Checked", checked.Name());
  EXPECT_EQ("acHideResultLines.tag", tag.Name());
  EXPECT_EQ("tag", tag.PropName);
  EXPECT_EQ("TIntPropCfgElem", checked.ClassName());
  EXPECT_EQ("TIntPropCfgElem", tag.ClassName());
  EXPECT_EQ("TFloatPropCfgElem", ratio.ClassName());
  EXPECT_EQ("TStringPropCfgElem", caption.ClassName());
  EXPECT_EQ(&List, &checked.CfgList());
}

TEST_F(CfgElements, AddPropRefusesUnsupportedAndUnknownPropertiesAndCreatesNothing) {
  TFakeAction act("");
  for (const char* prop : {"Styles", "OnExecute"}) {
    try {
      List.AddProp(act, prop);
      FAIL() << prop;
    } catch (const ETrawlexError& e) {
      EXPECT_STREQ("Uncatered-for PropType kind", e.what());
    }
  }
  EXPECT_THROW(List.AddProp(act, "NoSuchProperty"), EAssertionFailed);
  EXPECT_EQ(0, List.Count());
  // An unnamed component is named after its class.
  EXPECT_EQ("TFakeAction.Checked", List.AddProp(act, "Checked").Name());
  EXPECT_THROW(List.AddProp(act, "CHECKED"), ETrawlexError);
  EXPECT_EQ(1, List.Count());
}

TEST_F(CfgElements, BoundsTopLeftAndStringsNames) {
  TFakeWindow unnamed("", {});
  TFakeWindow named("fmSearch", {});
  TStrings lines;
  TStringsRef ref(lines);
  EXPECT_EQ("TfmFake.TopLeft", List.AddTopLeft(unnamed).Name());
  EXPECT_EQ("TfmFake.bounds", List.AddBounds(unnamed).Name());
  EXPECT_EQ("fmSearch.bounds", List.AddBounds(named).Name());
  EXPECT_EQ("cbxTarget.Items", List.AddStrings(ref, "cbxTarget.Items").Name());
  EXPECT_THROW(List.AddStrings(ref, "CBXTARGET.ITEMS"), ETrawlexError);
  EXPECT_EQ(4, List.Count());
  List.Remove(List.GetElem(0));
  EXPECT_EQ(3, List.Count());
  EXPECT_EQ(nullptr, List.Find("TfmFake.TopLeft"));
}

TEST_F(CfgElements, ListTakesOnlyElements) {
  try {
    List.CreateItem<TNamedObj>("plain");
    FAIL();
  } catch (const ETrawlexError& e) {
    EXPECT_STREQ("Item must be TBaseCfgElem but is TNamedObj", e.what());
  }
}

// ---- Text forms --------------------------------------------------------------------------

TEST_F(CfgElements, KindsWithoutTextFormRaiseWithTheirClassName) {
  TFakeWindow w("w", {});
  TFakeFont font;
  std::vector<TBaseCfgElem*> elems = {&List.CreateItem<TIntVCfgElem>("i"), &List.CreateItem<TBoolVCfgElem>("b"),
                                      &List.AddBounds(w), &List.AddTopLeft(w),
                                      &List.CreateItem<TFontCfgElem>("f", font)};
  for (TBaseCfgElem* e : elems) {
    try {
      e->GetAsString();
      ADD_FAILURE() << e->ClassName();
    } catch (const ETrawlexError& x) {
      EXPECT_EQ("GetAsString not implemented for " + e->ClassName(), x.what());
    }
    try {
      e->SetAsString("1");
      ADD_FAILURE() << e->ClassName();
    } catch (const ETrawlexError& x) {
      EXPECT_EQ("SetAsString not implemented for " + e->ClassName(), x.what());
    }
  }
}

TEST_F(CfgElements, IntPropertyTextForm) {
  TFakeAction act("a");
  TPropCfgElem& tag = List.AddProp(act, "Tag");
  TPropCfgElem& checked = List.AddProp(act, "Checked");
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {{"42", true, 42}, {"-2147483648", true, INT32_MIN}, {"2147483647", true, INT32_MAX},
               {" 7 ", true, 7},  {"+5", true, 5},                 {"2147483648", false, 0},
               {"12a", false, 0}, {"", false, 0},                  {"1.5", false, 0},
               {"-", false, 0},   {"0x10", false, 0}};
  for (const auto& c : cases) {
    act.Tag = 99;
    if (c.ok) {
      tag.SetAsString(c.text);
      EXPECT_EQ(c.value, act.Tag) << c.text;
    } else {
      try {
        tag.SetAsString(c.text);
        ADD_FAILURE() << c.text;
      } catch (const ETrawlexError& e) {
        EXPECT_EQ(std::string("'") + c.text + "' is not a valid integer value", e.what());
      }
      EXPECT_EQ(99, act.Tag);
    }
  }
  act.Tag = -17;
  EXPECT_EQ("-17", tag.GetAsString());
  act.Checked = true;
  EXPECT_EQ("1", checked.GetAsString());
  checked.SetAsString("0");
  EXPECT_FALSE(act.Checked);
}

TEST_F(CfgElements, FloatPropertyTextForm) {
  TFakeAction act("a");
  TPropCfgElem& ratio = List.AddProp(act, "Ratio");
  act.Ratio = 0.1 + 0.2;  // 15 significant digits hide the binary rounding
  EXPECT_EQ("0.3", ratio.GetAsString());
  act.Ratio = 1e20;
  EXPECT_EQ("1E+20", ratio.GetAsString());
  act.Ratio = -2.5;
  EXPECT_EQ("-2.5", ratio.GetAsString());
  for (const char* good : {"3.25", " 3.25", "+3.25", "325E-2"}) {
    act.Ratio = 0;
    ratio.SetAsString(good);
    EXPECT_DOUBLE_EQ(3.25, act.Ratio) << good;
  }
  for (const char* bad : {"", "abc", "3.2.5", "3,25x"}) {
    try {
      ratio.SetAsString(bad);
      ADD_FAILURE() << bad;
    } catch (const ETrawlexError& e) {
      EXPECT_EQ(std::string("'") + bad + "' is not a valid floating point value", e.what());
    }
  }
}

TEST_F(CfgElements, StringsTextFormJoinsWithBarAndTrims) {
  TStrings lines;
  TStringsRef ref(lines);
  TStringsCfgElem& e = List.AddStrings(ref, "WildCardMemo.History");
  const struct {
    TStrings in;
    const char* text;
  } gets[] = {{{}, ""},
              {{"a", "b"}, "a|b"},
              {{"", "  a ", "b  ", ""}, "a |b"},
              {{"x\ry", "z\nw"}, "x|y|z|w"},
              {{""}, ""}};
  for (const auto& g : gets) {
    lines = g.in;
    EXPECT_EQ(g.text, e.GetAsString());
  }
  const struct {
    const char* text;
    TStrings out;
  } sets[] = {{"", {""}}, {"a|b", {"a", "b"}}, {"a|", {"a", ""}}, {" a | b ", {"a", "b"}}, {"|", {"", ""}}};
  for (const auto& s : sets) {
    lines = {"old"};
    e.SetAsString(s.text);
    EXPECT_EQ(s.out, lines) << s.text;
  }
}

TEST_F(CfgElements, FileElementRefreshesExistsOnEverySet) {
  testing::TTempDir dir;
  testing::WriteFileBytes(dir / "editor", "x");
  auto& e = List.CreateItem<TFileCfgElem>("Preferred Editor");
  e.SetAsString(dir / "editor");
  EXPECT_TRUE(e.Exists);
  e.SetAsString(dir.Path);  // a folder is no file
  EXPECT_FALSE(e.Exists);
  e.SetAsString(dir / "missing");
  EXPECT_FALSE(e.Exists);
  Store->WriteString("fmSearch", "Preferred Editor", dir / "editor");
  e.Load();
  EXPECT_TRUE(e.Exists);
  EXPECT_EQ(dir / "editor", e.GetAsString());
}

// ---- Load and save ---------------------------------------------------------------------

TEST_F(CfgElements, ValuesKeepTheirDefaultsUntilStoredAndRoundTrip) {
  auto& s = List.CreateItem<TStringVCfgElem>("Editor Args", "<f>");
  auto& i = List.CreateItem<TIntVCfgElem>("Spaces Per Tab", 4);
  auto& b = List.CreateItem<TBoolVCfgElem>("Expand tabs", true);
  List.LoadAll();
  EXPECT_EQ("<f>", s.Value);
  EXPECT_EQ(4, i.Value);
  EXPECT_TRUE(b.Value);
  EXPECT_FALSE(s.ExistsInStore());
  s.Value = "-n<n> <f>";
  i.Value = 8;
  b.Value = false;
  List.SaveAll();
  EXPECT_TRUE(s.ExistsInStore());
  EXPECT_EQ("0", Store->ReadString("fmSearch", "Expand tabs", ""));  // booleans are stored as "1"/"0"

  TBaseCfgList again(Store, "fmSearch");
  auto& s2 = again.CreateItem<TStringVCfgElem>("Editor Args", "<f>");
  auto& i2 = again.CreateItem<TIntVCfgElem>("Spaces Per Tab", 4);
  auto& b2 = again.CreateItem<TBoolVCfgElem>("Expand tabs", true);
  again.LoadAll();
  EXPECT_EQ("-n<n> <f>", s2.Value);
  EXPECT_EQ(8, i2.Value);
  EXPECT_FALSE(b2.Value);
}

TEST_F(CfgElements, PropertiesAreAssignedOnlyWhenTheStoredValueDiffers) {
  TFakeAction act("acX");
  List.AddProp(act, "Tag");
  List.AddProp(act, "Ratio");
  List.AddProp(act, "Caption");
  List.LoadAll();  // nothing stored
  EXPECT_EQ(0, act.Assignments);
  Store->WriteInteger("fmSearch", "acX.Tag", 0);
  Store->WriteFloat("fmSearch", "acX.Ratio", 0.5);
  Store->WriteString("fmSearch", "acX.Caption", "Find");
  List.LoadAll();  // stored, but equal to the current values
  EXPECT_EQ(0, act.Assignments);
  Store->WriteInteger("fmSearch", "acX.Tag", 3);
  Store->WriteFloat("fmSearch", "acX.Ratio", -0.0);
  Store->WriteString("fmSearch", "acX.Caption", "find");  // case counts
  List.LoadAll();
  EXPECT_EQ(3, act.Assignments);
  EXPECT_EQ(3, act.Tag);
  EXPECT_TRUE(std::signbit(act.Ratio));
  EXPECT_EQ("find", act.Caption);
  act.Ratio = 1.25;
  List.SaveAll();
  EXPECT_EQ(1.25, Store->ReadFloat("fmSearch", "acX.Ratio", 0));
}

TEST_F(CfgElements, BoundsAreSixteenLittleEndianBytes) {
  TFakeWindow w("fmSearch", {-8, 300, 0x01020304, -2});
  TBoundsCfgElem& e = List.AddBounds(w);
  e.Save();
  EXPECT_EQ(Bytes({0xf8, 0xff, 0xff, 0xff, 0x2c, 0x01, 0, 0, 0x04, 0x03, 0x02, 0x01, 0xfe, 0xff, 0xff, 0xff}),
            StoredBytes(*Store, "fmSearch", "fmSearch.bounds", 16));
  w.Rect = {1, 2, 3, 4};
  w.Log.clear();
  e.Load();
  EXPECT_EQ((TCfgRect{-8, 300, 0x01020304, -2}), w.Rect);
  EXPECT_EQ("B", w.Log);
}

TEST_F(CfgElements, MissingOrShortBoundsKeepTheCurrentOnesAndLongOnesRaise) {
  TFakeWindow w("fmSearch", {10, 20, 30, 40});
  TBoundsCfgElem& e = List.AddBounds(w);
  e.Load();  // nothing stored: the current bounds are applied again
  EXPECT_EQ((TCfgRect{10, 20, 30, 40}), w.Rect);
  EXPECT_EQ("B", w.Log);
  const std::string eight(8, '\x7f');
  Store->WriteBytes("fmSearch", "fmSearch.bounds", 8, eight.data());
  e.Load();
  EXPECT_EQ((TCfgRect{10, 20, 30, 40}), w.Rect);
  const std::string twenty(20, '\x01');
  Store->WriteBytes("fmSearch", "fmSearch.bounds", 20, twenty.data());
  try {
    e.Load();
    FAIL();
  } catch (const ETrawlexError& x) {
    EXPECT_STREQ("Invalid data type for 'fmSearch.bounds'", x.what());
  }
  EXPECT_EQ((TCfgRect{10, 20, 30, 40}), w.Rect);
}

TEST_F(CfgElements, TopLeftIsEightBytesAndSetsLeftThenTop) {
  TFakeWindow w("dlgReplace", {-1, 256, 100, 400});
  TTopLeftCfgElem& e = List.AddTopLeft(w);
  e.Save();
  EXPECT_EQ(Bytes({0xff, 0xff, 0xff, 0xff, 0, 1, 0, 0}), StoredBytes(*Store, "fmSearch", "dlgReplace.TopLeft", 8));
  const std::string moved = Bytes({5, 0, 0, 0, 6, 0, 0, 0});
  Store->WriteBytes("fmSearch", "dlgReplace.TopLeft", 8, moved.data());
  e.Load();
  EXPECT_EQ("LT", w.Log);
  EXPECT_EQ((TCfgRect{5, 6, 106, 150}), w.Rect);  // size kept
}

TEST_F(CfgElements, FontRecordIsThirtyNineBytes) {
  TFakeFont f;
  f.H = -16;
  f.P = TFontPitch::Fixed;
  f.S = fsBold | fsStrikeOut;
  f.C = 204;
  f.N = "Mono";
  TFontCfgElem& e = List.CreateItem<TFontCfgElem>("lstResults.Font", f);
  e.Save();
  std::string expected = Bytes({0xf0, 0xff, 0xff, 0xff, 2, 9, 204, 4, 'M', 'o', 'n', 'o'});
  expected.resize(39, '\0');
  EXPECT_EQ(expected, StoredBytes(*Store, "fmSearch", "lstResults.Font", 39));

  f.H = 1;
  f.N = "Other";
  f.Log.clear();
  e.Load();
  EXPECT_EQ("hpscn", f.Log);  // height, pitch, style, character set, face name
  EXPECT_EQ(-16, f.H);
  EXPECT_EQ("Mono", f.N);
}

TEST_F(CfgElements, FontFaceNamesAreCutToThirtyOneBytes) {
  EXPECT_EQ(std::string(31, 'a'), CutFaceName(std::string(40, 'a')));
  const std::string name30 = std::string(30, 'a') + "\xc3\xa9";  // 'é' would end at byte 32
  EXPECT_EQ(std::string(30, 'a'), CutFaceName(name30));
  TFontRecord r{12, 1, 2, 0, std::string(40, 'F')};
  const auto bytes = EncodeFontRecord(r);
  EXPECT_EQ(31, bytes[7]);
  const TFontRecord back = DecodeFontRecord(bytes.data());
  EXPECT_EQ(std::string(31, 'F'), back.FaceName);
  // A broken record never reads past its 39 bytes.
  auto broken = bytes;
  broken[7] = 200;
  broken[4] = 9;
  EXPECT_EQ(31u, DecodeFontRecord(broken.data()).FaceName.size());
  EXPECT_EQ(0, DecodeFontRecord(broken.data()).Pitch);
}

TEST_F(CfgElements, StringsLoadReplacesTheListAndKeepsItWhenNothingStored) {
  TStrings lines{"one", "two"};
  TStringsRef ref(lines);
  TStringsCfgElem& e = List.AddStrings(ref, "cbxTarget.Items");
  e.Load();
  EXPECT_EQ((TStrings{"one", "two"}), lines);
  lines = {""};
  e.Save();
  EXPECT_EQ("\r\n", Store->ReadString("fmSearch", "cbxTarget.Items", "?"));
  lines = {"x"};
  e.Load();
  EXPECT_EQ(TStrings{""}, lines);
  lines = {};
  e.Save();
  lines = {"x"};
  e.Load();
  EXPECT_TRUE(lines.empty());
}

TEST_F(CfgElements, ValuesOfTheWrongTypeKeepTheirDefaultsAndTheRestStillLoads) {
  std::vector<std::string> reports;
  SetSettingsErrorHandler([&](const std::string& m) { reports.push_back(m); });
  auto& a = List.CreateItem<TIntVCfgElem>("a", 1);
  auto& b = List.CreateItem<TIntVCfgElem>("b", 2);
  auto& c = List.CreateItem<TStringVCfgElem>("c", "three");
  auto& d = List.CreateItem<TIntVCfgElem>("d", 4);
  Store->WriteInteger("fmSearch", "a", 10);
  const char blob[3] = {1, 2, 3};
  Store->WriteBytes("fmSearch", "b", 3, blob);
  Store->WriteInteger("fmSearch", "c", 30);
  Store->WriteInteger("fmSearch", "d", 40);
  List.LoadAll();
  SetSettingsErrorHandler(nullptr);
  EXPECT_EQ(10, a.Value);
  EXPECT_EQ(2, b.Value);
  EXPECT_EQ("three", c.Value);
  EXPECT_EQ(40, d.Value);
  ASSERT_EQ(1u, reports.size());  // one report naming each value
  EXPECT_EQ("Invalid data type for 'b'\nInvalid data type for 'c'", reports[0]);
}

TEST_F(CfgElements, SaveAllIsOneChangeOfTheStoreAndHistoriesMerge) {
  TStrings target{"beta", "x"}, other{"b", "a"};
  TStringsRef targetRef(target), otherRef(other);
  List.AddStrings(targetRef, "cbxTarget.Items");
  List.AddStrings(otherRef, "Other.Items");
  List.CreateItem<TIntVCfgElem>("n", 5);
  Store->WriteString("fmSearch", "cbxTarget.Items", "alpha\r\nX\r\n\r\ngamma\r\n");
  Store->WriteString("fmSearch", "Other.Items", "c\r\n");
  const int32_t before = Store->ChangeCount();
  List.SaveAll();
  EXPECT_EQ(before + 1, Store->ChangeCount());
  // This list's entries first, then the stored ones it lacks (letter case ignored, no empty line).
  EXPECT_EQ("beta\r\nx\r\nalpha\r\ngamma\r\n", Store->ReadString("fmSearch", "cbxTarget.Items", "?"));
  EXPECT_EQ("b\r\na\r\n", Store->ReadString("fmSearch", "Other.Items", "?"));  // no history: replaced
  EXPECT_EQ(5, Store->ReadInteger("fmSearch", "n", 0));

  TStrings many, stored;
  for (int i = 0; i < 15; ++i) many.push_back("m" + std::to_string(i)), stored.push_back("s" + std::to_string(i));
  EXPECT_EQ(20u, MergeHistory(many, stored, 20).size());
  EXPECT_EQ("s4", MergeHistory(many, stored, 20).back());
  EXPECT_EQ(15u, MergeHistory(many, stored, 10).size());  // a longer list of its own is kept whole
}

TEST_F(CfgElements, ExtractedElementStillUsesItsListsStore) {
  TFakeWindow w("fmSearch", {1, 2, 3, 4});
  std::unique_ptr<TNamedObj> kept = List.Extract(List.AddBounds(w));
  auto* bounds = dynamic_cast<TBoundsCfgElem*>(kept.get());
  ASSERT_NE(nullptr, bounds);
  bounds->Save();
  EXPECT_TRUE(Store->ValueExists("fmSearch", "FMSEARCH.BOUNDS"));
  List.AddBounds(w);  // the name is free again in the list
}

}  // namespace
}  // namespace trawlex
