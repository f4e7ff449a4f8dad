// The settings file against a real registry editor (Wine's regedit and reg): a file written by
// the store imports value for value, and an export of the registry editor loads into the store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "config/ConfigTestUtil.h"
#include "config/RegDocument.h"
#include "config/RegistryConfig.h"
#include "config/SettingsErrors.h"

namespace trawlex {
namespace {

using testing::Hex;
using testing::ReadFileBytes;
using testing::RunProcess;
using testing::TRunResult;
using testing::TTempDir;

const std::string Hive = "HKEY_CURRENT_USER\\";

std::string FindInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string candidate = dirs.substr(start, colon - start) + "/" + name;
    if (colon > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = colon + 1;
  }
  return {};
}

// One Wine prefix for the whole test program: its first start takes a while.
class Regedit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Wine = FindInPath("wine");
    if (Wine.empty()) return;
    Prefix = new TTempDir();
    // A private prefix, quiet, without a display, and arguments passed as UTF-8.
    setenv("WINEPREFIX", (*Prefix / "prefix").c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    Boot = RunProcess({Wine, "wineboot", "--init"}, 300);
  }
  static void TearDownTestSuite() {
    if (!Prefix) return;
    const std::string server = FindInPath("wineserver");
    if (!server.empty()) RunProcess({server, "-k"}, 60);
    delete Prefix;
    Prefix = nullptr;
  }
  void SetUp() override {
    if (Wine.empty()) GTEST_SKIP() << "wine is not installed (scripts/setup installs it)";
    ASSERT_EQ(0, Boot.ExitCode) << "wine could not create its prefix: " << Boot.Output;
    SetSettingsErrorHandler([](const std::string& m) { ADD_FAILURE() << m; });
  }
  void TearDown() override { SetSettingsErrorHandler(nullptr); }

  // Runs a Wine program; the test fails when it does not succeed.
  static void RunWine(std::vector<std::string> args) {
    args.insert(args.begin(), Wine);
    TRunResult r = RunProcess(args, 120);
    // On a busy machine Wine's tools now and then fail silently while the prefix's services
    // are still starting; a second try tells that apart from a real refusal, which repeats.
    if (r.ExitCode != 0 && r.Output.empty()) r = RunProcess(args, 120);
    std::string shown;
    for (const auto& a : args) shown += " " + a;
    EXPECT_EQ(0, r.ExitCode) << shown << "\n" << r.Output;
  }
  // A path as the Windows programs under Wine see it.
  static std::string WinPath(std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return "Z:" + path;
  }
  static TRegDocument Load(const std::string& file) {
    TRegDocument doc;
    std::string error;
    EXPECT_TRUE(doc.Parse(ReadFileBytes(file), error)) << file << ": " << error;
    return doc;
  }

  static inline std::string Wine;
  static inline TTempDir* Prefix = nullptr;
  static inline TRunResult Boot;
  TTempDir Dir;
};

TEST_F(Regedit, AFileOfTheStoreImportsAndExportsValueForValue) {
  const std::string key = "Software\\vantorel\\Trawlex";
  const std::string file = Dir / "Trawlex.reg";
  {
    TRegistryConfig store(key, file);
    store.WriteStrings("fmSearch", "WildCardMemo.History", {"*.h|*.tcc"});
    store.WriteStrings("fmSearch", "cbxDirectory.Items", {"/usr/include/c++/12/bits", "/home/ann/Grüße ∑"});
    store.WriteStrings("fmSearch", "cbxTarget.Items", {"", "a \"quoted\" word", "C:\\dir\\", "\\n is no break"});
    store.WriteString("fmSearch", "one line", "Grüße \"∑\" C:\\x\\ \\\\server\ttab");
    store.WriteString("fmSearch", "empty", "");
    store.WriteString("fmSearch", "controls", "\x01\x1f\x7f end\\");
    store.WriteString("fmSearch", "name \"q\" \\ ü", "C:\\dir\\");
    store.WriteString("fmSearch", "lone breaks", "\r\n\n\r");
    store.WriteBool("", "Expand tabs", true);
    store.WriteInteger("", "Spaces Per Tab", -7);
    store.WriteFloat("fmSearch", "dlgReplace.Time", 45678.25);
    std::string block;
    for (int i = 0; i < 200; ++i) block += static_cast<char>(i * 13);
    store.WriteBytes("fmSearch", "lstResults.Font", static_cast<int32_t>(block.size()), block.data());
    store.WriteBytes("fmSearch", "empty block", 0, "");
  }
  RunWine({"regedit", "/S", WinPath(file)});
  const std::string exported = Dir / "exported.reg";
  RunWine({"regedit", "/E", WinPath(exported), Hive + key});

  const TRegDocument written = Load(file), back = Load(exported);
  for (const TRegKey& k : written.Keys()) {
    const TRegKey* b = back.FindKey(k.Path);
    ASSERT_NE(nullptr, b) << k.Path;
    EXPECT_EQ(k.Values.size(), b->Values.size()) << k.Path;
    for (const TRegValue& v : k.Values) {
      const TRegValue* got = b->FindValue(v.Name);
      ASSERT_NE(nullptr, got) << v.Name;
      EXPECT_EQ(v.Type, got->Type) << v.Name;
      EXPECT_EQ(Hex(v.Data), Hex(got->Data)) << v.Name;
    }
  }
  EXPECT_EQ(2u, written.Keys().size());
}

TEST_F(Regedit, AnExportOfTheRegistryEditorLoadsIntoTheStore) {
  const std::string key = "Software\\vantorel\\FromRegedit";
  const struct {
    const char* name;
    const char* type;
    std::string data;
  } values[] = {
      {"letters", "REG_SZ", "Grüße ∑ \"q\" C:\\x\\ \\\\s"},
      {"empty", "REG_SZ", ""},
      {"cbxTarget.Items", "REG_SZ", "one\r\ntwo \"2\"\r\nC:\\three\\\r\n"},
      {"Spaces Per Tab", "REG_DWORD", "0xfffffffe"},
      {"Expand tabs", "REG_SZ", "1"},
      {"block", "REG_BINARY", "00ff0d0a"},
      {"time", "REG_BINARY", Hex(std::string("\x00\x00\x00\x00\xc8\x4d\xe6\x40", 8))},
      {"expand", "REG_EXPAND_SZ", "%HOME%ü"},
  };
  for (const auto& v : values) {
    RunWine({"reg", "add", Hive + key + "\\fmSearch", "/v", v.name, "/t", v.type, "/d", v.data, "/f"});
  }
  const std::string exported = Dir / "exported.reg";
  RunWine({"regedit", "/E", WinPath(exported), Hive + key});
  EXPECT_EQ("\xFF\xFE", ReadFileBytes(exported).substr(0, 2));

  TRegistryConfig store(key, exported);
  EXPECT_EQ(values[0].data, store.ReadString("fmSearch", "letters", "default"));
  EXPECT_EQ("", store.ReadString("fmSearch", "empty", "default"));
  TStrings lines;
  store.ReadStrings("fmSearch", "cbxTarget.Items", lines, {});
  EXPECT_EQ((TStrings{"one", "two \"2\"", "C:\\three\\"}), lines);
  EXPECT_EQ(-2, store.ReadInteger("fmSearch", "Spaces Per Tab", 0));
  EXPECT_TRUE(store.ReadBool("fmSearch", "Expand tabs", false));
  char block[4] = {};
  store.ReadBytes("fmSearch", "block", block, 4, nullptr);
  EXPECT_EQ("00ff0d0a", Hex(std::string(block, 4)));
  EXPECT_EQ(45678.25, store.ReadDateTime("fmSearch", "time", 0));
  EXPECT_EQ("%HOME%ü", store.ReadString("fmSearch", "expand", ""));
}

}  // namespace
}  // namespace trawlex
