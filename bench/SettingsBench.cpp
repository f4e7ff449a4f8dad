// Loading and saving one window's settings list over a large settings file (20,000 values,
// about 1.4 MB): the list read from one reading of the file and written in one locked write,
// against the same elements read one by one, each reading the whole file.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/CfgElements.h"
#include "config/RegistryConfig.h"
#include "platform/DurableFile.h"

using namespace trawlex;

namespace {

constexpr int ValueCount = 20000;
constexpr int ElementCount = 24;  // about as many as a search window keeps

// A private folder with the large settings file, made once.
const std::string& LargeFile() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/trawlex-settings-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\vantorel\\Trawlex\\fmSearch]\r\n";
    for (int i = 0; i < ValueCount; ++i) {
      text += "\"recent.Item" + std::to_string(i) + "\"=\"/home/ann/src/project/module" + std::to_string(i % 97) +
              "/source_file.cpp\"\r\n";
    }
    text += "\r\n";
    std::string error;
    ReplaceFileContent(dir + "/Trawlex.reg", text, error);
    return dir + "/Trawlex.reg";
  }();
  return path;
}

struct TWindowList {
  TWindowList()
      : List(std::make_shared<TRegistryConfig>(SettingsRootKey(), LargeFile()), "fmSearch") {
    for (int i = 0; i < ElementCount; ++i) {
      Values.push_back(&List.CreateItem<TStringVCfgElem>("recent.Item" + std::to_string(i * 800), "default"));
    }
  }
  TBaseCfgList List;
  std::vector<TStringVCfgElem*> Values;
};

void LoadListInOneRead(benchmark::State& state) {
  TWindowList w;
  for (auto _ : state) w.List.LoadAll();
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(LargeFile()));
}

void LoadElementsOneByOne(benchmark::State& state) {
  TWindowList w;
  for (auto _ : state) {
    for (TStringVCfgElem* e : w.Values) e->Load();
  }
}

void SaveListInOneWrite(benchmark::State& state) {
  TWindowList w;
  for (auto _ : state) w.List.SaveAll();
}

}  // namespace

BENCHMARK(LoadListInOneRead)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadElementsOneByOne)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveListInOneWrite)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
