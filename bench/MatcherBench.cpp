// Throughput of the matcher alone, on text held in memory: the byte-by-byte loop against
// the candidate-skipping path, for the targets the whole-program benchmark uses.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "engine/RangeProcessor.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"

using namespace trawlex;

namespace {

// About 8 MiB of source-like text: words, punctuation, short and long lines.
const std::string& Corpus() {
  static const std::string text = [] {
    const char* words[] = {"int", "return", "static", "const", "value", "if", "for", "while", "the",
                           "hello", "world", "Hello", "printf", "x", "y", "count", "{", "}", "(", ")",
                           "=", ";", "//", "struct", "interior", "print", "Sherlock"};
    std::mt19937 rng(42);
    std::string s;
    s.reserve(8 << 20);
    while (s.size() < (8u << 20)) {
      const int n = static_cast<int>(rng() % 12);
      for (int i = 0; i < n; ++i) {
        const size_t w = rng() % (sizeof words / sizeof *words - (rng() % 1000 ? 1 : 0));
        s += words[w];
        s += ' ';
      }
      s += "\n";
    }
    return s;
  }();
  return text;
}

void Scan(benchmark::State& state, const char* target, bool caseSensitive, bool wholeWord, bool byteByByte) {
  TSearchParams params;
  params.SetCaseSensitive(caseSensitive);
  params.WholeWord = wholeWord;
  params.SetTarget(target);
  TRangeProcessor proc(&params);
  proc.Modes.ByteByByte = byteByByte;
  proc.Modes.CountLinesWithoutFinds = false;
  proc.SetBytes(Corpus(), "bench");
  int64_t finds = 0;
  for (auto _ : state) {
    TSearchFile file(&params);
    proc.File = &file;
    proc.LineNo = 0;
    finds = proc.Process(0, INT32_MAX);
    benchmark::DoNotOptimize(finds);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Corpus().size()));
  state.counters["finds"] = static_cast<double>(finds);
}

// The worst cases of a candidate-by-candidate check, on text of nothing but "a": 10 MiB
// with a target that nearly matches at every position (10,000 "a" then "e"), and 1 MiB
// with the target "a" (a find at every byte) whose exclude text holds it a thousand times
// ("a" x 1,000 then "b"). Only the default path is timed: checking every candidate
// directly, the first would take about half a minute and the second days.
void WorstCase(benchmark::State& state, size_t size, const std::string& target, const std::string& exclude) {
  const std::string text(size, 'a');
  TSearchParams params;
  params.SetCaseSensitive(true);
  params.SetTarget(target);
  params.SetExclude(exclude);
  TRangeProcessor proc(&params);
  proc.Modes.CountLinesWithoutFinds = false;
  proc.SetBytes(text, "bench");
  int64_t finds = 0;
  for (auto _ : state) {
    TSearchFile file(&params);
    proc.File = &file;
    proc.LineNo = 0;
    finds = proc.Process(0, INT32_MAX);
    benchmark::DoNotOptimize(finds);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["finds"] = static_cast<double>(finds);
}

void WorstTarget_Fast(benchmark::State& s) { WorstCase(s, 10 << 20, std::string(10000, 'a') + "e", ""); }
void WorstExclude_Fast(benchmark::State& s) { WorstCase(s, 1 << 20, "a", std::string(1000, 'a') + "b"); }
BENCHMARK(WorstTarget_Fast)->Unit(benchmark::kMillisecond);
BENCHMARK(WorstExclude_Fast)->Unit(benchmark::kMillisecond);

}  // namespace

#define TARGETS(X)                              \
  X(Rare, "Sherlock", true, false)              \
  X(Common, "return", true, false)              \
  X(CaseInsensitive, "hello world", false, false) \
  X(WholeWord, "int", true, true)

#define DEFINE(name, target, cs, ww)                                                          \
  static void name##_ByteLoop(benchmark::State& s) { Scan(s, target, cs, ww, true); }          \
  static void name##_Fast(benchmark::State& s) { Scan(s, target, cs, ww, false); }             \
  BENCHMARK(name##_ByteLoop)->Unit(benchmark::kMillisecond);                                  \
  BENCHMARK(name##_Fast)->Unit(benchmark::kMillisecond);
TARGETS(DEFINE)

BENCHMARK_MAIN();
