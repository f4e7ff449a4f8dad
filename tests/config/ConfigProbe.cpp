// A separate process that reads and writes the settings file, so that the tests see what a
// second running copy of the program sees, and nothing comes from a cache.
//   config_probe FILE put  TYPE SECTION IDENT VALUE
//   config_probe FILE get  TYPE SECTION IDENT [SIZE]
//   config_probe FILE many SECTION PREFIX COUNT
//   config_probe FILE loop SECTION        (writes until killed, printing "wrote N" after each)
// FILE "-" is the default location. TYPE: int, bool (VALUE decimal), float (VALUE: the 8
// bytes in hex), str, bytes (VALUE: the bytes in hex), strings (VALUE: the list's text in hex).
// Prints "ok VALUE" (VALUE encoded as given) or "error MESSAGE" (exit status 3).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/Errors.h"
#include "config/ConfigTestUtil.h"
#include "config/RegistryConfig.h"

using namespace trawlex;
using trawlex::testing::Hex;
using trawlex::testing::Unhex;

namespace {

int Run(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string file = argv[1], cmd = argv[2];
  auto store = file == "-" ? std::make_shared<TRegistryConfig>(SettingsRootKey())
                           : std::make_shared<TRegistryConfig>(SettingsRootKey(), file);
  std::string out;
  if (cmd == "put" && argc >= 7) {
    const std::string type = argv[3], section = argv[4], ident = argv[5], value = argv[6];
    if (type == "int") store->WriteInteger(section, ident, std::stoi(value));
    else if (type == "bool") store->WriteBool(section, ident, value == "1");
    else if (type == "str") store->WriteString(section, ident, Unhex(value));
    else if (type == "bytes" || type == "float") {
      const std::string b = Unhex(value);
      if (type == "float") {
        double d;
        std::memcpy(&d, b.data(), 8);
        store->WriteFloat(section, ident, d);
      } else {
        store->WriteBytes(section, ident, static_cast<int32_t>(b.size()), b.data());
      }
    } else if (type == "strings") {
      TStrings lines;
      SetStringsText(lines, Unhex(value));
      store->WriteStrings(section, ident, lines);
    } else {
      return 2;
    }
  } else if (cmd == "get" && argc >= 6) {
    const std::string type = argv[3], section = argv[4], ident = argv[5];
    if (type == "int") out = std::to_string(store->ReadInteger(section, ident, -7));
    else if (type == "bool") out = store->ReadBool(section, ident, false) ? "1" : "0";
    else if (type == "str") out = Hex(store->ReadString(section, ident, "<default>"));
    else if (type == "float") {
      const double d = store->ReadFloat(section, ident, 12.5);
      out = Hex(std::string(reinterpret_cast<const char*>(&d), 8));
    } else if (type == "strings") {
      TStrings lines{"<default>"};
      store->ReadStrings(section, ident, lines, lines);
      out = std::to_string(lines.size()) + ":" + Hex(StringsText(lines));
    } else if (type == "bytes" && argc >= 7) {
      std::string buf(static_cast<size_t>(std::stoi(argv[6])), '\xee');
      store->ReadBytes(section, ident, buf.data(), static_cast<int32_t>(buf.size()), nullptr);
      out = Hex(buf);
    } else {
      return 2;
    }
  } else if (cmd == "many" && argc >= 6) {
    const int count = std::stoi(argv[5]);
    for (int i = 0; i < count; ++i) store->WriteInteger(argv[3], argv[4] + std::to_string(i), i);
  } else if (cmd == "loop") {
    for (int i = 0;; ++i) {
      store->WriteString(argv[3], "v" + std::to_string(i % 50), std::string(static_cast<size_t>(i % 700), 'x'));
      std::printf("wrote %d\n", i + 1);  // how far it got, for a test that kills it
      std::fflush(stdout);
    }
  } else {
    return 2;
  }
  std::printf("ok %s\n", out.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SetSettingsErrorHandler([](const std::string& m) { std::printf("report %s\n", m.c_str()); });
  try {
    return Run(argc, argv);
  } catch (const ETrawlexError& e) {
    std::printf("error %s\n", e.what());
    return 3;
  }
}
