#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace lumora::art {

// A page's banner: its title in large blue Arabic letters with a white outline, set towards
// the right end, on a horizontal gradient from near-black brown to yellow-green.
QImage drawBanner(const QString &title, QSize size);

// The picture as JPEG at the best quality that stays within maxBytes.
QByteArray bannerJpeg(const QImage &banner, int maxBytes);

} // namespace lumora::art
