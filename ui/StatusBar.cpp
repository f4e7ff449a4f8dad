#include "ui/StatusBar.h"

#include <QPainter>
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
  FBar->update();
}

void TStatusPanel::SetWidth(int width) {
  if (width == FWidth) return;
  FWidth = width;
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

QRect TStatusBar::PanelRect(int index) const {
  int x = 0;
  for (int i = 0; i < index; ++i) x += FPanels[static_cast<size_t>(i)]->Width() + PanelGap;
  const bool last = index == PanelCount() - 1;
  const int w = last ? std::max(FPanels[static_cast<size_t>(index)]->Width(), width() - x)
                     : FPanels[static_cast<size_t>(index)]->Width();
  return QRect(x, 0, w, height());
}

QSize TStatusBar::sizeHint() const {
  int w = 0;
  for (const auto& p : FPanels) w += p->Width() + PanelGap;
  return QSize(w, fontMetrics().height() + 8);
}

QSize TStatusBar::minimumSizeHint() const { return QSize(0, fontMetrics().height() + 8); }

void TStatusBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
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
      painter.drawText(inner.adjusted(TextIndent, 0, -TextIndent, 0), Qt::AlignVCenter | p.Alignment(), p.Text());
    }
    painter.restore();
  }
}

}  // namespace trawlex
