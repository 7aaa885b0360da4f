#include "app/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestra {

namespace {

// Drawn on the 256 x 256 grid of the picture, scaled to `size`.
QPixmap drawIcon(int size, bool newMail)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    const QColor blue(0x3a, 0x6e, 0xa5);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(40, 72, 176, 120), 10, 10);
    QPainterPath flap;
    flap.moveTo(40, 82);
    flap.lineTo(128, 146);
    flap.lineTo(216, 82);
    p.strokePath(flap, QPen(blue, 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath wing;
    wing.moveTo(150, 60);
    wing.quadTo(196, 28, 232, 52);
    wing.quadTo(200, 54, 186, 78);
    wing.closeSubpath();
    p.fillPath(wing, QColor(0xf2, 0xc1, 0x4e));
    if (newMail) {
        p.setPen(QPen(Qt::white, 12));
        p.setBrush(QColor(0xd9, 0x30, 0x25));
        p.drawEllipse(QPointF(196, 196), 54, 54);
    }
    return pixmap;
}

} // namespace

QIcon programIcon(bool newMail)
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(drawIcon(size, newMail));
    return icon;
}

} // namespace kestra
