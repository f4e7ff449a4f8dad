#include "engine/SearchResult.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Errors.h"
#include "base/TextUtils.h"
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

std::string TSearchLine::GetTextPrefix() const {
  const int32_t digits = File && File->Params ? File->Params->LineNoDigits() : 1;
  char num[48];
  std::snprintf(num, sizeof num, " %*d: ", static_cast<int>(digits), static_cast<int>(LineNo + 1));
  return num;
}

std::string TSearchLine::GetText() const {
  std::string text;
  AppendText(text);
  return text;
}

void TSearchLine::AppendText(std::string& out) const {
  AppendTextPrefix(out);
  out += Text;
}

void TSearchLine::AppendTextPrefix(std::string& out) const {
  // As GetTextPrefix, without formatting through a string.
  const int32_t digits = File && File->Params ? File->Params->LineNoDigits() : 1;
  char num[16];
  char* end = num + sizeof num;
  char* p = end;
  int64_t n = int64_t{LineNo} + 1;
  const bool negative = n < 0;
  uint64_t u = negative ? uint64_t(-n) : uint64_t(n);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (negative) *--p = '-';
  const auto len = static_cast<int32_t>(end - p);
  out += ' ';
  if (digits > len) out.append(static_cast<size_t>(digits - len), ' ');
  out.append(p, static_cast<size_t>(len));
  out += ": ";
}

int32_t TSearchLine::LengthOf(size_t k) const {
  const int32_t start = std::abs(Starts[k]);
  if (!Ends.empty()) return Ends[k] ? Ends[k] - start : static_cast<int32_t>(Text.size()) - start + 1;
  if (k + 1 == Starts.size() && !LastLengthKnown) return static_cast<int32_t>(Text.size()) - start + 1;
  return FindLen;
}

bool TSearchLine::LastEndOmitted() const {
  if (Starts.empty()) return false;
  const size_t last = Starts.size() - 1;
  if (!Ends.empty() ? Ends[last] == 0 : !LastLengthKnown) return true;
  // A find that ends where the line's text ends has no end in the array.
  return std::abs(Starts[last]) + LengthOf(last) - 1 == static_cast<int32_t>(Text.size());
}

std::vector<int32_t> TSearchLine::PositionsLocked() const {
  std::vector<int32_t> pos;
  pos.reserve(Starts.size() * 2);
  for (size_t k = 0; k < Starts.size(); ++k) {
    pos.push_back(Starts[k]);
    pos.push_back(std::abs(Starts[k]) + LengthOf(k));
  }
  if (LastEndOmitted()) pos.pop_back();
  return pos;
}

void TSearchLine::SetEnd(size_t k, int32_t end) {
  const int32_t length = std::abs(end) - std::abs(Starts[k]);
  if (Ends.empty() && (FindLen == 0 || FindLen == length)) {
    FindLen = length;
  } else if (Ends.empty()) {
    // Finds of different lengths: from now on every end is kept.
    Ends.reserve(Starts.size());
    for (size_t i = 0; i < k; ++i) Ends.push_back(std::abs(Starts[i]) + FindLen);
    Ends.push_back(std::abs(end));
  } else {
    Ends[k] = std::abs(end);
  }
}

void TSearchLine::AddPosition(int32_t value) {
  std::lock_guard lock(File->Lock());
  if (Starts.empty() || LastLengthKnown) {
    Starts.push_back(value);
    if (!Ends.empty()) Ends.push_back(0);
    LastLengthKnown = false;
  } else {
    SetEnd(Starts.size() - 1, value);
    LastLengthKnown = true;
  }
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
  TRAWLEX_ASSERT(Starts.empty() || LastLengthKnown, "AddFinds after an open end");
  if (Ends.empty() && (FindLen == 0 || FindLen == length)) {
    FindLen = length;
    Starts.insert(Starts.end(), cols, cols + count);
  } else {
    for (size_t i = 0; i < count; ++i) {
      Starts.push_back(cols[i]);
      if (!Ends.empty()) Ends.push_back(0);
      SetEnd(Starts.size() - 1, cols[i] + length);
    }
  }
  LastLengthKnown = true;
}

std::vector<int32_t> TSearchLine::GetPositions() const {
  std::lock_guard lock(File->Lock());
  return PositionsLocked();
}

int32_t TSearchLine::GetFindCount() const {
  std::lock_guard lock(File->Lock());
  return static_cast<int32_t>(Starts.size());
}

int32_t TSearchLine::GetSegmentCount() const {
  std::lock_guard lock(File->Lock());
  return static_cast<int32_t>(Starts.size() * 2 + (LastEndOmitted() ? 0 : 1));
}

std::string TSearchLine::GetSegmentText(int32_t i, TTabSettings tabs) const {
  const std::vector<int32_t> pos = GetPositions();
  TRAWLEX_ASSERT(i >= 0 && i <= static_cast<int32_t>(pos.size()), "Invalid value in GetSegmentText");
  return SegmentText(Text, pos, i, tabs);
}

bool TSearchLine::GetFindSelected(int32_t k) const {
  std::lock_guard lock(File->Lock());
  TRAWLEX_ASSERT(k >= 0 && static_cast<size_t>(k) < Starts.size(), "Invalid value in GetFindSelected");
  return Starts[static_cast<size_t>(k)] < 0;
}

void TSearchLine::SetFindSelected(int32_t k, bool selected) {
  std::lock_guard lock(File->Lock());
  TRAWLEX_ASSERT(k >= 0 && static_cast<size_t>(k) < Starts.size(), "Invalid value in SetFindSelected");
  int32_t& start = Starts[static_cast<size_t>(k)];
  start = selected ? -std::abs(start) : std::abs(start);
}

int32_t TSearchLine::GetFindPos(int32_t k) const {
  std::lock_guard lock(File->Lock());
  TRAWLEX_ASSERT(k >= 0 && static_cast<size_t>(k) < Starts.size(), "Invalid value in GetFindPos");
  return std::abs(Starts[static_cast<size_t>(k)]) + LineStart - 1;
}

int32_t TSearchLine::GetFindLength(int32_t k) const {
  std::lock_guard lock(File->Lock());
  TRAWLEX_ASSERT(k >= 0 && static_cast<size_t>(k) < Starts.size(), "Invalid value in GetFindLength");
  return LengthOf(static_cast<size_t>(k));
}

int32_t TSearchLine::GetWidth(IDrawSurface& surface) const {
  return surface.TextWidth(Text) + File->Params->LineNoWidth();
}

void TSearchLine::Draw(IDrawSurface& s, const TRect& rect, TDrawState state) const {
  const std::vector<int32_t> pos = GetPositions();
  FillBackground(s, rect, state);
  const bool selected = state & odSelected;
  const TColor plain = selected ? SysColor::Window : SysColor::WindowText;
  const TColor find = selected ? ItemColor::FindOnHighlight : ItemColor::Find;
  const TColor selectedFind = selected ? ItemColor::SelectedFindOnHighlight : ItemColor::SelectedFind;

  s.SetFontColor(SysColor::GrayText);
  if (File->TotalLines.load(std::memory_order_relaxed) - 1 == LineNo) s.SetFontStyle(s.GetFontStyle() | fsUnderline);
  const int32_t lineNoWidth = File->Params->LineNoWidth();
  const std::string prefix = std::to_string(LineNo + 1) + ": ";
  s.TextOut(rect.Left + lineNoWidth - s.TextWidth(prefix), rect.Top, prefix);

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
    const std::string seg = SegmentText(Text, pos, i, tabs);
    s.TextOut(rect.Left + x, rect.Top, seg);
    x += s.TextWidth(seg);
  }
}

int32_t TSearchLine::FindAtX(IDrawSurface& surface, int32_t x) const {
  const std::vector<int32_t> pos = GetPositions();
  int32_t a = File->Params->LineNoWidth();
  int32_t k = -1;
  const TTabSettings tabs = surface.Tabs();
  for (int32_t i = 0; i <= static_cast<int32_t>(pos.size()); ++i) {
    const int32_t left = a;
    a += surface.TextWidth(SegmentText(Text, pos, i, tabs));
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

// ---- TSearchFile ----------------------------------------------------------------------

TSearchFile::~TSearchFile() = default;

int32_t TSearchFile::GetFindCount() const {
  std::lock_guard lock(FLock);
  int32_t n = 0;
  for (const auto& line : Lines) n += static_cast<int32_t>(line->Starts.size());
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
  return static_cast<int32_t>(Lines.size());
}

TSearchLine* TSearchFile::GetLine(int32_t index) const {
  std::lock_guard lock(FLock);
  if (index < 0 || static_cast<size_t>(index) >= Lines.size())
    throw ETrawlexError(Fmt("List index out of bounds (%d)", index));
  return Lines[static_cast<size_t>(index)].get();
}

TSearchLine* TSearchFile::AddLine() {
  auto line = std::make_unique<TSearchLine>(this);
  TSearchLine* raw = line.get();
  std::lock_guard lock(FLock);
  Lines.push_back(std::move(line));
  return raw;
}

TSearchLine* TSearchFile::AddLine(int32_t lineNo, int32_t lineStart, std::string_view text) {
  auto line = NewLine(lineNo, lineStart, text);
  TSearchLine* raw = line.get();
  std::lock_guard lock(FLock);
  Lines.push_back(std::move(line));
  return raw;
}

std::unique_ptr<TSearchLine> TSearchFile::NewLine(int32_t lineNo, int32_t lineStart, std::string_view text) {
  auto line = std::make_unique<TSearchLine>(this);
  line->LineNo = lineNo;
  line->LineStart = lineStart;
  if (!text.empty()) {
    if (!Texts) Texts = std::make_unique<TTextArena>();
    line->Text = Texts->Add(text);
  }
  return line;
}

void TSearchFile::AddLines(std::vector<std::unique_ptr<TSearchLine>>& lines) {
  {
    std::lock_guard lock(FLock);
    for (auto& line : lines) {
      TRAWLEX_ASSERT(line->File == this, "AddLines: a line of another file");
      Lines.push_back(std::move(line));
    }
  }
  lines.clear();
}

std::vector<TSearchLine*> TSearchFile::LinesSnapshot() const {
  std::vector<TSearchLine*> out;
  std::lock_guard lock(FLock);
  out.reserve(Lines.size());
  for (const auto& line : Lines) out.push_back(line.get());
  return out;
}

void TSearchFile::DeleteLine(int32_t index) {
  std::unique_ptr<TSearchLine> gone;
  std::lock_guard lock(FLock);
  if (index < 0 || static_cast<size_t>(index) >= Lines.size())
    throw ETrawlexError(Fmt("List index out of bounds (%d)", index));
  gone = std::move(Lines[static_cast<size_t>(index)]);
  Lines.erase(Lines.begin() + index);
}

void TSearchFile::SortLines() {
  std::lock_guard lock(FLock);
  std::stable_sort(Lines.begin(), Lines.end(), [](const auto& a, const auto& b) { return a->LineNo < b->LineNo; });
}

int32_t TSearchFile::IndexOfLineNo(int32_t n) const {
  std::lock_guard lock(FLock);
  const auto count = static_cast<int32_t>(Lines.size());
  if (count == 0) return 0;
  if (n > Lines.back()->LineNo) return count;
  for (int32_t i = count - 1; i >= 0; --i)
    if (Lines[static_cast<size_t>(i)]->LineNo == n) return i;
  return -1;
}

void TSearchFile::SelectAllFinds(bool selected) {
  std::lock_guard lock(FLock);
  for (auto& line : Lines)
    for (int32_t& start : line->Starts) start = selected ? -std::abs(start) : std::abs(start);
}

void TSearchFile::CopyFindSelection(const TSearchFile& other) {
  if (&other == this) return;
  // Never hold both locks: copy the other item's selections first.
  std::vector<std::pair<int32_t, std::vector<bool>>> theirs;
  {
    std::lock_guard lock(other.FLock);
    for (const auto& line : other.Lines) {
      std::vector<bool> sel;
      for (const int32_t start : line->Starts) sel.push_back(start < 0);
      theirs.emplace_back(line->LineNo, std::move(sel));
    }
  }
  std::lock_guard lock(FLock);
  for (auto& line : Lines) {
    // The last entry with this line number, as a backward search finds it.
    auto it = std::find_if(theirs.rbegin(), theirs.rend(), [&](const auto& t) { return t.first == line->LineNo; });
    if (it == theirs.rend()) continue;
    for (size_t k = 0; k < it->second.size() && k < line->Starts.size(); ++k) {
      int32_t& start = line->Starts[k];
      start = it->second[k] ? -std::abs(start) : std::abs(start);
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
  lineNo = line ? line->LineNo : 0;
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
