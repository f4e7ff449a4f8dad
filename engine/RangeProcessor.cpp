#include "engine/RangeProcessor.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/RegexMatcher.h"
#include "engine/ScanKernels.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/TextEncoding.h"

namespace trawlex {

TRangeProcessor::TRangeProcessor(TSearchParams* params) : Params(params) {}
TRangeProcessor::~TRangeProcessor() = default;

void TRangeProcessor::SetFileName(const std::string& path) {
  FileName = path;
  SliceStart = 0;
  Reader.Load(path);
  Size = Reader.Size();
  DecodeText();
  LineNo = 0;
  FileTimeStamped = true;  // no item to stamp
}

bool TRangeProcessor::DecodeText() {
  std::string text;
  if (!DecodeUtf16Text(Reader.Data(), static_cast<size_t>(Reader.Size()), text, StopRequested)) return false;
  const bool pending = Reader.InfoPending();
  Reader.ReplaceContent(text);
  if (pending && File) TakeFileInfo(File);  // the file was examined: the item keeps its size
  Size = Reader.Size();
  return true;
}

void TRangeProcessor::SetFile(TSearchFile* file) {
  BeginFile(file);
  Reader.Load(file->Name);
  FileLoaded(file);
  DecodeText();
  FileEndsWithBreak = Size > 0 && IsLineBreak(static_cast<int32_t>(Size - 1));
}

void TRangeProcessor::BeginFile(TSearchFile* file) {
  File = file;
  SliceStart = 0;
  FileName = file->Name;
}

void TRangeProcessor::FileLoaded(TSearchFile* file) {
  Size = Reader.Size();
  LineNo = 0;
  // The item shows the size and time of the bytes that were searched. Its time, and its
  // identity where the file is still to be examined, are given at its first find
  // (StampFileTime): most files have none, and neither is free.
  if (Reader.InfoPending())
    file->Size = Size;  // a file without finds is dropped unexamined
  else
    TakeFileInfo(file);
  FileTimeStamped = false;
}

void TRangeProcessor::TakeFileInfo(TSearchFile* file) {
  const TFileInfo& info = Reader.LoadedInfo();
  file->Size = info.Size;
  file->Identity = {info.Device, info.Inode, info.ChangeNs};
}

void TRangeProcessor::StampFileTime() {
  if (FileTimeStamped || !File) return;
  if (Reader.InfoPending()) TakeFileInfo(File);
  File->FileTime = Reader.LoadedInfo().LastWrite();
  FileTimeStamped = true;
}

void TRangeProcessor::SetBytes(std::string_view bytes, const std::string& path) {
  FileName = path;
  SliceStart = 0;
  Reader.LoadFromBytes(bytes, path);
  NewRegexSubject();
  Size = Reader.Size();
  LineNo = 0;
  FileTimeStamped = true;  // bytes from memory have no file time
}

namespace {

// `length` bytes of `file` at `offset` (fewer where the file ends sooner).
std::string ReadSpan(TReadOnlyFile& file, const std::string& path, int64_t offset, int64_t length) {
  std::string bytes(static_cast<size_t>(length), '\0');
  std::string error;
  const int64_t got = file.ReadFullAt(bytes.data(), bytes.size(), offset, error);
  if (got < 0) throw ETrawlexError(Fmt("Cannot read file \"%s\". %s", path, error));
  bytes.resize(static_cast<size_t>(got));
  return bytes;
}

bool IsBreakByte(char c) { return c == '\n' || c == '\r'; }

}  // namespace

bool TRangeProcessor::SetFileAround(TSearchFile* file, int64_t position, int64_t wholeMax, int64_t reach) {
  TReadOnlyFile f;
  std::string error;
  if (!f.Open(file->Name, error)) throw ETrawlexError(Fmt("Cannot open file \"%s\". %s", file->Name, error));
  const int64_t size = f.Size();
  if (size <= wholeMax) return false;
  const std::string head = ReadSpan(f, file->Name, 0, 4);
  if (IsUtf16(DetectEncoding(reinterpret_cast<const unsigned char*>(head.data()), head.size()))) return false;
  position = std::clamp<int64_t>(position, 0, size);
  const int64_t from = std::max<int64_t>(0, position - reach);
  int64_t to = std::min(size, position + reach);
  std::string bytes = ReadSpan(f, file->Name, from, to - from);
  const auto at = static_cast<size_t>(std::min<int64_t>(position - from, static_cast<int64_t>(bytes.size())));
  // The line at `position` is held whole: read on until its end.
  while (to < size && to - position < LongLinePiece &&
         std::find_if(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end(), IsBreakByte) == bytes.end()) {
    const int64_t more = std::min({size, position + 2 * (to - position), position + LongLinePiece}) - to;
    const std::string next = ReadSpan(f, file->Name, to, more);
    bytes += next;
    to += more;
    if (static_cast<int64_t>(next.size()) < more) break;  // the file shrank
  }
  // Whole lines only: the part of a line before the first line break and after the last
  // one are left out, except at the file's own ends.
  size_t first = 0, end = bytes.size();
  if (from > 0) {
    const auto brk = std::find_if(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at), IsBreakByte);
    first = static_cast<size_t>(brk - bytes.begin());
    if (first < at) first += bytes[first] == '\r' && first + 1 < bytes.size() && bytes[first + 1] == '\n' ? 2 : 1;
  }
  if (from + static_cast<int64_t>(bytes.size()) < size) {
    const auto last = std::find_if(bytes.rbegin(), bytes.rend() - static_cast<std::ptrdiff_t>(at), IsBreakByte);
    if (last != bytes.rend() - static_cast<std::ptrdiff_t>(at)) end = static_cast<size_t>(bytes.rend() - last);
  }
  const std::string last = from + static_cast<int64_t>(bytes.size()) == size ? bytes : ReadSpan(f, file->Name, size - 1, 1);
  FileEndsWithBreak = !last.empty() && IsBreakByte(last.back());
  BeginFile(file);
  SetBytes(std::string_view(bytes).substr(first, end - first), file->Name);
  SliceStart = from + static_cast<int64_t>(first);
  return true;
}

int32_t DecimalDigits(int64_t n) {
  int32_t d = 1;
  while (n >= 10) {
    n /= 10;
    ++d;
  }
  return d;
}

namespace {

// The failure table of the Knuth-Morris-Pratt matcher: for each prefix length k + 1, the
// length of its longest proper border.
std::vector<int32_t> FailureTable(const std::string& pattern) {
  std::vector<int32_t> fail(pattern.size(), 0);
  for (size_t i = 1, k = 0; i < pattern.size(); ++i) {
    while (k > 0 && pattern[i] != pattern[k]) k = static_cast<size_t>(fail[k - 1]);
    if (pattern[i] == pattern[k]) ++k;
    fail[i] = static_cast<int32_t>(k);
  }
  return fail;
}

// Occurrences of a pattern in the data, found by feeding the bytes in order once: the
// answer for any position costs no more than the bytes fed since the last answer, so a
// scan that asks at ever later positions reads each byte at most once or twice, whatever
// the pattern.
struct TStreamMatcher {
  const unsigned char* Pattern = nullptr;
  const int32_t* Failure = nullptr;
  int32_t Length = 0;
  bool Fold = false;
  int64_t Fed = -1;      // the next position to feed; -1 before the first
  int32_t State = 0;     // bytes of the pattern matched so far
  int64_t LastEnd = -1;  // last byte of the latest occurrence fed

  void Restart(int64_t at) {
    Fed = at;
    State = 0;
    LastEnd = -1;
  }
  void FeedTo(const unsigned char* data, int64_t to) {
    for (; Fed < to; ++Fed) {
      unsigned char c = data[Fed];
      if (Fold) c = UpperByte(c);
      if (State == Length) State = Failure[Length - 1];
      while (State > 0 && Pattern[State] != c) State = Failure[State - 1];
      if (Pattern[State] == c) ++State;
      if (State == Length) LastEnd = Fed;
    }
  }
};

// The state of one Process call.
struct TScan {
  const unsigned char* Data;
  int64_t Size;
  const unsigned char* Pattern;  // upper-cased when case-insensitive
  int32_t N;            // target length
  int32_t M;            // exclude length
  bool CaseSensitive, WholeWord, HasExclude;
  const std::vector<int32_t>* ExcludePositions;
  const unsigned char* Exclude;
  TBytesEqual ExcludeCompare;
  const bool* FirstByte;  // 256 entries
  // Case ignored beyond ASCII: finds are matched by folding, and their lengths vary.
  const TFoldTarget* Fold = nullptr;
  // Its linear matchers, once direct comparisons stop paying.
  TFoldStream *FoldStream = nullptr, *FoldExcludeStream = nullptr;
  bool FoldLinear = false, FoldExcludeLinear = false;
  int32_t Len = 0;  // the length of the last find Matches accepted
  bool StartsWord = false, EndsWord = false;
  int64_t Lo = 0;    // where the range starts: whole word looks no further back
  int64_t ExLo = 0;  // the first byte in memory, for the exclude text

  // Comparing each candidate directly costs up to the target's length (and the exclude
  // test up to its positions times its length) per position: a file of "a" and a target of
  // many "a" then an "e" would take their product. Once the bytes compared outgrow the
  // bytes scanned, the rest of the scan asks the stream matchers instead, which keeps the
  // whole scan linear in the size of the file and gives the same answers.
  int64_t First = 0;
  bool MayGoLinear = true;
  bool TargetLinear = false, ExcludeLinear = false;
  int64_t TargetWork = 0, ExcludeWork = 0;
  TStreamMatcher TargetStream, ExcludeStream;
  std::function<void()> MakeTargetStream, MakeExcludeStream;

  bool OverBudget(int64_t work, int64_t pos) const { return work > 4 * (pos - First) + 4096; }

  bool BodyMatches(int64_t pos) {
    if (TargetLinear) {
      if (TargetStream.Fed < pos) TargetStream.Restart(pos);
      TargetStream.FeedTo(Data, pos + N);
      return TargetStream.LastEnd == pos + N - 1;
    }
    int32_t i = 1;
    bool equal = true;
    for (; i < N; ++i) {
      unsigned char b = Data[pos + i];
      if (!CaseSensitive) b = UpperByte(b);
      if (b != Pattern[i]) {
        equal = false;
        break;
      }
    }
    TargetWork += i;
    if (MayGoLinear && OverBudget(TargetWork, pos)) {
      MakeTargetStream();
      TargetLinear = true;
    }
    return equal;
  }

  // Whether the find at pos lies inside an occurrence of the exclude text. The target is
  // known to occur at pos, so an exclude occurrence starting anywhere from pos - (M - N)
  // to pos holds it at one of the exclude positions: the linear test only needs the
  // latest occurrence of the exclude text that ends by pos + M - 1.
  bool Excluded(int64_t pos) {
    if (ExcludeLinear) {
      const int64_t from = std::max<int64_t>(0, pos - (M - N));
      if (ExcludeStream.Fed < from) ExcludeStream.Restart(from);
      ExcludeStream.FeedTo(Data, std::min<int64_t>(pos + M, Size));
      return ExcludeStream.LastEnd >= pos + N - 1;
    }
    bool excluded = false;
    for (const int32_t q : *ExcludePositions) {
      const int64_t s = pos - q + 1;
      if (s < 0 || s + M > Size) continue;
      ExcludeWork += M;
      if (ExcludeCompare(Data + s, Exclude, static_cast<size_t>(M))) {
        excluded = true;
        break;
      }
    }
    if (MayGoLinear && OverBudget(ExcludeWork, pos)) {
      MakeExcludeStream();
      ExcludeLinear = true;
    }
    return excluded;
  }

  bool Matches(int64_t pos, unsigned char prev) {
    if (WholeWord && StartsWord && (prev < 0x80 ? IsWordByte(prev) : WordCharBefore(Data, Lo, pos))) return false;
    if (Fold) {
      int32_t len;
      if (FoldLinear) {
        len = FoldStream->MatchAt(Data, pos, Size);
      } else {
        len = Fold->MatchAt(Data, pos, Size, &TargetWork);
        if (FoldStream && MayGoLinear && OverBudget(TargetWork, pos)) FoldLinear = true;
      }
      if (len < 0) return false;
      if (WholeWord && EndsWord && WordCharAt(Data, int64_t{pos} + len, Size)) return false;
      if (HasExclude) {
        if (FoldExcludeLinear) {
          if (FoldExcludeStream->Excluded(Data, ExLo, pos, len, Size)) return false;
        } else {
          if (Fold->Excluded(Data, ExLo, pos, len, Size, &ExcludeWork)) return false;
          if (FoldExcludeStream && MayGoLinear && OverBudget(ExcludeWork, pos)) FoldExcludeLinear = true;
        }
      }
      Len = len;
      return true;
    }
    if (static_cast<int64_t>(pos) + N > Size) return false;
    if (!BodyMatches(pos)) return false;
    if (WholeWord && EndsWord && int64_t{pos} + N < Size &&
        (Data[pos + N] < 0x80 ? IsWordByte(Data[pos + N]) : WordCharAt(Data, int64_t{pos} + N, Size)))
      return false;
    if (HasExclude && Excluded(pos)) return false;
    Len = N;
    return true;
  }
};

// What a scan keeps between bytes.
struct TScanState {
  int64_t LineStart = 0;
  TSearchLine* Line = nullptr;  // the current line item while it is being made
  int64_t LineNo = -1;          // the current line item's number; -1 before the first
  // The current line before its item is made (at its first batch of finds, or when it is
  // complete): made whole then, its record in one piece.
  bool Open = false;
  int64_t OpenStart = 0;
  std::string_view OpenText;
  int32_t Count = 0;
  int64_t LastCreatedEnd = -1;
};

}  // namespace

TFindRule::TFindRule(const TSearchParams& params)
    : Params(params), Pattern(params.CaseSensitive() ? params.Target() : UpperAscii(params.Target())) {
  const std::string exclude = params.HasExclude() ? params.Exclude() : std::string();
  if (!params.CaseSensitive() && FoldsBeyondAscii(params.Target(), exclude))
    Fold = std::make_shared<TFoldTarget>(params.Target(), exclude);
}

bool TFindRule::IsFindAt(const unsigned char* data, int64_t size, int64_t pos, int32_t* length) const {
  const TSearchParams& params = Params;
  const std::string& target = params.Target();
  if (target.empty() || pos < 0 || pos >= size) return false;
  if (!Fold && pos + static_cast<int64_t>(target.size()) > size) return false;
  const bool caseSensitive = params.CaseSensitive();
  const unsigned char first = caseSensitive ? data[pos] : UpperByte(data[pos]);
  if (!Fold && first != static_cast<unsigned char>(Pattern[0])) return false;
  TScan scan;
  scan.Data = data;
  scan.Size = size;
  scan.Pattern = reinterpret_cast<const unsigned char*>(Pattern.data());
  scan.N = static_cast<int32_t>(target.size());
  scan.M = static_cast<int32_t>(params.Exclude().size());
  scan.CaseSensitive = caseSensitive;
  scan.WholeWord = params.WholeWord;
  scan.HasExclude = params.HasExclude();
  scan.ExcludePositions = &params.ExcludePositions();
  scan.Exclude = reinterpret_cast<const unsigned char*>(params.Exclude().data());
  scan.ExcludeCompare = params.ExcludeCompare();
  scan.FirstByte = nullptr;
  scan.Fold = Fold.get();
  scan.StartsWord = StartsWithWordChar(target);
  scan.EndsWord = EndsWithWordChar(target);
  if (!scan.Matches(pos, pos > 0 ? data[pos - 1] : 0)) return false;
  if (length) *length = scan.Len;
  return true;
}

const TRangeProcessor::TPreparedTarget& TRangeProcessor::Prepare() {
  const std::string& target = Params->Target();
  const bool caseSensitive = Params->CaseSensitive();
  TPreparedTarget& p = Prepared;
  const std::string excludeKey = Params->HasExclude() ? Params->Exclude() : std::string();
  if (p.Valid && p.CaseSensitive == caseSensitive && p.Source == target && p.ExcludeKey == excludeKey) return p;
  p.Source = target;
  p.ExcludeKey = excludeKey;
  p.CaseSensitive = caseSensitive;
  p.StartsWord = StartsWithWordChar(target);
  p.EndsWord = EndsWithWordChar(target);
  p.Fold.reset();
  if (!caseSensitive && FoldsBeyondAscii(target, excludeKey)) p.Fold = std::make_shared<TFoldTarget>(target, excludeKey);
  p.Pattern = caseSensitive ? target : UpperAscii(target);
  std::fill(std::begin(p.FirstByte), std::end(p.FirstByte), false);
  const auto t0 = static_cast<unsigned char>(target[0]);
  p.FirstByte[t0] = true;
  if (!caseSensitive) {
    p.FirstByte[UpperByte(t0)] = true;
    p.FirstByte[static_cast<unsigned char>(LowerChar(static_cast<char>(t0)))] = true;
  }
  p.Filter = MakeCandidateFilter(p.Pattern, caseSensitive);
  if (p.Fold) std::copy(std::begin(p.Fold->FirstByte), std::end(p.Fold->FirstByte), std::begin(p.FirstByte));
  p.TargetFailure.clear();  // made again when a scan needs them
  p.ExcludePattern.clear();
  p.Valid = true;
  return p;
}

namespace {

// Where the text of a file starts: after the byte-order mark of UTF-8, which belongs to no
// line.
int32_t TextStart(const unsigned char* data, int64_t size) {
  return DetectEncoding(data, static_cast<size_t>(size)) == TTextEncoding::Utf8Bom ? 3 : 0;
}

}  // namespace

int32_t TRangeProcessor::SearchFile(TSearchFile* file, int64_t wholeMax, size_t block, bool shortReadsEnd) {
  BeginFile(file);
  SkippedBinary = false;
  if (Params->RegExp) return SearchFileRegex(file, wholeMax, block, shortReadsEnd);
  return LoadAndScan(file, {wholeMax, shortReadsEnd, true, nullptr}, block, &TRangeProcessor::Scan);
}

int32_t TRangeProcessor::LoadAndScan(TSearchFile* file, const TFileLoad& load, size_t block, TScanStep scan) {
  NewRegexSubject();
  // The reference loops want the whole file.
  const bool whole = Modes.AllLines || Modes.ByteByByte ? (Reader.Load(file->Name), true)
                                                        : Reader.LoadForSearch(file->Name, load.WholeMax, load.ShortReadsEnd);
  if (whole) {
    struct TEnd {
      TCharReader& R;
      ~TEnd() { R.EndLoad(); }
    } end{Reader};
    FileLoaded(file);
    if (load.Text) DecodeText();  // a UTF-16 file is text, however many zero bytes it holds
    if (Modes.SkipBinary && Size > 0 && HoldsZeroByte(Reader.Data(), std::min(static_cast<size_t>(Size), BinaryProbeSize)))
      return 0;
    return (this->*scan)(load.Text ? TextStart(Reader.Data(), Size) : 0, Size - 1, 0);
  }
  if (load.TooLarge) throw ETrawlexError(load.TooLarge);
  Reader.OpenBlocks(file->Name);
  struct TClose {
    TCharReader& R;
    ~TClose() { R.CloseBlocks(); }
  } close{Reader};
  FileLoaded(file);
  Size = Reader.BlockFileSize();
  int64_t start = 0;
  if (load.Text && Size >= 2 && Reader.NextBlock(0, 3) && Reader.WindowEnd() >= std::min<int64_t>(Size, 3)) {
    start = TextStart(Reader.WindowBase(), Size);
    if (IsUtf16(DetectEncoding(Reader.WindowBase(), static_cast<size_t>(Size)))) return ScanDecodedWhole(file, scan);
  }
  if (Modes.SkipBinary) {
    Reader.NextBlock(0, BinaryProbeSize);  // it stays in the window, where the scan goes on from
    if (HoldsZeroByte(Reader.WindowBase(), static_cast<size_t>(Reader.WindowEnd()))) return 0;
  }
  return (this->*scan)(start, Size - 1, std::max<size_t>(block, 1));
}

// A UTF-16 file met in a block scan: its text is searched whole, decoded.
int32_t TRangeProcessor::ScanDecodedWhole(TSearchFile* file, TScanStep scan) {
  Reader.CloseBlocks();
  Reader.Load(file->Name);
  FileLoaded(file);
  DecodeText();
  return (this->*scan)(TextStart(Reader.Data(), Size), Size - 1, 0);
}

bool TRangeProcessor::HoldsZeroByte(const unsigned char* data, size_t size) {
  SkippedBinary = std::memchr(data, 0, size) != nullptr;
  return SkippedBinary;
}

int32_t TRangeProcessor::Process(int64_t first, int64_t last) {
  if (Params->RegExp) return ScanRegex(std::max<int64_t>(first, 0), std::min(last, Size - 1), 0);
  return Scan(std::max<int64_t>(first, 0), std::min(last, Size - 1), 0);
}

// One call of Scan: the matcher, the line items being made and the place in the data. The
// plain loop visits every byte; the candidate loop jumps between the places where a find
// may start, over the data in memory or over a file read a window at a time.
class TRangeProcessor::TLiteralScan {
 public:
  TLiteralScan(TRangeProcessor& owner, int64_t first, int64_t last, size_t block);
  TLiteralScan(const TLiteralScan&) = delete;
  TLiteralScan& operator=(const TLiteralScan&) = delete;
  int32_t Run();

 private:
  static constexpr size_t LinesPerBatch = 256;
  // How many bytes of data held whole are scanned between two looks at StopRequested.
  static constexpr int64_t StopCheckBytes = int64_t{2} << 20;

  void SetUpMatch();
  void MakeTargetStream();
  void MakeExcludeStream();
  void FlushFinds();
  void AddMadeLines();
  void CreateLine(int64_t lineNo, int64_t lineStart);
  void RecordFind(int64_t pos);
  void ScanEveryByte();
  void ScanCandidates();
  bool MoveWindow();
  void ScanStretch(int64_t candidatesEnd);
  void EndWindow(int64_t candidatesEnd);
  void CountTo(int64_t to);

  TRangeProcessor& P;
  const int64_t First, Last;
  const size_t Block;
  // With a block size, the file open in the reader is read and scanned a window at a
  // time: positions stay the file's, and each window ends after a line break, so a line
  // with a find is always whole in it.
  const bool Blocks;
  const TPreparedTarget& Prepared;
  TScan Match;
  std::optional<TFoldStream> FoldStream, FoldExcludeStream;
  TScanState St;
  // Finds of the current line item not yet added to it, all of one length.
  int32_t Pending[1024];
  size_t PendingCount = 0;
  int32_t PendingLength = 0;
  bool FileHasLines = false;
  int64_t DataEnd = 0;  // where the bytes in memory end: the window's end, or the data's
  // Where the piece of a long line that is in memory starts (see LongLinePiece): a find
  // there is listed with the piece, its line item starting no earlier.
  int64_t PieceFrom = 0;
  bool LinesCounted = true;

  // The candidate loop's place.
  std::optional<TFoldCandidates> FoldCandidates;
  int64_t FitEnd = 0;   // candidates stop where the target no longer fits in the data
  int64_t Counted = 0;  // line breaks before it are in LineNo
  int64_t Next = 0;     // the next position where a find may start
  // Bytes a check reads past a candidate (target, the byte after it, exclude text, the
  // filter's reach), and before it (the exclude text, the byte before).
  int64_t Ahead = 0, Behind = 0;
  int64_t SegEnd = 0;         // the end of the stretch scanned with these bytes
  int64_t BreakSearched = 0;  // the window is known to hold no break before this
  bool SplitLine = false;     // the stretch ends inside a line
};

TRangeProcessor::TLiteralScan::TLiteralScan(TRangeProcessor& owner, int64_t first, int64_t last, size_t block)
    : P(owner), First(first), Last(last), Block(block), Blocks(block > 0), Prepared(owner.Prepare()) {
  SetUpMatch();
  St.LineStart = first;
  P.MadeLines.clear();                 // nothing of an earlier scan
  P.MadeLines.reserve(LinesPerBatch);  // never grows: the line being made stays in place
  PendingLength = Match.N;
  FileHasLines = P.File && P.File->GetLineCount() > 0;
  DataEnd = Blocks ? 0 : P.Bytes().Size();
  PieceFrom = first;
}

void TRangeProcessor::TLiteralScan::SetUpMatch() {
  const TSearchParams& params = *P.Params;
  TScan& s = Match;
  s.Data = Blocks ? nullptr : P.Bytes().Data();
  s.Size = P.Size;
  s.CaseSensitive = params.CaseSensitive();
  s.WholeWord = params.WholeWord;
  s.HasExclude = params.HasExclude();
  s.ExcludePositions = &params.ExcludePositions();
  s.Exclude = reinterpret_cast<const unsigned char*>(params.Exclude().data());
  s.ExcludeCompare = params.ExcludeCompare();
  s.N = static_cast<int32_t>(params.Target().size());
  s.M = static_cast<int32_t>(params.Exclude().size());
  s.Pattern = reinterpret_cast<const unsigned char*>(Prepared.Pattern.data());
  s.FirstByte = Prepared.FirstByte;
  s.First = First;
  s.MayGoLinear = !P.Modes.ByteByByte;
  s.Fold = Prepared.Fold.get();
  if (s.Fold) {
    s.FoldStream = &FoldStream.emplace(*s.Fold, false);
    s.FoldExcludeStream = &FoldExcludeStream.emplace(*s.Fold, true);
    s.FoldLinear = s.FoldExcludeLinear = P.Modes.AlwaysLinear;
    s.N = s.Fold->MinLength;  // where candidates stop; each find has its own length
  }
  s.Len = s.N;
  s.StartsWord = Prepared.StartsWord;
  s.EndsWord = Prepared.EndsWord;
  s.Lo = First;
  s.MakeTargetStream = [this] { MakeTargetStream(); };
  s.MakeExcludeStream = [this] { MakeExcludeStream(); };
  if (P.Modes.AlwaysLinear && !s.Fold) {
    MakeTargetStream();
    s.TargetLinear = true;
    if (s.HasExclude) {
      MakeExcludeStream();
      s.ExcludeLinear = true;
    }
  }
}

void TRangeProcessor::TLiteralScan::MakeTargetStream() {
  TPreparedTarget& p = P.Prepared;
  if (p.TargetFailure.empty()) p.TargetFailure = FailureTable(p.Pattern);
  Match.TargetStream.Pattern = reinterpret_cast<const unsigned char*>(p.Pattern.data());
  Match.TargetStream.Failure = p.TargetFailure.data();
  Match.TargetStream.Length = Match.N;
  Match.TargetStream.Fold = !Match.CaseSensitive;
}

void TRangeProcessor::TLiteralScan::MakeExcludeStream() {
  TPreparedTarget& p = P.Prepared;
  if (p.ExcludePattern.empty() || p.ExcludeSource != P.Params->Exclude()) {
    p.ExcludeSource = P.Params->Exclude();
    p.ExcludePattern = Match.CaseSensitive ? p.ExcludeSource : UpperAscii(p.ExcludeSource);
    p.ExcludeFailure = FailureTable(p.ExcludePattern);
  }
  Match.ExcludeStream.Pattern = reinterpret_cast<const unsigned char*>(p.ExcludePattern.data());
  Match.ExcludeStream.Failure = p.ExcludeFailure.data();
  Match.ExcludeStream.Length = Match.M;
  Match.ExcludeStream.Fold = !Match.CaseSensitive;
}

void TRangeProcessor::TLiteralScan::FlushFinds() {
  if (St.Open) {
    P.MadeLines.push_back(P.File->MakeLine(St.LineNo, St.OpenStart + P.SliceStart, St.OpenText, Pending, PendingCount, PendingLength));
    St.Line = &P.MadeLines.back();
    St.Open = false;
  } else if (PendingCount > 0) {
    St.Line->AddFindsToNewLine(Pending, PendingCount, PendingLength);
  }
  PendingCount = 0;
}

// Line items are made whole before they join the file, a batch at a time: one lock per
// batch. The current line (the last made) is complete when the next one opens, when a
// window of a block scan ends (it ends after a line break) and at the end of the scan.
void TRangeProcessor::TLiteralScan::AddMadeLines() {
  FlushFinds();
  St.Line = nullptr;  // it joins the file now, complete
  if (P.MadeLines.empty()) return;
  const size_t count = P.MadeLines.size();
  TSearchLine* added = P.File->AddLines(P.MadeLines);
  for (size_t i = 0; i < count; ++i) {
    if (P.Modes.UpdateLineNoDigits)
      P.Params->SetLineNoDigits(std::max(P.Params->LineNoDigits(), DecimalDigits(added[i].LineNo() + 1)));
    if (P.OnLineCreated) P.OnLineCreated(&added[i]);
  }
}

void TRangeProcessor::TLiteralScan::CreateLine(int64_t lineNo, int64_t lineStart) {
  FlushFinds();
  if (P.MadeLines.size() >= LinesPerBatch) AddMadeLines();
  std::string_view text;
  if (lineStart >= 0 && lineStart < DataEnd) {
    const unsigned char* b = Match.Data + lineStart;
    text = std::string_view(reinterpret_cast<const char*>(b), static_cast<size_t>(FindLineBreak(b, Match.Data + DataEnd) - b));
  }
  St.LastCreatedEnd = lineStart + static_cast<int64_t>(text.size());
  if (P.File) P.File->ShareArena(P.Arena);
  St.Open = true;
  St.OpenStart = lineStart;
  St.OpenText = text;
  St.Line = nullptr;
  St.LineNo = lineNo;
  FileHasLines = true;
}

// A find at pos: count it, open its line item when the line has none yet, record columns.
// A find belongs to the line it starts on, and a line's break belongs to that line: a
// find at the LF of a CR LF belongs to the line the CR ended, although LineNo has
// already been counted past it.
void TRangeProcessor::TLiteralScan::RecordFind(int64_t pos) {
  if (St.Count == INT32_MAX) throw ETrawlexError("More than 2 billion finds in one file");
  ++St.Count;
  const unsigned char* data = Match.Data;
  int64_t lineNo = P.LineNo, lineStart = std::max(St.LineStart, PieceFrom);
  if (pos > First && data[pos] == 10 && data[pos - 1] == 13) {
    lineNo = P.LineNo - 1;
    lineStart = pos - 1;
    const int64_t from = std::max(First, PieceFrom);
    while (lineStart > from && data[lineStart - 1] != 13 && data[lineStart - 1] != 10) --lineStart;
  }
  if (St.LineNo != lineNo) {
    P.StampFileTime();  // before the item can be handed over
    if (!FileHasLines && P.OnNewFindLine) P.OnNewFindLine();
    CreateLine(lineNo, lineStart);
  }
  TRAWLEX_ASSERT(St.Line || St.Open, "A find on a line that has joined its file");
  // Its whole length (the target's), also when it runs on over the line break.
  if (PendingCount == std::size(Pending) || (PendingCount > 0 && Match.Len != PendingLength)) FlushFinds();
  PendingLength = Match.Len;
  if (pos - lineStart >= INT32_MAX) throw ETrawlexError("A line with a find is 2 GiB long or longer");
  Pending[PendingCount++] = static_cast<int32_t>(pos - lineStart + 1);
}

int32_t TRangeProcessor::TLiteralScan::Run() {
  try {
    if (!Blocks && (P.Modes.AllLines || P.Modes.ByteByByte))
      ScanEveryByte();
    else if (First <= Last)
      ScanCandidates();
  } catch (...) {
    AddMadeLines();  // what was found before the failure stays found
    throw;
  }
  if (P.Modes.AllLines && St.LineNo != P.LineNo && Last > St.LastCreatedEnd) CreateLine(P.LineNo, St.LineStart);
  AddMadeLines();
  if (Last >= P.Size - 1 && P.File && LinesCounted) P.File->TotalLines.store(P.LineNo + 1, std::memory_order_relaxed);
  return St.Count;
}

// The plain loop: every byte once, in order.
void TRangeProcessor::TLiteralScan::ScanEveryByte() {
  const unsigned char* data = Match.Data;
  unsigned char prev = 0;
  int32_t skip = 0;
  for (int64_t pos = First; pos <= Last; ++pos) {
    const unsigned char c = data[pos];
    // A find starting at a line break is on the line that the break ends.
    if (skip > 0) {
      --skip;
    } else if (Match.FirstByte[c] && Match.Matches(pos, prev)) {
      RecordFind(pos);
      skip = Match.Len - 1;
    }
    if ((c == 13 || c == 10) && !(prev == 13 && c == 10)) {
      if (P.Modes.AllLines && St.LineNo != P.LineNo) CreateLine(P.LineNo, St.LineStart);
      ++P.LineNo;
    }
    prev = c;
    if (c == 13 || c == 10) St.LineStart = pos + 1;
  }
}

// The same rules, jumping from candidate to candidate: the stretches in between hold no
// find start, so only their line breaks are counted. Positions, not pointers: the window
// of a block scan moves in memory.
void TRangeProcessor::TLiteralScan::ScanCandidates() {
  if (Match.Fold) FoldCandidates.emplace(*Match.Fold);
  // The filter reads as far as the target past each candidate.
  FitEnd = std::max<int64_t>(First, std::min<int64_t>(Last + 1, P.Size - Match.N + 1));
  Counted = Next = BreakSearched = First;
  Ahead = Match.Fold ? int64_t{Match.Fold->MaxLength} + Match.Fold->MaxExcludeLength + 64 : int64_t{Match.N} + Match.M + 64;
  Behind = (Match.Fold ? int64_t{Match.Fold->MaxExcludeLength} : int64_t{Match.M}) + 64;
  SegEnd = First;
  bool stopped = false;
  for (;;) {
    if (Blocks && !MoveWindow()) continue;
    // Data held whole is scanned a stretch at a time too, so that a stop is seen.
    if (!Blocks) SegEnd = std::min(Last + 1, SegEnd + StopCheckBytes);
    const int64_t candidatesEnd = std::min<int64_t>(FitEnd, SegEnd);
    ScanStretch(candidatesEnd);
    if (Blocks) EndWindow(candidatesEnd);
    if (SegEnd >= Last + 1) break;
    if (P.StopNow()) {
      stopped = true;  // the bytes after this stretch were not looked at: no line total
      break;
    }
  }
  LinesCounted = !stopped && (St.Count > 0 || P.Modes.CountLinesWithoutFinds);
  if (LinesCounted) CountTo(Last + 1);
}

// Line breaks before `Counted` are in LineNo. They are counted only when a find needs its
// line, so a file without finds is never counted at all when nobody wants its lines (a
// block scan counts each window before it is dropped).
void TRangeProcessor::TLiteralScan::CountTo(int64_t to) {
  if (to <= Counted) return;
  const unsigned char* data = Match.Data;
  const TBreakCount breaks = CountLineBreaks(data + Counted, data + to, Counted > First && data[Counted - 1] == 13);
  P.LineNo += breaks.Breaks;
  if (breaks.LastBreak) St.LineStart = (breaks.LastBreak - data) + 1;
  Counted = to;
}

// Moves the window on until it holds a line break far enough from its end, or the file's
// end: the stretch to scan ends after that break. False when the window needs more bytes.
bool TRangeProcessor::TLiteralScan::MoveWindow() {
  TCharReader& reader = P.Reader;
  reader.NextBlock(std::max<int64_t>(0, std::min(Counted, Next) - Behind), Block);
  const unsigned char* data = Match.Data = reader.WindowBase();
  Match.ExLo = reader.WindowStart();
  DataEnd = reader.WindowEnd();
  SplitLine = false;
  if (DataEnd >= Last + 1) {
    SegEnd = Last + 1;
    return true;
  }
  int64_t p = DataEnd - Ahead;
  const int64_t stop = std::max<int64_t>({BreakSearched, Counted, reader.WindowStart()});
  if (p > stop) {
    const unsigned char* lastBreak = FindLastLineBreak(data + stop, data + p);
    p = lastBreak ? lastBreak - data + 1 : stop;
  }
  BreakSearched = std::max(stop, DataEnd - Ahead);
  if (p <= stop && DataEnd - reader.WindowStart() > LongLinePiece && DataEnd - Ahead > Next) {
    // A line too long to hold: the window ends inside it, and a find in this stretch is
    // listed with the piece of the line that starts here.
    p = DataEnd - Ahead;
    SplitLine = true;
  } else if (p <= stop) {
    return false;  // no break yet: read more into the window
  }
  // A CR LF pair stays in one stretch, so that the next begins a line.
  if (!SplitLine && data[p - 1] == 13 && data[p] == 10) ++p;
  SegEnd = p;
  return true;
}

// The finds that start before candidatesEnd, from Next on.
void TRangeProcessor::TLiteralScan::ScanStretch(int64_t candidatesEnd) {
  const TCandidateFilter& filter = Prepared.Filter;
  const unsigned char* data = Match.Data;
  int64_t next = Next;
  while (next < candidatesEnd) {
    const unsigned char* c;
    if (Match.Fold) {
      c = data + FoldCandidates->Find(data, next, candidatesEnd);  // lines are counted at finds
    } else if (St.Count > 0 || P.Modes.CountLinesWithoutFinds || Blocks) {
      // Every line gets counted (a block scan counts each window before it moves on):
      // count while looking for the next candidate.
      CountTo(next);
      TBreakCount breaks;
      c = FindCandidateCountingBreaks(filter, data + next, data + candidatesEnd, next > First && data[next - 1] == 13, breaks);
      P.LineNo += breaks.Breaks;
      if (breaks.LastBreak) St.LineStart = (breaks.LastBreak - data) + 1;
      Counted = c - data;
    } else {
      c = FindCandidate(filter, data + next, data + candidatesEnd);
    }
    if (c >= data + candidatesEnd) break;
    const int64_t pos = c - data;
    const unsigned char prev = pos > First ? c[-1] : 0;
    if (!Match.FirstByte[*c] || !Match.Matches(pos, prev)) {
      next = pos + 1;
      continue;
    }
    CountTo(pos);
    const unsigned char b = *c;
    RecordFind(pos);  // before its own line break is counted: the break ends its line
    if ((b == 13 || b == 10) && !(prev == 13 && b == 10)) ++P.LineNo;
    if (b == 13 || b == 10) St.LineStart = pos + 1;
    Counted = pos + 1;
    next = pos + Match.Len;
  }
  // No find starts before candidatesEnd from here: the next stretch goes on from there, and
  // never counts again the line breaks this one counted.
  Next = std::max(next, candidatesEnd);
}

// The window is about to move: its lines are counted and join the file.
void TRangeProcessor::TLiteralScan::EndWindow(int64_t candidatesEnd) {
  Next = std::max(Next, candidatesEnd);
  CountTo(SegEnd);  // these bytes are about to be dropped
  AddMadeLines();   // the window ends after a line break: its lines are whole
  if (SplitLine) {
    // ... or inside a long line: a find further on in it gets an item of its own.
    St.LineNo = -1;
    PieceFrom = SegEnd;
  }
}

int32_t TRangeProcessor::Scan(int64_t first, int64_t last, size_t block) {
  if (Params->Target().empty()) throw ETrawlexError("The search target is empty");
  return TLiteralScan(*this, first, last, block).Run();
}

bool TRangeProcessor::IsLineBreak(int32_t p) const {
  const unsigned char c = Bytes().GetCharSafe(p);
  return c == 13 || c == 10;
}

bool TRangeProcessor::IsCRLF(int32_t p) const { return Bytes().GetCharSafe(p) == 13 && Bytes().GetCharSafe(int64_t{p} + 1) == 10; }

int32_t TRangeProcessor::GetLineEnd(int32_t p) const {
  if (IsLineBreak(p)) return p;
  while (Bytes().IsValidPos(int64_t{p} + 1) && !IsLineBreak(p + 1)) ++p;
  return p;
}

int32_t TRangeProcessor::GetLineStart(int32_t p) const {
  while (Bytes().IsValidPos(int64_t{p} - 1) && !IsLineBreak(p - 1)) --p;
  return p;
}

int32_t TRangeProcessor::GetPrevLineStart(int32_t p) const {
  const int32_t s = GetLineStart(p);
  if (s <= 0) return -1;
  if (IsCRLF(s - 2)) return GetLineStart(s - 2);
  return GetLineStart(s - 1);
}

int32_t TRangeProcessor::GetNextLineStart(int32_t p) const {
  if (!IsLineBreak(p)) p = GetLineEnd(p) + 1;
  if (p >= Size) return Size;
  int32_t q = p;
  if (IsCRLF(q)) ++q;
  if (Bytes().IsValidPos(q)) ++q;
  return q;
}

}  // namespace trawlex
