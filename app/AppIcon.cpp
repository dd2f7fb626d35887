#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap drawIcon(int size, bool alarm)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x3a, 0x5f));
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

    QPainterPath v;
    v.moveTo(7, 9);
    v.lineTo(13, 25);
    v.lineTo(19, 9);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0xf5, 0xb7, 0x2b), 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(v);

    painter.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(18, 6, 8, 8), -60 * 16, 120 * 16);
    painter.drawArc(QRectF(16, 3, 13, 14), -60 * 16, 120 * 16);
    if (alarm) {
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(QColor(0xd6, 0x22, 0x22));
        painter.drawEllipse(QRectF(17, 17, 14, 14));
        painter.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(24, 20), QPointF(24, 25));
        painter.drawPoint(QPointF(24, 28));
    }
    return pixmap;
}

QIcon drawnIcon(bool alarm)
{
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addPixmap(drawIcon(size, alarm));
    return icon;
}

} // namespace

QIcon appIcon()
{
    return drawnIcon(false);
}

QIcon alarmIcon()
{
    return drawnIcon(true);
}
