// The replace engine on a file full of finds: search, job list, checks and rewrite, as the
// headless replace runs them. Each iteration starts from the same file.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

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
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    state.ResumeTiming();
    const int status = trawlex::RunReplaceAll({"--report", "--replace-all", "b", "-t", "a", "-d", dir}, sink, sink);
    if (status != 0) state.SkipWithError("the replace failed");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::fclose(sink);
  unlink(path.c_str());
  rmdir(dir.c_str());
}

}  // namespace

// One-byte finds, every byte one: the worst case for the per-find costs.
BENCHMARK(ReplaceEveryByte)->Arg(1 << 20)->Arg(10'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
