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

TRegexScanner& TRangeProcessor::ScannerOfParams() {
  if (!Params->Regex) throw ETrawlexError("The regular expression was not compiled before the search");
  if (!RegexScanner || RegexScannerFor != Params->Regex.get()) {
    RegexScanner = std::make_unique<TRegexScanner>(*Params->Regex);
    RegexScannerFor = Params->Regex.get();
  }
  return *RegexScanner;
}

void TRangeProcessor::NewRegexSubject() {
  if (RegexScanner) RegexScanner->NewSubject();
}

int32_t TRangeProcessor::SearchFileRegex(TSearchFile* file, int64_t wholeMax, size_t block, bool shortReadsEnd) {
  // The scanner asks the stop of a search, which may come in the middle of a large file.
  ScannerOfParams().StopRequested = &StopRequested;
  // A pattern that sees no further than a line searches a large file a block at a time (each
  // block ends after a line break); any other needs the file whole.
  const TRegexSearch& regex = *Params->Regex;
  // So can one whose matches all start with a required text: a match that runs on past the
  // block's end has the block read on (ERegexNeedsMore).
  const bool lineBound = (regex.Target->LineBound() || (regex.Target->RequiredAtStart() && !regex.WholeWord)) &&
                         (!regex.Exclude || regex.Exclude->LineBound());
  const TFileLoad load{lineBound ? wholeMax : TCharReader::MaxFileSize - 1, shortReadsEnd, true,
                       lineBound ? nullptr : "The file is too large to search with a regular expression"};
  return LoadAndScan(file, load, block, &TRangeProcessor::ScanRegex);
}

// One call of ScanRegex: the stretch of data being searched, where the line count stands
// and the line items being made. Data held whole is one stretch; a block scan moves a
// window over the file, a stretch of whole lines at a time (positions stay the file's).
class TRangeProcessor::TRegexScan {
 public:
  TRegexScan(TRangeProcessor& owner, int64_t first, int64_t last, size_t block);
  TRegexScan(const TRegexScan&) = delete;
  TRegexScan& operator=(const TRegexScan&) = delete;
  int32_t Run();

 private:
  static constexpr size_t LinesPerBatch = 256;

  bool ScanStretches();
  bool MoveWindow();
  void ReadOn();
  bool FindInStretch();
  void StartTally();
  void ListFinds();
  void ListFind(const TRegexFind& f);
  void OpenLinesTo(int64_t to);
  void OpenLine(int64_t lineNo, int64_t start, const int32_t* col, int32_t length);
  void AddMadeLines();
  std::string_view LineText(int64_t start) const;
  void CountTo(int64_t to);
  void TakeUp(const TBreakMark& m);

  TRangeProcessor& P;
  TRegexScanner& Scanner;
  const int64_t First, Last;
  const size_t Block;
  const bool Blocks;
  const unsigned char* Data;
  int64_t DataEnd;  // where the bytes in memory end
  std::vector<TRegexFind> Finds;
  int32_t Count = 0;

  // The stretch of this round: all of First..Last, or in a block scan the lines up to the
  // last line break of the window (a CR LF pair never split).
  int64_t SegStart, SegEnd = 0;
  int64_t SubjectStart = 0;  // where the bytes handed to the scanner start
  int64_t FindFrom;          // a find that ran on over a block's end leaves its bytes to none other

  // Line breaks before `Counted` are in LineNo; LineStart is where the line of `Counted` starts.
  int64_t Counted, LineStart;
  // Where every line gets counted anyway (a block scan counts each window before it moves
  // on), the scanner counts the breaks it passes while it looks for the pattern's required
  // text: the bytes are read once, not twice. The count is taken up at its marks.
  const bool TallyBreaks;
  TBreakTally Tally;
  bool Tallied = false;  // the tally holds counts of this round's bytes
  size_t NextMark = 0;
  int64_t TallyLineNo = 0, TallyLineStart = 0;  // LineNo and LineStart where the tally started

  bool FileHasLines;
  int64_t OpenLineNo = -1;  // the line item being made
  int64_t NextLine = 0;     // every line as an item (the preview): the next line to open
};

TRangeProcessor::TRegexScan::TRegexScan(TRangeProcessor& owner, int64_t first, int64_t last, size_t block)
    : P(owner),
      Scanner(owner.ScannerOfParams()),
      First(first),
      Last(last),
      Block(block),
      Blocks(block > 0),
      Data(Blocks ? nullptr : owner.Reader.Data()),
      DataEnd(Blocks ? 0 : owner.Size),
      SegStart(first),
      FindFrom(first),
      Counted(first),
      LineStart(first),
      TallyBreaks((Blocks || owner.Modes.CountLinesWithoutFinds) && !owner.Modes.AllLines && !owner.Modes.ByteByByte),
      FileHasLines(owner.File && owner.File->GetLineCount() > 0) {
  P.MadeLines.clear();
  P.MadeLines.reserve(LinesPerBatch);
}

int32_t TRangeProcessor::TRegexScan::Run() {
  bool complete = false;
  try {
    complete = ScanStretches();
  } catch (...) {
    AddMadeLines();  // what was found before the failure stays found
    throw;
  }
  AddMadeLines();
  if (!complete) return Count;  // the bytes after this window were never read: no line total
  const bool linesCounted = Count > 0 || P.Modes.CountLinesWithoutFinds || Blocks;
  if (linesCounted) CountTo(Last + 1);
  if (Last >= P.Size - 1 && P.File && linesCounted) P.File->TotalLines.store(P.LineNo + 1, std::memory_order_relaxed);
  return Count;
}

// Searches stretch after stretch; false when a stop ended the scan before the last.
bool TRangeProcessor::TRegexScan::ScanStretches() {
  for (;;) {
    Tallied = false;  // the window may move
    if (!MoveWindow() || !FindInStretch()) continue;
    ListFinds();
    if (!Blocks) {
      OpenLinesTo(INT64_MAX);
      return true;
    }
    // The window is about to move: its lines are counted and handed on now.
    CountTo(SegEnd);
    AddMadeLines();
    if (SegEnd >= Last + 1) return true;
    if (P.StopNow()) return false;
    SegStart = SegEnd;
  }
}

// Sets the stretch of this round; in a block scan, moves the window to it. False when its
// first line runs on past the window: more was read, and the round starts over.
bool TRangeProcessor::TRegexScan::MoveWindow() {
  SegEnd = Last + 1;
  SubjectStart = 0;
  if (!Blocks) return true;
  TCharReader& reader = P.Reader;
  reader.NextBlock(std::max<int64_t>(0, SegStart - 4), Block);
  Data = reader.WindowBase();
  DataEnd = reader.WindowEnd();
  SubjectStart = reader.WindowStart();
  Scanner.NewSubject();
  if (DataEnd >= Last + 1) return true;
  const unsigned char* lastBreak = FindLastLineBreak(Data + SegStart, Data + DataEnd - 1);
  if (!lastBreak) {
    ReadOn();  // a line longer than the window: read on until it ends
    return false;
  }
  SegEnd = lastBreak - Data + 1;
  if (Data[SegEnd - 1] == 13 && Data[SegEnd] == 10) ++SegEnd;
  return true;
}

// Reads a block more into the window.
void TRangeProcessor::TRegexScan::ReadOn() {
  P.Reader.NextBlock(std::max<int64_t>(0, SegStart - 4), static_cast<size_t>(DataEnd - SegStart) + Block);
}

// Lists the finds of the stretch in Finds, at their positions in the file. False when one
// may run on past the window: more was read, and the round starts over.
bool TRangeProcessor::TRegexScan::FindInStretch() {
  Finds.clear();
  // An empty match may stand at the data's very end (after its last line break).
  const int64_t from = std::max(SegStart, FindFrom);
  if (P.Size <= 0 || from >= SegEnd) return true;
  const int64_t to = SegEnd >= P.Size ? P.Size : SegEnd;
  Scanner.MoreMayFollow = Blocks && DataEnd < P.Size;
  if (TallyBreaks) StartTally();
  try {
    Scanner.FindAll(Data + SubjectStart, (Blocks ? DataEnd : P.Size) - SubjectStart, from - SubjectStart,
                    to - SubjectStart, Finds, TallyBreaks ? &Tally : nullptr);
    Tallied = TallyBreaks;
  } catch (const ERegexNeedsMore&) {
    Finds.clear();
    ReadOn();
    return false;
  }
  for (TRegexFind& f : Finds) f.Pos += SubjectStart;
  if (!Finds.empty()) FindFrom = Finds.back().Pos + Finds.back().Length;
  return true;
}

void TRangeProcessor::TRegexScan::StartTally() {
  Tally.Start(Data + Counted, Counted > First && Data[Counted - 1] == 13);
  TallyLineNo = P.LineNo;
  TallyLineStart = LineStart;
  NextMark = 0;
}

void TRangeProcessor::TRegexScan::ListFinds() {
  Count += static_cast<int32_t>(Finds.size());
  NextLine = First;
  for (const TRegexFind& f : Finds) ListFind(f);
}

// A find goes to the line item of its line, opened when the line has none yet.
void TRangeProcessor::TRegexScan::ListFind(const TRegexFind& f) {
  OpenLinesTo(f.Pos + 1);
  CountTo(f.Pos);
  int64_t lineNo = P.LineNo, start = LineStart;
  if (f.Pos > First && Data[f.Pos] == 10 && Data[f.Pos - 1] == 13) {
    lineNo = P.LineNo - 1;
    start = f.Pos - 1;
    while (start > First && Data[start - 1] != 13 && Data[start - 1] != 10) --start;
  }
  if (f.Pos - start >= INT32_MAX) throw ETrawlexError("A line with a find is 2 GiB long or longer");
  const auto col = static_cast<int32_t>(f.Pos - start + 1);
  const auto length = static_cast<int32_t>(std::min<int64_t>(f.Length, INT32_MAX));
  if (lineNo != OpenLineNo)
    OpenLine(lineNo, start, &col, length);
  else
    P.MadeLines.back().AddFindsToNewLine(&col, 1, length);
}

// Every line as an item (the preview): opens the items of the lines up to `to`.
void TRangeProcessor::TRegexScan::OpenLinesTo(int64_t to) {
  const unsigned char* data = Data;
  const int64_t size = P.Size;
  while (P.Modes.AllLines && NextLine < to && NextLine <= Last) {
    CountTo(NextLine);
    if (OpenLineNo != P.LineNo) OpenLine(P.LineNo, LineStart, nullptr, 0);
    const unsigned char* brk = FindLineBreak(data + NextLine, data + size);
    NextLine = brk - data;
    if (NextLine < size) NextLine += data[NextLine] == 13 && NextLine + 1 < size && data[NextLine + 1] == 10 ? 2 : 1;
    else NextLine = INT64_MAX;
  }
}

void TRangeProcessor::TRegexScan::OpenLine(int64_t lineNo, int64_t start, const int32_t* col, int32_t length) {
  if (P.MadeLines.size() >= LinesPerBatch) AddMadeLines();
  P.StampFileTime();  // before the item can be handed over
  if (!FileHasLines && P.OnNewFindLine) P.OnNewFindLine();
  FileHasLines = true;
  if (P.File) P.File->ShareArena(P.Arena);
  P.MadeLines.push_back(P.File->MakeLine(lineNo, start + P.SliceStart, LineText(start), col, col ? 1 : 0, length));
  OpenLineNo = lineNo;
}

// Line items join the file a batch at a time (one lock per batch), complete.
void TRangeProcessor::TRegexScan::AddMadeLines() {
  if (P.MadeLines.empty()) return;
  const size_t made = P.MadeLines.size();
  TSearchLine* added = P.File->AddLines(P.MadeLines);
  for (size_t i = 0; i < made; ++i) {
    if (P.Modes.UpdateLineNoDigits)
      P.Params->SetLineNoDigits(std::max(P.Params->LineNoDigits(), DecimalDigits(added[i].LineNo() + 1)));
    if (P.OnLineCreated) P.OnLineCreated(&added[i]);
  }
}

std::string_view TRangeProcessor::TRegexScan::LineText(int64_t start) const {
  if (start >= DataEnd) return {};
  const unsigned char* b = Data + start;
  return {reinterpret_cast<const char*>(b), static_cast<size_t>(FindLineBreak(b, Data + DataEnd) - b)};
}

// Counts the line breaks up to `to`: taken up from the tally's marks as far as they go,
// the rest counted here.
void TRangeProcessor::TRegexScan::CountTo(int64_t to) {
  if (to <= Counted) return;
  if (Tallied) {
    for (; NextMark < Tally.Marks.size() && Tally.Marks[NextMark].At - Data <= to; ++NextMark)
      TakeUp(Tally.Marks[NextMark]);
    if (Tally.Now().At - Data <= to) TakeUp(Tally.Now());
    if (to <= Counted) return;
  }
  const TBreakCount breaks = CountLineBreaks(Data + Counted, Data + to, Counted > First && Data[Counted - 1] == 13);
  P.LineNo += breaks.Breaks;
  if (breaks.LastBreak) LineStart = breaks.LastBreak - Data + 1;
  Counted = to;
}

void TRangeProcessor::TRegexScan::TakeUp(const TBreakMark& m) {
  const int64_t at = m.At - Data;
  if (at <= Counted) return;
  P.LineNo = TallyLineNo + m.Breaks;
  LineStart = m.LastBreak ? m.LastBreak - Data + 1 : TallyLineStart;
  Counted = at;
}

int32_t TRangeProcessor::ScanRegex(int64_t first, int64_t last, size_t block) {
  return TRegexScan(*this, first, last, block).Run();
}

}  // namespace trawlex
