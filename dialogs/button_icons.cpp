#include "button_icons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QColor tileColour(CommandPicture p) {
    switch (p) {
    case CommandPicture::Connect:
        return QColor(0x2E, 0x7D, 0x32); // green: start
    case CommandPicture::ReadDevice:
        return QColor(0x15, 0x65, 0xC0);
    case CommandPicture::DefineSettings:
        return QColor(0x6A, 0x1B, 0x9A);
    case CommandPicture::LoadTemplate:
        return QColor(0xEF, 0x6C, 0x00);
    case CommandPicture::Exit:
        return QColor(0xC6, 0x28, 0x28); // red: leave
    case CommandPicture::CableDiagram:
    case CommandPicture::MountingDiagram:
        return QColor(0x00, 0x83, 0x8F);
    case CommandPicture::Information:
        return QColor(0x45, 0x5A, 0x64);
    case CommandPicture::Back:
        return QColor(0x54, 0x6E, 0x7A);
    case CommandPicture::FactorySettings:
        return QColor(0x8D, 0x6E, 0x63);
    case CommandPicture::AlarmTexts:
        return QColor(0x6A, 0x1B, 0x9A);
    case CommandPicture::Subscribers:
        return QColor(0x00, 0x79, 0x6B);
    case CommandPicture::SaveTemplate:
        return QColor(0xEF, 0x6C, 0x00);
    case CommandPicture::WriteDevice:
        return QColor(0x15, 0x65, 0xC0);
    case CommandPicture::AddSubscriber:
        return QColor(0x00, 0x79, 0x6B); // the list's own colour
    case CommandPicture::RemoveSubscriber:
        return QColor(0xAD, 0x14, 0x57);
    case CommandPicture::ImportList:
    case CommandPicture::ExportList:
        return QColor(0x2E, 0x7D, 0x32); // a spreadsheet's green
    case CommandPicture::CompareSettings:
        return QColor(0x28, 0x35, 0x93);
    case CommandPicture::SettingsSheet:
        return QColor(0x37, 0x47, 0x4F);
    case CommandPicture::Register:
        return QColor(0x4E, 0x34, 0x2E); // a card file's brown
    }
    return Qt::gray;
}

// Draws on a 100 x 100 canvas; the painter is already scaled.
void drawGlyph(QPainter& p, CommandPicture picture) {
    QPen pen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (picture) {
    case CommandPicture::Connect: {
        // A plug meeting a socket.
        p.drawLine(QPointF(18, 50), QPointF(36, 50));
        p.drawRoundedRect(QRectF(36, 36, 16, 28), 3, 3);
        p.drawLine(QPointF(52, 43), QPointF(60, 43));
        p.drawLine(QPointF(52, 57), QPointF(60, 57));
        p.drawLine(QPointF(68, 32), QPointF(68, 68));
        p.drawLine(QPointF(68, 50), QPointF(84, 50));
        break;
    }
    case CommandPicture::ReadDevice: {
        // Data flowing down from the device into the computer.
        p.drawRoundedRect(QRectF(26, 16, 48, 26), 4, 4);
        p.drawLine(QPointF(36, 29), QPointF(64, 29));
        p.drawLine(QPointF(50, 48), QPointF(50, 78));
        p.drawPolyline(QPolygonF({QPointF(38, 66), QPointF(50, 79), QPointF(62, 66)}));
        p.drawLine(QPointF(26, 86), QPointF(74, 86));
        break;
    }
    case CommandPicture::DefineSettings: {
        // Three sliders.
        for (int i = 0; i < 3; ++i) {
            const qreal y = 28 + i * 22;
            p.drawLine(QPointF(20, y), QPointF(80, y));
            const qreal x = i == 0 ? 38 : i == 1 ? 64 : 30;
            p.setBrush(tileColour(picture));
            p.drawEllipse(QPointF(x, y), 7, 7);
            p.setBrush(Qt::NoBrush);
        }
        break;
    }
    case CommandPicture::LoadTemplate: {
        // An open folder with an arrow out of it.
        QPainterPath folder;
        folder.moveTo(16, 80);
        folder.lineTo(16, 34);
        folder.lineTo(36, 34);
        folder.lineTo(42, 42);
        folder.lineTo(84, 42);
        folder.lineTo(84, 80);
        folder.closeSubpath();
        p.drawPath(folder);
        p.drawLine(QPointF(50, 74), QPointF(50, 52));
        p.drawPolyline(QPolygonF({QPointF(40, 61), QPointF(50, 51), QPointF(60, 61)}));
        break;
    }
    case CommandPicture::Exit: {
        // The power symbol.
        p.drawArc(QRectF(24, 26, 52, 52), 120 * 16, 300 * 16);
        p.drawLine(QPointF(50, 18), QPointF(50, 50));
        break;
    }
    case CommandPicture::CableDiagram: {
        // A connector on a cable.
        p.drawRoundedRect(QRectF(16, 22, 34, 24), 4, 4);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(25 + i * 8, 34), 2.5, 2.5);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        QPainterPath cable;
        cable.moveTo(50, 34);
        cable.cubicTo(78, 34, 22, 76, 60, 76);
        cable.lineTo(84, 76);
        p.drawPath(cable);
        break;
    }
    case CommandPicture::MountingDiagram: {
        // A board with four screws.
        p.drawRoundedRect(QRectF(18, 22, 64, 56), 5, 5);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        for (QPointF c : {QPointF(29, 33), QPointF(71, 33), QPointF(29, 67), QPointF(71, 67)})
            p.drawEllipse(c, 4.5, 4.5);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(40, 42, 20, 16));
        break;
    }
    case CommandPicture::Information: {
        p.drawEllipse(QRectF(18, 18, 64, 64));
        p.drawLine(QPointF(50, 46), QPointF(50, 68));
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(50, 34), 4.5, 4.5);
        break;
    }
    case CommandPicture::Back: {
        // An arrow pointing back.
        p.drawLine(QPointF(22, 50), QPointF(78, 50));
        p.drawPolyline(QPolygonF({QPointF(42, 30), QPointF(22, 50), QPointF(42, 70)}));
        break;
    }
    case CommandPicture::FactorySettings: {
        // A circular arrow: back to where it started.
        p.drawArc(QRectF(24, 24, 52, 52), 60 * 16, 290 * 16);
        p.drawPolyline(QPolygonF({QPointF(56, 14), QPointF(64, 27), QPointF(50, 32)}));
        break;
    }
    case CommandPicture::AlarmTexts: {
        // A speech bubble with lines of text.
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(16, 20, 68, 46), 8, 8);
        p.drawPath(bubble);
        p.drawPolyline(QPolygonF({QPointF(34, 66), QPointF(30, 82), QPointF(48, 66)}));
        p.drawLine(QPointF(28, 36), QPointF(72, 36));
        p.drawLine(QPointF(28, 50), QPointF(60, 50));
        break;
    }
    case CommandPicture::Subscribers: {
        // Two people.
        p.drawEllipse(QPointF(40, 36), 10, 10);
        p.drawArc(QRectF(20, 54, 40, 36), 0, 180 * 16);
        p.drawEllipse(QPointF(66, 40), 8, 8);
        p.drawArc(QRectF(54, 58, 28, 26), 0, 180 * 16);
        break;
    }
    case CommandPicture::SaveTemplate: {
        // A disk.
        QPainterPath disk;
        disk.moveTo(20, 20);
        disk.lineTo(70, 20);
        disk.lineTo(80, 30);
        disk.lineTo(80, 80);
        disk.lineTo(20, 80);
        disk.closeSubpath();
        p.drawPath(disk);
        p.drawRect(QRectF(34, 20, 28, 18));
        p.drawRect(QRectF(30, 54, 40, 26));
        break;
    }
    case CommandPicture::WriteDevice: {
        // Data flowing up from the computer into the device.
        p.drawRoundedRect(QRectF(26, 16, 48, 26), 4, 4);
        p.drawLine(QPointF(36, 29), QPointF(64, 29));
        p.drawLine(QPointF(50, 80), QPointF(50, 50));
        p.drawPolyline(QPolygonF({QPointF(38, 62), QPointF(50, 49), QPointF(62, 62)}));
        p.drawLine(QPointF(26, 86), QPointF(74, 86));
        break;
    }
    case CommandPicture::AddSubscriber:
    case CommandPicture::RemoveSubscriber: {
        // One person, with a plus or a minus beside.
        p.drawEllipse(QPointF(38, 36), 11, 11);
        p.drawArc(QRectF(16, 56, 44, 40), 0, 180 * 16);
        p.drawLine(QPointF(64, 40), QPointF(86, 40));
        if (picture == CommandPicture::AddSubscriber)
            p.drawLine(QPointF(75, 29), QPointF(75, 51));
        break;
    }
    case CommandPicture::ImportList:
    case CommandPicture::ExportList: {
        // A sheet of rows and columns, an arrow going into it or out of it.
        QPen thin = pen;
        thin.setWidthF(5);
        p.setPen(thin);
        p.drawRect(QRectF(14, 20, 44, 60));
        p.drawLine(QPointF(14, 40), QPointF(58, 40));
        p.drawLine(QPointF(14, 60), QPointF(58, 60));
        p.drawLine(QPointF(32, 20), QPointF(32, 80));
        p.setPen(pen);
        if (picture == CommandPicture::ImportList) {
            p.drawLine(QPointF(88, 50), QPointF(64, 50));
            p.drawPolyline(QPolygonF({QPointF(74, 40), QPointF(64, 50), QPointF(74, 60)}));
        } else {
            p.drawLine(QPointF(64, 50), QPointF(88, 50));
            p.drawPolyline(QPolygonF({QPointF(78, 40), QPointF(88, 50), QPointF(78, 60)}));
        }
        break;
    }
    case CommandPicture::CompareSettings: {
        // Two sheets with their lines, one row marked as differing.
        QPen thin = pen;
        thin.setWidthF(5);
        p.setPen(thin);
        p.drawRect(QRectF(12, 18, 30, 64));
        p.drawRect(QRectF(58, 18, 30, 64));
        for (const qreal y : {34.0, 50.0, 66.0}) {
            p.drawLine(QPointF(19, y), QPointF(35, y));
            p.drawLine(QPointF(65, y), QPointF(81, y));
        }
        p.setPen(pen);
        p.drawLine(QPointF(46, 44), QPointF(54, 44));
        p.drawLine(QPointF(46, 56), QPointF(54, 56));
        break;
    }
    case CommandPicture::SettingsSheet: {
        // A page with a folded corner, its lines and a signature at the foot.
        QPen thin = pen;
        thin.setWidthF(5);
        p.setPen(thin);
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
        break;
    }
    case CommandPicture::Register: {
        // A card file: a box of cards, one pulled up with its lines.
        QPen thin = pen;
        thin.setWidthF(5);
        p.setPen(thin);
        p.drawRect(QRectF(30, 14, 40, 40));
        p.drawLine(QPointF(38, 26), QPointF(62, 26));
        p.drawLine(QPointF(38, 38), QPointF(56, 38));
        p.drawLine(QPointF(24, 54), QPointF(24, 48));
        p.drawLine(QPointF(76, 54), QPointF(76, 48));
        p.setPen(pen);
        p.drawRoundedRect(QRectF(14, 54, 72, 32), 4, 4);
        p.drawLine(QPointF(40, 70), QPointF(60, 70));
        break;
    }
    }
}

class PaintedIconEngine : public QIconEngine {
  public:
    explicit PaintedIconEngine(CommandPicture picture) : picture_(picture) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal side = qMin(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0,
                           rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 100.0, side / 100.0);
        QColor tile = tileColour(picture_);
        if (mode == QIcon::Active || mode == QIcon::Selected)
            tile = tile.lighter(115);
        if (mode == QIcon::Disabled)
            tile = QColor(0x9E, 0x9E, 0x9E);
        painter->setPen(Qt::NoPen);
        painter->setBrush(tile);
        painter->drawRoundedRect(QRectF(3, 3, 94, 94), 18, 18);
        drawGlyph(*painter, picture_);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // `size` arrives in device pixels already; the picture is drawn at that
    // resolution and tagged with the scale, so it is sharp on a 200% screen.
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

    QIconEngine* clone() const override { return new PaintedIconEngine(picture_); }

  private:
    CommandPicture picture_;
};

} // namespace

QIcon commandIcon(CommandPicture picture) {
    return QIcon(new PaintedIconEngine(picture));
}
