#pragma once
// How the result lists show a long line (a minified script, a JSON dump, a generated index:
// lines of megabytes): only stretches around its finds, each gap and each cut end marked by an
// ellipsis, and of those only what is in view. Where each piece lies is reckoned from an
// average character width, never by measuring the line, so that drawing, measuring and
// hit-testing such a line cost a screen's worth of text whatever its length. The line item
// itself keeps the whole line: the report, the memo and copying use all of it.
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/DrawSurface.h"

namespace trawlex {

// Lines longer than this many bytes are shown in stretches; shorter ones whole.
constexpr int32_t LongLineBytes = 512;
// Bytes of context before and after a find: a line's first find shows without scrolling.
constexpr int32_t ContextBefore = 48;
constexpr int32_t ContextAfter = 160;
// A gap shorter than this many bytes is shown rather than cut.
constexpr int32_t ShortestCut = 32;

inline bool IsLongLine(std::string_view text) { return text.size() > static_cast<size_t>(LongLineBytes); }

// Bytes [Begin, End) of a line.
struct TStretch {
  int32_t Begin = 0, End = 0;
  friend bool operator==(const TStretch&, const TStretch&) = default;
};

// The stretches a list shows of `text` with the finds of the position array `pos` (1-based
// columns, start and end alternately, the last end left out when the find runs to the line's
// end; a negative start marks a selected find): each find with `before` and `after` bytes
// around it, stretches closer than ShortestCut joined, a rest shorter than that at either end
// kept, and no character of several bytes split. A line without finds shows its start. A line
// no longer than LongLineBytes is one stretch, all of it.
std::vector<TStretch> StretchesAroundFinds(std::string_view text, const std::vector<int32_t>& pos,
                                           int32_t before = ContextBefore, int32_t after = ContextAfter);

// The colours of a long line's text.
struct TLineColors {
  TColor Plain, Find, SelectedFind, Cut;
};

// The width of what a long line shows, from the left edge of its text.
int32_t LongLineWidth(IDrawSurface& surface, std::string_view text, const std::vector<int32_t>& pos);
// Draws the part of a long line that is in the surface's view, its text starting at x = left,
// a find of no length as a thin mark from top to bottom.
void DrawLongLine(IDrawSurface& surface, int32_t left, int32_t top, int32_t bottom, std::string_view text,
                  const std::vector<int32_t>& pos, const TLineColors& colors);
// The index of the find drawn at x by DrawLongLine (same surface coordinates, the same view),
// or -1.
int32_t LongLineFindAt(IDrawSurface& surface, int32_t left, std::string_view text, const std::vector<int32_t>& pos,
                       int32_t x);

}  // namespace trawlex
