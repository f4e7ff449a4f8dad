// The value type rules of the settings store, run against the memory store and the file store
// alike: both must keep sections, names, types and defaults exactly as the registry does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "base/Errors.h"
#include "config/ConfigTestUtil.h"
#include "config/MemoryConfig.h"
#include "config/RegistryConfig.h"
#include "platform/DurableFile.h"

namespace trawlex {
namespace {

const std::string Root = "HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex";

enum class TStoreKind { Memory, File };

class StoreRules : public ::testing::TestWithParam<TStoreKind> {
 protected:
  void SetUp() override {
    if (GetParam() == TStoreKind::Memory) {
      Memory = std::make_shared<TMemoryConfig>(SettingsRootKey());
      Store = Memory;
    } else {
      Store = std::make_shared<TRegistryConfig>(SettingsRootKey(), Dir / "Trawlex.reg");
    }
  }

  // Puts a value of any type in place, as another program (or a person) might have left it.
  void PutRaw(const std::string& section, TRegValue v) {
    const std::string key = section.empty() ? Root : Root + "\\" + section;
    if (Memory) {
      Memory->Content().CreateKey(key).PutValue(std::move(v));
      return;
    }
    TRegDocument doc;
    std::string error;
    ASSERT_TRUE(doc.Parse(testing::ReadFileBytes(Dir / "Trawlex.reg"), error)) << error;
    doc.CreateKey(key).PutValue(std::move(v));
    ASSERT_TRUE(ReplaceFileContent(Dir / "Trawlex.reg", doc.Format(), error)) << error;
  }

  uint32_t StoredType(const std::string& section, const std::string& ident) {
    TRegDocument doc;
    if (Memory) {
      doc = Memory->Content();
    } else {
      std::string error;
      EXPECT_TRUE(doc.Parse(testing::ReadFileBytes(Dir / "Trawlex.reg"), error));
    }
    const TRegKey* k = doc.FindKey(section.empty() ? Root : Root + "\\" + section);
    const TRegValue* v = k ? k->FindValue(ident) : nullptr;
    return v ? v->Type : 0xFFFFFFFF;
  }

  template <class F>
  void ExpectInvalidType(const std::string& ident, F&& f) {
    try {
      f();
      ADD_FAILURE() << "no error for " << ident;
    } catch (const ETrawlexError& e) {
      EXPECT_EQ("Invalid data type for '" + ident + "'", std::string(e.what()));
    }
  }

  testing::TTempDir Dir;
  std::shared_ptr<TMemoryConfig> Memory;
  IConfigPtr Store;
};

TEST_P(StoreRules, MissingSectionsAndValuesGiveTheDefaults) {
  EXPECT_EQ("d", Store->ReadString("fmSearch", "x", "d"));
  EXPECT_EQ(-3, Store->ReadInteger("fmSearch", "x", -3));
  EXPECT_TRUE(Store->ReadBool("", "x", true));
  EXPECT_EQ(2.5, Store->ReadFloat("", "x", 2.5));
  EXPECT_EQ(40000.5, Store->ReadDateTime("", "x", 40000.5));
  EXPECT_FALSE(Store->ValueExists("fmSearch", "x"));
  TStrings names{"stale"};
  Store->ReadSection("nowhere", names);
  EXPECT_TRUE(names.empty());
  Store->EraseSection("nowhere");  // harmless
  Store->ReadSections(names);
  EXPECT_TRUE(names.empty());
}

TEST_P(StoreRules, WriteIntegerOverAStringKeepsAString) {
  Store->WriteString("fmSearch", "Spaces Per Tab", "8");
  Store->WriteInteger("fmSearch", "SPACES PER TAB", 5);
  EXPECT_EQ("5", Store->ReadString("fmSearch", "Spaces Per Tab", ""));
  EXPECT_EQ(static_cast<uint32_t>(RegSz), StoredType("fmSearch", "Spaces Per Tab"));
  TStrings names;
  Store->ReadSection("fmSearch", names);
  EXPECT_EQ(TStrings{"Spaces Per Tab"}, names);  // one value, under its first spelling
  Store->WriteInteger("fmSearch", "n", 5);
  EXPECT_EQ(static_cast<uint32_t>(RegDword), StoredType("fmSearch", "n"));
  ExpectInvalidType("n", [&] { Store->ReadString("fmSearch", "n", ""); });
}

TEST_P(StoreRules, BooleansAreStringsAndIntegersReadAsBooleans) {
  Store->WriteBool("", "Expand tabs", true);
  Store->WriteBool("", "Other", false);
  EXPECT_EQ("1", Store->ReadString("", "Expand tabs", ""));
  EXPECT_EQ(1, Store->ReadInteger("", "Expand tabs", 7));
  EXPECT_EQ(0, Store->ReadInteger("", "Other", 7));
  EXPECT_FALSE(Store->ReadBool("", "Other", true));
  PutRaw("", MakeDwordValue("dw1", 1));
  PutRaw("", MakeDwordValue("dw2", -2));
  PutRaw("", MakeDwordValue("dw0", 0));
  EXPECT_TRUE(Store->ReadBool("", "dw1", false));
  EXPECT_TRUE(Store->ReadBool("", "dw2", false));
  EXPECT_FALSE(Store->ReadBool("", "dw0", true));
}

TEST_P(StoreRules, IntegersStoredAsTextAreParsedOrGiveTheDefault) {
  const struct {
    TRegValue v;
    int32_t expected;
  } cases[] = {{MakeStringValue("a", "42"), 42},        {MakeStringValue("a", "-2147483648"), INT32_MIN},
               {MakeStringValue("a", "abc"), 9},        {MakeStringValue("a", ""), 9},
               {MakeStringValue("a", "99999999999"), 9}, {TRegValue{"a", RegExpandSz, "12"}, 12},
               {MakeDwordValue("a", INT32_MAX), INT32_MAX}};
  for (const auto& c : cases) {
    PutRaw("s", c.v);
    EXPECT_EQ(c.expected, Store->ReadInteger("s", "a", 9)) << c.v.Data;
  }
  PutRaw("s", MakeBinaryValue("a", "\1\2\3\4", 4));
  ExpectInvalidType("a", [&] { Store->ReadInteger("s", "a", 0); });
}

TEST_P(StoreRules, StringReadsAcceptOnlyStringTypesExceptEmptyValues) {
  PutRaw("s", TRegValue{"exp", RegExpandSz, "%HOME%\\x"});
  EXPECT_EQ("%HOME%\\x", Store->ReadString("s", "exp", ""));  // not expanded
  PutRaw("s", TRegValue{"emptybin", RegBinary, ""});
  EXPECT_EQ("", Store->ReadString("s", "emptybin", "d"));
  PutRaw("s", MakeBinaryValue("bin", "x", 1));
  ExpectInvalidType("bin", [&] { Store->ReadString("s", "bin", ""); });
}

TEST_P(StoreRules, FloatsAreEightByteBinaries) {
  const double values[] = {0.0, -0.0, 1.5, -1e300, std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  for (double d : values) {
    Store->WriteFloat("f", "v", d);
    const double back = Store->ReadFloat("f", "v", 7);
    EXPECT_EQ(0, std::memcmp(&d, &back, 8)) << d;
  }
  EXPECT_EQ(static_cast<uint32_t>(RegBinary), StoredType("f", "v"));
  Store->WriteFloat("f", "nan", std::nan("0x5"));
  EXPECT_TRUE(std::isnan(Store->ReadFloat("f", "nan", 0)));
  Store->WriteDate("f", "date", 45000.0);
  Store->WriteTime("f", "time", 0.75);
  EXPECT_EQ(45000.0, Store->ReadDate("f", "date", 0));
  EXPECT_EQ(0.75, Store->ReadTime("f", "time", 0));
  for (TRegValue bad : {MakeBinaryValue("x", "1234", 4), MakeStringValue("x", "1.5"), MakeDwordValue("x", 1)}) {
    PutRaw("f", bad);
    ExpectInvalidType("x", [&] { Store->ReadFloat("f", "x", 0); });
  }
}

TEST_P(StoreRules, ReadBytesTakesOnlyBlocksOfTheRightSize) {
  const std::string def(16, 'D');
  std::string buf(16, '.');
  Store->ReadBytes("b", "v", buf.data(), 16, def.data());
  EXPECT_EQ(def, buf);

  const std::string block("\0\1\0\2\0\0\0\3\0\0\0\0\0\0\0\xff", 16);
  Store->WriteBytes("b", "v", 16, block.data());
  Store->ReadBytes("b", "v", buf.data(), 16, def.data());
  EXPECT_EQ(block, buf);

  Store->WriteBytes("b", "v", 8, "12345678");
  buf.assign(16, '.');
  Store->ReadBytes("b", "v", buf.data(), 16, def.data());  // a short block gives the default
  EXPECT_EQ(def, buf);
  buf.assign(16, '.');
  Store->ReadBytes("b", "v", buf.data(), 16, nullptr);  // no default: the short block stays
  EXPECT_EQ("12345678........", buf);

  Store->WriteBytes("b", "v", 20, "12345678901234567890");
  ExpectInvalidType("v", [&] { Store->ReadBytes("b", "v", buf.data(), 16, def.data()); });
  Store->WriteString("b", "v", "text");
  ExpectInvalidType("v", [&] { Store->ReadBytes("b", "v", buf.data(), 16, def.data()); });

  PutRaw("b", TRegValue{"none", RegNone, std::string(16, 'N')});  // a type the store does not know
  Store->ReadBytes("b", "none", buf.data(), 16, def.data());
  EXPECT_EQ(std::string(16, 'N'), buf);
}

TEST_P(StoreRules, StringListsAreOneTextValue) {
  const struct {
    TStrings lines;
    const char* stored;
  } cases[] = {{{}, ""}, {{""}, "\r\n"}, {{"one"}, "one\r\n"}, {{"a", "", "b"}, "a\r\n\r\nb\r\n"}};
  for (const auto& c : cases) {
    Store->WriteStrings("l", "v", c.lines);
    EXPECT_EQ(c.stored, Store->ReadString("l", "v", "?"));
    TStrings back{"x", "y"};
    Store->ReadStrings("l", "v", back, back);
    EXPECT_EQ(c.lines, back);
  }
  Store->WriteString("l", "v", "a\rb\nc\r\nd");
  TStrings back;
  Store->ReadStrings("l", "v", back, TStrings{});
  EXPECT_EQ((TStrings{"a", "b", "c", "d"}), back);
  TStrings same{"keep", "me"};
  Store->ReadStrings("l", "missing", same, same);
  EXPECT_EQ((TStrings{"keep", "me"}), same);
}

TEST_P(StoreRules, SectionsListEraseAndSubStores) {
  Store->WriteString("", "top", "1");
  Store->WriteString("fmSearch", "a", "1");
  Store->WriteString("fmSearch", "b", "2");
  Store->WriteString("fmSearch_1", "a", "3");
  TStrings names;
  Store->ReadSections(names);
  EXPECT_EQ((TStrings{"fmSearch", "fmSearch_1"}), names);
  Store->ReadSection("FMSEARCH", names);
  EXPECT_EQ((TStrings{"a", "b"}), names);
  EXPECT_TRUE(Store->ValueExists("fmsearch", "A"));

  IConfigPtr sub = Store->OpenSubConfig("fmSearch");
  EXPECT_EQ("2", sub->ReadString("", "b", ""));
  sub->WriteString("", "c", "4");
  EXPECT_EQ("4", Store->ReadString("fmSearch", "c", ""));

  Store->EraseSection("fmSearch");
  EXPECT_FALSE(Store->ValueExists("fmSearch", "a"));
  EXPECT_EQ("", sub->ReadString("", "b", ""));
  Store->ReadSections(names);
  EXPECT_EQ(TStrings{"fmSearch_1"}, names);
  EXPECT_EQ("1", Store->ReadString("", "top", ""));
}

TEST_P(StoreRules, UnwritableNamesAreRefusedAndChangeNothing) {
  Store->WriteString("s", "keep", "1");
  try {
    Store->WriteString("s", "bad\nname", "x");
    FAIL();
  } catch (const ETrawlexError& e) {
    EXPECT_STREQ("Failed to set data for 'bad\nname'", e.what());
  }
  try {
    Store->WriteString("a\\\\b", "x", "x");
    FAIL();
  } catch (const ETrawlexError& e) {
    EXPECT_STREQ("Failed to create key Software\\vantorel\\Trawlex\\a\\\\b", e.what());
  }
  TStrings names;
  Store->ReadSections(names);
  EXPECT_EQ(TStrings{"s"}, names);
}

TEST_P(StoreRules, TextOfAnyBytesRoundTrips) {
  const std::string texts[] = {"Grüße – 日本語 😀", std::string("a\0b", 3), "\xff\xfe bad utf-8 \xc3", "tab\there",
                               "quote \" and \\ backslash", "\r\n", ""};
  int n = 0;
  for (const auto& t : texts) {
    const std::string ident = "t" + std::to_string(n++);
    Store->WriteString("s", ident, t);
    // A string ends at its first zero character, as in the registry.
    EXPECT_EQ(t.substr(0, t.find('\0')), Store->ReadString("s", ident, "?"));
  }
}

INSTANTIATE_TEST_SUITE_P(BothStores, StoreRules, ::testing::Values(TStoreKind::Memory, TStoreKind::File),
                         [](const auto& info) { return info.param == TStoreKind::Memory ? "Memory" : "File"; });

}  // namespace
}  // namespace trawlex
