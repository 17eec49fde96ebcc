#pragma once

#include <QImage>

namespace lumora::art {

inline constexpr int kIconSize = 57;

// A grey loudspeaker sending blue sound waves to the right, on a transparent ground.
QImage drawIcon();

} // namespace lumora::art
