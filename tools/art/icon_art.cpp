#include "icon_art.h"
#include "icon_shape.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <iterator>

namespace lumora::art {

QImage drawIcon()
{
    return drawIcon(kIconSize);
}

QImage drawIcon(int size)
{
    using namespace shape;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double scale = double(size) / kGrid;
    if (size != kGrid)
        p.scale(scale, scale);
    // At the small theme sizes thin strokes would fade to a blur: every stroke stays at
    // least this wide on screen.
    const auto stroke = [scale](double width, double leastPixels) {
        return std::max(width, leastPixels / scale);
    };

    QPainterPath speaker;
    speaker.moveTo(kSpeaker[0]);
    for (std::size_t i = 1; i < std::size(kSpeaker); ++i)
        speaker.lineTo(kSpeaker[i]);
    speaker.closeSubpath();
    QLinearGradient grey(kGradientFrom, kGradientTo);
    for (const GradientStop &stop : kSpeakerGrey)
        grey.setColorAt(stop.at, QColor::fromRgb(stop.colour));
    p.setPen(QPen(QColor::fromRgb(kOutline), stroke(kOutlineWidth, 0.8), Qt::SolidLine,
                  Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(grey);
    p.drawPath(speaker);
    p.setPen(QPen(QColor::fromRgb(kOutline), stroke(kDividerWidth, 0.7)));
    p.drawLine(kDivider[0], kDivider[1]);

    p.setBrush(Qt::NoBrush);
    for (const Wave &wave : kWaves) {
        const double r = wave.radius;
        const QRectF arc(kWaveCentre.x() - r, kWaveCentre.y() - r, 2 * r, 2 * r);
        p.setPen(QPen(QColor::fromRgb(wave.colour), stroke(wave.width, 1.3), Qt::SolidLine,
                      Qt::RoundCap));
        p.drawArc(arc, kWaveFromDegrees * 16, kWaveSpanDegrees * 16);
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace lumora::art
