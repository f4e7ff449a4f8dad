#include "engine/SearchAhead.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/RangeProcessor.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {
bool FoldedLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return UpperByte(static_cast<unsigned char>(x)) < UpperByte(static_cast<unsigned char>(y));
  });
}
}  // namespace

int DefaultSearchAheadThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n > 1 ? static_cast<int>(n) - 1 : 0;
}

TSearchAhead::TSearchAhead(TSearchParams* params, int threads, int64_t maxFileSize, size_t window, TReadAhead readAhead,
                           std::function<bool()> stopRequested)
    : Params(params),
      MaxFileSize(maxFileSize),
      Window(window),
      ReadAheadMode(readAhead),
      SearchStopRequested(std::move(stopRequested)),
      WorkerProcessor(MakeProcessor()) {
  try {
    for (int t = 0; t < threads; ++t) Helpers.emplace_back([this] { Work(); });
    if (threads > 0 && (readAhead == TReadAhead::Always || (readAhead == TReadAhead::WhenReadsWait && StorageBytesRead() >= 0)))
      AheadThread = std::thread([this] { ReadAheadGuarded(); });
  } catch (...) {
    // A helper could not be made (the system is out of threads or memory): those already
    // running are stopped before the error goes on to fail the search.
    StopHelpers();
    throw;
  }
}

TSearchAhead::~TSearchAhead() { StopHelpers(); }

void TSearchAhead::StopHelpers() {
  {
    std::lock_guard lock(Lock);
    Stop = true;
  }
  Stopping.store(true, std::memory_order_relaxed);
  HelperWake.notify_all();
  AheadWake.notify_all();
  FolderWake.notify_all();
  for (auto& t : Helpers) t.join();
  Helpers.clear();
  if (AheadThread.joinable()) AheadThread.join();
  for (auto& t : FolderThreads) t.join();
  FolderThreads.clear();
}

std::unique_ptr<TSearchFile> MakeCandidateFile(TSearchParams* params, std::string_view path) {
  auto file = std::make_unique<TSearchFile>(params);
  file->Name = path;
  return file;
}

void TSearchAhead::Add(const std::vector<std::string_view>& paths, const std::vector<bool>& shortReadsEnd) {
  if (paths.empty()) return;
  std::lock_guard lock(Lock);
  for (size_t i = 0; i < paths.size(); ++i) Found.emplace_back(paths[i], i < shortReadsEnd.size() && shortReadsEnd[i]);
  if (HelpersWaiting > 0) HelperWake.notify_all();
}

void TSearchAhead::Settle(const std::vector<size_t>& addedOrder, size_t count) {
  // Only this thread changes Found, so it reads it without the lock; the helpers read
  // Order only once it is sealed, but the worker's Take reads it under the lock.
  TRAWLEX_ASSERT(count <= addedOrder.size(), "Invalid value in Settle");
  std::lock_guard lock(Lock);
  ExtendOrder(Order, addedOrder, count);
}

void TSearchAhead::ExtendOrder(std::vector<TSlot*>& order, const std::vector<size_t>& addedOrder, size_t count) {
  for (size_t k = order.size(); k < count; ++k) {
    TRAWLEX_ASSERT(addedOrder[k] < Found.size(), "Invalid place in the hand-over order");
    order.push_back(&Found[addedOrder[k]]);
  }
}

void TSearchAhead::Seal(const std::vector<size_t>& addedOrder) {
  // Found no longer grows and only this thread ever changed it, so it is read without
  // the lock; the helpers keep searching meanwhile. The settled start stays as it is.
  std::vector<TSlot*> order;
  {
    std::lock_guard lock(Lock);
    order.swap(Order);
  }
  TRAWLEX_ASSERT(order.size() <= addedOrder.size(), "Invalid value in Seal");
  order.reserve(addedOrder.size());
  ExtendOrder(order, addedOrder, addedOrder.size());
  {
    std::lock_guard lock(Lock);
    Order = std::move(order);
    Sealed = true;
  }
  HelperWake.notify_all();
}

bool TSearchAhead::HelperHasWork() const {
  if (!Sealed) return NextFound < Found.size();
  return Next < Order.size() && Next < Current + Window;
}

TSearchAhead::TSlot* TSearchAhead::Claim() {
  for (;;) {
    TSlot* slot;
    {
      std::lock_guard lock(Lock);
      if (!Sealed) {
        if (NextFound >= Found.size()) return nullptr;
        slot = &Found[NextFound++];
      } else {
        if (Next <= Current) Next = Current + 1;  // the worker is past these already
        if (!HelperHasWork()) return nullptr;
        slot = Order[Next++];
      }
    }
    uint8_t expected = Free;
    if (slot->State.compare_exchange_strong(expected, Taken)) return slot;
  }
}

bool TSearchAhead::Take(size_t i, TOutcome& outcome, std::unique_ptr<TSearchFile>& file) {
  TSlot* slot;
  {
    std::lock_guard lock(Lock);
    TRAWLEX_ASSERT(i < Order.size(), "Invalid value in Take");
    Current = i;
    slot = Order[i];
    if (Sealed && HelpersWaiting > 0 && Next < Current + Window / 2) HelperWake.notify_all();
  }
  for (;;) {
    uint8_t expected = Free;
    if (slot->State.compare_exchange_strong(expected, Taken)) return false;
    if (expected == Done) break;
    // A helper is searching this file: rather than sleep, search a file further on.
    if (TSlot* other = Claim()) {
      SearchSlot(*WorkerProcessor, *other);
      continue;
    }
    // Publish looks at WorkerWaitsFor after storing the state, and this side at the state
    // after storing WorkerWaitsFor (both in one total order): one of them sees the other.
    std::unique_lock lock(Lock);
    WorkerWaitsFor.store(slot);
    WorkerWake.wait(lock, [&] { return slot->State.load() != Taken; });
    WorkerWaitsFor.store(nullptr);
  }
  // The outcome was written before the slot turned Done, which this thread has seen.
  outcome = std::move(slot->Outcome);
  file = std::move(slot->File);
  return true;
}

bool TSearchAhead::TakeDone(size_t i, TOutcome& outcome, std::unique_ptr<TSearchFile>& file) {
  TSlot* slot;
  {
    std::lock_guard lock(Lock);
    TRAWLEX_ASSERT(i < Order.size(), "Invalid value in TakeDone");
    Current = i;  // where the helpers go on from once the order is sealed
    slot = Order[i];
  }
  if (slot->State.load() != Done) return false;
  // The outcome was written before the slot turned Done, which this thread has seen.
  outcome = std::move(slot->Outcome);
  file = std::move(slot->File);
  return true;
}

void TSearchAhead::SearchSlot(TRangeProcessor& processor, TSlot& slot) {
  TOutcome outcome;
  std::unique_ptr<TSearchFile> file;
  try {
    file = MakeCandidateFile(Params, slot.Path);
    outcome.Finds = processor.SearchFile(file.get(), MaxFileSize, TRangeProcessor::DefaultBlockSize, slot.ShortReadsEnd);
    outcome.Binary = processor.SkippedBinary;
  } catch (const std::bad_alloc&) {
    outcome.Error = "Out of memory";
    outcome.OutOfMemory = true;
  } catch (const EOutOfMemory& e) {
    outcome.Error = e.what();
    outcome.OutOfMemory = true;
  } catch (const std::exception& e) {
    outcome.Error = e.what();
  }
  if (file && file->GetLineCount() == 0) file.reset();  // nothing needs it any more
  slot.File = std::move(file);
  slot.Outcome = std::move(outcome);
  Publish(slot, Done);
}

void TSearchAhead::Work() {
  auto processor = MakeProcessor();
  for (;;) {
    {
      std::unique_lock lock(Lock);
      if (Sealed && Next < Current) Next = Current;
      if (!Stop && !HelperHasWork()) {
        // Nothing to take: wait for the scan to find more, or, ahead by a whole window,
        // until the worker is half way through it (a wake-up per half window, not per file).
        ++HelpersWaiting;
        HelperWake.wait(lock, [&] {
          return Stop || (!Sealed && NextFound < Found.size()) ||
                 (Sealed && (Next >= Order.size() || Next < Current + Window / 2));
        });
        --HelpersWaiting;
      }
      if (Stop || (Sealed && Next >= Order.size())) return;
    }
    if (TSlot* slot = Claim()) SearchSlot(*processor, *slot);
  }
}

void TSearchAhead::Publish(TSlot& slot, uint8_t state) {
  slot.State.store(state);
  if (WorkerWaitsFor.load() == &slot) {
    // Under the lock, so that the worker is either still to test the state or asleep.
    std::lock_guard lock(Lock);
    WorkerWake.notify_one();
  }
}

std::unique_ptr<TRangeProcessor> TSearchAhead::MakeProcessor() const {
  auto processor = std::make_unique<TRangeProcessor>(Params);
  processor->Modes.UpdateLineNoDigits = false;  // raised by the worker as it hands lines over
  processor->Modes.CountLinesWithoutFinds = false;
  processor->Modes.SkipBinary = Params->SkipBinary;
  processor->StopRequested = [this] { return Stopping.load(std::memory_order_relaxed) || (SearchStopRequested && SearchStopRequested()); };
  return processor;
}

TSearchAhead::TSlot* TSearchAhead::NextToAdvise(const std::deque<std::pair<TSlot*, int64_t>>& advised, int64_t bytes) {
  if (advised.size() >= ReadAheadFiles || bytes >= ReadAheadBytes) return nullptr;
  for (;;) {
    TSlot* slot;
    if (!Sealed) {
      if (AdviseFound >= Found.size()) return nullptr;
      slot = &Found[AdviseFound++];
    } else {
      // Sealing restarts the count in hand-over order, where the helpers are now.
      AdviseFound = std::max(AdviseFound, Next);
      if (AdviseFound >= Order.size()) return nullptr;
      slot = Order[AdviseFound++];
    }
    if (!slot->Advised && slot->State.load(std::memory_order_relaxed) == Free) return slot;
  }
}

void TSearchAhead::ReadAheadGuarded() {
  try {
    ReadAhead();
  } catch (const std::exception&) {
    // Out of memory for a path: reading ahead is only a help, and it ends; the search goes on.
  }
}

void TSearchAhead::ReadAhead() {
  using namespace std::chrono_literals;
  using TClock = std::chrono::steady_clock;
  TAdvising advising;
  const bool always = ReadAheadMode == TReadAhead::Always;
  int64_t seen = StorageBytesRead();
  bool active = always;
  TClock::time_point restUntil{};
  // While nothing is read from storage the counter is looked at less and less often.
  auto interval = 2ms;
  for (;;) {
    {
      std::unique_lock lock(Lock);
      AheadWake.wait_for(lock, interval, [&] { return Stop; });
      if (Stop) return;
    }
    const int64_t now = StorageBytesRead();
    const bool reading = always || now > seen;
    seen = now;
    interval = reading || active ? 2ms : std::min<std::chrono::milliseconds>(interval * 2, 16ms);
    if (reading && !FoldersGo) StartListingFolders();  // FoldersGo changes only on this thread
    if (!active && (!reading || TClock::now() < restUntil)) continue;
    bool paid = true;
    if (!AdviseWhilePaid(advising, always, paid)) return;
    active = paid;
    if (!paid) restUntil = TClock::now() + 20ms;
  }
}

// Files are asked for a probe at a time: a probe that had this thread read from storage
// less than a quarter of the bytes it asked for found its files mostly cached (what it read
// were folders and file records, or another program reads), and the read-ahead rests a while.
bool TSearchAhead::AdviseWhilePaid(TAdvising& advising, bool always, bool& paid) {
  for (;;) {
    const int64_t own = StorageBytesRead(true);
    int64_t probeBytes = 0;
    size_t asked = 0;
    if (!AdviseProbe(advising, asked, probeBytes)) return false;
    if (asked == 0) return true;
    if (!always && (StorageBytesRead(true) - own) * 4 < probeBytes + 1) {
      paid = false;
      return true;
    }
  }
}

bool TSearchAhead::AdviseProbe(TAdvising& advising, size_t& asked, int64_t& probeBytes) {
  std::deque<std::pair<TSlot*, int64_t>>& advised = advising.Advised;
  for (; asked < ProbeFiles; ++asked) {
    TSlot* slot;
    {
      std::lock_guard lock(Lock);
      if (Stop) return false;
      if (Sealed && !advising.SealedBefore) {
        advising.SealedBefore = true;
        AdviseFound = 0;
      }
      // Files taken by the searching threads no longer count as ahead.
      while (!advised.empty() && advised.front().first->State.load(std::memory_order_relaxed) != Free) {
        advising.Bytes -= advised.front().second;
        advised.pop_front();
      }
      slot = NextToAdvise(advised, advising.Bytes);
    }
    if (!slot) break;
    slot->Advised = true;
    advising.Path.assign(slot->Path);
    const int64_t size = std::max<int64_t>(AdviseWillRead(advising.Path, MaxFileSize, &advising.Folders), 0);
    advised.emplace_back(slot, std::min<int64_t>(size, MaxFileSize));
    advising.Bytes += advised.back().second;
    probeBytes += advised.back().second;
  }
  return true;
}

void TSearchAhead::ReadFoldersAhead(const std::string& baseDir, const std::atomic<int64_t>* entered) {
  if (!AheadThread.joinable() || !Params->IncludeSubdirs || Params->SkipIgnored) return;
  std::lock_guard lock(Lock);
  FoldersEntered = entered;
  FolderStack.push_back({baseDir, {}});
}

bool TSearchAhead::TakeListing(const std::string& path, std::vector<TDirName>& names) {
  std::lock_guard lock(Lock);
  const auto it = Listings.find(path);
  if (it == Listings.end()) {
    if (std::find(BeingListed.begin(), BeingListed.end(), path) != BeingListed.end()) ListedByWalk.push_back(path);
    return false;
  }
  names = std::move(it->second);
  Listings.erase(it);
  return true;
}

void TSearchAhead::StartListingFolders() {
  // Made only when needed: a search of cached files starts no more threads than before.
  {
    std::lock_guard lock(Lock);
    if (!FoldersEntered) return;  // not asked for (yet)
    FoldersGo = true;
  }
  constexpr int Threads = 4;
  try {
    for (int t = 0; t < Threads; ++t)
      FolderThreads.emplace_back([this] {
        try {
          ListFoldersAhead();
        } catch (const std::exception&) {
          // Out of memory for a path: this thread lists no more; the walk needs none of it.
        }
      });
  } catch (const std::system_error&) {
    // Fewer threads list fewer folders at once; the walk needs none of them.
  }
}

void TSearchAhead::ListFoldersAhead() {
  using namespace std::chrono_literals;
  std::vector<TDirName> names;
  std::vector<TFolderJob> below;
  for (;;) {
    TFolderJob job;
    {
      std::unique_lock lock(Lock);
      for (;;) {
        if (Stop) return;
        if (FoldersGo && !FolderStack.empty()) {
          if (FoldersListed - FoldersEntered->load(std::memory_order_relaxed) < ReadAheadFolders) break;
          FolderWake.wait_for(lock, 1ms);  // far enough ahead: the walk catches up
        } else if (FoldersGo && FoldersBusy == 0) {
          return;  // every folder is listed
        } else {
          FolderWake.wait(lock);
        }
      }
      job = std::move(FolderStack.back());
      FolderStack.pop_back();
      BeingListed.push_back(job.Path);
      ++FoldersListed;
      ++FoldersBusy;
    }
    // Listing the folder brings its entries into the cache, where the walk finds them.
    TDirHandle handle;
    std::string error;
    names.clear();
    below.clear();
    const bool listed = handle.Open(job.Path, error) && handle.List(names, error);
    if (listed) {
      for (TDirName& e : names) {
        if (e.Kind != TEntryKind::Directory || (!Params->IncludeHidden && e.Name[0] == '.')) continue;
        std::string rel = job.Rel.empty() ? e.Name : job.Rel + "/" + e.Name;
        if (!Params->SkipFolders.empty() && Params->SkipsFolder(e.Name, rel)) continue;
        below.push_back({PathJoin(job.Path, e.Name), std::move(rel)});
      }
      // The last in path order goes on the stack first, so that the first is listed first.
      std::sort(below.begin(), below.end(), [](const TFolderJob& a, const TFolderJob& b) {
        return FoldedLess(b.Rel, a.Rel);
      });
    }
    handle.Close();
    {
      std::lock_guard lock(Lock);
      for (TFolderJob& f : below) FolderStack.push_back(std::move(f));
      --FoldersBusy;
      std::erase(BeingListed, job.Path);
      // The walk lists the first folder itself, before any of this starts.
      const bool wanted = std::erase(ListedByWalk, job.Path) == 0 && !job.Rel.empty();
      if (listed && wanted && Listings.size() < 2 * ReadAheadFolders) Listings.emplace(std::move(job.Path), std::move(names));
    }
    FolderWake.notify_all();
  }
}

}  // namespace trawlex
