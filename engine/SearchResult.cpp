#include "engine/SearchResult.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/LongLine.h"
#include "engine/SearchParams.h"
#include "engine/TabSettings.h"

namespace trawlex {

namespace {

std::string ExpandTabs(std::string_view bytes, TTabSettings tabs) {
  if (!tabs.ExpandTabs || bytes.find('\t') == std::string_view::npos) return std::string(bytes);
  const std::string spaces = Spaces(tabs.SpacesPerTab);
  std::string out;
  out.reserve(bytes.size() + 8);
  for (char c : bytes) {
    if (c == '\t') out += spaces;
    else out += c;
  }
  return out;
}

// Piece i of a line text as a position array cuts it (even pieces plain, odd ones finds),
// its tabs expanded as the list shows them.
std::string SegmentText(std::string_view text, const std::vector<int32_t>& pos, int32_t i, TTabSettings tabs) {
  const auto len = static_cast<int32_t>(text.size());
  auto clampCol = [len](int32_t col) { return std::clamp(std::abs(col) - 1, 0, len); };
  const int32_t begin = i == 0 ? 0 : clampCol(pos[static_cast<size_t>(i - 1)]);
  const int32_t end = std::max(begin, i < static_cast<int32_t>(pos.size()) ? clampCol(pos[static_cast<size_t>(i)]) : len);
  return ExpandTabs(text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin)), tabs);
}

void FillBackground(IDrawSurface& s, const TRect& r, TDrawState state) {
  if (!(state & odSelected)) s.FillRect(r, SysColor::Window);
  else if (state & odFocused) s.FillRect(r, SysColor::Highlight);
  else s.FillRect(r, ItemColor::Gray);
}

}  // namespace

// ---- TSearchLine ----------------------------------------------------------------------

static_assert(sizeof(TSearchLine) <= 40, "a line item stays small: a search can make millions");

uint32_t TSearchLine::High(int i) const {
  uint32_t v;
  std::memcpy(&v, TextData - 8 + 4 * i, 4);
  return v;
}

std::string TSearchLine::GetTextPrefix() const {
  std::string text;
  AppendTextPrefix(text);
  return text;
}

std::string TSearchLine::GetText() const {
  std::string text;
  AppendText(text);
  return text;
}

void TSearchLine::AppendText(std::string& out) const {
  AppendTextPrefix(out);
  out += Text();
}

void TSearchLine::AppendTextPrefix(std::string& out) const {
  const int32_t digits = File && File->Params ? File->Params->LineNoDigits() : 1;
  char num[24];
  char* end = num + sizeof num;
  char* p = end;
  uint64_t u = static_cast<uint64_t>(LineNo()) + 1;
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  const auto len = static_cast<int32_t>(end - p);
  out += ' ';
  if (digits > len) out.append(static_cast<size_t>(digits - len), ' ');
  out.append(p, static_cast<size_t>(len));
  out += ": ";
}

int32_t TSearchLine::LengthOf(size_t k) const {
  const int32_t start = std::abs(StartOf(k));
  const auto toLineEnd = static_cast<int32_t>(TextLen) - start + 1;
  if (HasEnds) {
    const int32_t end = FindValue(2 * k + 1);
    return end ? end - start : toLineEnd;
  }
  if (k + 1 == FindCount && LastOpen) return toLineEnd;
  return File->FindLen;
}

bool TSearchLine::LastEndOmitted() const {
  if (FindCount == 0) return false;
  const size_t last = FindCount - 1;
  if (HasEnds ? FindValue(2 * last + 1) == 0 : bool(LastOpen)) return true;
  // A find that ends where the line's text ends has no end in the array.
  return std::abs(StartOf(last)) + LengthOf(last) - 1 == static_cast<int32_t>(TextLen);
}

std::vector<int32_t> TSearchLine::PositionsLocked() const {
  std::vector<int32_t> pos;
  pos.reserve(size_t{FindCount} * 2);
  for (size_t k = 0; k < FindCount; ++k) {
    pos.push_back(StartOf(k));
    pos.push_back(std::abs(StartOf(k)) + LengthOf(k));
  }
  if (LastEndOmitted()) pos.pop_back();
  return pos;
}

void TSearchLine::Widen() {
  if (!Narrow) return;
  const size_t n = ValueCount();
  std::vector<int32_t> values(n);
  for (size_t i = 0; i < n; ++i) values[i] = FindValue(i);
  const size_t size = RecordSize();
  Narrow = 0;
  if (n == 0) return;
  char* record = File->Texts().Grow(Record(), size, RecordSize());
  TextData = record + HeadSize();
  std::memcpy(Finds(), values.data(), n * 4);
}

char* TSearchLine::MakeRoom(size_t more) {
  const size_t size = RecordSize();
  const size_t added = more * ValueSize();
  if (size == 0) {
    // A line without text or finds has no record yet.
    char* record = File->Texts().Allocate(added);
    TextData = record;
    return record;
  }
  char* record = File->Texts().Grow(Record(), size, size + added);
  TextData = record + HeadSize();
  return record + size;
}

void TSearchLine::ConvertToEnds() {
  // Every find keeps its end from now on: the array of starts becomes one of pairs.
  const size_t n = FindCount;
  std::vector<int32_t> pairs;
  pairs.reserve(2 * n);
  for (size_t k = 0; k < n; ++k) {
    const int32_t start = StartOf(k);
    pairs.push_back(start);
    pairs.push_back(k + 1 == n && LastOpen ? 0 : std::abs(start) + File->FindLen);
  }
  if (!std::all_of(pairs.begin(), pairs.end(), FitsNarrow)) Widen();
  MakeRoom(n);
  HasEnds = 1;
  for (size_t i = 0; i < pairs.size(); ++i) SetFindValue(i, pairs[i]);  // the room made may have moved the record
}

void TSearchLine::AddPosition(int32_t value) {
  std::lock_guard lock(File->Lock());
  if (!FitsNarrow(value)) Widen();
  if (FindCount == 0 || !LastOpen) {
    const size_t at = ValueCount();
    MakeRoom(HasEnds ? 2 : 1);
    SetFindValue(at, value);
    if (HasEnds) SetFindValue(at + 1, 0);
    ++FindCount;
    LastOpen = 1;
    return;
  }
  // The end of the last find.
  const size_t last = FindCount - 1;
  const int32_t length = std::abs(value) - std::abs(StartOf(last));
  // Finds of no length keep their ends: a length of 0 marks the file's as not known yet.
  if (!HasEnds && length > 0 && (File->FindLen == 0 || File->FindLen == length)) {
    if (File->FindLen == 0) File->FindLen = length;
  } else {
    if (!HasEnds) ConvertToEnds();
    if (!FitsNarrow(value)) Widen();
    SetFindValue(2 * last + 1, std::abs(value));
  }
  LastOpen = 0;
}

void TSearchLine::AddFinds(const int32_t* cols, size_t count, int32_t length) {
  if (count == 0) return;
  std::lock_guard lock(File->Lock());
  AppendFinds(cols, count, length);
}

void TSearchLine::AddFindsToNewLine(const int32_t* cols, size_t count, int32_t length) {
  if (count > 0) AppendFinds(cols, count, length);
}

void TSearchLine::AppendFinds(const int32_t* cols, size_t count, int32_t length) {
  TRAWLEX_ASSERT(FindCount == 0 || !LastOpen, "AddFinds after an open end");
  if (size_t{FindCount} + count >= (size_t{1} << 29)) throw ETrawlexError("More than 500 million finds on one line");
  const bool ends = !(!HasEnds && length > 0 && (File->FindLen == 0 || File->FindLen == length));
  if (Narrow && !std::all_of(cols, cols + count, [&](int32_t c) { return FitsNarrow(c) && (!ends || FitsNarrow(int64_t{c} + length)); }))
    Widen();
  if (!ends) {
    if (File->FindLen == 0) File->FindLen = length;  // set once, before any line with finds joins
    const size_t at = ValueCount();
    MakeRoom(count);
    for (size_t i = 0; i < count; ++i) SetFindValue(at + i, cols[i]);
  } else {
    if (!HasEnds) ConvertToEnds();
    const size_t at = ValueCount();
    MakeRoom(2 * count);
    for (size_t i = 0; i < count; ++i) {
      SetFindValue(at + 2 * i, cols[i]);
      SetFindValue(at + 2 * i + 1, cols[i] + length);
    }
  }
  FindCount += static_cast<uint32_t>(count);
  LastOpen = 0;
}

std::vector<int32_t> TSearchLine::GetPositions() const {
  std::lock_guard lock(File->Lock());
  return PositionsLocked();
}

int32_t TSearchLine::GetFindCount() const {
  std::lock_guard lock(File->Lock());
  return static_cast<int32_t>(FindCount);
}

int32_t TSearchLine::GetSegmentCount() const {
  std::lock_guard lock(File->Lock());
  return static_cast<int32_t>(FindCount * 2 + (LastEndOmitted() ? 0 : 1));
}

std::string TSearchLine::GetSegmentText(int32_t i, TTabSettings tabs) const {
  const std::vector<int32_t> pos = GetPositions();
  TRAWLEX_ASSERT(i >= 0 && i <= static_cast<int32_t>(pos.size()), "Invalid value in GetSegmentText");
  return SegmentText(Text(), pos, i, tabs);
}

bool TSearchLine::GetFindSelected(int32_t k) const {
  std::lock_guard lock(File->Lock());
  TRAWLEX_ASSERT(k >= 0 && static_cast<size_t>(k) < FindCount, "Invalid value in GetFindSelected");
  return StartOf(static_cast<size_t>(k)) < 0;
}

void TSearchLine::SetFindSelected(int32_t k, bool selected) {
  std::lock_guard lock(File->Lock());
  TRAWLEX_ASSERT(k >= 0 && static_cast<size_t>(k) < FindCount, "Invalid value in SetFindSelected");
  const int32_t start = StartOf(static_cast<size_t>(k));
  SetStart(static_cast<size_t>(k), selected ? -std::abs(start) : std::abs(start));
}

int64_t TSearchLine::GetFindPos(int32_t k) const {
  std::lock_guard lock(File->Lock());
  TRAWLEX_ASSERT(k >= 0 && static_cast<size_t>(k) < FindCount, "Invalid value in GetFindPos");
  return int64_t{std::abs(StartOf(static_cast<size_t>(k)))} + LineStart() - 1;
}

int32_t TSearchLine::GetFindLength(int32_t k) const {
  std::lock_guard lock(File->Lock());
  TRAWLEX_ASSERT(k >= 0 && static_cast<size_t>(k) < FindCount, "Invalid value in GetFindLength");
  return LengthOf(static_cast<size_t>(k));
}

int32_t TSearchLine::GetWidth(IDrawSurface& surface) const {
  if (IsLongLine(Text())) return LongLineWidth(surface, Text(), GetPositions()) + File->Params->LineNoWidth();
  return surface.TextWidth(Text()) + File->Params->LineNoWidth();
}

void TSearchLine::Draw(IDrawSurface& s, const TRect& rect, TDrawState state) const {
  const std::vector<int32_t> pos = GetPositions();
  FillBackground(s, rect, state);
  const bool selected = state & odSelected;
  const TColor plain = selected ? SysColor::Window : SysColor::WindowText;
  const TColor find = selected ? ItemColor::FindOnHighlight : ItemColor::Find;
  const TColor selectedFind = selected ? ItemColor::SelectedFindOnHighlight : ItemColor::SelectedFind;

  s.SetFontColor(SysColor::GrayText);
  if (File->TotalLines.load(std::memory_order_relaxed) - 1 == LineNo()) s.SetFontStyle(s.GetFontStyle() | fsUnderline);
  const int32_t lineNoWidth = File->Params->LineNoWidth();
  const std::string prefix = std::to_string(LineNo() + 1) + ": ";
  s.TextOut(rect.Left + lineNoWidth - s.TextWidth(prefix), rect.Top, prefix);

  if (IsLongLine(Text())) {
    DrawLongLine(s, rect.Left + lineNoWidth, rect.Top, rect.Bottom, Text(), pos, {plain, find, selectedFind, SysColor::GrayText});
    return;
  }
  int32_t x = lineNoWidth;
  size_t k = 0;
  const TTabSettings tabs = s.Tabs();
  for (int32_t i = 0; i <= static_cast<int32_t>(pos.size()); ++i) {
    if (i % 2 == 1) {
      s.SetFontColor(pos[k * 2] < 0 ? selectedFind : find);
      ++k;
    } else {
      s.SetFontColor(plain);
    }
    const std::string seg = SegmentText(Text(), pos, i, tabs);
    // A find of no length (an empty match) is a thin mark where it stands.
    if (i % 2 == 1 && seg.empty()) s.FillRect({rect.Left + x, rect.Top, rect.Left + x + 2, rect.Bottom}, pos[(k - 1) * 2] < 0 ? selectedFind : find);
    s.TextOut(rect.Left + x, rect.Top, seg);
    x += s.TextWidth(seg);
  }
}

int32_t TSearchLine::FindAtX(IDrawSurface& surface, int32_t x) const {
  const std::vector<int32_t> pos = GetPositions();
  int32_t a = File->Params->LineNoWidth();
  if (IsLongLine(Text())) return LongLineFindAt(surface, a, Text(), pos, x);
  int32_t k = -1;
  const TTabSettings tabs = surface.Tabs();
  for (int32_t i = 0; i <= static_cast<int32_t>(pos.size()); ++i) {
    const int32_t left = a;
    a += surface.TextWidth(SegmentText(Text(), pos, i, tabs));
    if (i % 2 == 1) {
      ++k;
      if (x < a) return x >= left ? k : -1;
    }
  }
  return -1;
}

// ---- TTextArena -----------------------------------------------------------------------

std::string_view TTextArena::Add(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (bytes.size() > Left) {
    constexpr size_t MaxBlock = size_t{64} << 10;
    const size_t size = std::max(bytes.size(), NextBlock);
    Blocks.push_back(std::make_unique_for_overwrite<char[]>(size));
    if (size == NextBlock) NextBlock = std::min(NextBlock * 2, MaxBlock);
    // A piece larger than a block keeps the block being filled, when it has room left.
    if (size > bytes.size() || Left == 0) {
      FreeSpace = Blocks.back().get();
      Left = size;
    } else {
      std::memcpy(Blocks.back().get(), bytes.data(), bytes.size());
      return {Blocks.back().get(), bytes.size()};
    }
  }
  char* at = FreeSpace;
  std::memcpy(at, bytes.data(), bytes.size());
  FreeSpace += bytes.size();
  Left -= bytes.size();
  return {at, bytes.size()};
}

// ---- TLineArena -----------------------------------------------------------------------

namespace {
constexpr size_t MaxArenaBlock = size_t{256} << 10;
constexpr size_t OwnRecordSize = 2048;
}  // namespace

void TLineArena::NewBlock(size_t size) {
  Blocks.push_back({std::make_unique_for_overwrite<char[]>(size), size, false});
  Held += size;
  FreeSpace = Blocks.back().Bytes.get();
  Left = size;
  NextBlock = std::min(NextBlock * 2, MaxArenaBlock);
}

char* TLineArena::OwnBlock(size_t size) {
  Blocks.push_back({std::make_unique_for_overwrite<char[]>(size), size, true});
  Held += size;
  return Blocks.back().Bytes.get();
}

char* TLineArena::AllocateItems(size_t size) {
  constexpr size_t Align = alignof(TSearchLine);
  const size_t skip = FreeSpace ? (Align - reinterpret_cast<uintptr_t>(FreeSpace) % Align) % Align : 0;
  if (skip + size > Left) {
    // A fresh block is aligned for anything.
    if (size >= OwnRecordSize) return OwnBlock(size);
    NewBlock(std::max(size, NextBlock));
  } else {
    FreeSpace += skip;
    Left -= skip;
  }
  char* at = FreeSpace;
  FreeSpace += size;
  Left -= size;
  return at;
}

char* TLineArena::Allocate(size_t size) {
  if (size > Left) {
    // A record of some size gets a block of its own and leaves the one being filled as it
    // is: a block given up for a new one wastes less than such a record.
    if (size >= OwnRecordSize) return OwnBlock(size);
    NewBlock(std::max(size, NextBlock));
  }
  char* at = FreeSpace;
  FreeSpace += size;
  Left -= size;
  return at;
}

char* TLineArena::Grow(char* record, size_t size, size_t newSize) {
  const size_t had = size, want = newSize;
  if (record + had == FreeSpace && want - had <= Left) {
    FreeSpace += want - had;
    Left -= want - had;
    return record;
  }
  // A record with a block of its own grows in it, or moves to a larger one and frees it;
  // room to grow on makes a record that keeps growing (a line with a find on every byte)
  // move a few times, not once per batch of finds.
  for (auto block = Blocks.rbegin(); block != Blocks.rend(); ++block) {
    if (!block->Own || block->Bytes.get() != record) continue;
    if (want <= block->Size) return record;
    const size_t grown = want + want / 2;
    auto bytes = std::make_unique_for_overwrite<char[]>(grown);
    std::memcpy(bytes.get(), record, size);
    Held += grown - block->Size;
    block->Bytes = std::move(bytes);
    block->Size = grown;
    return block->Bytes.get();
  }
  char* moved = want >= OwnRecordSize ? OwnBlock(want + want / 2) : Allocate(want);
  std::memcpy(moved, record, size);
  return moved;
}

char* TLineArena::Fit(char* record, size_t size) {
  if (size < OwnRecordSize) return record;
  // Only a record that grew has room to give back, and it is among the last ones made.
  int looked = 0;
  for (auto block = Blocks.rbegin(); block != Blocks.rend() && looked < 1024; ++block, ++looked) {
    if (!block->Own || block->Bytes.get() != record) continue;
    if (block->Size == size) return record;
    auto bytes = std::make_unique_for_overwrite<char[]>(size);
    std::memcpy(bytes.get(), record, size);
    Held -= block->Size - size;
    block->Bytes = std::move(bytes);
    block->Size = size;
    return block->Bytes.get();
  }
  return record;
}

// ---- TSearchFile ----------------------------------------------------------------------

TSearchFile::~TSearchFile() = default;

TLineArena& TSearchFile::Texts() {
  if (!Arena) Arena = std::make_shared<TLineArena>();
  return *Arena;
}

int32_t TSearchFile::GetFindCount() const {
  std::lock_guard lock(FLock);
  int32_t n = 0;
  for (const TLineBlock& block : Blocks)
    for (const TSearchLine& line : block) n += static_cast<int32_t>(line.FindCount);
  return n;
}

int32_t TSearchFile::GetWidth(IDrawSurface& surface) const { return surface.TextWidth(Name) + 2; }

void TSearchFile::Draw(IDrawSurface& s, const TRect& rect, TDrawState state) const {
  FillBackground(s, rect, state);
  const bool selected = state & odSelected;
  std::string value;
  switch (Params ? Params->SortKey : 0) {
    case 1: value = std::to_string(Size); break;
    case 2: value = FormatDateTime("yyyy-mm-dd hh:mm", FileTime); break;
    case 3: value = std::to_string(GetFindCount()); break;
    default: break;
  }
  if (!value.empty()) {
    s.SetFontColor(selected ? SysColor::ScrollBar : ItemColor::Value);
    s.TextOut(rect.Right - s.TextWidth(value) - 2, rect.Top, value);
  }
  s.SetFontColor(selected ? SysColor::Window : SysColor::WindowText);
  s.SetFontStyle(fsBold);
  s.TextOut(rect.Left + 2, rect.Top, Name);
}

int32_t TSearchFile::GetLineCount() const {
  std::lock_guard lock(FLock);
  return LineCountLocked();
}

TSearchLine* TSearchFile::GetLine(int32_t index) const {
  std::lock_guard lock(FLock);
  if (index < 0 || index >= LineCountLocked()) throw ETrawlexError(Fmt("List index out of bounds (%d)", index));
  const TLineBlock* block =
      std::upper_bound(Blocks.begin(), Blocks.end(), index, [](int32_t i, const TLineBlock& b) { return i < b.End; });
  return &(*block)[static_cast<size_t>(index - (block->End - block->Count))];
}

TSearchLine* TSearchFile::AddLine() { return AddLine(0, 0, {}); }

TSearchLine* TSearchFile::AddLine(int64_t lineNo, int64_t lineStart, std::string_view text) {
  std::vector<TSearchLine> one{MakeLine(lineNo, lineStart, text)};
  return AddLines(one);
}

TSearchLine TSearchFile::MakeLine(int64_t lineNo, int64_t lineStart, std::string_view text, const int32_t* cols,
                                  size_t count, int32_t length) {
  if (text.size() >= (size_t{1} << 31)) throw ETrawlexError("A line with a find is 2 GiB long or longer");
  TSearchLine line(this);
  line.Wide = (lineNo >> 32) != 0 || (lineStart >> 32) != 0;
  line.LineNoLow = static_cast<uint32_t>(lineNo);
  line.LineStartLow = static_cast<uint32_t>(lineStart);
  line.TextLen = static_cast<uint32_t>(text.size());
  // Finds of the file's length go into the record at once; others the long way.
  const bool findsNow = count > 0 && count < (size_t{1} << 29) && length > 0 && (FindLen == 0 || FindLen == length);
  // Columns of a short line fit in 2 bytes; a find at a larger one widens them all.
  line.Narrow = text.size() < 32767 && std::all_of(cols, cols + count, [](int32_t c) { return TSearchLine::FitsNarrow(c); });
  const size_t size = line.FindsOffset() + (findsNow ? count * line.ValueSize() : 0);
  if (size > 0) {
    char* record = Texts().Allocate(size);
    if (line.Wide) {
      const uint32_t high[2] = {static_cast<uint32_t>(lineNo >> 32), static_cast<uint32_t>(lineStart >> 32)};
      std::memcpy(record, high, sizeof high);
    }
    if (!text.empty()) std::memcpy(record + line.HeadSize(), text.data(), text.size());
    line.TextData = record + line.HeadSize();
    if (findsNow) {
      if (FindLen == 0) FindLen = length;
      for (size_t i = 0; i < count; ++i) line.SetFindValue(i, cols[i]);
      line.FindCount = static_cast<uint32_t>(count);
    }
  }
  if (count > 0 && !findsNow) line.AddFindsToNewLine(cols, count, length);
  return line;
}

TSearchLine* TSearchFile::AddLines(std::vector<TSearchLine>& lines) {
  if (lines.empty()) return nullptr;
  // The block goes to the arena beside the lines' texts: no allocation of its own, so a
  // file with one line item costs no more than its 40 bytes for it.
  auto* first = reinterpret_cast<TSearchLine*>(Texts().AllocateItems(lines.size() * sizeof(TSearchLine)));
  {
    std::lock_guard lock(FLock);
    Blocks.reserve_one();  // room first: short of memory, nothing has changed
  }
  TSearchLine* at = first;
  for (TSearchLine& line : lines) {
    TRAWLEX_ASSERT(line.File == this, "AddLines: a line of another file");
    // Complete now: a long line that grew gives back its room to grow.
    if (line.RecordSize() >= 2048) line.TextData = Arena->Fit(line.Record(), line.RecordSize()) + line.HeadSize();
    new (at++) TSearchLine(line);
  }
  const auto count = static_cast<int32_t>(lines.size());
  lines.clear();
  std::lock_guard lock(FLock);
  Blocks.push_back({first, count, LineCountLocked() + count});
  return first;
}

std::vector<TSearchLine*> TSearchFile::LinesSnapshot() const {
  std::vector<TSearchLine*> out;
  std::lock_guard lock(FLock);
  out.reserve(static_cast<size_t>(LineCountLocked()));
  for (const TLineBlock& block : Blocks)
    for (const TSearchLine& line : block) out.push_back(const_cast<TSearchLine*>(&line));
  return out;
}

void TSearchFile::ReplaceLines(std::vector<TSearchLine> lines) {
  Blocks.clear();
  Owned.reset();
  if (lines.empty()) return;
  lines.shrink_to_fit();
  Owned = std::make_unique<std::vector<TSearchLine>>(std::move(lines));
  Blocks.push_back({Owned->data(), static_cast<int32_t>(Owned->size()), static_cast<int32_t>(Owned->size())});
}

void TSearchFile::DeleteLine(int32_t index) {
  std::lock_guard lock(FLock);
  const int32_t count = LineCountLocked();
  if (index < 0 || index >= count) throw ETrawlexError(Fmt("List index out of bounds (%d)", index));
  std::vector<TSearchLine> kept;
  kept.reserve(static_cast<size_t>(count - 1));
  int32_t i = 0;
  for (const TLineBlock& block : Blocks)
    for (const TSearchLine& line : block)
      if (i++ != index) kept.push_back(line);
  ReplaceLines(std::move(kept));
}

void TSearchFile::SortLines() {
  std::lock_guard lock(FLock);
  std::vector<TSearchLine> all;
  for (const TLineBlock& block : Blocks) all.insert(all.end(), block.begin(), block.end());
  std::stable_sort(all.begin(), all.end(), [](const TSearchLine& a, const TSearchLine& b) { return a.LineNo() < b.LineNo(); });
  ReplaceLines(std::move(all));
}

int32_t TSearchFile::IndexOfLineNo(int64_t n) const {
  std::lock_guard lock(FLock);
  const int32_t count = LineCountLocked();
  if (count == 0) return 0;
  if (n > Blocks.back().back().LineNo()) return count;
  int32_t i = count;
  for (auto block = Blocks.rbegin(); block != Blocks.rend(); ++block)
    for (auto line = block->rbegin(); line != block->rend(); ++line) {
      --i;
      if (line->LineNo() == n) return i;
    }
  return -1;
}

void TSearchFile::SelectAllFinds(bool selected) {
  std::lock_guard lock(FLock);
  for (const TLineBlock& block : Blocks)
    for (TSearchLine& line : block)
      for (size_t k = 0; k < line.FindCount; ++k) {
        const int32_t start = line.StartOf(k);
        line.SetStart(k, selected ? -std::abs(start) : std::abs(start));
      }
}

void TSearchFile::CopyFindSelection(const TSearchFile& other) {
  if (&other == this) return;
  // Never hold both locks: copy the other item's selections first.
  std::vector<std::pair<int64_t, std::vector<bool>>> theirs;
  {
    std::lock_guard lock(other.FLock);
    for (const TLineBlock& block : other.Blocks)
      for (const TSearchLine& line : block) {
        std::vector<bool> sel;
        for (size_t k = 0; k < line.FindCount; ++k) sel.push_back(line.StartOf(k) < 0);
        theirs.emplace_back(line.LineNo(), std::move(sel));
      }
  }
  std::lock_guard lock(FLock);
  for (const TLineBlock& block : Blocks)
    for (TSearchLine& line : block) {
      // The last entry with this line number, as a backward search finds it.
      const int64_t lineNo = line.LineNo();
      auto it = std::find_if(theirs.rbegin(), theirs.rend(), [&](const auto& t) { return t.first == lineNo; });
      if (it == theirs.rend()) continue;
      for (size_t k = 0; k < it->second.size() && k < line.FindCount; ++k) {
        const int32_t start = line.StartOf(k);
        line.SetStart(k, it->second[k] ? -std::abs(start) : std::abs(start));
      }
    }
}

// ---- Free functions ------------------------------------------------------------------

TSearchFile* GetOwnerFile(TSearchResult* item) {
  if (auto* f = dynamic_cast<TSearchFile*>(item)) return f;
  if (auto* l = dynamic_cast<TSearchLine*>(item)) return l->File;
  return nullptr;
}

bool GetItemLocation(TSearchResult* item, std::string& path, int32_t& lineNo) {
  TSearchFile* file = GetOwnerFile(item);
  if (!file) return false;
  path = file->Name;
  auto* line = dynamic_cast<TSearchLine*>(item);
  // The windows take 32-bit line numbers: a line past them is given as the last they take.
  lineNo = line ? static_cast<int32_t>(std::min<int64_t>(line->LineNo(), INT32_MAX)) : 0;
  return true;
}

bool IsFileItemAt(const TItemList& list, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return false;
  return dynamic_cast<TSearchFile*>(list[static_cast<size_t>(index)].Item) != nullptr;
}

static bool IsDescending(const TSearchFile& a) { return a.Params && a.Params->Descending; }

int CompareByName(const TSearchFile& a, const TSearchFile& b) {
  // Names that differ only in letter case are two files on this file system; their exact
  // bytes break the tie so that the order stays total.
  int c = CompareTextAscii(a.Name, b.Name);
  if (c == 0) c = CompareBytes(a.Name, b.Name);
  c = c < 0 ? -1 : (c > 0 ? 1 : 0);
  return IsDescending(a) ? -c : c;
}

template <class T>
static int CompareThenName(const TSearchFile& a, const TSearchFile& b, T x, T y) {
  if (x == y) return CompareByName(a, b);
  const int c = x < y ? -1 : 1;
  return IsDescending(a) ? -c : c;
}

int CompareBySize(const TSearchFile& a, const TSearchFile& b) { return CompareThenName(a, b, a.Size, b.Size); }
int CompareByTime(const TSearchFile& a, const TSearchFile& b) { return CompareThenName(a, b, a.FileTime, b.FileTime); }
int CompareByFinds(const TSearchFile& a, const TSearchFile& b) {
  return CompareThenName(a, b, a.GetFindCount(), b.GetFindCount());
}

TFileCompare CompareForSortKey(int sortKey) {
  switch (sortKey) {
    case 1: return &CompareBySize;
    case 2: return &CompareByTime;
    case 3: return &CompareByFinds;
    default: return &CompareByName;
  }
}

}  // namespace trawlex
