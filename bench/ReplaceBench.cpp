// The replace engine on a file full of finds: search, job list, checks and rewrite, as the
// headless replace runs them, with the undo journal (second argument 1) or without it (0).
// Each iteration starts from the same file.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/HeadlessReplace.h"

namespace {

void ReplaceEveryByte(benchmark::State& state) {
  const std::string content(static_cast<size_t>(state.range(0)), 'a');
  std::string dir = "/tmp/trawlex-bench-XXXXXX";
  if (!mkdtemp(dir.data())) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string path = dir + "/f.txt";
  // The journals go beside the file, out of the search, never into the user's own folder.
  setenv("XDG_STATE_HOME", (dir + "/.state").c_str(), 1);
  std::vector<std::string> args{"--report", "--replace-all", "b", "-t", "a", "-d", dir, "-p", "f.txt"};
  if (state.range(1) == 0) args.push_back("--no-undo");
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    state.ResumeTiming();
    const int status = trawlex::RunReplaceAll(args, sink, sink);
    if (status != 0) state.SkipWithError("the replace failed");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::fclose(sink);
  std::filesystem::remove_all(dir);
}

}  // namespace

// One-byte finds, every byte one: the worst case for the per-find costs.
BENCHMARK(ReplaceEveryByte)
    ->Args({1 << 20, 0})
    ->Args({1 << 20, 1})
    ->Args({10'000'000, 0})
    ->Args({10'000'000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
