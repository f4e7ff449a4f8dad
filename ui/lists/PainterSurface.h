#pragma once
// The drawing surface of the result lists: result items draw and measure through it with a
// QPainter and the font's metrics. Item texts are bytes; they are shown decoded as UTF-8, and
// every byte that is not part of a valid UTF-8 sequence is shown as a character of its own
// (never dropped), so that measuring and drawing always agree on the same characters.
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPalette>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/DrawSurface.h"

class QPainter;

namespace trawlex {

// Bytes as display text: valid UTF-8 decoded; an invalid byte 0xA0..0xFF shows as the Latin-1
// character of that value (the likeliest meaning in an old text file), any other invalid byte
// as U+FFFD. A NUL shows as U+2400.
QString DisplayText(std::string_view bytes);

// DisplayText as the lists draw it: every control byte but the tab (0x00..0x1F, 0x7F) shows as
// a visible stand-in: its picture of the Control Pictures block (U+2400..U+241F, U+2421) with
// `pictures`, else in caret notation (^A, ^[, ^?). Drawn as they are, such bytes show nothing
// and make the text engine warn.
QString ShownText(std::string_view bytes, bool pictures = true);
// Whether `font` draws the Control Pictures (many fonts do not, and show empty boxes instead).
bool FontHasControlPictures(const QFont& font);

// A drawing colour: RGB as it is, the system colours from the palette.
QColor ToQColor(TColor color, const QPalette& palette);

class TPainterSurface : public IDrawSurface {
 public:
  // Tabs are shown as `tabs` says (null: the default settings).
  explicit TPainterSurface(const QFont& font, const QPalette& palette = QPalette(), const TTabDisplay* tabs = nullptr);

  // Drawing goes to `painter` (null: measuring only). The painter takes the surface's font.
  void Begin(QPainter* painter);
  void End() {
    FPainter = nullptr;
    FView = TSpan{};
  }

  void SetFont(const QFont& font);
  const QFont& Font() const { return FFont; }
  void SetPalette(const QPalette& palette) { FPalette = palette; }

  void FillRect(const TRect& rect, TColor color) override;
  void SetFontColor(TColor color) override;
  TFontStyles GetFontStyle() const override { return FStyle; }
  void SetFontStyle(TFontStyles style) override;
  int32_t TextWidth(std::string_view text) override;
  // The sum of each byte's widest advance in any style: a printable ASCII character its own
  // (and a pixel for rounding), a tab its stop, any other byte the font's widest glyph.
  int32_t TextWidthBound(std::string_view text) override;
  void TextOut(int32_t x, int32_t y, std::string_view text) override;
  int32_t KnownTextWidth(std::string_view text) override;
  TTabSettings Tabs() const override { return FTabs ? FTabs->Get() : TTabSettings{}; }
  // While drawing, the painter's clip; else the span last set (a list's visible part, in the
  // coordinates of its items, for hit-testing), unbounded when none is.
  TSpan ViewSpan() const override;
  void SetViewSpan(TSpan span) { FView = span; }

  // Characters measured or drawn through every surface so far: what the text engine was given.
  static uint64_t CharsShaped();

 private:
  void ApplyFont();
  QFont FFont;          // the base font, as set
  QFont FStyledFont;    // the base font with FStyle applied
  QFontMetrics FMetrics;
  QPalette FPalette;
  QPainter* FPainter = nullptr;
  const TTabDisplay* FTabs = nullptr;
  QColor FColor;
  TFontStyles FStyle = 0;
  int32_t FByteWidthBound[256] = {-1};  // for the base font; [0] is -1 until measured
  int32_t FSpaceWidth = 0;
  bool FPictures = true;  // control bytes show as their pictures, else in caret notation
  TSpan FView;
  std::vector<std::pair<std::string, int32_t>> FKnownWidths;  // in the styled font
};

}  // namespace trawlex
