#include "ui/lists/PainterSurface.h"

#include <algorithm>
#include <atomic>
#include <climits>

#include "engine/LongLine.h"
#include "engine/TabSettings.h"

#include <QPainter>

#include "base/TextUtils.h"

namespace trawlex {

namespace {
std::atomic<uint64_t> Shaped{0};
}  // namespace

uint64_t TPainterSurface::CharsShaped() { return Shaped.load(std::memory_order_relaxed); }

QString DisplayText(std::string_view bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (size_t i = 0; i < bytes.size();) {
    uint32_t cp = 0;
    const size_t n = Utf8SequenceAt(bytes, i, cp);
    if (n == 0) {
      const unsigned char c = static_cast<unsigned char>(bytes[i]);
      out += c >= 0xA0 ? QChar(c) : QChar(0xFFFD);
      ++i;
      continue;
    }
    if (cp == 0) cp = 0x2400;
    if (cp > 0xFFFF) {
      const char32_t u[1] = {cp};
      out += QString::fromUcs4(u, 1);
    } else {
      out += QChar(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

QColor ToQColor(TColor color, const QPalette& palette) {
  if (color.Kind == TColor::TKind::Rgb) return QColor::fromRgb(color.Value);
  if (color == SysColor::Window) return palette.color(QPalette::Active, QPalette::Base);
  if (color == SysColor::WindowText) return palette.color(QPalette::Active, QPalette::Text);
  if (color == SysColor::Highlight) return palette.color(QPalette::Active, QPalette::Highlight);
  if (color == SysColor::HighlightText) return palette.color(QPalette::Active, QPalette::HighlightedText);
  if (color == SysColor::GrayText) return palette.color(QPalette::Disabled, QPalette::Text);
  if (color == SysColor::ScrollBar) return palette.color(QPalette::Active, QPalette::Button);
  return palette.color(QPalette::Active, QPalette::Text);
}

TPainterSurface::TPainterSurface(const QFont& font, const QPalette& palette, const TTabDisplay* tabs)
    : FFont(font), FStyledFont(font), FMetrics(font), FPalette(palette), FTabs(tabs) {
  FColor = FPalette.color(QPalette::Active, QPalette::Text);
  FPictures = FontHasControlPictures(FFont);
}

void TPainterSurface::Begin(QPainter* painter) {
  FPainter = painter;
  FStyle = 0;
  FView = TSpan{};
  ApplyFont();
}

TSpan TPainterSurface::ViewSpan() const {
  if (FPainter && FPainter->hasClipping()) {
    const QRect clip = FPainter->clipBoundingRect().toAlignedRect();
    return {clip.left(), clip.left() + clip.width()};
  }
  return FView;
}

void TPainterSurface::SetFont(const QFont& font) {
  FFont = font;
  FPictures = FontHasControlPictures(FFont);
  FByteWidthBound[0] = -1;
  ApplyFont();
}

void TPainterSurface::ApplyFont() {
  QFont styled = FFont;
  styled.setBold(FStyle & fsBold);
  styled.setItalic(FStyle & fsItalic);
  styled.setUnderline(FStyle & fsUnderline);
  styled.setStrikeOut(FStyle & fsStrikeOut);
  // Every item's drawing begins with the plain font: the widths kept stay while it is the same.
  if (!(styled == FStyledFont) || FKnownWidths.empty()) {
    FStyledFont = styled;
    FMetrics = QFontMetrics(FStyledFont);
    FKnownWidths.clear();
  }
  if (FPainter) FPainter->setFont(FStyledFont);
}

int32_t TPainterSurface::KnownTextWidth(std::string_view text) {
  for (const auto& [known, width] : FKnownWidths)
    if (known == text) return width;
  const int32_t width = TextWidth(text);
  if (FKnownWidths.size() < 8) FKnownWidths.emplace_back(text, width);
  return width;
}

void TPainterSurface::FillRect(const TRect& rect, TColor color) {
  if (!FPainter) return;
  FPainter->fillRect(QRect(QPoint(rect.Left, rect.Top), QPoint(rect.Right - 1, rect.Bottom - 1)),
                     ToQColor(color, FPalette));
}

void TPainterSurface::SetFontColor(TColor color) {
  FColor = ToQColor(color, FPalette);
  if (FPainter) FPainter->setPen(FColor);
}

void TPainterSurface::SetFontStyle(TFontStyles style) {
  if (style == FStyle) return;
  FStyle = style;
  ApplyFont();
}

QString ShownText(std::string_view bytes, bool pictures) {
  const QString text = DisplayText(bytes);
  QString shown;
  shown.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    const bool control = (u < 0x20 && u != '\t') || u == 0x7F || u == 0x2400;
    if (!control) {
      shown += c;
      continue;
    }
    const char16_t code = u == 0x2400 ? 0 : u;  // DisplayText shows NUL as its picture already
    if (pictures) {
      shown += QChar(code == 0x7F ? char16_t{0x2421} : char16_t(0x2400 + code));
    } else {
      shown += QLatin1Char('^');
      shown += QChar(code == 0x7F ? char16_t{'?'} : char16_t('@' + code));
    }
  }
  return shown;
}

bool FontHasControlPictures(const QFont& font) {
  const QFontMetrics fm(font);
  return fm.inFontUcs4(0x2401) && fm.inFontUcs4(0x241B) && fm.inFontUcs4(0x2421);
}

int32_t TPainterSurface::TextWidth(std::string_view text) {
  const QString shown = ShownText(text, FPictures);
  Shaped.fetch_add(static_cast<uint64_t>(shown.size()), std::memory_order_relaxed);
  return FMetrics.horizontalAdvance(shown);
}

int32_t TPainterSurface::TextWidthBound(std::string_view text) {
  // A long line is shown in stretches, reckoned without measuring: cheaper than any bound.
  if (IsLongLine(text)) return INT32_MAX;
  if (FByteWidthBound[0] < 0) {
    // The widest glyph of the font in every style and of the characters that stand in for
    // bytes that are not text; a character of another script takes at least 2 bytes.
    QFont styled = FFont;
    styled.setBold(true);
    styled.setItalic(true);
    int32_t widest = 0, tab = 0, space = 0, ascii[128] = {};
    for (const QFont& f : {FFont, styled}) {
      const QFontMetrics m(f);
      widest = std::max({widest, m.maxWidth(), m.horizontalAdvance(QChar(0xFFFD)),
                         (m.horizontalAdvance(QChar(0x4E2D)) + 1) / 2});
      for (char16_t picture = 0x2400; picture <= 0x2421; ++picture) widest = std::max(widest, m.horizontalAdvance(QChar(picture)));
      widest = std::max(widest, m.horizontalAdvance(QStringLiteral("^W")));  // a control byte without its picture
      tab = std::max(tab, m.horizontalAdvance(QStringLiteral("\t")));
      space = std::max(space, m.horizontalAdvance(QLatin1Char(' ')));
      for (int c = 32; c < 127; ++c) ascii[c] = std::max(ascii[c], m.horizontalAdvance(QChar(c)));
    }
    for (int b = 0; b < 256; ++b) FByteWidthBound[b] = widest + 1;
    for (int c = 32; c < 127; ++c) FByteWidthBound[c] = ascii[c] + 1;
    FByteWidthBound['\t'] = tab + 1;
    FSpaceWidth = space + 1;
  }
  // A tab may also be drawn as spaces.
  const TTabSettings tabs = Tabs();
  FByteWidthBound['\t'] = std::max(FByteWidthBound['\t'], (tabs.ExpandTabs ? tabs.SpacesPerTab : 0) * FSpaceWidth);
  // Every line a search hands over passes through here: four sums side by side keep the
  // processor's loads busy.
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  int64_t sum[4] = {0, 0, 0, 0};
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    sum[0] += FByteWidthBound[p[i]];
    sum[1] += FByteWidthBound[p[i + 1]];
    sum[2] += FByteWidthBound[p[i + 2]];
    sum[3] += FByteWidthBound[p[i + 3]];
  }
  for (; i < n; ++i) sum[0] += FByteWidthBound[p[i]];
  return static_cast<int32_t>(std::min<int64_t>(sum[0] + sum[1] + sum[2] + sum[3], INT32_MAX));
}

void TPainterSurface::TextOut(int32_t x, int32_t y, std::string_view text) {
  if (!FPainter || text.empty()) return;
  FPainter->setPen(FColor);
  const QString shown = ShownText(text, FPictures);
  Shaped.fetch_add(static_cast<uint64_t>(shown.size()), std::memory_order_relaxed);
  FPainter->drawText(x, y + FMetrics.ascent(), shown);
}

}  // namespace trawlex
