// What the results of a search cost in memory: runs the headless search (report to the null
// device) and prints the line items, their text, the heap the results hold once the search
// is over, and from these the bytes per line item beyond its text, with and without each
// file item's share.
//
//   memory_bench DIR TARGET [SWITCH VALUE ...]     e.g. memory_bench /tmp/perf-corpus/tree the -c 0
//   memory_bench --lines N                         a file of N lines "a", searched for "a"
//
// Heap figures come from the C library's allocator (all its arenas, with each block's own
// overhead), so they hold what the results really take.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "platform/Platform.h"

using namespace trawlex;

namespace {

size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

int Measure(const std::vector<std::string>& args) {
  std::FILE* null = std::fopen("/dev/null", "w");
  auto* params = new TSearchParams;  // made before the first measure: its own bytes do not count
  const size_t before = HeapInUse();
  THeadlessInvoker invoker;
  TSearchOutcome outcome;
  if (!SearchAndReport(args, *params, invoker, null, stderr, outcome)) return 2;
  malloc_trim(0);
  const size_t after = HeapInUse();
  size_t lines = 0, text = 0, finds = 0, files = 0, names = 0, arenas = 0;
  std::set<const TLineArena*> seen;
  for (int32_t i = 0; i < params->GetResultCount(); ++i) {
    const TSearchFile* file = params->GetResult(i);
    ++files;
    if (file->LineArena() && seen.insert(file->LineArena()).second) arenas += file->LineArena()->Capacity();
    names += file->Name.capacity() > 15 ? file->Name.capacity() + 1 : 0;
    for (const TSearchLine* line : file->LinesSnapshot()) {
      ++lines;
      text += line->Text().size();
      finds += static_cast<size_t>(line->GetFindCount());
    }
  }
  const double held = static_cast<double>(after - before);
  const double perFile = sizeof(TSearchFile) + 16.0;  // the item and its block's overhead
  std::printf("files with finds   %zu\nline items         %zu\nfinds              %zu\ntext bytes         %zu\n", files,
              lines, finds, text);
  std::printf("results' heap      %.1f MiB, of which %.1f MiB in %zu arenas of line items, texts and finds\n", held / (1 << 20),
              static_cast<double>(arenas) / (1 << 20), seen.size());
  if (lines > 0) {
    std::printf("bytes per line item beyond its text, file items' share included:  %.1f\n",
                (held - static_cast<double>(text)) / static_cast<double>(lines));
    std::printf("bytes per line item beyond its text, without the file items:      %.1f\n",
                (held - static_cast<double>(text) - static_cast<double>(names) - perFile * static_cast<double>(files)) /
                    static_cast<double>(lines));
  }
  std::fclose(null);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--lines") {
    const std::string dir = TempDirectory() + "trawlex-memory-bench";
    if (std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()) != 0) {
      std::fprintf(stderr, "memory_bench: cannot make %s\n", dir.c_str());
      return 2;
    }
    {
      std::ofstream out(dir + "/lines.txt", std::ios::binary);
      std::string block;
      for (int i = 0; i < (1 << 15); ++i) block += "a\n";
      for (long n = std::atol(args[1].c_str()); n > 0; n -= 1 << 15)
        out.write(block.data(), static_cast<std::streamsize>(2 * std::min<long>(n, 1 << 15)));
    }
    const int status = Measure({"--report", "-t", "a", "-d", dir, "-c", "1"});
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) std::fprintf(stderr, "memory_bench: cannot remove %s\n", dir.c_str());
    return status;
  }
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: memory_bench DIR TARGET [SWITCH VALUE ...] | memory_bench --lines N\n");
    return 2;
  }
  std::vector<std::string> search{"--report", "-t", args[1], "-d", args[0]};
  search.insert(search.end(), args.begin() + 2, args.end());
  return Measure(search);
}
