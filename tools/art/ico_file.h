#pragma once

#include <QByteArray>
#include <QImage>

namespace lumora::art {

// An icon file holding one image: 24-bit colour with a 1-bit transparency mask, no palette.
// A pixel is transparent in the mask where its alpha is below one half. For 57 x 57 pixels
// the file is 22 + 40 + 57 * 172 + 57 * 8 = 10,322 bytes.
QByteArray icoFile(const QImage &image);

// The image such a file holds: the colours where the mask is opaque, transparent elsewhere.
QImage maskedImage(const QImage &image);

} // namespace lumora::art
