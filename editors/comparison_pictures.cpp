#include "comparison_pictures.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace {

using Glyph = std::function<void(QPainter&)>;

class TileIconEngine : public QIconEngine {
  public:
    TileIconEngine(QColor colour, Glyph glyph) : colour_(colour), glyph_(std::move(glyph)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal side = qMin(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0,
                           rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 100.0, side / 100.0);
        QColor tile = colour_;
        if (mode == QIcon::Active || mode == QIcon::Selected)
            tile = tile.lighter(115);
        if (mode == QIcon::Disabled)
            tile = QColor(0x9E, 0x9E, 0x9E);
        painter->setPen(Qt::NoPen);
        painter->setBrush(tile);
        painter->drawRoundedRect(QRectF(3, 3, 94, 94), 18, 18);
        painter->setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->setBrush(Qt::NoBrush);
        glyph_(*painter);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        p.end();
        pm.setDevicePixelRatio(scale);
        return pm;
    }

    QIconEngine* clone() const override { return new TileIconEngine(colour_, glyph_); }

  private:
    QColor colour_;
    Glyph glyph_;
};

void thinPen(QPainter& p, qreal width) {
    QPen pen = p.pen();
    pen.setWidthF(width);
    p.setPen(pen);
}

} // namespace

QIcon comparePicture() {
    return QIcon(new TileIconEngine(QColor(0x28, 0x35, 0x93), [](QPainter& p) {
        // Two sheets with their lines, one row marked as differing.
        thinPen(p, 5);
        p.drawRect(QRectF(12, 18, 30, 64));
        p.drawRect(QRectF(58, 18, 30, 64));
        for (const qreal y : {34.0, 50.0, 66.0}) {
            p.drawLine(QPointF(19, y), QPointF(35, y));
            p.drawLine(QPointF(65, y), QPointF(81, y));
        }
        thinPen(p, 7);
        p.drawLine(QPointF(46, 44), QPointF(54, 44));
        p.drawLine(QPointF(46, 56), QPointF(54, 56));
    }));
}

QIcon sheetPicture() {
    return QIcon(new TileIconEngine(QColor(0x37, 0x47, 0x4F), [](QPainter& p) {
        // A page with a folded corner, its lines and a signature at the foot.
        thinPen(p, 5);
        p.drawPolygon(QPolygonF(
            {QPointF(22, 12), QPointF(62, 12), QPointF(78, 28), QPointF(78, 88), QPointF(22, 88)}));
        p.drawPolyline(QPolygonF({QPointF(62, 12), QPointF(62, 28), QPointF(78, 28)}));
        for (const qreal y : {38.0, 50.0, 62.0})
            p.drawLine(QPointF(32, y), QPointF(68, y));
        QPainterPath sign;
        sign.moveTo(32, 78);
        sign.cubicTo(38, 68, 42, 86, 48, 76);
        sign.cubicTo(52, 70, 56, 82, 66, 76);
        p.drawPath(sign);
    }));
}
