#include "ui/lists/ListBox.h"

#include <QPainter>
#include <QResizeEvent>
#include <QStyledItemDelegate>

namespace trawlex {

namespace {

class TListBoxDelegate : public QStyledItemDelegate {
 public:
  explicit TListBoxDelegate(TListBox* list) : QStyledItemDelegate(list), FList(list) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    // In one column every line is as wide as the widest, so that the list scrolls sideways to
    // the end of it; in several columns the grid decides.
    if (FList->Columns() <= 0) return QSize(std::max(1, FList->HorizontalExtent()), FList->ItemHeight());
    return QSize(option.rect.width() > 0 ? option.rect.width() : 1, FList->ItemHeight());
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->setClipRect(option.rect);
    if (FList->OnDrawItem) {
      FList->OnDrawItem(*painter, index.row(), option.rect, selected);
    } else {
      FList->DrawItemDefault(*painter, index.row(), option.rect, selected);
    }
    painter->restore();
  }

 private:
  TListBox* FList;
};

}  // namespace

TListBox::TListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new TListBoxDelegate(this));
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  connect(model(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { LinesAdded(first, last); });
  connect(model(), &QAbstractItemModel::rowsRemoved, this, [this] { RecomputeExtent(); });
  connect(model(), &QAbstractItemModel::modelReset, this, [this] { RecomputeExtent(); });
  connect(model(), &QAbstractItemModel::dataChanged, this, [this] { RecomputeExtent(); });
  UpdateLayout();
}

TListBox::~TListBox() {
  // The list widget empties its model only after this class is gone: the model's signals must
  // no longer reach it.
  disconnect(model(), nullptr, this, nullptr);
}

int TListBox::LineWidth(int row) const {
  const QListWidgetItem* it = item(row);
  return it ? QFontMetrics(ItemFont(row)).horizontalAdvance(it->text()) + 2 : 0;
}

void TListBox::LinesAdded(int first, int last) {
  int widest = FExtent;
  for (int row = first; row <= last; ++row) widest = std::max(widest, LineWidth(row));
  if (widest == FExtent) return;
  FExtent = widest;
  scheduleDelayedItemsLayout();  // the lines all share one size, now a wider one
}

void TListBox::RecomputeExtent() {
  int widest = 0;
  for (int row = 0; row < count(); ++row) widest = std::max(widest, LineWidth(row));
  if (widest == FExtent) return;
  FExtent = widest;
  scheduleDelayedItemsLayout();
}

void TListBox::SetItemHeight(int height) {
  FItemHeight = std::max(1, height);
  UpdateLayout();
}

void TListBox::SetColumns(int columns) {
  FColumns = std::max(0, columns);
  UpdateLayout();
}

QFont TListBox::ItemFont(int row) const {
  const QListWidgetItem* it = item(row);
  if (it) {
    const QVariant f = it->data(FontRole);
    if (f.canConvert<QFont>() && f.isValid()) return f.value<QFont>();
  }
  return font();
}

void TListBox::DrawItemDefault(QPainter& painter, int row, const QRect& rect, bool selected) const {
  const QPalette& pal = palette();
  painter.fillRect(rect, selected ? pal.color(QPalette::Active, QPalette::Highlight) : pal.color(QPalette::Base));
  painter.setFont(ItemFont(row));
  painter.setPen(selected ? pal.color(QPalette::Active, QPalette::HighlightedText) : pal.color(QPalette::Text));
  const QListWidgetItem* it = item(row);
  if (!it) return;
  const QFontMetrics fm(painter.font());
  painter.drawText(rect.left() + 1, rect.top() + fm.ascent(), it->text());
}

void TListBox::resizeEvent(QResizeEvent* event) {
  QListWidget::resizeEvent(event);
  if (FColumns > 0) UpdateLayout();
}

void TListBox::UpdateLayout() {
  if (FColumns <= 0) {
    setFlow(QListView::TopToBottom);
    setWrapping(false);
    setGridSize(QSize());
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  } else {
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setGridSize(QSize(std::max(1, viewport()->width() / FColumns), FItemHeight));
  }
  if (FColumns <= 0) setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  doItemsLayout();
}

}  // namespace trawlex
