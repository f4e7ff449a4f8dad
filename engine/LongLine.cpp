#include "engine/LongLine.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "base/TextUtils.h"

namespace trawlex {

namespace {

constexpr std::string_view CutMark = "\xE2\x80\xA6";  // an ellipsis
// Text is measured and drawn in pieces of at most this many bytes, so that drawing stops
// soon after the right edge of the view.
constexpr int32_t PieceBytes = 64;
// However narrow its characters, no more than this is drawn of a line at a time.
constexpr int64_t MostBytesDrawn = 16384;
// The width drawn where the surface does not say what is in view.
constexpr int64_t UnboundedView = 8192;
// Characters whose average width stands for each byte of a long line.
constexpr std::string_view Sample = "the quick brown fox jumps over the lazy dog 0123456789";

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first byte of the character that byte i is part of: i itself unless it continues a
// valid sequence of several bytes.
int32_t CharStart(std::string_view text, int32_t i) {
  if (i <= 0 || i >= static_cast<int32_t>(text.size()) || !IsContinuation(text[static_cast<size_t>(i)])) return i;
  for (int32_t j = i - 1; j >= 0 && i - j <= 3; --j) {
    if (IsContinuation(text[static_cast<size_t>(j)])) continue;
    uint32_t code = 0;
    const auto n = static_cast<int32_t>(Utf8SequenceAt(text, static_cast<size_t>(j), code));
    return j + n > i ? j : i;
  }
  return i;
}

// The first character boundary at or after byte i.
int32_t CharEnd(std::string_view text, int32_t i) {
  const int32_t start = CharStart(text, i);
  if (start == i) return i;
  uint32_t code = 0;
  return start + static_cast<int32_t>(Utf8SequenceAt(text, static_cast<size_t>(start), code));
}

struct TFind {
  int32_t Begin, End;
  bool Selected;
};

std::vector<TFind> FindsOf(std::string_view text, const std::vector<int32_t>& pos) {
  const auto len = static_cast<int32_t>(text.size());
  const auto col = [len](int32_t v) { return std::clamp(std::abs(v) - 1, 0, len); };
  std::vector<TFind> finds;
  finds.reserve((pos.size() + 1) / 2);
  for (size_t i = 0; i < pos.size(); i += 2) {
    const int32_t begin = col(pos[i]);
    finds.push_back({begin, i + 1 < pos.size() ? std::max(begin, col(pos[i + 1])) : len, pos[i] < 0});
  }
  return finds;
}

std::string ExpandTabs(std::string_view bytes, TTabSettings tabs) {
  if (!tabs.ExpandTabs || bytes.find('\t') == std::string_view::npos) return std::string(bytes);
  std::string out;
  for (char c : bytes) {
    if (c == '\t') out.append(static_cast<size_t>(std::max(0, tabs.SpacesPerTab)), ' ');
    else out += c;
  }
  return out;
}

// What a long line shows, and the widths its layout is reckoned with.
struct TLayout {
  std::string_view Text;
  std::vector<TFind> Finds;
  std::vector<TStretch> Stretches;
  int32_t Cell = 1;  // per byte
  int32_t Mark = 0;  // the cut mark
  bool CutBefore(size_t i) const { return i > 0 || Stretches[0].Begin > 0; }
  bool CutAtEnd() const { return Stretches.back().End < static_cast<int32_t>(Text.size()); }
};

TLayout MakeLayout(IDrawSurface& s, std::string_view text, const std::vector<int32_t>& pos) {
  TLayout l;
  l.Text = text;
  l.Finds = FindsOf(text, pos);
  l.Stretches = StretchesAroundFinds(text, pos);
  const auto n = static_cast<int32_t>(Sample.size());
  l.Cell = std::max(1, (s.KnownTextWidth(Sample) + n - 1) / n);
  l.Mark = s.KnownTextWidth(CutMark);
  return l;
}

int64_t ShownWidth(const TLayout& l) {
  int64_t w = l.CutAtEnd() ? l.Mark : 0;
  for (size_t i = 0; i < l.Stretches.size(); ++i)
    w += (l.CutBefore(i) ? l.Mark : 0) + int64_t{l.Stretches[i].End - l.Stretches[i].Begin} * l.Cell;
  return w;
}

// A piece of a long line as drawn: at X from the text's left edge, Width wide; Find is the
// index of the find it shows, -1 for plain text, -2 for a cut mark.
struct TPiece {
  int64_t X;
  int32_t Width;
  std::string Text;
  int32_t Find;
};

// Where a walk from `v0` on starts: at X, in stretch Stretch at byte Byte, or at the cut
// mark before that stretch (Mark).
struct TWalkStart {
  int64_t X = 0;
  size_t Stretch = 0;
  int32_t Byte = 0;
  bool Mark = false;
};

TWalkStart WalkStart(const TLayout& l, int64_t v0) {
  TWalkStart w;
  for (; w.Stretch < l.Stretches.size(); ++w.Stretch) {
    const TStretch& st = l.Stretches[w.Stretch];
    if (l.CutBefore(w.Stretch)) {
      if (w.X + l.Mark > v0) {
        w.Mark = true;
        w.Byte = st.Begin;
        break;
      }
      w.X += l.Mark;
    }
    const int64_t width = int64_t{st.End - st.Begin} * l.Cell;
    if (w.X + width > v0) {
      const auto cells = static_cast<int32_t>(std::max<int64_t>(0, v0 - w.X) / l.Cell);
      w.Byte = std::max(st.Begin, CharStart(l.Text, st.Begin + cells));
      w.X += int64_t{w.Byte - st.Begin} * l.Cell;
      break;
    }
    w.X += width;
  }
  return w;
}

// Calls `emit` with the pieces of the line from the one at `v0` (from the text's left edge) on,
// until one reaches `v1`. Where a piece lies depends only on v0: the first piece starts where
// the average widths put it, the rest follow it at their measured widths.
template <class F>
void Walk(IDrawSurface& s, const TLayout& l, int64_t v0, int64_t v1, F emit) {
  const std::string_view text = l.Text;
  const TWalkStart start = WalkStart(l, v0);
  int64_t x = start.X;
  size_t si = start.Stretch;
  int32_t b = start.Byte;
  bool mark = start.Mark;
  int64_t budget = MostBytesDrawn;
  const TTabSettings tabs = s.Tabs();
  for (; si < l.Stretches.size(); ++si, mark = true) {
    const TStretch& st = l.Stretches[si];
    if (mark) {
      emit(TPiece{x, l.Mark, std::string(CutMark), -2});
      x += l.Mark;
      if (x >= v1) return;
      b = st.Begin;
    }
    // The first find not behind b (a find of no length at b is not).
    auto f = static_cast<size_t>(std::partition_point(l.Finds.begin(), l.Finds.end(),
                                                      [b](const TFind& find) {
                                                        return find.End < b || (find.End == b && find.Begin < b);
                                                      }) -
                                 l.Finds.begin());
    for (;;) {
      for (; f < l.Finds.size() && l.Finds[f].End <= b; ++f)
        if (l.Finds[f].Begin == b) emit(TPiece{x, 0, std::string(), static_cast<int32_t>(f)});  // no length
      if (b >= st.End) break;
      const bool inFind = f < l.Finds.size() && l.Finds[f].Begin <= b;
      int32_t end = std::min(st.End, inFind ? l.Finds[f].End : f < l.Finds.size() ? l.Finds[f].Begin : st.End);
      if (end - b > PieceBytes) {
        end = CharStart(text, b + PieceBytes);
        if (end <= b) end = CharEnd(text, b + PieceBytes);
      }
      const std::string piece = ExpandTabs(text.substr(static_cast<size_t>(b), static_cast<size_t>(end - b)), tabs);
      const int32_t w = s.TextWidth(piece);
      emit(TPiece{x, w, piece, inFind ? static_cast<int32_t>(f) : -1});
      x += w;
      budget -= end - b;
      b = end;
      if (x >= v1 || budget <= 0) return;
    }
  }
  if (l.CutAtEnd()) emit(TPiece{x, l.Mark, std::string(CutMark), -2});
}

// The view of the surface from the left edge of a text that starts at `left`.
std::pair<int64_t, int64_t> ViewFrom(IDrawSurface& s, int32_t left) {
  const TSpan span = s.ViewSpan();
  const int64_t v0 = span.Left == INT32_MIN ? 0 : std::max<int64_t>(0, int64_t{span.Left} - left);
  const int64_t v1 = span.Right == INT32_MAX ? v0 + UnboundedView : int64_t{span.Right} - left;
  return {v0, v1};
}

}  // namespace

std::vector<TStretch> StretchesAroundFinds(std::string_view text, const std::vector<int32_t>& pos, int32_t before,
                                           int32_t after) {
  const auto len = static_cast<int32_t>(text.size());
  if (!IsLongLine(text)) return {{0, len}};
  std::vector<TStretch> out;
  for (const TFind& f : FindsOf(text, pos)) {
    const TStretch s{static_cast<int32_t>(std::max<int64_t>(0, int64_t{f.Begin} - before)),
                     static_cast<int32_t>(std::min<int64_t>(len, int64_t{f.End} + after))};
    if (!out.empty() && s.Begin - out.back().End < ShortestCut) {
      out.back().Begin = std::min(out.back().Begin, s.Begin);
      out.back().End = std::max(out.back().End, s.End);
    } else {
      out.push_back(s);
    }
  }
  if (out.empty()) out.push_back({0, std::min(len, before + after)});
  if (out.front().Begin < ShortestCut) out.front().Begin = 0;
  if (len - out.back().End < ShortestCut) out.back().End = len;
  // Whole characters only; a stretch that then meets the next joins it.
  std::vector<TStretch> whole;
  for (const TStretch& s : out) {
    const TStretch w{CharStart(text, s.Begin), CharEnd(text, s.End)};
    if (!whole.empty() && w.Begin <= whole.back().End) whole.back().End = std::max(whole.back().End, w.End);
    else whole.push_back(w);
  }
  return whole;
}

int32_t LongLineWidth(IDrawSurface& surface, std::string_view text, const std::vector<int32_t>& pos) {
  const TLayout l = MakeLayout(surface, text, pos);
  // A little room beyond the reckoned end: the measured text may run a little wider.
  return static_cast<int32_t>(std::min<int64_t>(ShownWidth(l) + 4 * int64_t{l.Cell}, INT32_MAX / 4));
}

void DrawLongLine(IDrawSurface& surface, int32_t left, int32_t top, int32_t bottom, std::string_view text,
                  const std::vector<int32_t>& pos, const TLineColors& colors) {
  const TLayout l = MakeLayout(surface, text, pos);
  const auto [v0, v1] = ViewFrom(surface, left);
  Walk(surface, l, v0, v1, [&](const TPiece& p) {
    const TColor color = p.Find == -2   ? colors.Cut
                         : p.Find == -1 ? colors.Plain
                         : l.Finds[static_cast<size_t>(p.Find)].Selected ? colors.SelectedFind
                                                                          : colors.Find;
    const auto x = static_cast<int32_t>(std::clamp<int64_t>(left + p.X, INT32_MIN / 2, INT32_MAX / 2));
    if (p.Find >= 0 && p.Text.empty()) {
      surface.FillRect({x, top, x + 2, bottom}, color);  // a find of no length: a thin mark
      return;
    }
    surface.SetFontColor(color);
    surface.TextOut(x, top, p.Text);
  });
}

int32_t LongLineFindAt(IDrawSurface& surface, int32_t left, std::string_view text, const std::vector<int32_t>& pos,
                       int32_t x) {
  const TLayout l = MakeLayout(surface, text, pos);
  const auto [v0, v1] = ViewFrom(surface, left);
  const int64_t at = int64_t{x} - left;
  int32_t found = -1;
  Walk(surface, l, v0, std::max(v1, at + 1), [&](const TPiece& p) {
    if (at >= p.X && at < p.X + p.Width) found = p.Find >= 0 ? p.Find : -1;
  });
  return found;
}

}  // namespace trawlex
