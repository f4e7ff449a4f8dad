#pragma once
// A status bar made of panels side by side, each with its own text, width in pixels and
// alignment; a panel may be drawn by its window instead (OnDrawPanel). The last panel reaches to
// the right edge. The panel routines of WindowRoutines.h measure texts in the bar's font.
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

  // Draws an owner-drawn panel: painter, panel index, rectangle inside the panel's frame.
  std::function<void(QPainter&, int, const QRect&)> OnDrawPanel;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<std::unique_ptr<TStatusPanel>> FPanels;
};

}  // namespace trawlex
