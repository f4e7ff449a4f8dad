#include "engine/SearchThread.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <exception>
#include <thread>
#include <new>
#include <system_error>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"

namespace trawlex {

void TRunningSearches::Started() {
  if (FCount++ == 0 && OnTitle) OnTitle("Trawlex - Running");
}

void TRunningSearches::Ended() {
  if (FCount-- == 1 && OnTitle) OnTitle("Trawlex");
}

std::string SearchProgressText(int32_t filesWithFinds, int32_t filesSearched, int32_t filesFound, int32_t binarySkipped) {
  std::string s = "Found in " + std::to_string(filesWithFinds) + " of " + CountText(filesSearched, "file");
  if (filesFound > filesSearched) s = "Searching " + std::to_string(filesFound) + " " + s;
  if (binarySkipped > 0) s += ", " + CountText(binarySkipped, "binary file") + " skipped";
  return s;
}

TSearchThread::~TSearchThread() { WaitFor(); }

void TSearchThread::CountEnded() {
  if (RunningSearches) RunningSearches->Ended();
}

TDirScanThread& TSearchThread::SetParams(TDirScanParams* params) {
  auto* sp = dynamic_cast<TSearchParams*>(params);
  if (!sp) throw ETrawlexError("Invalid class typecast: the search needs search parameters");
  FSearchParams = sp;
  return TDirScanThread::SetParams(params);
}

void TSearchThread::Execute() {
  const auto start = std::chrono::steady_clock::now();
  Synchronize([this] {
    if (RunningSearches) RunningSearches->Started();
  });
  try {
    Processor = std::make_unique<TRangeProcessor>(FSearchParams);
    Processor->OnLineCreated = [this](TSearchLine* line) { HandleLineCreated(line); };
    Processor->OnNewFindLine = [this] { HandleNewFindLine(); };
    Processor->StopRequested = [this] { return Terminated(); };
    Processor->Modes.CountLinesWithoutFinds = false;
    Processor->Modes.SkipBinary = FSearchParams->SkipBinary;
    if (SearchAheadThreads > 0)
      Ahead = std::make_unique<TSearchAhead>(FSearchParams, SearchAheadThreads, SearchAheadMaxFileSize, 1024, ReadAhead,
                                             [this] { return Terminated(); });
    if (Ahead) Ahead->ReadFoldersAhead(FSearchParams->BaseDir, &FFoldersEntered);
    try {
      ScanAndProcess(FSearchParams->BaseDir);
    } catch (const std::bad_alloc&) {
      // Outside a file (the list of candidates, a helper thread): the search ends with what
      // it found, as at a stop.
      Ahead.reset();
      ReportError((FCurrentFile.empty() ? std::string() : FCurrentFile + ": ") + "Out of memory; the search stopped");
      Terminate();
    }
  } catch (...) {
    Processor.reset();
    Synchronize([this] { CountEnded(); });
    throw;
  }
  Processor.reset();
  Synchronize([this] { CountEnded(); });
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  ReportStatus("FINISHED. Took: " + DurationText(elapsed.count() / SecsPerDay) + "s");
}

void TSearchThread::ProcessFiles(const TCandidateList& files) {
  // The order begins with the files handed over during the walk, if any.
  if (Ahead) Ahead->Seal(FoundOrder);
  const size_t from = std::min(FHandedOver, files.size());
  // A file item the window has been given must never be freed by a failed append.
  FSearchParams->ReserveResults(files.size() - from);
  for (size_t i = from; i < files.size() && !Terminated(); ++i) ProcessFile(i, files[i]);
}

void TSearchThread::CandidatesSettled(size_t count) {
  if (count <= FHandedOver + WalkLead) return;
  const size_t end = count - WalkLead;
  if (Ahead) Ahead->Settle(FoundOrder, end);
  FSearchParams->ReserveResults(end - FHandedOver);
  // Helpers search in the order found while the walk goes on; the worker hands over what
  // they have done and walks on. Without them it searches the files itself.
  for (; FHandedOver < end && !Terminated(); ++FHandedOver) {
    TSearchAhead::TOutcome outcome;
    std::unique_ptr<TSearchFile> file;
    if (Ahead && !Ahead->TakeDone(FHandedOver, outcome, file)) break;
    ProcessFile(FHandedOver, SettledCandidate(FHandedOver), Ahead ? &outcome : nullptr, std::move(file));
  }
  FCurrentFile.clear();  // an error of the walk's own is no file's
}

void TSearchThread::ProcessFile(size_t i, std::string_view path, TSearchAhead::TOutcome* taken,
                                std::unique_ptr<TSearchFile> file) {
  FCurrentFile = path;
  FFilesSearched.fetch_add(1, std::memory_order_relaxed);
  ReportStatus(FCurrentFile);
  TSearchAhead::TOutcome outcome;
  try {
    if (taken) {
      HandOverSearched(file.get(), *taken);
    } else if (Ahead && Ahead->Take(i, outcome, file)) {
      HandOverSearched(file.get(), outcome);
    } else {
      file = MakeCandidateFile(FSearchParams, path);
      SearchHere(file.get(), FoundShortReadsEnd[FoundOrder[i]]);
    }
  } catch (const std::bad_alloc&) {
    OutOfMemory(file.get());
  }
  if (file && file->SearchFailed && !OnItems && file->GetLineCount() > 0 && LastErrorOutOfMemory) {
    FFilesWithFinds.fetch_sub(1, std::memory_order_relaxed);
    file.reset();
  }
  LastErrorOutOfMemory = false;
  // Taken over by the results; a file without finds is freed here.
  if (file && file->GetLineCount() > 0) FSearchParams->AddResult(std::move(file));
}

void TSearchThread::CandidatesAdded(const std::vector<std::string_view>& paths, const std::vector<bool>& shortReadsEnd) {
  if (Ahead) Ahead->Add(paths, shortReadsEnd);
}

void TSearchThread::CandidatesEnding() { Ahead.reset(); }

bool TSearchThread::ListedAhead(const std::string& dir, std::vector<TDirName>& names) {
  return Ahead && Ahead->TakeListing(dir, names);
}

void TSearchThread::SearchHere(TSearchFile* file, bool shortReadsEnd) {
  // A file that takes a while shows its name while it is searched, not after.
  if (file->Size >= (1 << 20)) FlushHandOvers();
  try {
    const int32_t finds = Processor->SearchFile(file, SearchAheadMaxFileSize, TRangeProcessor::DefaultBlockSize, shortReadsEnd);
    FTotalFinds.fetch_add(finds, std::memory_order_relaxed);
    if (Processor->SkippedBinary) FBinarySkipped.fetch_add(1, std::memory_order_relaxed);
  } catch (const std::bad_alloc&) {
    OutOfMemory(file);
  } catch (const EOutOfMemory&) {
    OutOfMemory(file);
  } catch (const std::exception& e) {
    file->SearchFailed = true;
    ReportError(FCurrentFile + ": " + e.what());
  }
}

void TSearchThread::HandOverSearched(TSearchFile* file, const TSearchAhead::TOutcome& outcome) {
  // The same hand-overs, in the same order and with the same counters, as a search of
  // the file right here would have made.
  // `file` is null when the search found nothing in it.
  // No copy of the line list: a file with millions of lines would need memory for it too.
  const int32_t count = file ? file->GetLineCount() : 0;
  if (count > 0) {
    FFilesWithFinds.fetch_add(1, std::memory_order_relaxed);
    AddItem(file);
  }
  // Lines come in order: the digits grow line by line as they are shown, else the last
  // line has the most.
  for (int32_t i = ShowLines ? 0 : std::max(0, count - 1); i < count; ++i) {
    TSearchLine* line = file->GetLine(i);
    FSearchParams->SetLineNoDigits(std::max(FSearchParams->LineNoDigits(), DecimalDigits(line->LineNo() + 1)));
    if (ShowLines) AddItem(line);
  }
  FTotalFinds.fetch_add(outcome.Finds, std::memory_order_relaxed);
  if (outcome.Binary) FBinarySkipped.fetch_add(1, std::memory_order_relaxed);
  if (outcome.OutOfMemory) {
    OutOfMemory(file);
  } else if (!outcome.Error.empty()) {
    if (file) file->SearchFailed = true;
    ReportError(FCurrentFile + ": " + outcome.Error);
  }
}

void TSearchThread::OutOfMemory(TSearchFile* file) {
  // The search goes on without what this file found: where nothing of it has been shown
  // (no window takes the items) its results are dropped, which gives their memory back;
  // a window keeps the finds it already shows, as after any error: incomplete, never
  // replaced.
  if (file) file->SearchFailed = true;
  LastErrorOutOfMemory = true;
  ReportError(FCurrentFile + ": Out of memory");
}

void TSearchThread::HandleNewFindLine() {
  // The file's first line item is about to be made.
  FFilesWithFinds.fetch_add(1, std::memory_order_relaxed);
  AddItem(Processor->File);
}

void TSearchThread::HandleLineCreated(TSearchLine* line) {
  if (ShowLines) AddItem(line);
}

void TSearchThread::AddItem(TSearchResult* item) {
  if (Terminated()) return;
  if (HandOverInterval.count() > 0) {
    // Items in a row travel together: the open run grows until anything else is queued or
    // the batch that holds it is handed over.
    if (!FOpenRun || LastQueuedHandOver() != FOpenRunSlot) {
      FOpenRun = std::make_shared<std::vector<TSearchResult*>>();
      FOpenRun->push_back(item);
      auto run = FOpenRun;
      FOpenRunSlot = QueueHandOver([this, run] { HandOverItems(*run); });
    } else {
      FOpenRun->push_back(item);
      GrowQueued(1);
    }
    return;
  }
  PendingItem = item;
  Synchronize([this] { HandOverItems({PendingItem}); });
}

void TSearchThread::HandOverItems(const std::vector<TSearchResult*>& items) {
  if (Terminated()) return;  // stopped while this call waited on the main thread
  if (OnItems) OnItems(items);
  if (!OnItemAdded) return;
  IDrawSurface* canvas = FSearchParams->Canvas();
  if (!canvas) {
    OnItemAdded(0);
  } else if (items.size() == 1) {
    OnItemAdded(items[0]->GetWidth(*canvas));
  } else {
    // Measuring is the costly part of a batch: only a text long enough to be wider than the
    // widest so far is measured.
    const int32_t lineNoWidth = FSearchParams->LineNoWidth();
    // The widest a byte can be drawn: a text too short to pass the widest so far is not even
    // summed up byte by byte.
    // A run of items comes for each file; the font stays for the search, the tab width may not.
    if (FWidestByte < 0) {
      FWidestByte = canvas->TextWidthBound("\xFF");
      for (char c = ' '; c < 127; ++c) FWidestByte = std::max<int64_t>(FWidestByte, canvas->TextWidthBound({&c, 1}));
    }
    const int64_t widestByte = std::max<int64_t>(FWidestByte, canvas->TextWidthBound("\t"));
    for (TSearchResult* item : items) {
      const auto* line = dynamic_cast<const TSearchLine*>(item);
      if (line && static_cast<int64_t>(line->Text().size()) * widestByte + lineNoWidth <= FWidestHandedOver) continue;
      const int64_t bound = line ? int64_t{canvas->TextWidthBound(line->Text())} + lineNoWidth
                                 : int64_t{canvas->TextWidthBound(static_cast<const TSearchFile*>(item)->Name)} + 2;
      if (bound <= FWidestHandedOver) continue;
      FWidestHandedOver = std::max(FWidestHandedOver, item->GetWidth(*canvas));
    }
    OnItemAdded(FWidestHandedOver);
  }
}

}  // namespace trawlex
