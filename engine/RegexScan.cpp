// The range processor in regular-expression mode: the file is held whole, the scanner lists
// the finds, and they become line items under the same rules as literal finds (a find
// belongs to the line it starts on, one at the LF of a CR LF to the line the CR ends).
#include <algorithm>
#include <cstring>

#include "base/Errors.h"
#include "engine/RangeProcessor.h"
#include "engine/RegexMatcher.h"
#include "engine/ScanKernels.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"

namespace trawlex {

int32_t TRangeProcessor::SearchFileRegex(TSearchFile* file, bool shortReadsEnd) {
  BeginFile(file);
  SkippedBinary = false;
  const bool loaded = Modes.AllLines || Modes.ByteByByte
                          ? (Reader.Load(file->Name), true)
                          : Reader.LoadForSearch(file->Name, TCharReader::MaxFileSize - 1, shortReadsEnd);
  if (!loaded) throw ETrawlexError("The file is too large to search with a regular expression");
  struct TEnd {
    TCharReader& R;
    ~TEnd() { R.EndLoad(); }
  } end{Reader};
  FileLoaded(file);
  if (Modes.SkipBinary && Size > 0 &&
      std::memchr(Reader.Data(), 0, std::min<size_t>(static_cast<size_t>(Size), BinaryProbeSize))) {
    SkippedBinary = true;
    return 0;
  }
  return ScanRegex(0, Size - 1);
}

int32_t TRangeProcessor::ScanRegex(int32_t first, int32_t last) {
  if (!Params->Regex) throw ETrawlexError("The regular expression was not compiled before the search");
  if (!RegexScanner || RegexScannerFor != Params->Regex.get()) {
    RegexScanner = std::make_unique<TRegexScanner>(*Params->Regex);
    RegexScannerFor = Params->Regex.get();
  }
  const unsigned char* data = Reader.Data();
  std::vector<TRegexFind> finds;
  // An empty match may stand at the data's very end (after its last line break).
  if (Size > 0 && first <= last)
    RegexScanner->FindAll(data, Size, first, last >= Size - 1 ? Size : int64_t{last} + 1, finds);

  // Line breaks before `counted` are in LineNo; lineStart is where the line of `counted` starts.
  int64_t counted = first, lineStart = first;
  auto countTo = [&](int64_t to) {
    if (to <= counted) return;
    const TBreakCount breaks = CountLineBreaks(data + counted, data + to, counted > first && data[counted - 1] == 13);
    LineNo += breaks.Breaks;
    if (breaks.LastBreak) lineStart = breaks.LastBreak - data + 1;
    counted = to;
  };
  auto lineText = [&](int64_t start) {
    if (start >= Size) return std::string_view();
    const unsigned char* b = data + start;
    return std::string_view(reinterpret_cast<const char*>(b), static_cast<size_t>(FindLineBreak(b, data + Size) - b));
  };

  constexpr size_t LinesPerBatch = 256;
  MadeLines.clear();
  MadeLines.reserve(LinesPerBatch);
  bool fileHasLines = File && File->GetLineCount() > 0;
  int64_t openLineNo = -1;  // the line item being made
  auto addMadeLines = [&] {
    if (MadeLines.empty()) return;
    const size_t count = MadeLines.size();
    TSearchLine* added = File->AddLines(MadeLines);
    for (size_t i = 0; i < count; ++i) {
      if (Modes.UpdateLineNoDigits)
        Params->SetLineNoDigits(std::max(Params->LineNoDigits(), DecimalDigits(added[i].LineNo() + 1)));
      if (OnLineCreated) OnLineCreated(&added[i]);
    }
  };
  auto openLine = [&](int64_t lineNo, int64_t start, const int32_t* col, int32_t length) {
    if (MadeLines.size() >= LinesPerBatch) addMadeLines();
    StampFileTime();  // before the item can be handed over
    if (!fileHasLines && OnNewFindLine) OnNewFindLine();
    fileHasLines = true;
    if (File) File->ShareArena(Arena);
    MadeLines.push_back(File->MakeLine(lineNo, start, lineText(start), col, col ? 1 : 0, length));
    openLineNo = lineNo;
  };

  try {
    size_t k = 0;
    // Every line as an item (the preview): the lines up to `to`, each with its finds.
    int64_t nextLine = first;
    auto openLinesTo = [&](int64_t to) {
      while (Modes.AllLines && nextLine < to && nextLine <= last) {
        countTo(nextLine);
        if (openLineNo != LineNo) openLine(LineNo, lineStart, nullptr, 0);
        const unsigned char* brk = FindLineBreak(data + nextLine, data + Size);
        nextLine = brk - data;
        if (nextLine < Size) nextLine += data[nextLine] == 13 && nextLine + 1 < Size && data[nextLine + 1] == 10 ? 2 : 1;
        else nextLine = INT64_MAX;
      }
    };
    for (; k < finds.size(); ++k) {
      const TRegexFind& f = finds[k];
      openLinesTo(f.Pos + 1);
      countTo(f.Pos);
      int64_t lineNo = LineNo, start = lineStart;
      if (f.Pos > first && data[f.Pos] == 10 && data[f.Pos - 1] == 13) {
        lineNo = LineNo - 1;
        start = f.Pos - 1;
        while (start > first && data[start - 1] != 13 && data[start - 1] != 10) --start;
      }
      const auto col = static_cast<int32_t>(f.Pos - start + 1);
      const auto length = static_cast<int32_t>(std::min<int64_t>(f.Length, INT32_MAX));
      if (lineNo != openLineNo)
        openLine(lineNo, start, &col, length);
      else
        MadeLines.back().AddFindsToNewLine(&col, 1, length);
    }
    openLinesTo(INT64_MAX);
  } catch (...) {
    addMadeLines();  // what was found before the failure stays found
    throw;
  }
  addMadeLines();
  const bool linesCounted = !finds.empty() || Modes.CountLinesWithoutFinds;
  if (linesCounted) countTo(int64_t{last} + 1);
  if (last >= Size - 1 && File && linesCounted) File->TotalLines.store(LineNo + 1, std::memory_order_relaxed);
  return static_cast<int32_t>(finds.size());
}

}  // namespace trawlex
