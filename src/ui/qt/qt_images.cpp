#include "ui/qt/qt_images.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <cmath>
#include <functional>

namespace tsn {

namespace {

const QColor kOutline(60, 60, 60);

QIcon Paint(int size, const std::function<void(QPainter&)>& draw) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p);
  p.end();
  return QIcon(QPixmap::fromImage(image));
}

// Pictures are designed on a 16-unit grid; the toolbar draws them at twice
// the scale with its own details on top.
void Folder(QPainter& p, QColor body, bool open) {
  const QColor dark = body.darker(150);
  p.setPen(QPen(dark, 1));
  p.setBrush(body.darker(115));
  p.drawPolygon(QPolygonF({{1.5, 3.5}, {6.5, 3.5}, {7.5, 5}, {14.5, 5}, {14.5, 13.5}, {1.5, 13.5}}));
  p.setBrush(body);
  if (open)
    p.drawPolygon(QPolygonF({{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}}));
  else
    p.drawRect(QRectF(1.5, 6.5, 13, 7));
}

void Magnifier(QPainter& p, QPointF centre, double radius) {
  p.setPen(QPen(QColor(40, 40, 40), radius * 0.7, Qt::SolidLine, Qt::RoundCap));
  const QPointF handle = centre + QPointF(radius * 0.75, radius * 0.75);
  p.drawLine(handle, handle + QPointF(radius * 0.9, radius * 0.9));
  p.setPen(QPen(QColor(40, 40, 40), radius * 0.3));
  p.setBrush(QColor(200, 230, 255, 220));
  p.drawEllipse(centre, radius, radius);
}

void Disc(QPainter& p, QColor fill) {
  p.setPen(QPen(fill.darker(160), 1));
  p.setBrush(fill);
  p.drawEllipse(QRectF(1, 1, 14, 14));
}

void InfoDisc(QPainter& p) {
  Disc(p, QColor(30, 90, 210));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(7, 3, 2, 2));
  p.drawRect(QRectF(7, 6.5, 2, 6));
}

void Gear(QPainter& p, QPointF centre, double outer, QColor colour) {
  QPainterPath path;
  constexpr int kTeeth = 8;
  const double inner = outer * 0.72;
  for (int i = 0; i < kTeeth * 2; ++i) {
    const double a0 = (i - 0.5) * M_PI / kTeeth, a1 = (i + 0.5) * M_PI / kTeeth;
    const double r = (i % 2 == 0) ? outer : inner;
    const QPointF from = centre + QPointF(std::cos(a0) * r, std::sin(a0) * r);
    const QPointF to = centre + QPointF(std::cos(a1) * r, std::sin(a1) * r);
    if (i == 0) path.moveTo(from);
    else path.lineTo(from);
    path.lineTo(to);
  }
  path.closeSubpath();
  path.addEllipse(centre, outer * 0.3, outer * 0.3);  // the hole, by the odd-even fill
  p.setPen(QPen(colour.darker(160), 0.8));
  p.setBrush(colour);
  p.drawPath(path);
}

void Page(QPainter& p) {
  p.setPen(QPen(kOutline, 1));
  p.setBrush(Qt::white);
  p.drawPolygon(QPolygonF({{3.5, 1.5}, {10.5, 1.5}, {13.5, 4.5}, {13.5, 14.5}, {3.5, 14.5}}));
  p.drawPolyline(QPolygonF({{10.5, 1.5}, {10.5, 4.5}, {13.5, 4.5}}));
}

void Small(QPainter& p, int index) {
  switch (index) {
    case 0:  // error: red disc, white cross
      Disc(p, QColor(200, 20, 20));
      p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
      p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
      break;
    case 1:  // status
    case 3:  // user: the same picture as status
      InfoDisc(p);
      break;
    case 2:  // alert: yellow warning diamond
      p.setPen(QPen(QColor(120, 90, 0), 1));
      p.setBrush(QColor(245, 205, 20));
      p.drawPolygon(QPolygonF({{8, 0.5}, {15.5, 8}, {8, 15.5}, {0.5, 8}}));
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::black);
      p.drawRect(QRectF(7, 4, 2, 5.5));
      p.drawRect(QRectF(7, 10.5, 2, 2));
      break;
    case 4:
      Folder(p, QColor(235, 195, 80), false);
      break;
    case 5:
      Folder(p, QColor(235, 195, 80), true);
      break;
    case 6:  // plain document
      Page(p);
      p.setPen(QPen(QColor(150, 150, 150), 1));
      for (double y = 7.5; y < 14; y += 2) p.drawLine(QPointF(5.5, y), QPointF(11.5, y));
      break;
    case 7:  // film strip
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(40, 40, 40));
      p.drawRect(QRectF(2, 1, 12, 14));
      p.setBrush(QColor(120, 170, 220));
      p.drawRect(QRectF(5, 2.5, 6, 5));
      p.drawRect(QRectF(5, 8.5, 6, 5));
      p.setBrush(Qt::white);
      for (double y = 2; y < 14; y += 3) {
        p.drawRect(QRectF(2.8, y, 1.4, 1.6));
        p.drawRect(QRectF(11.8, y, 1.4, 1.6));
      }
      break;
    case 8:  // piano keys
      p.setPen(QPen(kOutline, 1));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(0.5, 3.5, 15, 10));
      for (double x = 3.5; x < 15; x += 3) p.drawLine(QPointF(x, 3.5), QPointF(x, 13.5));
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::black);
      for (double x = 2.5; x < 14; x += 3) p.drawRect(QRectF(x, 3.5, 2, 6));
      break;
    case 9:  // picture: sky, sun and a hill in a frame
      p.setPen(QPen(kOutline, 1));
      p.setBrush(QColor(150, 200, 245));
      p.drawRect(QRectF(0.5, 2.5, 15, 11));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(250, 210, 40));
      p.drawEllipse(QRectF(10, 4, 3.5, 3.5));
      p.setBrush(QColor(60, 160, 60));
      p.drawPolygon(QPolygonF({{1, 13}, {6, 7}, {10, 11}, {12, 9.5}, {15, 13}}));
      break;
    case 10: {  // yellow clamp
      p.setPen(QPen(QColor(140, 110, 0), 1));
      p.setBrush(QColor(240, 200, 30));
      QPainterPath c;
      c.addRect(QRectF(2, 1.5, 10, 3));
      c.addRect(QRectF(2, 1.5, 3, 13));
      c.addRect(QRectF(2, 11.5, 10, 3));
      p.drawPath(c.simplified());
      p.setPen(QPen(QColor(110, 110, 110), 1.6));
      p.drawLine(QPointF(10.5, 4.5), QPointF(10.5, 10));
      p.drawLine(QPointF(8.5, 10), QPointF(12.5, 10));
      break;
    }
    case 11:  // lightning bolt
      p.setPen(QPen(QColor(150, 80, 0), 1));
      p.setBrush(QColor(255, 200, 0));
      p.drawPolygon(QPolygonF({{9.5, 0.5}, {3, 9}, {7.5, 9}, {5.5, 15.5}, {13, 6}, {8.5, 6}, {11, 0.5}}));
      break;
    case 12:
      Gear(p, {8, 8}, 7.2, QColor(150, 150, 160));
      break;
    default:
      break;
  }
}

void Toolbar(QPainter& p, int index) {
  switch (index) {
    case 0: {  // disk drive
      p.setPen(QPen(kOutline, 1.5));
      p.setBrush(QColor(200, 200, 205));
      p.drawRoundedRect(QRectF(3, 10, 26, 13), 2, 2);
      p.setBrush(QColor(160, 160, 170));
      p.drawRect(QRectF(5, 19, 22, 2));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(40, 200, 40));
      p.drawEllipse(QRectF(23, 13, 3, 3));
      break;
    }
    case 1:  // grey folder with magnifying glass
    case 4:  // red folder with magnifying glass
      p.save();
      p.scale(1.7, 1.7);
      Folder(p, index == 1 ? QColor(175, 175, 180) : QColor(215, 40, 40), false);
      p.restore();
      Magnifier(p, {20, 18}, 6);
      break;
    case 2: {  // book with a question mark
      p.setPen(QPen(QColor(20, 40, 100), 1.5));
      p.setBrush(QColor(40, 80, 170));
      p.drawRoundedRect(QRectF(6, 3, 20, 26), 2, 2);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(8, 25, 18, 3));
      QFont f;
      f.setPixelSize(18);
      f.setBold(true);
      p.setFont(f);
      p.setPen(Qt::white);
      p.drawText(QRectF(6, 3, 20, 22), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case 3: {  // monitor showing sleep letters
      p.setPen(QPen(kOutline, 1.5));
      p.setBrush(QColor(190, 190, 195));
      p.drawRect(QRectF(3, 4, 26, 19));
      p.setBrush(QColor(20, 30, 60));
      p.drawRect(QRectF(6, 7, 20, 13));
      p.setBrush(QColor(170, 170, 175));
      p.drawRect(QRectF(12, 23, 8, 3));
      p.drawRect(QRectF(8, 26, 16, 3));
      QFont f;
      f.setPixelSize(7);
      f.setBold(true);
      p.setFont(f);
      p.setPen(QColor(150, 220, 255));
      p.drawText(QPointF(9, 18), QStringLiteral("z"));
      p.drawText(QPointF(14, 15), QStringLiteral("z"));
      p.drawText(QPointF(19, 12), QStringLiteral("z"));
      break;
    }
    case 5: {  // floppy disk
      p.setPen(QPen(QColor(10, 20, 60), 1.5));
      p.setBrush(QColor(40, 60, 140));
      p.drawPolygon(QPolygonF({{4, 4}, {25, 4}, {28, 7}, {28, 28}, {4, 28}}));
      p.setBrush(QColor(200, 200, 210));
      p.drawRect(QRectF(9, 4, 13, 8));
      p.setBrush(QColor(40, 60, 140));
      p.drawRect(QRectF(17, 5.5, 3, 5));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(8, 16, 16, 12));
      break;
    }
    case 6: {  // printer
      p.setPen(QPen(kOutline, 1.5));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(9, 3, 14, 10));
      p.setBrush(QColor(185, 185, 190));
      p.drawRoundedRect(QRectF(3, 12, 26, 11), 2, 2);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(9, 20, 14, 9));
      p.setPen(QPen(QColor(150, 150, 150), 1));
      p.drawLine(QPointF(11, 24), QPointF(21, 24));
      p.drawLine(QPointF(11, 26.5), QPointF(19, 26.5));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(40, 200, 40));
      p.drawEllipse(QRectF(24, 15, 2.5, 2.5));
      break;
    }
    case 7: {  // tools over a computer
      p.setPen(QPen(kOutline, 1.5));
      p.setBrush(QColor(190, 190, 195));
      p.drawRect(QRectF(3, 12, 22, 14));
      p.setBrush(QColor(90, 140, 200));
      p.drawRect(QRectF(5.5, 14.5, 17, 9));
      p.setBrush(QColor(170, 170, 175));
      p.drawRect(QRectF(9, 26, 10, 3));
      Gear(p, {23, 9}, 7, QColor(150, 150, 160));
      p.setPen(QPen(QColor(120, 70, 20), 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(6, 3), QPointF(16, 13));
      break;
    }
    default:
      break;
  }
}

}  // namespace

QIcon DrawSmallImage(int index) {
  if (index < 0 || index >= kSmallImageCount) return {};
  return Paint(16, [index](QPainter& p) { Small(p, index); });
}

QIcon DrawToolbarImage(int index) {
  if (index < 0 || index >= kToolbarImageCount) return {};
  return Paint(32, [index](QPainter& p) { Toolbar(p, index); });
}

std::vector<QIcon> MakeSmallImageList() {
  std::vector<QIcon> images;
  images.reserve(kSmallImageCount);
  for (int i = 0; i < kSmallImageCount; ++i) images.push_back(DrawSmallImage(i));
  return images;
}

}  // namespace tsn
