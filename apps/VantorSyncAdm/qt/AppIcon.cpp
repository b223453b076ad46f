#include "apps/VantorSyncAdm/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap drawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
    painter.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
    // Two arrows chasing each other: the collections kept in step.
    QPen pen(Qt::white, s * 0.1, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QRectF ring(s * 0.22, s * 0.22, s * 0.56, s * 0.56);
    painter.drawArc(ring, 30 * 16, 150 * 16);
    painter.drawArc(ring, 210 * 16, 150 * 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    QPainterPath head;
    head.moveTo(s * 0.78, s * 0.30);
    head.lineTo(s * 0.86, s * 0.50);
    head.lineTo(s * 0.66, s * 0.46);
    head.closeSubpath();
    head.moveTo(s * 0.22, s * 0.70);
    head.lineTo(s * 0.14, s * 0.50);
    head.lineTo(s * 0.34, s * 0.54);
    head.closeSubpath();
    painter.drawPath(head);
    return pixmap;
}

}  // namespace

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(drawIcon(size));
    return icon;
}
