#pragma once
// The drawing surface that result items draw on and measure with. The window wraps a
// painter and its font metrics; tests record the calls.
#include <cstdint>
#include <string_view>

#include "base/FontStyles.h"
#include "engine/TabSettings.h"

namespace trawlex {

struct TColor {
  enum class TKind : uint8_t { Rgb, System };
  TKind Kind = TKind::Rgb;
  uint32_t Value = 0;  // 0xRRGGBB, or the system colour's number

  static constexpr TColor Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return TColor{TKind::Rgb, (uint32_t(r) << 16) | (uint32_t(g) << 8) | b};
  }
  static constexpr TColor System(uint32_t n) { return TColor{TKind::System, n}; }
  friend constexpr bool operator==(TColor a, TColor b) { return a.Kind == b.Kind && a.Value == b.Value; }
};

// The system colours the items use, numbered as the desktop platform numbers them.
namespace SysColor {
constexpr TColor ScrollBar = TColor::System(0);
constexpr TColor Window = TColor::System(5);
constexpr TColor WindowText = TColor::System(8);
constexpr TColor Highlight = TColor::System(13);
constexpr TColor HighlightText = TColor::System(14);
constexpr TColor GrayText = TColor::System(17);
}  // namespace SysColor

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// A horizontal stretch of a surface, [Left, Right).
struct TSpan {
  int32_t Left = INT32_MIN, Right = INT32_MAX;
};

// Owner-draw state bits.
using TDrawState = uint32_t;
constexpr TDrawState odSelected = 1, odFocused = 16;

class IDrawSurface {
 public:
  virtual ~IDrawSurface() = default;
  virtual void FillRect(const TRect& rect, TColor color) = 0;
  virtual void SetFontColor(TColor color) = 0;
  virtual TFontStyles GetFontStyle() const = 0;
  virtual void SetFontStyle(TFontStyles style) = 0;
  virtual int32_t TextWidth(std::string_view text) = 0;
  // At least TextWidth (text), found without measuring where the surface can: lets a caller that
  // looks for the widest of many texts skip those that cannot be.
  virtual int32_t TextWidthBound(std::string_view text) { return TextWidth(text); }
  // Draws text with its top-left corner at (x, y).
  virtual void TextOut(int32_t x, int32_t y, std::string_view text) = 0;
  // TextWidth of a short text asked for again and again (a sample, a mark): a surface may keep
  // it while its font stays.
  virtual int32_t KnownTextWidth(std::string_view text) { return TextWidth(text); }
  // The part of the surface in view: a long line draws only what falls into it. Unbounded
  // where the surface cannot tell.
  virtual TSpan ViewSpan() const { return {}; }
  // How tabs are shown on this surface.
  virtual TTabSettings Tabs() const { return {}; }
};

}  // namespace trawlex
