#include "ui/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace trawlex {

namespace {

// The outline colour of every picture.
constexpr QColor Ink(40, 60, 90);

void DrawMagnifier(QPainter& p) {
  p.setBrush(QColor(200, 225, 255));
  p.drawEllipse(QRectF(5, 5, 15, 15));
  p.setPen(QPen(Ink, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(18, 18), QPointF(27, 27));
}

void DrawStopSign(QPainter& p) {
  p.setPen(QPen(QColor(120, 0, 0), 2));
  p.setBrush(QColor(210, 40, 40));
  p.drawRoundedRect(QRectF(6, 6, 20, 20), 3, 3);
}

void DrawDisk(QPainter& p) {
  p.setBrush(QColor(90, 120, 180));
  p.drawRoundedRect(QRectF(5, 5, 22, 22), 2, 2);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(9, 5, 14, 8));
  p.setBrush(QColor(220, 220, 220));
  p.drawRect(QRectF(9, 17, 14, 10));
}

// A printer; for its setup, with a green tick.
void DrawPrinter(QPainter& p, bool setup) {
  p.setBrush(Qt::white);
  p.drawRect(QRectF(9, 4, 14, 10));
  p.setBrush(QColor(150, 150, 160));
  p.drawRoundedRect(QRectF(4, 12, 24, 11), 2, 2);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(9, 20, 14, 8));
  if (setup) {
    p.setPen(QPen(QColor(0, 120, 0), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20, 27), QPointF(29, 18));
  }
}

// A sheet with red lines.
void DrawLogSheet(QPainter& p) {
  p.setBrush(Qt::white);
  p.drawRect(QRectF(7, 4, 18, 24));
  p.setPen(QPen(QColor(200, 40, 40), 2));
  for (int y = 10; y <= 22; y += 4) p.drawLine(QPointF(10, y), QPointF(22, y));
}

void DrawFolder(QPainter& p) {
  p.setBrush(QColor(240, 200, 90));
  QPainterPath path;
  path.moveTo(3, 8);
  path.lineTo(12, 8);
  path.lineTo(15, 11);
  path.lineTo(29, 11);
  path.lineTo(29, 26);
  path.lineTo(3, 26);
  path.closeSubpath();
  p.drawPath(path);
}

void DrawGlyph(QPainter& p, TGlyph glyph) {
  switch (glyph) {
    case TGlyph::Search:
      DrawMagnifier(p);
      break;
    case TGlyph::Stop:
      DrawStopSign(p);
      break;
    case TGlyph::Save:
      DrawDisk(p);
      break;
    case TGlyph::Print:
    case TGlyph::PrinterSetup:
      DrawPrinter(p, glyph == TGlyph::PrinterSetup);
      break;
    case TGlyph::Log:
      DrawLogSheet(p);
      break;
    case TGlyph::Folder:
      DrawFolder(p);
      break;
  }
}

}  // namespace

QIcon MakeIcon(TGlyph glyph) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  {
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Ink, 2));
    DrawGlyph(p, glyph);
  }
  return QIcon(pm);
}

}  // namespace trawlex
