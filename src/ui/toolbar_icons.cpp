#include "ui/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/main_frame.h"

namespace norvale::ui {
namespace {
constexpr int kSize = 32;

QColor colourOf(int id) {
  switch (id) {
    case kCmdLoadImage: case kCmdRefresh: return {52, 120, 198};
    case kCmdNewTask: case kCmdLoadTask: return {46, 150, 90};
    case kCmdTaskInfo: case kCmdAbout: return {80, 110, 160};
    case kCmdAutoIdentify: return {140, 90, 190};
    case kCmdExport: case kCmdReport: return {220, 130, 30};
    case kCmdStop: case kCmdExit: return {200, 60, 50};
    case kCmdSettings: return {100, 100, 100};
    case kCmdBack: return {60, 140, 160};
    default: return {120, 120, 120};
  }
}

void drawGlyph(QPainter& p, int id) {
  p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  switch (id) {
    case kCmdLoadImage:  // a disk
      p.drawEllipse(QRectF(8, 7, 16, 6));
      p.drawLine(QPointF(8, 10), QPointF(8, 22));
      p.drawLine(QPointF(24, 10), QPointF(24, 22));
      p.drawArc(QRectF(8, 19, 16, 6), 180 * 16, 180 * 16);
      break;
    case kCmdRefresh: {  // a circular arrow
      p.drawArc(QRectF(8, 8, 16, 16), 30 * 16, 300 * 16);
      QPainterPath head;
      head.moveTo(22, 6);
      head.lineTo(24, 12);
      head.lineTo(18, 12);
      p.drawPath(head);
      break;
    }
    case kCmdNewTask:  // a plus
      p.drawLine(16, 8, 16, 24);
      p.drawLine(8, 16, 24, 16);
      break;
    case kCmdLoadTask:  // a folder
      p.drawRect(QRectF(7, 11, 18, 12));
      p.drawLine(QPointF(7, 11), QPointF(11, 8));
      p.drawLine(QPointF(11, 8), QPointF(15, 8));
      break;
    case kCmdTaskInfo:  // "i"
      p.drawPoint(16, 9);
      p.drawLine(16, 14, 16, 24);
      break;
    case kCmdAutoIdentify:  // a magnifier
      p.drawEllipse(QRectF(8, 8, 11, 11));
      p.drawLine(QPointF(18, 18), QPointF(24, 24));
      break;
    case kCmdExport:  // an arrow out of a tray
      p.drawLine(16, 7, 16, 19);
      p.drawLine(11, 12, 16, 7);
      p.drawLine(21, 12, 16, 7);
      p.drawPolyline(QPolygonF({QPointF(8, 18), QPointF(8, 24), QPointF(24, 24), QPointF(24, 18)}));
      break;
    case kCmdReport:  // a page of lines
      p.drawRect(QRectF(9, 7, 14, 18));
      for (int y = 12; y <= 20; y += 4) p.drawLine(12, y, 20, y);
      break;
    case kCmdStop:  // a square
      p.setBrush(Qt::white);
      p.drawRect(QRectF(10, 10, 12, 12));
      break;
    case kCmdSettings:  // a gear
      p.drawEllipse(QRectF(11, 11, 10, 10));
      for (int a = 0; a < 8; ++a) {
        p.save();
        p.translate(16, 16);
        p.rotate(a * 45);
        p.drawLine(0, 6, 0, 9);
        p.restore();
      }
      break;
    case kCmdAbout:  // "?"
      p.drawArc(QRectF(11, 7, 10, 9), -90 * 16, 270 * 16);
      p.drawLine(16, 16, 16, 19);
      p.drawPoint(16, 24);
      break;
    case kCmdExit:  // a cross
      p.drawLine(10, 10, 22, 22);
      p.drawLine(22, 10, 10, 22);
      break;
    case kCmdBack:  // a left arrow
      p.drawLine(8, 16, 24, 16);
      p.drawLine(8, 16, 14, 10);
      p.drawLine(8, 16, 14, 22);
      break;
    default:
      p.drawEllipse(QRectF(10, 10, 12, 12));
  }
}
}  // namespace

QIcon commandIcon(int commandId) {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(colourOf(commandId));
  p.drawRoundedRect(QRectF(1, 1, kSize - 2, kSize - 2), 6, 6);
  drawGlyph(p, commandId);
  return QIcon(pixmap);
}

}  // namespace norvale::ui
