#include "ApplicationIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tessaly {
namespace {

constexpr int iconSize = 256;

void paintTile(QPainter& painter) {
    QLinearGradient gradient(0, 0, 0, iconSize);
    gradient.setColorAt(0, QColor(0x3d, 0x7b, 0xf0));
    gradient.setColorAt(1, QColor(0x5b, 0x3c, 0xc4));
    QPainterPath tile;
    tile.addRoundedRect(QRectF(12, 12, iconSize - 24, iconSize - 24), 52, 52);
    painter.fillPath(tile, gradient);
}

void paintSpeaker(QPainter& painter) {
    QPainterPath speaker;
    speaker.moveTo(58, 104);
    speaker.lineTo(92, 104);
    speaker.lineTo(136, 66);
    speaker.lineTo(136, 190);
    speaker.lineTo(92, 152);
    speaker.lineTo(58, 152);
    speaker.closeSubpath();
    painter.fillPath(speaker, Qt::white);
}

void paintWaves(QPainter& painter) {
    QPen pen(Qt::white, 14, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // Qt measures arc angles in sixteenths of a degree.
    painter.drawArc(QRectF(108, 88, 80, 80), -50 * 16, 100 * 16);
    painter.drawArc(QRectF(88, 58, 140, 140), -50 * 16, 100 * 16);
}

}  // namespace

QIcon applicationIcon() {
    QPixmap pixmap(iconSize, iconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paintTile(painter);
    paintSpeaker(painter);
    paintWaves(painter);
    painter.end();
    return QIcon(pixmap);
}

}  // namespace tessaly
