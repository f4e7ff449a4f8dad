#pragma once
// Result items: one TSearchFile per file with finds, one TSearchLine per line with finds.
// The result list holds a flat, mixed sequence of both and asks each for its text, find
// count, width and drawing.
//
// Threads: while a search runs, the window draws items that the worker is still filling.
// A file item's mutex guards its line list and the position array of each of its line
// items; the worker takes it to append, the window's readers take it to copy what they
// need (a snapshot), then draw without holding it. Every other field of a line item is
// written before the item is handed over and never changes afterwards during the search.
// The search makes a line item whole before it joins its file (NewLine, then AddLines):
// one lock per batch of lines, none per find.
#include <algorithm>
#include <deque>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/DrawSurface.h"
#include "platform/DateTime.h"

namespace trawlex {

class TSearchParams;
class TSearchFile;

class TSearchResult {
 public:
  virtual ~TSearchResult() = default;
  virtual std::string GetTypeName() const = 0;
  virtual std::string GetText() const = 0;
  virtual int32_t GetFindCount() const = 0;
  virtual void Draw(IDrawSurface& surface, const TRect& rect, TDrawState state) const = 0;
  virtual int32_t GetWidth(IDrawSurface& surface) const = 0;
};

// One entry of a shown list: a reference to an item.
struct TListEntry {
  TSearchResult* Item = nullptr;
};
// A deque: a list of a million entries grows without moving them all at once (a vector's
// doubling kept the window from its events for a tenth of a second).
using TItemList = std::deque<TListEntry>;

// Bytes kept as long as their owner, copied once each into blocks that never move, so
// that a view of them stays valid. Blocks start small and double up to 64 KiB; a longer
// piece gets a block of its own. One writer.
class TTextArena {
 public:
  std::string_view Add(std::string_view bytes);

 private:
  std::vector<std::unique_ptr<char[]>> Blocks;
  char* FreeSpace = nullptr;
  size_t Left = 0;
  size_t NextBlock = 256;
};

// Where line items are kept with their texts and finds: each copied once into blocks that
// never move, so that a view of them stays valid as long as the arena. One arena serves
// every file a thread searches (the files share it and the last one frees it), so a file
// with one short line spends no block of its own. Only one thread at a time adds to it.
class TLineArena {
 public:
  // A record of `size` bytes (not aligned: its reader copies what it takes).
  char* Allocate(size_t size);
  // Room for `size` bytes of line items, aligned for them.
  char* AllocateItems(size_t size);
  // The record at `record` (`size` bytes) made `newSize` bytes long: in place when it is
  // the last one made and its block has room, else copied to a new record (the old bytes
  // stay readable as long as the arena unless the record had a block of its own).
  char* Grow(char* record, size_t size, size_t newSize);
  // The record at `record`, grown to `size` bytes and complete now, without the room to
  // grow on it may have been given: moved when it has a block of its own.
  char* Fit(char* record, size_t size);
  // Bytes held in blocks.
  size_t Capacity() const { return Held; }

 private:
  struct TBlock {
    std::unique_ptr<char[]> Bytes;
    size_t Size;
    bool Own;  // holds one large record, which may grow in it
  };
  char* OwnBlock(size_t size);
  void NewBlock(size_t size);
  std::vector<TBlock> Blocks;
  char* FreeSpace = nullptr;
  size_t Left = 0;
  size_t NextBlock = 4096;
  size_t Held = 0;
};

// A line with finds: 40 bytes (kept in its thread's arena) beside its record in the arena,
// which holds its text and right after it its finds, 2 bytes each where every column of the
// line fits in 15 bits (most lines), else 4. Line numbers and
// positions are 64-bit; their upper halves, where a file is large enough to need them, sit
// in front of the text.
class TSearchLine : public TSearchResult {
 public:
  explicit TSearchLine(TSearchFile* file) : File(file) {}

  TSearchFile* File;

  // The whole line without its line break.
  std::string_view Text() const { return {TextData, TextLen}; }
  int64_t LineNo() const { return Wide ? int64_t{LineNoLow} | int64_t{High(0)} << 32 : int64_t{LineNoLow}; }  // 0-based
  int64_t LineStart() const { return Wide ? int64_t{LineStartLow} | int64_t{High(1)} << 32 : int64_t{LineStartLow}; }

  std::string GetTypeName() const override { return "Line"; }
  std::string GetText() const override;
  int32_t GetFindCount() const override;
  void Draw(IDrawSurface& surface, const TRect& rect, TDrawState state) const override;
  int32_t GetWidth(IDrawSurface& surface) const override;
  // GetText without the line's own text: " ", the right-aligned line number and ": ".
  std::string GetTextPrefix() const;
  // Appends GetText to `out` (no allocation once `out` has room).
  void AppendText(std::string& out) const;
  // The same without the line's own text (GetTextPrefix).
  void AppendTextPrefix(std::string& out) const;

  // Appends one value of the position array (start, end, start, ...). This and AddFinds
  // may move the line's text: only for lines no other thread looks at.
  void AddPosition(int32_t value);
  // Appends finds of `length` bytes at the 1-based columns `cols`, in one step (the matcher).
  void AddFinds(const int32_t* cols, size_t count, int32_t length);
  // The same for a line item that has not joined its file yet (TSearchFile::MakeLine): only
  // its maker sees it, so no lock is taken.
  void AddFindsToNewLine(const int32_t* cols, size_t count, int32_t length);
  std::vector<int32_t> GetPositions() const;  // a snapshot of the position array
  // Calls `fn(offset, length)` for each selected find in order, under one lock.
  template <class F>
  void ForEachSelectedFind(F fn) const;
  int64_t GetLineNumber() const { return LineNo() + 1; }
  int32_t GetSegmentCount() const;
  // Piece i of the text (even pieces plain, odd ones finds), its tabs shown as `tabs` says.
  std::string GetSegmentText(int32_t i, TTabSettings tabs = {}) const;
  bool GetFindSelected(int32_t k) const;
  void SetFindSelected(int32_t k, bool selected);
  int64_t GetFindPos(int32_t k) const;
  int32_t GetFindLength(int32_t k) const;
  int32_t FindAtX(IDrawSurface& surface, int32_t x) const;

 private:
  friend class TSearchFile;
  // The finds: each is its start column, negative when selected; all have the length the
  // file keeps (the target's) but the last when LastOpen (it runs to the line's end). A
  // line given finds of different lengths through AddPosition keeps each end after its
  // start instead (HasEnds; an end of 0 runs to the line's end). Guarded by File's lock.
  const char* TextData = nullptr;
  uint32_t TextLen : 31 = 0;
  uint32_t Wide : 1 = 0;  // the upper halves of LineNo and LineStart are in front of the text
  uint32_t FindCount : 29 = 0;
  uint32_t Narrow : 1 = 0;  // the finds' values are 2 bytes each
  uint32_t HasEnds : 1 = 0;
  uint32_t LastOpen : 1 = 0;
  uint32_t LineNoLow = 0;
  uint32_t LineStartLow = 0;

  uint32_t High(int i) const;
  size_t HeadSize() const { return Wide ? 8 : 0; }
  size_t FindsOffset() const { return HeadSize() + size_t{TextLen}; }
  size_t ValueSize() const { return Narrow ? 2 : 4; }
  size_t ValueCount() const { return size_t{FindCount} * (HasEnds ? 2 : 1); }
  size_t RecordSize() const { return FindsOffset() + ValueCount() * ValueSize(); }
  static bool FitsNarrow(int64_t v) { return v >= -32767 && v <= 32767; }
  char* Record() const { return const_cast<char*>(TextData) - HeadSize(); }
  // Value i of the finds (starts, or start and end pairs), which are not aligned.
  char* Finds() const { return Record() + FindsOffset(); }
  int32_t FindValue(size_t i) const {
    if (Narrow) {
      int16_t v;
      std::memcpy(&v, Finds() + 2 * i, 2);
      return v;
    }
    int32_t v;
    std::memcpy(&v, Finds() + 4 * i, 4);
    return v;
  }
  // `v` must fit the record's values (FitsNarrow where they are narrow).
  void SetFindValue(size_t i, int32_t v) const {
    if (Narrow) {
      const auto n = static_cast<int16_t>(v);
      std::memcpy(Finds() + 2 * i, &n, 2);
    } else {
      std::memcpy(Finds() + 4 * i, &v, 4);
    }
  }
  // Makes the values 4 bytes each, for one that does not fit in 2.
  void Widen();
  int32_t StartOf(size_t k) const { return FindValue(HasEnds ? 2 * k : k); }
  void SetStart(size_t k, int32_t v) const { SetFindValue(HasEnds ? 2 * k : k, v); }
  int32_t LengthOf(size_t k) const;      // with the lock held
  bool LastEndOmitted() const;           // with the lock held
  std::vector<int32_t> PositionsLocked() const;
  // Room for `more` values (starts, or start and end pairs) after the finds.
  char* MakeRoom(size_t more);
  void ConvertToEnds();                  // with the lock held
  void AppendFinds(const int32_t* cols, size_t count, int32_t length);  // with the lock held
};

// What the system said of a file when it was opened for a search: which file it was
// (device and inode) and when it last changed in any way (the inode's change time, which
// no user can set back). The replace holds a file to it.
// A batch of a file's line items, which never moves, with the number of the file's items up to
// its end.
struct TLineBlock {
  TSearchLine* Items = nullptr;
  int32_t Count = 0;
  int32_t End = 0;
  TSearchLine* begin() const { return Items; }
  TSearchLine* end() const { return Items + Count; }
  size_t size() const { return static_cast<size_t>(Count); }
  TSearchLine& back() const { return Items[Count - 1]; }
  TSearchLine& operator[](size_t i) const { return Items[i]; }
  std::reverse_iterator<TSearchLine*> rbegin() const { return std::reverse_iterator<TSearchLine*>(end()); }
  std::reverse_iterator<TSearchLine*> rend() const { return std::reverse_iterator<TSearchLine*>(begin()); }
};

// The blocks of a file, the first one held in place: most files have no more.
class TLineBlocks {
 public:
  size_t size() const { return More.empty() ? (First.Count > 0 ? 1 : 0) : More.size(); }
  bool empty() const { return size() == 0; }
  const TLineBlock* begin() const { return More.empty() ? &First : More.data(); }
  const TLineBlock* end() const { return begin() + size(); }
  std::reverse_iterator<const TLineBlock*> rbegin() const { return std::reverse_iterator<const TLineBlock*>(end()); }
  std::reverse_iterator<const TLineBlock*> rend() const { return std::reverse_iterator<const TLineBlock*>(begin()); }
  const TLineBlock& operator[](size_t i) const { return begin()[i]; }
  const TLineBlock& back() const { return begin()[size() - 1]; }
  // Room for one more block, so that the next push_back cannot fail.
  void reserve_one() {
    if (size() >= 1) More.reserve(std::max<size_t>(2, More.size() + 1));
  }
  void push_back(const TLineBlock& block) {
    if (size() == 0) {
      First = block;
      return;
    }
    if (More.empty()) More.push_back(First);
    More.push_back(block);
  }
  void clear() {
    First = {};
    More = {};
  }

 private:
  TLineBlock First;
  std::vector<TLineBlock> More;
};

struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  int64_t ChangeNs = 0;
  bool Known() const { return Device != 0 || Inode != 0; }
};

class TSearchFile : public TSearchResult {
 public:
  explicit TSearchFile(TSearchParams* params) : Params(params) {}
  ~TSearchFile() override;

  TSearchParams* Params;
  std::string Name;
  int64_t Size = 0;
  TDateTime FileTime = 0;
  std::atomic<int64_t> TotalLines{0};
  // Set when the file was read for the search, before the item is handed over.
  TFileIdentity Identity;
  // The search of this file ended in an error: its finds are incomplete and are shown, but
  // never replaced.
  bool SearchFailed = false;

  std::string GetTypeName() const override { return "File"; }
  std::string GetText() const override { return Name; }
  int32_t GetFindCount() const override;
  void Draw(IDrawSurface& surface, const TRect& rect, TDrawState state) const override;
  int32_t GetWidth(IDrawSurface& surface) const override;

  int32_t GetLineCount() const;
  TSearchLine* GetLine(int32_t index) const;
  TSearchLine* AddLine();
  // Appends a line item with its fields set, in one step under the lock; the text is
  // copied into the file's arena.
  TSearchLine* AddLine(int64_t lineNo, int64_t lineStart, std::string_view text);
  // A line item of this file that has not joined it yet, its text copied into the file's
  // arena; fill it, then add it with AddLines. Only one thread makes lines of a file, and
  // no other line of the file is made until this one has all its finds.
  // With `count` finds of `length` bytes at the columns `cols`, its record is made whole.
  TSearchLine MakeLine(int64_t lineNo, int64_t lineStart, std::string_view text, const int32_t* cols = nullptr,
                       size_t count = 0, int32_t length = 0);
  // Appends the lines made with MakeLine, in order, in one step under the lock, and empties
  // `lines`; returns the first of them as it is kept now (the others follow it).
  TSearchLine* AddLines(std::vector<TSearchLine>& lines);
  // The line items as they are now, taken under one lock.
  std::vector<TSearchLine*> LinesSnapshot() const;
  // Calls `fn(line)` for each line item in order, under the lock (no copy of the list).
  template <class F>
  void ForEachLine(F fn) const {
    std::lock_guard lock(FLock);
    for (const TLineBlock& block : Blocks)
      for (const TSearchLine& line : block) fn(line);
  }
  // These two move the line items: nothing may hold one across them.
  void DeleteLine(int32_t index);
  void SortLines();
  int32_t IndexOfLineNo(int64_t n) const;
  void SelectAllFinds(bool selected);
  void CopyFindSelection(const TSearchFile& other);
  // The arena the lines of this file go to, when it has none yet (a searching thread
  // shares its own with all the files it searches).
  void ShareArena(const std::shared_ptr<TLineArena>& arena) {
    if (!Arena) Arena = arena;
  }

  std::mutex& Lock() const { return FLock; }
  // The arena of this file's lines (shared with other files), or null.
  const TLineArena* LineArena() const { return Arena.get(); }

 private:
  friend class TSearchLine;
  TLineArena& Texts();
  void ReplaceLines(std::vector<TSearchLine> lines);  // with the lock held
  // The line items in blocks that never move (one per batch added, in the arena). Guarded
  // by FLock.
  TLineBlocks Blocks;
  // The items after DeleteLine or SortLines, which need no arena.
  std::unique_ptr<std::vector<TSearchLine>> Owned;
  int32_t LineCountLocked() const { return Blocks.empty() ? 0 : Blocks.back().End; }
  int32_t FindLen = 0;  // the length of the finds of every line without ends; 0 while unknown
  mutable std::mutex FLock;
  // Written only by the thread that makes lines.
  std::shared_ptr<TLineArena> Arena;
};

template <class F>
void TSearchLine::ForEachSelectedFind(F fn) const {
  std::lock_guard lock(File->Lock());
  for (size_t k = 0; k < FindCount; ++k)
    if (StartOf(k) < 0) fn(int64_t{-StartOf(k)} + LineStart() - 1, LengthOf(k));
}

// The file item of an item: itself, or a line's file; null for anything else.
TSearchFile* GetOwnerFile(TSearchResult* item);
// Full path of the owning file, and the 0-based line number (0 for a file item).
bool GetItemLocation(TSearchResult* item, std::string& path, int32_t& lineNo);
bool IsFileItemAt(const TItemList& list, int32_t index);

using TFileCompare = int (*)(const TSearchFile& a, const TSearchFile& b);
int CompareByName(const TSearchFile& a, const TSearchFile& b);
int CompareBySize(const TSearchFile& a, const TSearchFile& b);
int CompareByTime(const TSearchFile& a, const TSearchFile& b);
int CompareByFinds(const TSearchFile& a, const TSearchFile& b);
// The comparison of a sort key (0 full name, 1 size, 2 time, 3 finds).
TFileCompare CompareForSortKey(int sortKey);

// Colours of the items.
namespace ItemColor {
constexpr TColor Gray = TColor::Rgb(128, 128, 128);
constexpr TColor Value = TColor::Rgb(0, 128, 0);
constexpr TColor Find = TColor::Rgb(0, 0, 255);
constexpr TColor SelectedFind = TColor::Rgb(255, 0, 0);
constexpr TColor FindOnHighlight = TColor::Rgb(176, 176, 255);
constexpr TColor SelectedFindOnHighlight = TColor::Rgb(255, 176, 176);
}  // namespace ItemColor

}  // namespace trawlex
