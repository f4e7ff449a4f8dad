#include "engine/SearchAhead.h"

#include <cstdint>
#include <new>

#include "engine/RangeProcessor.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"

namespace trawlex {

int DefaultSearchAheadThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n > 1 ? static_cast<int>(n) - 1 : 0;
}

TSearchAhead::TSearchAhead(TSearchParams* params, const TCandidateList& files, int threads, int32_t maxFileSize,
                           size_t window)
    : Params(params),
      MaxFileSize(maxFileSize),
      Window(window),
      State(new std::atomic<uint8_t>[files.size()]),
      Outcomes(files.size()) {
  // The worker moves items from the list into the results as it goes; the items stay
  // alive until the search ends, so the helpers keep plain pointers to them.
  Files.reserve(files.size());
  for (const auto& f : files) Files.push_back(static_cast<TSearchFile*>(f.get()));
  for (size_t i = 0; i < files.size(); ++i) State[i].store(Free, std::memory_order_relaxed);
  WorkerProcessor = MakeProcessor();
  for (int t = 0; t < threads; ++t) Helpers.emplace_back([this] { Work(); });
}

TSearchAhead::~TSearchAhead() {
  {
    std::lock_guard lock(Lock);
    Stop = true;
  }
  HelperWake.notify_all();
  for (auto& t : Helpers) t.join();
}

bool TSearchAhead::Take(size_t i, TOutcome& outcome) {
  {
    std::lock_guard lock(Lock);
    Current = i;
    if (HelpersWaiting > 0 && Next < Current + Window / 2) HelperWake.notify_all();
  }
  for (;;) {
    uint8_t expected = Free;
    if (State[i].compare_exchange_strong(expected, Taken)) return false;
    if (expected == Done) break;
    // A helper is searching file i: rather than sleep, search a file further on.
    if (const size_t j = ClaimNext(); j != SIZE_MAX) {
      SearchSlot(*WorkerProcessor, j);
      continue;
    }
    std::unique_lock lock(Lock);
    // A helper that finds the file too large hands it back (Free); otherwise it is Done.
    WorkerWaitsFor = i;
    WorkerWake.wait(lock, [&] { return State[i].load(std::memory_order_acquire) != Taken; });
    WorkerWaitsFor = SIZE_MAX;
  }
  std::lock_guard lock(Lock);  // pairs with the helper's Publish
  outcome = std::move(Outcomes[i]);
  return true;
}

size_t TSearchAhead::ClaimNext() {
  for (;;) {
    size_t j;
    {
      std::lock_guard lock(Lock);
      if (Next <= Current) Next = Current + 1;  // the worker is past these already
      if (Next >= Files.size() || Next >= Current + Window) return SIZE_MAX;
      j = Next++;
    }
    uint8_t expected = Free;
    if (State[j].compare_exchange_strong(expected, Taken)) return j;
  }
}

void TSearchAhead::SearchSlot(TRangeProcessor& processor, size_t j) {
  TOutcome outcome;
  try {
    if (!processor.SetFileIfNotLarger(Files[j], MaxFileSize)) {
      // Left to the worker, so that only one large file is in memory at a time.
      Publish(j, Free);
      return;
    }
    outcome.Finds = processor.Process(0, INT32_MAX);
  } catch (const std::bad_alloc&) {
    outcome.Error = "Out of memory";
  } catch (const std::exception& e) {
    outcome.Error = e.what();
  }
  Outcomes[j] = std::move(outcome);
  Publish(j, Done);
}

void TSearchAhead::Work() {
  auto processor = MakeProcessor();
  for (;;) {
    {
      std::unique_lock lock(Lock);
      if (!(Next < Current + Window)) {
        // Ahead by a whole window: wait until the worker is half way through it, so that
        // a helper is woken once per half window rather than once per file.
        ++HelpersWaiting;
        HelperWake.wait(lock, [&] { return Stop || Next >= Files.size() || Next < Current + Window / 2; });
        --HelpersWaiting;
      }
      if (Stop || Next >= Files.size()) return;
    }
    const size_t j = ClaimNext();
    if (j != SIZE_MAX) SearchSlot(*processor, j);
  }
}

std::unique_ptr<TRangeProcessor> TSearchAhead::MakeProcessor() const {
  auto processor = std::make_unique<TRangeProcessor>(Params);
  processor->UpdateLineNoDigits = false;  // raised by the worker as it hands lines over
  processor->CountLinesWithoutFinds = false;
  return processor;
}

void TSearchAhead::Publish(size_t j, uint8_t state) {
  std::lock_guard lock(Lock);
  State[j].store(state, std::memory_order_release);
  if (WorkerWaitsFor == j) WorkerWake.notify_one();
}

}  // namespace trawlex
