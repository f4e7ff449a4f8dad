// The range processor in regular-expression mode: the file is held whole (or read a block
// of whole lines at a time where the pattern sees no further than a line), the scanner lists
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

int32_t TRangeProcessor::SearchFileRegex(TSearchFile* file, int64_t wholeMax, size_t block, bool shortReadsEnd) {
  if (!Params->Regex) throw ETrawlexError("The regular expression was not compiled before the search");
  // A pattern that sees no further than a line searches a large file a block at a time (each
  // block ends after a line break); any other needs the file whole.
  const TRegexSearch& regex = *Params->Regex;
  // So can one whose matches all start with a required text: a match that runs on past the
  // block's end has the block read on (ERegexNeedsMore).
  const bool lineBound = (regex.Target->LineBound() || (regex.Target->RequiredAtStart() && !regex.WholeWord)) &&
                         (!regex.Exclude || regex.Exclude->LineBound());
  // The scanner asks the stop of a search, which may come in the middle of a large file.
  if (!RegexScanner || RegexScannerFor != Params->Regex.get()) {
    RegexScanner = std::make_unique<TRegexScanner>(*Params->Regex);
    RegexScannerFor = Params->Regex.get();
  }
  RegexScanner->StopRequested = &StopRequested;
  const TFileLoad load{lineBound ? wholeMax : TCharReader::MaxFileSize - 1, shortReadsEnd, false,
                       lineBound ? nullptr : "The file is too large to search with a regular expression"};
  return LoadAndScan(file, load, block, &TRangeProcessor::ScanRegex);
}

int32_t TRangeProcessor::ScanRegex(int64_t first, int64_t last, size_t block) {
  if (!Params->Regex) throw ETrawlexError("The regular expression was not compiled before the search");
  const bool blocks = block > 0;
  if (!RegexScanner || RegexScannerFor != Params->Regex.get()) {
    RegexScanner = std::make_unique<TRegexScanner>(*Params->Regex);
    RegexScannerFor = Params->Regex.get();
  }
  const unsigned char* data = blocks ? nullptr : Reader.Data();
  int64_t dataEnd = blocks ? 0 : Size;  // where the bytes in memory end
  std::vector<TRegexFind> finds;
  int32_t count = 0;

  // Line breaks before `counted` are in LineNo; lineStart is where the line of `counted` starts.
  int64_t counted = first, lineStart = first;
  // Where every line gets counted anyway (a block scan counts each window before it moves
  // on), the scanner counts the breaks it passes while it looks for the pattern's required
  // text: the bytes are read once, not twice. The count is taken up at its marks.
  const bool tallyBreaks = (blocks || Modes.CountLinesWithoutFinds) && !Modes.AllLines && !Modes.ByteByByte;
  TBreakTally tally;
  bool tallied = false;  // the tally holds counts of this round's bytes
  size_t nextMark = 0;
  int64_t tallyLineNo = 0, tallyLineStart = 0;  // LineNo and lineStart where the tally started
  auto takeUp = [&](const TBreakMark& m) {
    const int64_t at = m.At - data;
    if (at <= counted) return;
    LineNo = tallyLineNo + m.Breaks;
    lineStart = m.LastBreak ? m.LastBreak - data + 1 : tallyLineStart;
    counted = at;
  };
  auto countTo = [&](int64_t to) {
    if (to <= counted) return;
    if (tallied) {
      for (; nextMark < tally.Marks.size() && tally.Marks[nextMark].At - data <= to; ++nextMark) takeUp(tally.Marks[nextMark]);
      if (tally.Now().At - data <= to) takeUp(tally.Now());
      if (to <= counted) return;
    }
    const TBreakCount breaks = CountLineBreaks(data + counted, data + to, counted > first && data[counted - 1] == 13);
    LineNo += breaks.Breaks;
    if (breaks.LastBreak) lineStart = breaks.LastBreak - data + 1;
    counted = to;
  };
  auto lineText = [&](int64_t start) {
    if (start >= dataEnd) return std::string_view();
    const unsigned char* b = data + start;
    return std::string_view(reinterpret_cast<const char*>(b), static_cast<size_t>(FindLineBreak(b, data + dataEnd) - b));
  };

  constexpr size_t LinesPerBatch = 256;
  MadeLines.clear();
  MadeLines.reserve(LinesPerBatch);
  bool fileHasLines = File && File->GetLineCount() > 0;
  int64_t openLineNo = -1;  // the line item being made
  auto addMadeLines = [&] {
    if (MadeLines.empty()) return;
    const size_t made = MadeLines.size();
    TSearchLine* added = File->AddLines(MadeLines);
    for (size_t i = 0; i < made; ++i) {
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

  int64_t segStart = first;
  int64_t findFrom = first;  // a find that ran on over a block's end leaves its bytes to none other
  try {
   for (;;) {
    tallied = false;  // the window may move
    // The stretch of this round: all of first..last, or in a block scan the lines up to the
    // last line break of the window (a CR LF pair never split).
    int64_t segEnd = int64_t{last} + 1;
    int64_t subjectStart = 0;
    if (blocks) {
      Reader.NextBlock(std::max<int64_t>(0, segStart - 4), block);
      data = Reader.WindowBase();
      dataEnd = Reader.WindowEnd();
      subjectStart = Reader.WindowStart();
      if (dataEnd < int64_t{last} + 1) {
        const unsigned char* lastBreak = FindLastLineBreak(data + segStart, data + dataEnd - 1);
        if (!lastBreak) {
          // A line longer than the window: read on until it ends.
          Reader.NextBlock(std::max<int64_t>(0, segStart - 4), static_cast<size_t>(dataEnd - segStart) + block);
          continue;
        }
        segEnd = lastBreak - data + 1;
        if (data[segEnd - 1] == 13 && data[segEnd] == 10) ++segEnd;
      }
    }
    finds.clear();
    // An empty match may stand at the data's very end (after its last line break).
    const int64_t from = std::max(segStart, findFrom);
    if (Size > 0 && from < segEnd) {
      const int64_t to = segEnd >= Size ? Size : segEnd;
      RegexScanner->MoreMayFollow = blocks && dataEnd < Size;
      if (tallyBreaks) {
        tally.Start(data + counted, counted > first && data[counted - 1] == 13);
        tallyLineNo = LineNo;
        tallyLineStart = lineStart;
        nextMark = 0;
      }
      try {
        RegexScanner->FindAll(data + subjectStart, (blocks ? dataEnd : Size) - subjectStart, from - subjectStart,
                              to - subjectStart, finds, tallyBreaks ? &tally : nullptr);
        tallied = tallyBreaks;
      } catch (const ERegexNeedsMore&) {
        finds.clear();
        Reader.NextBlock(std::max<int64_t>(0, segStart - 4), static_cast<size_t>(dataEnd - segStart) + block);
        continue;
      }
      for (TRegexFind& f : finds) f.Pos += subjectStart;
      if (!finds.empty()) findFrom = finds.back().Pos + finds.back().Length;
    }
    count += static_cast<int32_t>(finds.size());
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
      if (f.Pos - start >= INT32_MAX) throw ETrawlexError("A line with a find is 2 GiB long or longer");
      const auto col = static_cast<int32_t>(f.Pos - start + 1);
      const auto length = static_cast<int32_t>(std::min<int64_t>(f.Length, INT32_MAX));
      if (lineNo != openLineNo)
        openLine(lineNo, start, &col, length);
      else
        MadeLines.back().AddFindsToNewLine(&col, 1, length);
    }
    if (!blocks) {
      openLinesTo(INT64_MAX);
      break;
    }
    // The window is about to move: its lines are counted and handed on now.
    countTo(segEnd);
    addMadeLines();
    if (segEnd >= int64_t{last} + 1) break;
    if (StopRequested && StopRequested()) {
      addMadeLines();
      return count;  // the bytes after this window were never read: no line total
    }
    segStart = segEnd;
   }
  } catch (...) {
    addMadeLines();  // what was found before the failure stays found
    throw;
  }
  addMadeLines();
  const bool linesCounted = count > 0 || Modes.CountLinesWithoutFinds || blocks;
  if (linesCounted) countTo(int64_t{last} + 1);
  if (last >= Size - 1 && File && linesCounted) File->TotalLines.store(LineNo + 1, std::memory_order_relaxed);
  return count;
}

}  // namespace trawlex
