#include "shell/program_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qv {

QImage ProgramIconImage(int size) {
    // Two ports joined by a relay arrow on a blue tile, drawn on a 32 by 32 grid.
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    QLinearGradient tile(0, 0, 0, 32);
    tile.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
    tile.setColorAt(1, QColor(0x1c, 0x4a, 0x8f));
    painter.setBrush(tile);
    painter.setPen(QPen(QColor(0x12, 0x33, 0x66), 1));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 6, 6);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(4, 10, 6, 12));
    painter.drawRect(QRectF(22, 10, 6, 12));
    QPainterPath arrow;
    arrow.moveTo(11, 14);
    arrow.lineTo(17, 14);
    arrow.lineTo(17, 10);
    arrow.lineTo(22, 16);
    arrow.lineTo(17, 22);
    arrow.lineTo(17, 18);
    arrow.lineTo(11, 18);
    arrow.closeSubpath();
    painter.setBrush(QColor(0xff, 0xd2, 0x4a));
    painter.drawPath(arrow);
    painter.end();
    return image;
}

} // namespace qv
