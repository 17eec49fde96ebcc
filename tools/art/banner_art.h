#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace lumora::art {

// A page's banner: its title in large blue Arabic letters with a white outline, set towards
// the right end, on a horizontal gradient from near-black brown to yellow-green. scale is the
// device pixel ratio the picture is drawn for: size is already multiplied by it, and lines are
// as thick as they are at 1x.
QImage drawBanner(const QString &title, QSize size, qreal scale = 1.0);

// The picture as JPEG at the best quality that stays within maxBytes.
QByteArray bannerJpeg(const QImage &banner, int maxBytes);

} // namespace lumora::art
