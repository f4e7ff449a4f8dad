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
#include <deque>
#include <atomic>
#include <cstdint>
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

// One entry of a shown list: an (empty) caption and a reference to an item.
struct TListEntry {
  std::string Caption;
  TSearchResult* Item = nullptr;
};
// A deque: a list of a million entries grows without moving them all at once (a vector's
// doubling kept the window from its events for a tenth of a second).
using TItemList = std::deque<TListEntry>;

// Bytes kept as long as their owner, copied once each into blocks that never move, so
// that a view of them stays valid. Blocks start small and double up to 64 KiB (a file with
// one line item spends little); a longer piece gets a block of its own. One writer.
class TTextArena {
 public:
  std::string_view Add(std::string_view bytes);

 private:
  std::vector<std::unique_ptr<char[]>> Blocks;
  char* FreeSpace = nullptr;
  size_t Left = 0;
  size_t NextBlock = 256;
};

class TSearchLine : public TSearchResult {
 public:
  explicit TSearchLine(TSearchFile* file) : File(file) {}

  TSearchFile* File;
  // The whole line without its line break: a view of the file item's text arena (or of
  // text that outlives the item).
  std::string_view Text;
  int32_t LineNo = 0;   // 0-based
  int32_t LineStart = 0;

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

  // Appends one value of the position array (start, end, start, ...).
  void AddPosition(int32_t value);
  // Appends finds of `length` bytes at the 1-based columns `cols`, in one step (the matcher).
  void AddFinds(const int32_t* cols, size_t count, int32_t length);
  // The same for a line item that has not joined its file yet (TSearchFile::NewLine): only
  // its maker sees it, so no lock is taken.
  void AddFindsToNewLine(const int32_t* cols, size_t count, int32_t length);
  std::vector<int32_t> GetPositions() const;  // a snapshot of the position array
  // Calls `fn(offset, length)` for each selected find in order, under one lock.
  template <class F>
  void ForEachSelectedFind(F fn) const;
  int32_t GetLineNumber() const { return LineNo + 1; }
  int32_t GetSegmentCount() const;
  // Piece i of the text (even pieces plain, odd ones finds), its tabs shown as `tabs` says.
  std::string GetSegmentText(int32_t i, TTabSettings tabs = {}) const;
  bool GetFindSelected(int32_t k) const;
  void SetFindSelected(int32_t k, bool selected);
  int32_t GetFindPos(int32_t k) const;
  int32_t GetFindLength(int32_t k) const;
  int32_t FindAtX(IDrawSurface& surface, int32_t x) const;

 private:
  friend class TSearchFile;
  // The finds, kept small (a line can hold hundreds of millions): each is its start column,
  // negative when selected, and all have the same length, the target's. The position array
  // of the finds is derived from these. Only a line given finds of different lengths
  // through AddPosition also keeps each end. All guarded by File's lock.
  std::vector<int32_t> Starts;
  int32_t FindLen = 0;           // the length of every find; 0 while unknown
  bool LastLengthKnown = false;  // the last find's length was given (not "to the line's end")
  std::vector<int32_t> Ends;     // column after each find, only for finds of different lengths

  int32_t LengthOf(size_t k) const;      // with the lock held
  bool LastEndOmitted() const;           // with the lock held
  std::vector<int32_t> PositionsLocked() const;
  void SetEnd(size_t k, int32_t end);    // with the lock held
  void AppendFinds(const int32_t* cols, size_t count, int32_t length);  // with the lock held
};

// What the system said of a file when it was opened for a search: which file it was
// (device and inode) and when it last changed in any way (the inode's change time, which
// no user can set back). The replace holds a file to it.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  int64_t ChangeNs = 0;
  bool Known() const { return Device != 0 || Inode != 0; }
  bool SameFile(const TFileIdentity& o) const { return Device == o.Device && Inode == o.Inode; }
};

class TSearchFile : public TSearchResult {
 public:
  explicit TSearchFile(TSearchParams* params) : Params(params) {}
  ~TSearchFile() override;

  TSearchParams* Params;
  std::string Name;
  int32_t Size = 0;
  TDateTime FileTime = 0;
  std::atomic<int32_t> TotalLines{0};
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
  TSearchLine* AddLine(int32_t lineNo, int32_t lineStart, std::string_view text);
  // A line item of this file that has not joined it yet, its text copied into the file's
  // arena; fill it, then add it with AddLines. Only one thread makes lines of a file.
  std::unique_ptr<TSearchLine> NewLine(int32_t lineNo, int32_t lineStart, std::string_view text);
  // Appends the lines made with NewLine, in order, in one step under the lock, and empties
  // `lines`.
  void AddLines(std::vector<std::unique_ptr<TSearchLine>>& lines);
  // The line items as they are now, taken under one lock.
  std::vector<TSearchLine*> LinesSnapshot() const;
  void DeleteLine(int32_t index);
  void SortLines();
  int32_t IndexOfLineNo(int32_t n) const;
  void SelectAllFinds(bool selected);
  void CopyFindSelection(const TSearchFile& other);

  std::mutex& Lock() const { return FLock; }

 private:
  std::vector<std::unique_ptr<TSearchLine>> Lines;  // guarded by FLock
  mutable std::mutex FLock;
  // The lines' texts, made with the first line: most candidates of a search have none.
  // Written only by the thread that makes lines.
  std::unique_ptr<TTextArena> Texts;
};

template <class F>
void TSearchLine::ForEachSelectedFind(F fn) const {
  std::lock_guard lock(File->Lock());
  for (size_t k = 0; k < Starts.size(); ++k)
    if (Starts[k] < 0) fn(-Starts[k] + LineStart - 1, LengthOf(k));
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
