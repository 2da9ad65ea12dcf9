#include "shell/image_list.h"

#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

static void InitImages() { Q_INIT_RESOURCE(images); }

namespace qv {

QIcon ImageListIcon(int index) {
    static const bool initialised = (InitImages(), true);
    (void)initialised;
    const QString path = QStringLiteral(":/images/%1.png").arg(index, 2, 10, QLatin1Char('0'));
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QIcon ProgramIcon() {
    // Two ports joined by a relay arrow on a blue tile.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
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
    return QIcon(pixmap);
}

} // namespace qv
