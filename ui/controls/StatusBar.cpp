#include "ui/controls/StatusBar.h"

#include <QPainter>
#include <algorithm>
#include <climits>
#include <QStyle>
#include <QStyleOption>

#include "base/Errors.h"

namespace trawlex {

namespace {
constexpr int PanelGap = 2;   // pixels between two panels
constexpr int TextIndent = 3; // pixels between a panel's edge and its text
}  // namespace

void TStatusPanel::SetText(const QString& text) {
  if (text == FText) return;
  FText = text;
  if (FBar->PanelCount() > 0 && &FBar->Panel(FBar->PanelCount() - 1) == this) FBar->UpdateRows(text.isEmpty());
  FBar->update();
}

void TStatusPanel::SetWidth(int width) {
  if (width == FWidth) return;
  FWidth = width;
  FBar->UpdateRows(false);
  FBar->update();
}

void TStatusPanel::SetOwnerDraw(bool ownerDraw) {
  FOwnerDraw = ownerDraw;
  FBar->update();
}

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

TStatusPanel& TStatusBar::AddPanel(int width, Qt::Alignment alignment) {
  FPanels.push_back(std::make_unique<TStatusPanel>(this, width, alignment));
  update();
  return *FPanels.back();
}

TStatusPanel& TStatusBar::Panel(int index) {
  TRAWLEX_ASSERT(index >= 0 && index < PanelCount(), "Status panel index out of range");
  return *FPanels[static_cast<size_t>(index)];
}

int TStatusBar::RowHeight() const { return fontMetrics().height() + 8; }

QRect TStatusBar::PanelRect(int index) const {
  const bool last = index == PanelCount() - 1;
  if (last && FTwoRows) return QRect(0, RowHeight(), width(), height() - RowHeight());
  // On a row of their own, panels wider together than the bar give way, the widest first: all
  // are cut to one width, the largest that lets them fit, so the short ones stay whole.
  int cap = INT_MAX;
  if (Squeezed()) {
    const int count = PanelCount() - 1;
    const int room = std::max(0, width() - count * PanelGap);
    int low = 0, high = room;  // the largest cap whose panels fit into room
    while (low < high) {
      const int mid = (low + high + 1) / 2;
      int sum = 0;
      for (int i = 0; i < count; ++i) sum += std::min(FPanels[static_cast<size_t>(i)]->Width(), mid);
      if (sum <= room) {
        low = mid;
      } else {
        high = mid - 1;
      }
    }
    cap = low;
  }
  const auto panelWidth = [&](int i) { return std::min(FPanels[static_cast<size_t>(i)]->Width(), cap); };
  int x = 0;
  for (int i = 0; i < index; ++i) x += panelWidth(i) + PanelGap;
  const int w = last ? std::max(FPanels[static_cast<size_t>(index)]->Width(), width() - x) : panelWidth(index);
  return QRect(x, 0, w, FTwoRows ? RowHeight() : height());
}

bool TStatusBar::Squeezed() const {
  int total = 0;
  for (size_t i = 0; i + 1 < FPanels.size(); ++i) total += FPanels[i]->Width() + PanelGap;
  return FTwoRows && total > width();
}

void TStatusBar::UpdateRows(bool mayJoin) {
  if (FPanels.empty()) return;
  int x = 0;
  for (size_t i = 0; i + 1 < FPanels.size(); ++i) x += FPanels[i]->Width() + PanelGap;
  const TStatusPanel& last = *FPanels.back();
  // The frame and the indent on both sides of the text, as paintEvent draws them.
  const int needed = last.Text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(last.Text()) + 2 * TextIndent + 4;
  const bool fits = needed <= std::max(last.Width(), width() - x);
  const bool twoRows = !fits || (FTwoRows && !mayJoin);
  if (twoRows == FTwoRows) return;
  FTwoRows = twoRows;
  updateGeometry();
  update();
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateRows(true);
}

QSize TStatusBar::sizeHint() const {
  int w = 0;
  for (const auto& p : FPanels) w += p->Width() + PanelGap;
  return QSize(w, RowHeight() * (FTwoRows ? 2 : 1));
}

QSize TStatusBar::minimumSizeHint() const { return QSize(0, RowHeight() * (FTwoRows ? 2 : 1)); }

void TStatusBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const bool squeezed = Squeezed();
  for (int i = 0; i < PanelCount(); ++i) {
    const QRect r = PanelRect(i).adjusted(0, 2, 0, -1);
    if (r.left() >= width()) break;
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    const QRect inner = r.adjusted(1, 1, -1, -1);
    const TStatusPanel& p = *FPanels[static_cast<size_t>(i)];
    painter.save();
    painter.setClipRect(inner);
    if (p.OwnerDraw() && OnDrawPanel) {
      OnDrawPanel(painter, i, inner);
    } else {
      painter.setPen(palette().color(QPalette::WindowText));
      const QRect textRect = inner.adjusted(TextIndent, 0, -TextIndent, 0);
      // A panel that gave way shows where its text goes on; otherwise the text is as set.
      const bool cut = squeezed && PanelRect(i).width() < p.Width();
      painter.drawText(textRect, Qt::AlignVCenter | p.Alignment(),
                       cut ? fontMetrics().elidedText(p.Text(), Qt::ElideRight, textRect.width()) : p.Text());
    }
    painter.restore();
  }
}

}  // namespace trawlex
