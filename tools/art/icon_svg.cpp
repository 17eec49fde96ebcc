// The icon as SVG text, written from the same shapes as the raster drawing.

#include "icon_art.h"
#include "icon_shape.h"

#include <QString>
#include <QStringList>

#include <cmath>
#include <numbers>

namespace lumora::art {

namespace {

QString num(double v)
{
    return QString::number(v, 'g', 6);
}

QString colour(QRgb rgb)
{
    return QStringLiteral("#%1").arg(rgb & 0xffffff, 6, 16, QLatin1Char('0'));
}

QString point(QPointF p)
{
    return num(p.x()) + QLatin1Char(' ') + num(p.y());
}

// The point at `degrees` on a circle, counted anticlockwise from three o'clock on screen as
// QPainter::drawArc counts.
QPointF onCircle(QPointF centre, double radius, double degrees)
{
    const double a = degrees * std::numbers::pi / 180.0;
    return {centre.x() + radius * std::cos(a), centre.y() - radius * std::sin(a)};
}

} // namespace

QByteArray iconSvg()
{
    using namespace shape;
    QStringList speaker;
    for (const QPointF &corner : kSpeaker)
        speaker << point(corner);

    QString svg;
    svg += QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
        "viewBox=\"0 0 %1 %1\">\n"
        "  <title>Lumora</title>\n"
        "  <defs>\n"
        "    <linearGradient id=\"speaker-grey\" gradientUnits=\"userSpaceOnUse\" "
        "x1=\"%2\" y1=\"%3\" x2=\"%4\" y2=\"%5\">\n")
               .arg(kGrid)
               .arg(num(kGradientFrom.x()), num(kGradientFrom.y()), num(kGradientTo.x()),
                    num(kGradientTo.y()));
    for (const GradientStop &stop : kSpeakerGrey)
        svg += QStringLiteral("      <stop offset=\"%1\" stop-color=\"%2\"/>\n")
                   .arg(num(stop.at), colour(stop.colour));
    svg += QStringLiteral("    </linearGradient>\n  </defs>\n");
    svg += QStringLiteral("  <path d=\"M %1 Z\" fill=\"url(#speaker-grey)\" stroke=\"%2\" "
                          "stroke-width=\"%3\" stroke-linecap=\"round\" "
                          "stroke-linejoin=\"round\"/>\n")
               .arg(speaker.join(QStringLiteral(" L ")), colour(kOutline), num(kOutlineWidth));
    svg += QStringLiteral("  <path d=\"M %1 L %2\" fill=\"none\" stroke=\"%3\" stroke-width=\"%4\" "
                          "stroke-linecap=\"square\"/>\n")
               .arg(point(kDivider[0]), point(kDivider[1]), colour(kOutline), num(kDividerWidth));
    for (const Wave &wave : kWaves) {
        const QPointF from = onCircle(kWaveCentre, wave.radius, kWaveFromDegrees);
        const QPointF to = onCircle(kWaveCentre, wave.radius, kWaveFromDegrees + kWaveSpanDegrees);
        // Anticlockwise on screen is SVG's sweep flag 0.
        svg += QStringLiteral("  <path d=\"M %1 A %2 %2 0 0 0 %3\" fill=\"none\" stroke=\"%4\" "
                              "stroke-width=\"%5\" stroke-linecap=\"round\"/>\n")
                   .arg(point(from), num(wave.radius), point(to), colour(wave.colour),
                        num(wave.width));
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

} // namespace lumora::art
