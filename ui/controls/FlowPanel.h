#pragma once
// A panel that sets its parts side by side in rows and starts a new row when the next part does
// not fit beside the ones before it, so that a narrow window wraps its switches instead of
// drawing them over each other. A part may begin a row of its own, and the last part of a row may
// stretch to the panel's right edge. The panel's height follows its width: it asks its parent
// layout for as many rows as its current width needs.
#include <QWidget>
#include <vector>

namespace trawlex {

class TFlowPanel : public QWidget {
 public:
  explicit TFlowPanel(QWidget* parent = nullptr);

  // Adds `part` (made a child of the panel) after the others. `newRow`: it begins a row;
  // `stretch`: it takes the room its row leaves free.
  void Add(QWidget* part, bool newRow = false, bool stretch = false);

  // The width of the widest row when only the parts that begin a row start one, and the height
  // of the rows at the current width.
  QSize sizeHint() const override;
  // The widest part, and the height of the rows at the current width.
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct TPart {
    QWidget* Widget;
    bool NewRow;
    bool Stretch;
  };
  // Lays the parts out for `width`, placing them when `place`; gives the height they take and
  // in `widest` the width of the widest row.
  int Arrange(int width, bool place, int* widest = nullptr) const;
  void Relayout();
  std::vector<TPart> FParts;
  int FLastHeight = -1;
};

}  // namespace trawlex
