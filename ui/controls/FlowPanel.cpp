#include "ui/controls/FlowPanel.h"

#include <QEvent>
#include <QStyle>
#include <algorithm>
#include <climits>

namespace trawlex {

namespace {

int NaturalWidth(const QWidget* w) { return std::max(w->sizeHint().width(), w->minimumSizeHint().width()); }
// A part that stretches needs only its minimum width: it takes whatever its row has left.
int PartWidth(const QWidget* w, bool stretch) { return stretch ? w->minimumSizeHint().width() : NaturalWidth(w); }
int PartHeight(const QWidget* w) { return std::max(w->sizeHint().height(), w->minimumSizeHint().height()); }

}  // namespace

TFlowPanel::TFlowPanel(QWidget* parent) : QWidget(parent) {
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void TFlowPanel::Add(QWidget* part, bool newRow, bool stretch) {
  part->setParent(this);
  FParts.push_back({part, newRow, stretch});
  Relayout();
}

int TFlowPanel::Arrange(int width, bool place, int* widest) const {
  int spacing = style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, this);
  if (spacing < 0) spacing = 6;
  // The rows first, so that each part can be centred on its row's height.
  std::vector<std::vector<const TPart*>> rows;
  int x = 0;
  for (const TPart& part : FParts) {
    if (part.Widget->isHidden()) continue;
    const int w = PartWidth(part.Widget, part.Stretch);
    if (rows.empty() || (x > 0 && (part.NewRow || x + spacing + w > width))) {
      rows.emplace_back();
      x = 0;
    } else if (x > 0) {
      x += spacing;
    }
    rows.back().push_back(&part);
    x += w;
  }
  int y = 0;
  int maxRow = 0;
  for (const auto& row : rows) {
    int rowHeight = 0;
    int rowWidth = 0;
    for (const TPart* part : row) {
      rowHeight = std::max(rowHeight, PartHeight(part->Widget));
      rowWidth += (rowWidth > 0 ? spacing : 0) + PartWidth(part->Widget, part->Stretch);
    }
    maxRow = std::max(maxRow, rowWidth);
    if (place) {
      int left = 0;
      for (const TPart* part : row) {
        const int h = PartHeight(part->Widget);
        int w = PartWidth(part->Widget, part->Stretch);
        if (part == row.back() && part->Stretch) w = std::max(w, width - left);
        part->Widget->setGeometry(left, y + (rowHeight - h) / 2, w, h);
        left += w + spacing;
      }
    }
    y += rowHeight;
  }
  if (widest) *widest = maxRow;
  return y;
}

int TFlowPanel::heightForWidth(int width) const { return Arrange(width, false); }

QSize TFlowPanel::sizeHint() const {
  int widest = 0;
  Arrange(INT_MAX, false, &widest);
  return QSize(widest, Arrange(width(), false));
}

QSize TFlowPanel::minimumSizeHint() const {
  int widest = 0;
  for (const TPart& part : FParts) {
    if (!part.Widget->isHidden()) widest = std::max(widest, PartWidth(part.Widget, part.Stretch));
  }
  return QSize(widest, Arrange(width(), false));
}

void TFlowPanel::Relayout() {
  const int height = Arrange(width(), true);
  // A change in the number of rows changes what the panel asks of its parent.
  if (height != FLastHeight) {
    FLastHeight = height;
    updateGeometry();
  }
}

void TFlowPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Relayout();
}

bool TFlowPanel::event(QEvent* event) {
  // A part that changed its size hint, font or visibility: lay out again.
  if (event->type() == QEvent::LayoutRequest) Relayout();
  return QWidget::event(event);
}

}  // namespace trawlex
