#include "engine/RangeProcessor.h"

#include <algorithm>

#include "engine/Errors.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/TextUtils.h"

namespace trawlex {

void TRangeProcessor::SetFileName(const std::string& path) {
  FileName = path;
  Reader.Load(path);
  Size = Reader.Size();
  LineNo = 0;
}

void TRangeProcessor::SetFile(TSearchFile* file) {
  File = file;
  SetFileName(file->Name);
}

void TRangeProcessor::SetBytes(std::string_view bytes, const std::string& path) {
  FileName = path;
  Reader.LoadFromBytes(bytes, path);
  Size = Reader.Size();
  LineNo = 0;
}

namespace {

int32_t DecimalDigits(int64_t n) {
  int32_t d = 1;
  while (n >= 10) {
    n /= 10;
    ++d;
  }
  return d;
}

// The state of one Process call.
struct TScan {
  const unsigned char* Data;
  int32_t Size;
  std::string Pattern;  // upper-cased when case-insensitive
  int32_t N;            // target length
  int32_t M;            // exclude length
  bool CaseSensitive, WholeWord, HasExclude;
  const std::vector<int32_t>* ExcludePositions;
  const unsigned char* Exclude;
  TBytesEqual ExcludeCompare;
  bool FirstByte[256];

  bool Matches(int32_t pos, unsigned char prev) const {
    const unsigned char c = Data[pos];
    if (WholeWord && IsWordByte(c) && IsWordByte(prev)) return false;
    const auto* pat = reinterpret_cast<const unsigned char*>(Pattern.data());
    if (static_cast<int64_t>(pos) + N > Size) return false;
    for (int32_t i = 1; i < N; ++i) {
      unsigned char b = Data[pos + i];
      if (!CaseSensitive) b = UpperByte(b);
      if (b != pat[i]) return false;
    }
    if (WholeWord) {
      const unsigned char lastByte = N == 1 ? c : (CaseSensitive ? Data[pos + N - 1] : UpperByte(Data[pos + N - 1]));
      if (IsWordByte(lastByte) && static_cast<int64_t>(pos) + N < Size && IsWordByte(Data[pos + N])) return false;
    }
    if (HasExclude) {
      for (const int32_t q : *ExcludePositions) {
        const int64_t s = static_cast<int64_t>(pos) - q + 1;
        if (s < 0 || s + M > Size) continue;
        if (ExcludeCompare(Data + s, Exclude, static_cast<size_t>(M))) return false;
      }
    }
    return true;
  }
};

}  // namespace

int32_t TRangeProcessor::Process(int32_t first, int32_t last) {
  first = std::max(first, 0);
  last = std::min(last, Size - 1);

  const std::string& target = Params->Target();
  if (target.empty()) throw ETrawlexError("The search target is empty");
  TScan scan;
  scan.Data = Reader.Data();
  scan.Size = Size;
  scan.CaseSensitive = Params->CaseSensitive();
  scan.WholeWord = Params->WholeWord;
  scan.HasExclude = Params->HasExclude();
  scan.ExcludePositions = &Params->ExcludePositions();
  scan.Exclude = reinterpret_cast<const unsigned char*>(Params->Exclude().data());
  scan.ExcludeCompare = Params->ExcludeCompare();
  scan.N = static_cast<int32_t>(target.size());
  scan.M = static_cast<int32_t>(Params->Exclude().size());
  scan.Pattern = scan.CaseSensitive ? target : UpperAscii(target);
  std::fill(std::begin(scan.FirstByte), std::end(scan.FirstByte), false);
  const auto t0 = static_cast<unsigned char>(target[0]);
  scan.FirstByte[t0] = true;
  if (!scan.CaseSensitive) {
    scan.FirstByte[UpperByte(t0)] = true;
    scan.FirstByte[static_cast<unsigned char>(LowerChar(static_cast<char>(t0)))] = true;
  }

  unsigned char prev = 0;
  int32_t lineStart = first;
  TSearchLine* line = nullptr;
  int32_t skip = 0;
  int32_t count = 0;
  int64_t lastCreatedEnd = -1;

  auto createLine = [&]() {
    std::string text = Reader.ReadLine(lineStart);
    lastCreatedEnd = static_cast<int64_t>(lineStart) + static_cast<int64_t>(text.size());
    line = File->AddLine(LineNo, lineStart, std::move(text));
    Params->SetLineNoDigits(std::max(Params->LineNoDigits(), DecimalDigits(static_cast<int64_t>(LineNo) + 1)));
    if (OnLineCreated) OnLineCreated(line);
  };

  const unsigned char* data = scan.Data;
  for (int32_t pos = first; pos <= last; ++pos) {
    const unsigned char c = data[pos];
    if ((c == 13 || c == 10) && !(prev == 13 && c == 10)) {
      if (AllLines && !line) createLine();
      ++LineNo;
      line = nullptr;
    }
    if (skip > 0) {
      --skip;
    } else if (scan.FirstByte[c] && scan.Matches(pos, prev)) {
      skip = scan.N;
      ++count;
      if (!line || line->LineNo < LineNo) {
        if (OnNewFindLine) OnNewFindLine();
        createLine();
      }
      const int32_t col = pos - lineStart + 1;
      line->AddPosition(col);
      if (static_cast<int64_t>(line->Text.size()) >= static_cast<int64_t>(col) + scan.N) line->AddPosition(col + scan.N);
      --skip;
    }
    prev = c;
    if (c == 13 || c == 10) lineStart = pos + 1;
  }
  if (AllLines && !line && last > lastCreatedEnd) createLine();
  if (last >= Size - 1 && File) File->TotalLines.store(LineNo + 1, std::memory_order_relaxed);
  return count;
}

bool TRangeProcessor::IsLineBreak(int32_t p) const {
  const unsigned char c = Reader.GetCharSafe(p);
  return c == 13 || c == 10;
}

bool TRangeProcessor::IsCRLF(int32_t p) const { return Reader.GetCharSafe(p) == 13 && Reader.GetCharSafe(int64_t{p} + 1) == 10; }

int32_t TRangeProcessor::GetLineEnd(int32_t p) const {
  if (IsLineBreak(p)) return p;
  while (Reader.IsValidPos(int64_t{p} + 1) && !IsLineBreak(p + 1)) ++p;
  return p;
}

int32_t TRangeProcessor::GetLineStart(int32_t p) const {
  while (Reader.IsValidPos(int64_t{p} - 1) && !IsLineBreak(p - 1)) --p;
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
  if (Reader.IsValidPos(q)) ++q;
  return q;
}

}  // namespace trawlex
