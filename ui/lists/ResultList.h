#pragma once
// An owner-drawn list over a TItemList (entries that refer to result items): one fixed entry
// height, a horizontal scroll extent set by its window, one selected entry, keyboard and mouse
// selection. A search worker appends to Items() through its hand-over; the window then calls
// SyncCount so the list takes the new entries into its scroll range. Drawing costs only the
// entries in view, so a list of a hundred thousand entries scrolls as fast as a short one.
#include <QAbstractScrollArea>
#include <functional>

#include "engine/SearchResult.h"

namespace trawlex {

class TResultList;
// Makes result lists known to assistive tools (once per application); called by every list.
void InstallResultListAccessibility();
// Drops the interfaces of a list's entries when they changed as a whole.
void ForgetResultListEntries(TResultList* list);

class TResultList : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TResultList(QWidget* parent = nullptr);

  TItemList& Items() { return FItems; }
  const TItemList& Items() const { return FItems; }
  int Count() const { return FCount; }
  // Takes entries appended to Items() since the last call into the list.
  void SyncCount();
  // Empties the list and its selection.
  void Clear();
  // The item of entry `row`, or null.
  TSearchResult* ItemAt(int row) const;

  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int height);
  int HorizontalExtent() const { return FExtent; }
  void SetHorizontalExtent(int extent);

  // -1 when no entry is selected.
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int row);
  // The entry at a point of the viewport, or -1.
  int RowAt(const QPoint& viewportPos) const;
  int TopRow() const;

  // Draws one entry: painter, row, rectangle (its left edge moved by the horizontal scroll
  // position), whether it is selected.
  std::function<void(QPainter&, int, const QRect&, bool)> OnDrawItem;

  // The text of entry `row` as assistive tools read it (empty without OnItemText).
  QString ItemText(int row) const { return OnItemText && row >= 0 && row < FCount ? OnItemText(row) : QString(); }
  std::function<QString(int)> OnItemText;
  // The description of entry `row` for assistive tools (empty without OnItemDescription).
  QString ItemDescription(int row) const {
    return OnItemDescription && row >= 0 && row < FCount ? OnItemDescription(row) : QString();
  }
  std::function<QString(int)> OnItemDescription;

  QSize sizeHint() const override { return QSize(200, 100); }

 signals:
  void SelectionChanged();
  // A double-click on an entry, at this point of the viewport.
  void DoubleClicked(const QPoint& viewportPos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void UpdateScrollBars();
  void SendAccessibleFocus();
  void EnsureVisible(int row);
  int VisibleRows() const;

  TItemList FItems;
  int FCount = 0;
  int FItemHeight = 16;
  int FExtent = 0;
  int FItemIndex = -1;
};

}  // namespace trawlex
