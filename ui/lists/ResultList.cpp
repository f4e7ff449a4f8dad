#include "ui/lists/ResultList.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace trawlex {

TResultList::TResultList(QWidget* parent) : QAbstractScrollArea(parent) {
  InstallResultListAccessibility();
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  UpdateScrollBars();
}

void TResultList::SyncCount() {
  const int n = static_cast<int>(FItems.size());
  if (n == FCount) return;
  const int oldCount = FCount;
  FCount = n;
  UpdateScrollBars();
  // Only a new entry inside the view needs drawing.
  const int top = TopRow();
  if (oldCount <= top + VisibleRows()) viewport()->update();
}

void TResultList::Clear() {
  ForgetResultListEntries(this);
  FItems.clear();
  FCount = 0;
  const bool hadSelection = FItemIndex >= 0;
  FItemIndex = -1;
  verticalScrollBar()->setValue(0);
  UpdateScrollBars();
  viewport()->update();
  if (hadSelection) emit SelectionChanged();
}

TSearchResult* TResultList::ItemAt(int row) const {
  if (row < 0 || row >= FCount) return nullptr;
  return FItems[static_cast<size_t>(row)].Item;
}

void TResultList::SetItemHeight(int height) {
  FItemHeight = std::max(1, height);
  UpdateScrollBars();
  viewport()->update();
}

void TResultList::SetHorizontalExtent(int extent) {
  if (extent == FExtent) return;
  FExtent = std::max(0, extent);
  UpdateScrollBars();
}

void TResultList::SetItemIndex(int row) {
  if (row < -1 || row >= FCount) row = -1;
  if (row == FItemIndex) return;
  FItemIndex = row;
  if (row >= 0) EnsureVisible(row);
  viewport()->update();
  if (row >= 0 && QAccessible::isActive()) {
    // A screen reader follows the focused list's selection and reads its entry; a list without
    // the focus (the preview following the results) only tells that its selection changed.
    if (hasFocus()) {
      SendAccessibleFocus();
    } else {
      QAccessibleEvent selection(this, QAccessible::Selection);
      selection.setChild(row);
      QAccessible::updateAccessibility(&selection);
    }
  }
  emit SelectionChanged();
}

int TResultList::TopRow() const { return verticalScrollBar()->value(); }

int TResultList::VisibleRows() const { return std::max(1, viewport()->height() / FItemHeight); }

int TResultList::RowAt(const QPoint& pos) const {
  if (pos.y() < 0) return -1;
  const int row = TopRow() + pos.y() / FItemHeight;
  return row < FCount ? row : -1;
}

void TResultList::UpdateScrollBars() {
  const int page = VisibleRows();
  verticalScrollBar()->setRange(0, std::max(0, FCount - page));
  verticalScrollBar()->setPageStep(page);
  verticalScrollBar()->setSingleStep(1);
  const int width = viewport()->width();
  horizontalScrollBar()->setRange(0, std::max(0, FExtent - width));
  horizontalScrollBar()->setPageStep(std::max(1, width));
  horizontalScrollBar()->setSingleStep(std::max(1, FItemHeight));
}

void TResultList::EnsureVisible(int row) {
  const int top = TopRow();
  const int page = VisibleRows();
  if (row < top) {
    verticalScrollBar()->setValue(row);
  } else if (row >= top + page) {
    verticalScrollBar()->setValue(row - page + 1);
  }
}

void TResultList::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const int top = TopRow();
  const int x = -horizontalScrollBar()->value();
  const int width = std::max(viewport()->width(), FExtent) + horizontalScrollBar()->value();
  const int last = std::min(FCount - 1, top + viewport()->height() / FItemHeight + 1);
  for (int row = top; row <= last; ++row) {
    const QRect rect(x, (row - top) * FItemHeight, width - x, FItemHeight);
    if (!rect.intersects(event->rect())) continue;
    painter.save();
    painter.setClipRect(QRect(0, rect.top(), viewport()->width(), FItemHeight));
    if (OnDrawItem) OnDrawItem(painter, row, rect, row == FItemIndex);
    painter.restore();
  }
}

void TResultList::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();  // the selection takes the focused colour
  if (FItemIndex >= 0) SendAccessibleFocus();
}

void TResultList::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void TResultList::SendAccessibleFocus() {
  if (!QAccessible::isActive()) return;
  QAccessibleEvent focus(this, QAccessible::Focus);
  focus.setChild(FItemIndex);
  QAccessible::updateAccessibility(&focus);
}

void TResultList::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void TResultList::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
    QAbstractScrollArea::keyPressEvent(event);
    return;
  }
  const int page = std::max(1, VisibleRows() - 1);
  int row = FItemIndex;
  switch (event->key()) {
    case Qt::Key_Up: row = row < 0 ? 0 : row - 1; break;
    case Qt::Key_Down: row = row + 1; break;
    case Qt::Key_PageUp: row = std::max(0, row - page); break;
    case Qt::Key_PageDown: row = std::min(FCount - 1, std::max(0, row) + page); break;
    case Qt::Key_Home: row = 0; break;
    case Qt::Key_End: row = FCount - 1; break;
    case Qt::Key_Left:
    case Qt::Key_Right:
      horizontalScrollBar()->triggerAction(event->key() == Qt::Key_Left ? QAbstractSlider::SliderSingleStepSub
                                                                          : QAbstractSlider::SliderSingleStepAdd);
      return;
    default: QAbstractScrollArea::keyPressEvent(event); return;
  }
  if (FCount == 0) return;
  SetItemIndex(std::clamp(row, 0, FCount - 1));
}

void TResultList::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
    const int row = RowAt(event->position().toPoint());
    if (row >= 0) SetItemIndex(row);
  }
  QAbstractScrollArea::mousePressEvent(event);
}

void TResultList::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->button() == Qt::LeftButton && RowAt(pos) >= 0) emit DoubleClicked(pos);
}

}  // namespace trawlex
