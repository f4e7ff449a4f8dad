#pragma once
// A status bar made of panels side by side, each with its own text, width in pixels and
// alignment; a panel may be drawn by its window instead (OnDrawPanel). The last panel reaches to
// the right edge. When the panels before it leave the last one too little room for its text,
// the bar grows a second row and the last panel takes all of it, so its text (the window's
// message) stays readable whole; the bar keeps its two rows until it is resized or the last
// panel's text is emptied or fits again after ResetRows, so that a stream of texts of varying
// length does not make it jump. The panel routines of WindowRoutines.h measure texts in the
// bar's font.
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QPainter;

namespace trawlex {

class TStatusBar;

class TStatusPanel {
 public:
  TStatusPanel(TStatusBar* bar, int width, Qt::Alignment alignment) : FBar(bar), FWidth(width), FAlignment(alignment) {}

  TStatusBar* Bar() const { return FBar; }
  const QString& Text() const { return FText; }
  void SetText(const QString& text);
  int Width() const { return FWidth; }
  void SetWidth(int width);
  Qt::Alignment Alignment() const { return FAlignment; }
  bool OwnerDraw() const { return FOwnerDraw; }
  void SetOwnerDraw(bool ownerDraw);

 private:
  TStatusBar* FBar;
  QString FText;
  int FWidth;
  Qt::Alignment FAlignment;
  bool FOwnerDraw = false;
};

class TStatusBar : public QWidget {
  Q_OBJECT
 public:
  explicit TStatusBar(QWidget* parent = nullptr);

  TStatusPanel& AddPanel(int width, Qt::Alignment alignment = Qt::AlignLeft);
  int PanelCount() const { return static_cast<int>(FPanels.size()); }
  // Raises an assertion outside 0..PanelCount-1.
  TStatusPanel& Panel(int index);
  // The rectangle a panel occupies now.
  QRect PanelRect(int index) const;
  // Whether the last panel has a row of its own below the others.
  bool TwoRows() const { return FTwoRows; }
  // Lets the bar go back to one row if the last panel's text fits there now.
  void ResetRows() { UpdateRows(true); }

  // Draws an owner-drawn panel: painter, panel index, rectangle inside the panel's frame.
  std::function<void(QPainter&, int, const QRect&)> OnDrawPanel;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  friend class TStatusPanel;
  int RowHeight() const;
  // Whether the panels before the last one, on a row of their own, are narrower than set.
  bool Squeezed() const;
  // Puts the last panel on a row of its own when its text does not fit beside the others;
  // back on one row only when `mayJoin` and the text fits.
  void UpdateRows(bool mayJoin);
  bool FTwoRows = false;
  std::vector<std::unique_ptr<TStatusPanel>> FPanels;
};

}  // namespace trawlex
