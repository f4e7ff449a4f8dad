// The settings store on the registry of the current user (Windows; run under Wine here).
// Every test works in a section of its own below the program's key and removes it after.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "base/Errors.h"
#include "config/ConfigTestUtil.h"
#include "config/RegistryConfig.h"
#include "config/win32/RegistryStore.h"
#include "support/Win32TestSupport.h"

using namespace trawlex;
using trawlex::testing::Hex;
using trawlex::test::W;

namespace {

// Runs `command` and answers its output (stdout and stderr), or "" after `timeoutMs`.
std::string RunProbe(const std::string& command, DWORD timeoutMs = 60000) {
  const test::TProgramRun run = test::RunProgram(command, timeoutMs);
  return run.TimedOut ? std::string() : run.Out;
}

// The settings probe as this system names it.
std::string Probe() { return "\"" + test::WinePath(CONFIG_PROBE) + "\" -"; }

class Win32Registry : public ::testing::Test {
 protected:
  void SetUp() override { Section = ::testing::UnitTest::GetInstance()->current_test_info()->name(); }
  // Edits of the key outside the store take its lock, as every copy of the program does, so
  // that tests running at once never change the tree another one is reading.
  void TearDown() override {
    TRegistryLock lock;
    ASSERT_TRUE(lock.Acquire(10000));
    RegDeleteTreeW(HKEY_CURRENT_USER, W(KeyOf(Section)).c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, W(KeyOf(Section)).c_str());
  }
  static std::string KeyOf(const std::string& section) { return SettingsRootKey() + "\\" + section; }

  // The type and bytes the registry holds for a value of the test's section.
  std::pair<DWORD, std::string> Raw(const std::string& ident) const {
    DWORD type = 0, size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, W(KeyOf(Section)).c_str(), W(ident).c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type,
                     nullptr, &size) != ERROR_SUCCESS)
      return {REG_NONE, "<missing>"};
    std::string data(size, '\0');
    RegGetValueW(HKEY_CURRENT_USER, W(KeyOf(Section)).c_str(), W(ident).c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type,
                 data.data(), &size);
    data.resize(size);
    return {type, data};
  }
  void Plant(const std::string& ident, DWORD type, const std::string& bytes) const {
    TRegistryLock lock;
    ASSERT_TRUE(lock.Acquire(10000));
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, W(KeyOf(Section)).c_str(), W(ident).c_str(), type, bytes.data(),
                              static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  static std::string Utf16z(const std::string& text) {
    const std::wstring w = W(text);
    return std::string(reinterpret_cast<const char*>(w.c_str()), (w.size() + 1) * 2);
  }

  std::string Section;
};

}  // namespace

TEST_F(Win32Registry, WritesTheRegistryTypesUnderTheProgramsKey) {
  TRegistryConfig store(SettingsRootKey());
  EXPECT_TRUE(store.FilePath().empty());
  store.WriteString(Section, "\xCE\xA9name", "\xCE\xA9\xCE\xB4\xCE\xAE");  // outside the ANSI code page
  store.WriteInteger(Section, "Int", -2);
  store.WriteBytes(Section, "Bytes", 3, "\x01\x00\xff");
  store.WriteFloat(Section, "Float", 0.5);
  store.WriteBool(Section, "Bool", true);
  const struct {
    const char* Ident;
    DWORD Type;
    std::string Bytes;
  } cases[] = {
      {"\xCE\xA9name", REG_SZ, Utf16z("\xCE\xA9\xCE\xB4\xCE\xAE")},
      {"Int", REG_DWORD, std::string("\xfe\xff\xff\xff", 4)},
      {"Bytes", REG_BINARY, std::string("\x01\x00\xff", 3)},
      {"Float", REG_BINARY, std::string("\0\0\0\0\0\0\xe0\x3f", 8)},
      {"Bool", REG_SZ, Utf16z("1")},
  };
  for (const auto& c : cases) EXPECT_EQ(Raw(c.Ident), std::make_pair(c.Type, c.Bytes)) << c.Ident;
  EXPECT_EQ(store.ReadString(Section, "\xCE\xA9name", ""), "\xCE\xA9\xCE\xB4\xCE\xAE");
  // An integer written over a string stays a string, as the rules say.
  store.WriteInteger(Section, "Bool", 5);
  EXPECT_EQ(Raw("Bool"), std::make_pair(DWORD{REG_SZ}, Utf16z("5")));
}

TEST_F(Win32Registry, ReadsValuesOthersPutThereByTheReadRules) {
  Plant("Expand", REG_EXPAND_SZ, Utf16z("%TEMP%\\x"));
  Plant("Dword", REG_DWORD, std::string("\x07\0\0\0", 4));
  Plant("Text12", REG_SZ, Utf16z(" 12 "));
  Plant("Blob", REG_BINARY, "abc");
  TRegistryConfig store(SettingsRootKey());
  EXPECT_EQ(store.ReadString(Section, "Expand", ""), "%TEMP%\\x");  // not expanded
  EXPECT_EQ(store.ReadInteger(Section, "Dword", -1), 7);
  EXPECT_EQ(store.ReadInteger(Section, "Text12", -1), 12);
  EXPECT_EQ(store.ReadInteger(Section, "Missing", -1), -1);
  EXPECT_THROW(store.ReadInteger(Section, "Blob", -1), ETrawlexError);
  EXPECT_THROW(store.ReadString(Section, "Dword", ""), ETrawlexError);
  TStrings names;
  store.ReadSection(Section, names);
  EXPECT_EQ(names.size(), 4u);
  // A write elsewhere in the section leaves the planted values and their types alone.
  store.WriteString(Section, "New", "n");
  EXPECT_EQ(Raw("Expand"), std::make_pair(DWORD{REG_EXPAND_SZ}, Utf16z("%TEMP%\\x")));
}

TEST_F(Win32Registry, AnotherProcessSeesEveryWriteAtOnce) {
  TRegistryConfig store(SettingsRootKey());
  store.WriteString(Section, "Shared", "first");
  EXPECT_EQ(RunProbe(Probe() + " get str " + Section + " Shared"), "ok " + Hex("first") + "\r\n");
  EXPECT_EQ(RunProbe(Probe() + " put int " + Section + " FromProbe 41"), "ok \r\n");
  EXPECT_EQ(store.ReadInteger(Section, "FromProbe", 0), 41);
  // A second process writing many values while this one writes others: none is lost.
  std::thread other([&] { EXPECT_EQ(RunProbe(Probe() + " many " + Section + " p 40"), "ok \r\n"); });
  for (int i = 0; i < 40; ++i) store.WriteInteger(Section, "q" + std::to_string(i), i);
  other.join();
  TStrings names;
  store.ReadSection(Section, names);
  EXPECT_EQ(names.size(), 82u);
}

TEST_F(Win32Registry, HistoriesMergedAtOnceKeepEveryAddition) {
  auto merge = [&](const std::string& prefix) {
    TRegistryConfig store(SettingsRootKey());
    for (int i = 0; i < 15; ++i) store.MergeStrings(Section, "History", {prefix + std::to_string(i)}, 100);
  };
  std::thread a(merge, "a"), b(merge, "b");
  a.join();
  b.join();
  TRegistryConfig store(SettingsRootKey());
  TStrings lines;
  store.ReadStrings(Section, "History", lines, {});
  EXPECT_EQ(lines.size(), 30u);
}

TEST_F(Win32Registry, SectionsAreKeysAndGoWithEverythingInThem) {
  TRegistryConfig store(SettingsRootKey());
  IConfigPtr sub = store.OpenSubConfig(Section);
  sub->WriteString("Inner", "V", "x");
  sub->WriteString("", "Top", "y");
  TStrings sections;
  sub->ReadSections(sections);
  EXPECT_EQ(sections, TStrings{"Inner"});
  EXPECT_EQ(Raw("Top"), std::make_pair(DWORD{REG_SZ}, Utf16z("y")));
  sub->EraseSection("Inner");
  sub->ReadSections(sections);
  EXPECT_TRUE(sections.empty());
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, W(KeyOf(Section) + "\\Inner").c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(sub->ValueExists("", "Top"));
}
