#include "frame/ToolbarIcons.h"

#include "document/Commands.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zerimo {

namespace {

/// Simple 16 x 16 pictures drawn at twice the size for sharp HiDPI display.
QIcon Drawn(unsigned id) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2, 2);
    const QColor ink(40, 40, 40), blue(40, 100, 200), paper(250, 250, 250);
    p.setPen(QPen(ink, 1));
    switch (id) {
    case ID_FILE_OPEN:
        p.setBrush(QColor(230, 190, 80));
        p.drawPolygon(QPolygonF({{1.5, 4.5}, {6, 4.5}, {7.5, 6}, {14.5, 6}, {14.5, 13.5}, {1.5, 13.5}}));
        break;
    case ID_FILE_SAVE:
        p.setBrush(blue);
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(paper);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.drawRect(QRectF(3.5, 9.5, 9, 5));
        break;
    case ID_ARROW: {
        p.setBrush(QColor(240, 200, 160));
        QPainterPath hand;
        hand.addRoundedRect(QRectF(3.5, 6.5, 9, 8), 2, 2);
        for (int i = 0; i < 4; ++i)
            hand.addRoundedRect(QRectF(3.5 + i * 2.3, 2 + (i % 3 == 0 ? 1.5 : 0), 2.2, 7), 1, 1);
        p.drawPath(hand.simplified());
        break;
    }
    case ID_CROP:
        p.setPen(QPen(ink, 1.5));
        p.drawPolyline(QPolygonF({{4, 1}, {4, 12}, {15, 12}}));
        p.drawPolyline(QPolygonF({{1, 4}, {12, 4}, {12, 15}}));
        break;
    case ID_EDIT_COPY:
        p.setBrush(paper);
        p.drawRect(QRectF(1.5, 1.5, 8, 10));
        p.drawRect(QRectF(6.5, 4.5, 8, 10));
        break;
    case ID_EDIT_PASTE:
        p.setBrush(QColor(200, 160, 100));
        p.drawRect(QRectF(2.5, 2.5, 10, 12));
        p.setBrush(paper);
        p.drawRect(QRectF(6.5, 6.5, 8, 8));
        p.setBrush(ink);
        p.drawRect(QRectF(5.5, 1.5, 4, 2));
        break;
    case ID_RESIZE:
        p.setBrush(paper);
        p.drawRect(QRectF(1.5, 6.5, 8, 8));
        p.setPen(QPen(blue, 1.5));
        p.drawLine(QPointF(7, 9), QPointF(14, 2));
        p.drawPolyline(QPolygonF({{9.5, 2}, {14, 2}, {14, 6.5}}));
        break;
    case ID_BRIGHTNESS:
        p.setBrush(QColor(250, 210, 40));
        p.drawEllipse(QPointF(8, 8), 3.5, 3.5);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(8, 8);
            p.rotate(i * 45);
            p.drawLine(QPointF(5, 0), QPointF(7, 0));
            p.restore();
        }
        break;
    case ID_BLUR_SHARPEN: {
        p.setBrush(blue);
        QPainterPath drop;
        drop.moveTo(8, 1.5);
        drop.cubicTo(12, 7, 13, 9, 13, 10.5);
        drop.cubicTo(13, 13.5, 10.5, 14.5, 8, 14.5);
        drop.cubicTo(5.5, 14.5, 3, 13.5, 3, 10.5);
        drop.cubicTo(3, 9, 4, 7, 8, 1.5);
        p.drawPath(drop);
        break;
    }
    case ID_EDIT_UNDO:
    case ID_EDIT_REDO: {
        if (id == ID_EDIT_REDO) {
            p.translate(16, 0);
            p.scale(-1, 1);
        }
        p.setPen(QPen(blue, 2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(3, 4, 10, 9), 90 * 16, -200 * 16);
        p.setBrush(blue);
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF({{1, 6}, {7, 1.5}, {7, 10}}));
        break;
    }
    case ID_FILE_PRINT:
        p.setBrush(paper);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(QColor(160, 160, 170));
        p.drawRect(QRectF(1.5, 6.5, 13, 6));
        p.setBrush(paper);
        p.drawRect(QRectF(4.5, 10.5, 7, 4));
        break;
    case ID_APP_ABOUT:
        p.setBrush(blue);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(8, 7), QPointF(8, 12));
        p.drawPoint(QPointF(8, 4.5));
        break;
    default:
        break;
    }
    p.end();
    pm.setDevicePixelRatio(2);
    return QIcon(pm);
}

const char* ThemeName(unsigned id) {
    switch (id) {
    case ID_FILE_OPEN:
        return "document-open";
    case ID_FILE_SAVE:
        return "document-save";
    case ID_EDIT_COPY:
        return "edit-copy";
    case ID_EDIT_PASTE:
        return "edit-paste";
    case ID_EDIT_UNDO:
        return "edit-undo";
    case ID_EDIT_REDO:
        return "edit-redo";
    case ID_FILE_PRINT:
        return "document-print";
    case ID_APP_ABOUT:
        return "help-about";
    default:
        return nullptr;
    }
}

} // namespace

QIcon ToolbarIcon(unsigned id) {
    const char* name = ThemeName(id);
    return name ? QIcon::fromTheme(name, Drawn(id)) : Drawn(id);
}

} // namespace zerimo
