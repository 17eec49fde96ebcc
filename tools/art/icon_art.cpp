#include "icon_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace lumora::art {

QImage drawIcon()
{
    QImage image(kIconSize, kIconSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // The speaker: a magnet box and a cone opening to the right.
    QPainterPath speaker;
    speaker.moveTo(5, 21);
    speaker.lineTo(15, 21);
    speaker.lineTo(29, 8);
    speaker.lineTo(29, 49);
    speaker.lineTo(15, 36);
    speaker.lineTo(5, 36);
    speaker.closeSubpath();
    QLinearGradient grey(0, 8, 0, 49);
    grey.setColorAt(0.0, QColor(0xd4, 0xd6, 0xd8));
    grey.setColorAt(0.5, QColor(0x9a, 0x9d, 0xa1));
    grey.setColorAt(1.0, QColor(0x5f, 0x62, 0x66));
    p.setPen(QPen(QColor(0x3c, 0x3e, 0x42), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(grey);
    p.drawPath(speaker);
    p.setPen(QPen(QColor(0x3c, 0x3e, 0x42), 1.2));
    p.drawLine(QPointF(15, 21), QPointF(15, 36));

    // Three sound waves, growing and fading outwards.
    const QColor blues[] = {QColor(0x1e, 0x6f, 0xe8), QColor(0x2a, 0x86, 0xf0),
                            QColor(0x4a, 0xa0, 0xf5)};
    for (int i = 0; i < 3; ++i) {
        const qreal r = 8 + 8.5 * i;
        const QRectF arc(29 - r, 28.5 - r, 2 * r, 2 * r);
        p.setPen(QPen(blues[i], 3.4 - 0.4 * i, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(arc, -45 * 16, 90 * 16);
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace lumora::art
