#pragma once
// A list of text lines with a fixed item height, drawn by its window when OnDrawItem is set,
// optionally spread over several columns that flow top to bottom and then left to right.
// A line may carry a font of its own (FontRole).
#include <QListWidget>
#include <functional>

namespace trawlex {

class TListBox : public QListWidget {
  Q_OBJECT
 public:
  // The item data role holding a line's own QFont.
  static constexpr int FontRole = Qt::UserRole + 1;

  explicit TListBox(QWidget* parent = nullptr);
  ~TListBox() override;

  int ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int height);

  // 0: one column without column layout; n > 0: columns of a width of 1/n of the list, the
  // lines flowing down each column and on into the next.
  int Columns() const { return FColumns; }
  void SetColumns(int columns);

  // The font a line is drawn in: its own, else the list's.
  QFont ItemFont(int row) const;

  // Draws one line: painter, row, rectangle, selected. Without it the list draws the line's
  // text in its font, in the highlighted-text colour when selected.
  std::function<void(QPainter&, int, const QRect&, bool)> OnDrawItem;
  // The default drawing, for handlers that add to it.
  void DrawItemDefault(QPainter& painter, int row, const QRect& rect, bool selected) const;

  // The width of the widest line in its font: in one column, the list scrolls sideways to it.
  int HorizontalExtent() const { return FExtent; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UpdateLayout();
  int LineWidth(int row) const;
  void LinesAdded(int first, int last);
  void RecomputeExtent();
  int FExtent = 0;
  int FItemHeight = 14;
  int FColumns = 0;
};

}  // namespace trawlex
