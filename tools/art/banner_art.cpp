#include "banner_art.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace lumora::art {

QImage drawBanner(const QString &title, QSize size, qreal scale)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient ground(0, 0, size.width(), 0);
    ground.setColorAt(0.0, QColor(0x1c, 0x12, 0x0a));
    ground.setColorAt(0.45, QColor(0x5a, 0x4a, 0x18));
    ground.setColorAt(1.0, QColor(0xb4, 0xcc, 0x32));
    p.fillRect(image.rect(), ground);

    QFont font(QStringLiteral("Amiri"));
    font.setBold(true);
    font.setPixelSize(size.height() * 46 / 81);
    QPainterPath text;
    text.addText(0, 0, font, title);
    const QRectF ink = text.boundingRect();
    const qreal rightMargin = size.width() * 0.045;
    text.translate(size.width() - rightMargin - ink.right(),
                   (size.height() - ink.height()) / 2 - ink.top());

    p.setPen(QPen(Qt::white, 3.2 * scale, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(text);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x12, 0x3c, 0xc8));
    p.drawPath(text);
    p.end();
    return image;
}

QByteArray bannerJpeg(const QImage &banner, int maxBytes)
{
    QByteArray best;
    for (int quality = 100; quality >= 20; quality -= 2) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        banner.save(&buffer, "JPEG", quality);
        best = bytes;
        if (bytes.size() <= maxBytes)
            break;
    }
    return best;
}

} // namespace lumora::art
