// The settings file store seen from this process and from other processes (the probe).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <cstring>
#include <filesystem>
#include <limits>

#include "base/Errors.h"
#include "config/ConfigTestUtil.h"
#include "base/TextUtils.h"
#include "config/RegistryConfig.h"
#include "config/SettingsErrors.h"
#include "platform/FileReplace.h"
#include "platform/DurableFile.h"

namespace trawlex {
namespace {

using testing::Hex;
using testing::ReadFileBytes;
using testing::ReadSettingsText;
using testing::RunProcess;
using testing::TTempDir;
using testing::Unhex;
using testing::WriteFileBytes;

std::vector<std::string> Probe(const std::string& file, std::vector<std::string> args) {
  args.insert(args.begin(), {CONFIG_PROBE, file});
  return args;
}

// The probe's answer ("ok VALUE" -> VALUE); fails the test on anything else.
std::string ProbeValue(const std::string& file, const std::vector<std::string>& args) {
  const auto r = RunProcess(Probe(file, args));
  EXPECT_EQ(0, r.ExitCode) << r.Output;
  const size_t ok = r.Output.rfind("ok ");
  return ok == std::string::npos ? r.Output : r.Output.substr(ok + 3, r.Output.size() - ok - 4);
}

std::string DoubleHex(double d) { return Hex(std::string(reinterpret_cast<const char*>(&d), 8)); }

std::vector<std::string> AsideFiles(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().filename().string().find(".corrupt-") != std::string::npos) out.push_back(e.path().string());
  }
  return out;
}

class RegistryConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSettingsErrorHandler([this](const std::string& m) { Reports.push_back(m); });
  }
  void TearDown() override { SetSettingsErrorHandler(nullptr); }
  std::shared_ptr<TRegistryConfig> Open() { return std::make_shared<TRegistryConfig>(SettingsRootKey(), File); }

  TTempDir Dir;
  std::string File = Dir / "Trawlex.reg";
  std::vector<std::string> Reports;
};

TEST_F(RegistryConfig, FileLivesUnderTheUserConfigFolder) {
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = oldXdg ? oldXdg : "";
  setenv("XDG_CONFIG_HOME", Dir.Path.c_str(), 1);
  EXPECT_EQ(Dir / "vantorel/Trawlex.reg", SettingsFileFor(SettingsRootKey()));
  EXPECT_EQ(Dir / "vantorel/Trawlex.reg", SettingsFileFor("Software\\vantorel\\Trawlex\\fmSearch"));
  TRegistryConfig store(SettingsRootKey());
  store.WriteInteger("fmSearch", "x", 1);  // creates the missing folder
  EXPECT_TRUE(std::filesystem::exists(Dir / "vantorel/Trawlex.reg"));
  EXPECT_EQ("1", ProbeValue("-", {"get", "int", "fmSearch", "x"}));  // another process finds it too
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  const char* home = std::getenv("HOME");
  EXPECT_EQ(std::string(home ? home : ".") + "/.config/vantorel/Trawlex.reg", SettingsFileFor(SettingsRootKey()));
  if (oldXdg) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
}

TEST_F(RegistryConfig, FileIsAReadableExport) {
  auto store = Open();
  store->WriteInteger("", "Spaces Per Tab", 4);
  store->WriteBool("", "Expand tabs", true);
  store->WriteStrings("fmSearch", "cbxTarget.Items", {"foo", "bar"});
  const std::string text = ReadSettingsText(File);
  EXPECT_EQ(0u, text.find("Windows Registry Editor Version 5.00\r\n"));
  EXPECT_NE(std::string::npos, text.find("[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n"
                                         "\"Spaces Per Tab\"=dword:00000004\r\n\"Expand tabs\"=\"1\"\r\n"));
  EXPECT_NE(std::string::npos, text.find("[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\fmSearch]\r\n"
                                         "\"cbxTarget.Items\"=hex(1):"));
}

TEST_F(RegistryConfig, AnEarlierUtf8FileIsRewrittenAsUtf16AtTheNextSaveKeepingEveryValue) {
  const std::string root = "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n";
  WriteFileBytes(File, "Windows Registry Editor Version 5.00\r\n\r\n" + root +
                           "\"Preferred Editor\"=\"/usr/bin/vi\"\r\n\"Spaces Per Tab\"=dword:00000003\r\n\r\n" +
                           "[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\fmSearch]\r\n"
                           "\"WildCardMemo.History\"=hex(1):2a,00,2e,00,68,00,7c,00,2a,00,2e,00,74,00,63,00,63,00,0d,\\\r\n"
                           "  00,0a,00,00,00\r\n\"b\"=hex:01,02\r\n\r\n");
  auto store = Open();
  EXPECT_EQ("*.h|*.tcc\r\n", store->ReadString("fmSearch", "WildCardMemo.History", ""));
  store->WriteString("", "Editor Args", "<f>");
  EXPECT_EQ("\xFF\xFE", ReadFileBytes(File).substr(0, 2));
  EXPECT_EQ("/usr/bin/vi", store->ReadString("", "Preferred Editor", ""));
  EXPECT_EQ(3, store->ReadInteger("", "Spaces Per Tab", 0));
  EXPECT_EQ("*.h|*.tcc\r\n", store->ReadString("fmSearch", "WildCardMemo.History", ""));
  char b[2] = {};
  store->ReadBytes("fmSearch", "b", b, 2, nullptr);
  EXPECT_EQ("0102", Hex(std::string(b, 2)));
  EXPECT_TRUE(Reports.empty());
}

TEST_F(RegistryConfig, ValuesRoundTripThroughAnotherProcess) {
  auto store = Open();
  // Written here, read there.
  for (int32_t v : {INT32_MIN, INT32_MAX, 0, -1}) {
    store->WriteInteger("s", "int", v);
    EXPECT_EQ(std::to_string(v), ProbeValue(File, {"get", "int", "s", "int"}));
  }
  const double inf = std::numeric_limits<double>::infinity();
  for (double d : {-0.0, std::nan("0x123"), inf, -inf, 1.0 / 3}) {
    store->WriteFloat("s", "float", d);
    EXPECT_EQ(DoubleHex(d), ProbeValue(File, {"get", "float", "s", "float"}));
  }
  const struct {
    TStrings lines;
    const char* expected;  // count ":" hex of the list's text
  } lists[] = {{{}, "0:"}, {{""}, "1:0d0a"}, {{"one"}, "1:6f6e650d0a"}};
  for (const auto& l : lists) {
    store->WriteStrings("s", "list", l.lines);
    EXPECT_EQ(l.expected, ProbeValue(File, {"get", "strings", "s", "list"}));
  }
  for (const std::string text : {"\r\n", "Grüße – 日本語", "\xff\xfe\x80", "", "  blanks  "}) {
    store->WriteString("s", "str", text);
    EXPECT_EQ(Hex(text), ProbeValue(File, {"get", "str", "s", "str"}));
  }
  const std::string bin("\0\0\x01\0\xff\0", 6);
  store->WriteBytes("s", "bin", 6, bin.data());
  EXPECT_EQ(Hex(bin), ProbeValue(File, {"get", "bytes", "s", "bin", "6"}));

  // Written there, read here by a store that existed before.
  ProbeValue(File, {"put", "int", "s", "int", "-2147483648"});
  EXPECT_EQ(INT32_MIN, store->ReadInteger("s", "int", 0));
  ProbeValue(File, {"put", "float", "s", "float", DoubleHex(-0.0)});
  EXPECT_TRUE(std::signbit(store->ReadFloat("s", "float", 1)));
  ProbeValue(File, {"put", "strings", "s", "list", Hex("\r\n")});
  TStrings back{"x"};
  store->ReadStrings("s", "list", back, back);
  EXPECT_EQ(TStrings{""}, back);
  ProbeValue(File, {"put", "str", "s", "str", Hex("Ünïcödé\r\nline")});
  EXPECT_EQ("Ünïcödé\r\nline", store->ReadString("s", "str", ""));
  ProbeValue(File, {"put", "bytes", "s", "bin", Hex(std::string(16, '\0'))});
  std::string buf(16, 'x');
  store->ReadBytes("s", "bin", buf.data(), 16, nullptr);
  EXPECT_EQ(std::string(16, '\0'), buf);
  EXPECT_TRUE(Reports.empty());
}

TEST_F(RegistryConfig, EveryWriteIsVisibleAtOnceToOtherInstances) {
  auto a = Open();
  auto b = Open();
  IConfigPtr sub = a->OpenSubConfig("fmSearch");
  a->WriteString("fmSearch", "x", "1");
  EXPECT_EQ("1", b->ReadString("fmSearch", "x", ""));
  EXPECT_EQ("1", sub->ReadString("", "x", ""));
  b->WriteString("fmSearch", "y", "2");
  EXPECT_EQ("2", a->ReadString("fmSearch", "y", ""));
  a->EraseSection("fmSearch");
  EXPECT_FALSE(b->ValueExists("fmSearch", "y"));
}

TEST_F(RegistryConfig, TwoProcessesWritingAtOnceLoseNothing) {
  int fdA = -1, fdB = -1;
  const pid_t a = testing::StartProcess(Probe(File, {"many", "s", "a", "200"}), fdA);
  const pid_t b = testing::StartProcess(Probe(File, {"many", "s", "b", "200"}), fdB);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  const auto ra = testing::FinishProcess(a, fdA, 100);
  const auto rb = testing::FinishProcess(b, fdB, 100);
  ASSERT_EQ(0, ra.ExitCode) << ra.Output;
  ASSERT_EQ(0, rb.ExitCode) << rb.Output;
  auto store = Open();
  TStrings names;
  store->ReadSection("s", names);
  EXPECT_EQ(400u, names.size());
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(i, store->ReadInteger("s", "a" + std::to_string(i), -1));
    EXPECT_EQ(i, store->ReadInteger("s", "b" + std::to_string(i), -1));
  }
}

TEST_F(RegistryConfig, AProcessKilledWhileWritingLeavesAWholeFile) {
  // Killed after its first write, and later, in the middle of whichever write follows.
  for (const int writes : {1, 40, 300}) {
    SCOPED_TRACE(writes);
    int fd = -1;
    const pid_t pid = testing::StartProcess(Probe(File, {"loop", "s"}), fd);
    ASSERT_GT(pid, 0);
    std::string said;
    const std::string mark = "wrote " + std::to_string(writes) + "\n";
    ASSERT_TRUE(testing::ReadUntil(fd, said, [&](const std::string& out) { return out.find(mark) != std::string::npos; }))
        << said;
    kill(pid, SIGKILL);
    testing::FinishProcess(pid, fd, 10);
    TRegDocument doc;
    std::string error;
    EXPECT_TRUE(doc.Parse(ReadFileBytes(File), error)) << error;
    // The killed process's lock is taken over at once.
    const auto start = std::chrono::steady_clock::now();
    Open()->WriteString("s", "after", "1");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  EXPECT_TRUE(Reports.empty());
}

TEST_F(RegistryConfig, UnparsableFileIsMovedAsideReportedOnceAndDefaultsApply) {
  const std::string contents[] = {
      "garbage \x01\x02\x03",
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n\"a\"=hex:01,\\\r\n",
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n\"a\"=qword:1\r\n",
  };
  for (const auto& content : contents) {
    for (const auto& f : AsideFiles(Dir.Path)) std::filesystem::remove(f);
    Reports.clear();
    WriteFileBytes(File, content);
    auto store = Open();
    EXPECT_EQ(7, store->ReadInteger("", "a", 7));
    EXPECT_EQ(7, store->ReadInteger("", "a", 7));
    ASSERT_EQ(1u, Reports.size());
    EXPECT_NE(std::string::npos, Reports[0].find(File));
    const auto aside = AsideFiles(Dir.Path);
    ASSERT_EQ(1u, aside.size());
    EXPECT_EQ(content, ReadFileBytes(aside[0]));  // nothing the user had is lost
    EXPECT_NE(std::string::npos, Reports[0].find(aside[0]));
    store->WriteInteger("", "a", 1);
    EXPECT_EQ(1, Open()->ReadInteger("", "a", 7));
    EXPECT_EQ(1u, Reports.size());
  }
}

TEST_F(RegistryConfig, CorruptFileFoundByAWriteIsMovedAsideToo) {
  WriteFileBytes(File, "not an export");
  Open()->WriteString("", "x", "y");
  EXPECT_EQ(1u, Reports.size());
  ASSERT_EQ(1u, AsideFiles(Dir.Path).size());
  EXPECT_EQ("y", Open()->ReadString("", "x", ""));
}

TEST_F(RegistryConfig, WritesGoThroughASymbolicLinkToItsTarget) {
  std::filesystem::create_directory(Dir / "dotfiles");
  const std::string target = Dir / "dotfiles/Trawlex.reg";
  std::filesystem::create_symlink("dotfiles/Trawlex.reg", File);  // relative, as people make them
  auto store = Open();
  store->WriteString("", "a", "1");
  store->WriteString("", "b", "2");
  EXPECT_TRUE(std::filesystem::is_symlink(File));
  EXPECT_NE(std::string::npos, ReadSettingsText(target).find("\"b\"=\"2\""));
  EXPECT_EQ("1", Open()->ReadString("", "a", ""));
}

TEST_F(RegistryConfig, FailedWriteRaisesAndLeavesTheFileAsItWas) {
  auto store = Open();
  store->WriteString("", "keep", "1");
  const std::string before = ReadFileBytes(File);
  const std::string lockFile = File + ".lock";
  ASSERT_TRUE(std::filesystem::exists(lockFile));

  if (geteuid() != 0) {
    chmod(Dir.Path.c_str(), 0555);
    try {
      store->WriteString("", "new", "2");
      ADD_FAILURE();
    } catch (const ETrawlexError& e) {
      EXPECT_STREQ("Failed to set data for 'new'", e.what());
    }
    chmod(Dir.Path.c_str(), 0755);
  } else {
    // Root ignores permission bits: the writer runs as an unprivileged user instead.
    const bool haveSetpriv = access("/usr/bin/setpriv", X_OK) == 0;
    chmod(Dir.Path.c_str(), 0755);
    chmod(File.c_str(), 0644);
    chmod(lockFile.c_str(), 0666);
    const auto probe = RunProcess({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                   CONFIG_PROBE, File, "get", "str", "", "keep"});
    if (!haveSetpriv || probe.ExitCode != 0) GTEST_SKIP() << "cannot run as another user: " << probe.Output;
    // A file the user may not write is read, reported once with the system's reason, and
    // never replaced.
    const auto r = RunProcess({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                               CONFIG_PROBE, File, "put", "str", "", "new", Hex("2")});
    EXPECT_EQ(0, r.ExitCode) << r.Output;
    EXPECT_NE(std::string::npos, r.Output.find("report The settings file " + File + " cannot be written (Permission denied)"))
        << r.Output;
  }
  EXPECT_EQ(before, ReadFileBytes(File));
  for (const auto& e : std::filesystem::directory_iterator(Dir.Path)) {
    EXPECT_EQ(std::string::npos, e.path().filename().string().find(".tmp-")) << e.path();  // no temporary left
  }
  EXPECT_FALSE(Open()->ValueExists("", "new"));
}

TEST_F(RegistryConfig, PathsThatCannotBeUsedAreReportedOnceAndNeverWritten) {
  const std::string stored = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n"
                             "\"a\"=\"stored\"\r\n\r\n";
  const struct {
    const char* name;
    std::function<void(const std::string& file)> make;
    const char* report;   // the start of the report, after the path
    const char* readsAs;  // what "a" reads as
  } cases[] = {
      {"a folder at the file's path", [](const std::string& f) { std::filesystem::create_directory(f); },
       " cannot be read (Is a directory)", "default"},
      {"a link to a device", [](const std::string& f) { std::filesystem::create_symlink("/dev/full", f); },
       " cannot be read (It is not a regular file)", "default"},
      {"a folder at the lock's path",
       [&](const std::string& f) {
         WriteFileBytes(f, stored);
         std::filesystem::create_directory(f + ".lock");
       },
       ".lock cannot be used (Is a directory)", "stored"},
      {"a read-only file",
       [&](const std::string& f) {
         WriteFileBytes(f, stored);
         chmod(f.c_str(), 0444);
       },
       " cannot be written (", "stored"},
      {"a file where the folder should be",
       [](const std::string& f) { WriteFileBytes(f.substr(0, f.rfind('/')), "x"); },
       " cannot be used (Not a directory)", "default"},
  };
  for (const auto& c : cases) {
    TTempDir dir;
    const std::string file = std::string(c.name).find("folder should") != std::string::npos ? dir / "sub/Trawlex.reg"
                                                                                             : dir / "Trawlex.reg";
    c.make(file);
    std::string before;
    if (std::filesystem::is_regular_file(file)) before = ReadFileBytes(file);
    Reports.clear();
    auto store = std::make_shared<TRegistryConfig>(SettingsRootKey(), file);
    EXPECT_EQ(std::string(c.readsAs) == "stored" ? "stored" : "default", store->ReadString("", "a", "default"))
        << c.name;
    EXPECT_NO_THROW(store->WriteString("", "a", "new")) << c.name;
    EXPECT_NO_THROW(std::make_shared<TRegistryConfig>(SettingsRootKey(), file)->WriteString("fmSearch", "b", "1"));
    ASSERT_EQ(1u, Reports.size()) << c.name;
    // The report names the path that failed: the file, its lock file or its folder.
    const bool folderFailed = std::string(c.report).find("Not a directory") != std::string::npos;
    const std::string shown = folderFailed ? file.substr(0, file.rfind('/')) : file;
    EXPECT_NE(std::string::npos, Reports[0].find(shown + c.report)) << c.name << ": " << Reports[0];
    if (!before.empty()) {
      EXPECT_EQ(before, ReadFileBytes(file)) << c.name;  // byte for byte
    }
    EXPECT_FALSE(std::filesystem::is_regular_file(file) && before.empty()) << c.name;
  }
}

TEST_F(RegistryConfig, AFolderThatCannotBeFlushedAfterTheRenameIsAWarning) {
  // A folder its owner may write and enter but not read: the rename works, the folder's flush
  // (which opens it for reading) cannot. Root may do everything, so the writer is another user.
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
  const std::string folder = Dir / "settings";
  std::filesystem::create_directory(folder);
  chmod(Dir.Path.c_str(), 0711);
  if (chown(folder.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "cannot give the folder to nobody";
  chmod(folder.c_str(), 0300);
  const std::string file = folder + "/Trawlex.reg";
  const auto r = RunProcess({"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                             CONFIG_PROBE, file, "put", "str", "", "kept", Hex("yes")});
  if (r.Output.find("exec") != std::string::npos || r.ExitCode == 127) GTEST_SKIP() << r.Output;
  EXPECT_EQ(0, r.ExitCode) << r.Output;
  EXPECT_NE(std::string::npos, r.Output.find("report The settings were saved in " + file +
                                             ", but not for certain: The folder could not be flushed to disk "
                                             "(Permission denied)."))
      << r.Output;
  EXPECT_EQ("yes", TRegistryConfig(SettingsRootKey(), file).ReadString("", "kept", ""));
}


// A settings path that is a link leads only to a settings file of the user's own; anything
// else is neither moved aside nor written, and the error names the link. New files and
// folders are the owner's alone, and what the file holds comes back exactly.
TEST(SettingsFileTrust, LinksLeadOnlyToSettingsFilesNewFilesAreTheOwnersAndValuesComeBackExactly) {
  TTempDir dir;
  std::vector<std::string> errors;
  SetSettingsErrorHandler([&](const std::string& m) { errors.push_back(m); });
  const std::string settings = "\xFF\xFE" + [] {
    std::string u;
    for (const char c : std::string("Windows Registry Editor Version 5.00\r\n\r\n")) u += std::string{c, '\0'};
    return u;
  }();
  struct TCase {
    const char* Name;
    std::string Target;  // what the link leads to (written as given), "" for nothing
    bool Foreign;        // the target belongs to another user
    bool Written;        // the value goes through the link
  } cases[] = {
      {"another user's file", "their secret\n", true, false},
      {"a dotfile of the user's own", "export PATH=/bin\n", false, false},
      {"nothing, under a name that is no settings file's", "", false, false},
      {"a settings file", settings, false, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Foreign && geteuid() != 0) continue;
    const std::string n = std::to_string(&c - cases), link = dir / ("Trawlex" + n + ".reg"), target = dir / ("target" + n);
    if (!c.Target.empty()) WriteFileBytes(target, c.Target);
    if (c.Foreign) {
      ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    errors.clear();
    TRegistryConfig(SettingsRootKey(), link).WriteString("", "Preferred Editor", "vi");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(AsideFiles(dir.Path).empty());
    if (c.Written) {
      EXPECT_EQ(TRegistryConfig(SettingsRootKey(), link).ReadString("", "Preferred Editor", ""), "vi");
      EXPECT_TRUE(errors.empty()) << errors.front();
      continue;
    }
    EXPECT_EQ(PathEntryExists(target), !c.Target.empty());
    if (!c.Target.empty()) {
      EXPECT_EQ(ReadFileBytes(target), c.Target);
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("The settings file " + link + " is a symbolic link, and it leads to " + target, 0), 0u)
        << errors[0];
  }
  // A new file in new folders.
  const std::string fresh = dir / "new/vantorel/Trawlex.reg";
  TRegistryConfig(SettingsRootKey(), fresh).WriteString("", "Preferred Editor", "vi");
  struct stat st;
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir / "new/vantorel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  SetSettingsErrorHandler(nullptr);

  // Lone UTF-16 surrogates written into the file by hand or by another program: values the
  // program does not change go back with the same code units, and a window that reads and
  // writes its histories (through the windows' own conversion) again and again never makes
  // them grow.
  const std::string file = dir / "Trawlex.reg";
  auto utf16 = [](const std::u16string& s) {
    std::string out;
    for (const char16_t u : s) out += std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    return out;
  };
  const std::u16string editor = u"vi \xD800 x\xDFFF";
  const std::u16string entries[] = {u"a\xDC00" u"b", u"plain", u"\xDBFF", u"\xDCC3\xDCA9"};
  std::u16string history;
  for (const auto& e : entries) history += e + u"\r\n";
  history += u'\0';
  std::string block;
  for (const char c : utf16(history)) block += (block.empty() ? "" : ",") + Hex(std::string(1, c));
  const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex]\r\n";
  const std::string editorLine = utf16(u"\"Preferred Editor\"=\"" + editor + u"\"\r\n");
  WriteFileBytes(file, "\xFF\xFE" + utf16(head) + editorLine + utf16(u"\r\n[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\fmSearch]\r\n") +
                           utf16(u"\"cbxTarget.Items\"=hex(1):") + [&] {
                             std::string s;
                             for (const char c : block) s += std::string{c, '\0'};
                             return s;
                           }() + utf16(u"\r\n\r\n"));
  std::string saved;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    TRegistryConfig store(SettingsRootKey(), file);
    TStrings lines;
    store.ReadStrings("fmSearch", "cbxTarget.Items", lines, {});
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_TRUE(BytesToUtf16(lines[i]) == entries[i]) << i;
      lines[i] = Utf16ToBytes(BytesToUtf16(lines[i]));  // through a window's combo box and back
    }
    store.MergeStrings("fmSearch", "cbxTarget.Items", lines, 20);
    const std::string value = store.ReadString("", "Preferred Editor", "");
    EXPECT_TRUE(BytesToUtf16(value) == editor);
    store.WriteString("", "Preferred Editor", Utf16ToBytes(BytesToUtf16(value)));
    const std::string now = ReadFileBytes(file);
    EXPECT_NE(now.find(editorLine), std::string::npos) << "the quoted value is written with other code units";
    if (round > 0) {
      EXPECT_EQ(now, saved);
    }
    saved = now;
  }
}

}  // namespace
}  // namespace trawlex
