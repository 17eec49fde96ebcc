#pragma once

#include <QByteArray>
#include <QImage>

namespace lumora::art {

inline constexpr int kIconSize = 57;

// A grey loudspeaker sending blue sound waves to the right, on a transparent ground.
QImage drawIcon();

// The same picture drawn afresh at size x size pixels (not scaled from the 57 x 57 image).
QImage drawIcon(int size);

// The same picture as a scalable SVG document on a 57 x 57 view box.
QByteArray iconSvg();

} // namespace lumora::art
