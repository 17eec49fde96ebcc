#pragma once

// Contrast as WCAG 2.1 defines it, measured on grabbed pictures: the relative luminance of
// sRGB colours, and the ratio between the background of an area (its most common colour)
// and whatever is drawn on it (the colour that differs most from that background).

#include <QHash>
#include <QImage>
#include <QRect>
#include <QtMath>

namespace lumora::test {

inline double relativeLuminance(QRgb c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : qPow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

inline double contrastRatio(QRgb a, QRgb b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

struct AreaContrast {
    QRgb background = 0;
    QRgb foreground = 0;
    double ratio = 1.0;
};

// The background is the area's most common colour; the foreground the colour furthest from
// it in contrast. An area with nothing drawn on it has a ratio of 1.
inline AreaContrast measureContrast(const QImage &picture, const QRect &area)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, int> counts;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) & 0xffffff];
    AreaContrast c;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            c.background = it.key();
        }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double ratio = contrastRatio(c.background, it.key());
        if (ratio > c.ratio) {
            c.ratio = ratio;
            c.foreground = it.key();
        }
    }
    return c;
}

} // namespace lumora::test
