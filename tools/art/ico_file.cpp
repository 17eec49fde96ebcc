#include "ico_file.h"

#include <QtEndian>

namespace lumora::art {
namespace {

void putU8(QByteArray &out, quint8 v) { out.append(char(v)); }

void putU16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void putU32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

bool opaque(QRgb pixel) { return qAlpha(pixel) >= 128; }

} // namespace

QImage maskedImage(const QImage &image)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = opaque(line[x]) ? qRgb(qRed(line[x]), qGreen(line[x]), qBlue(line[x])) : 0;
    }
    return out;
}

QByteArray icoFile(const QImage &source)
{
    const QImage image = maskedImage(source);
    const int w = image.width();
    const int h = image.height();
    const int colourStride = (w * 3 + 3) / 4 * 4;
    const int maskStride = (w + 31) / 32 * 4;
    const quint32 headerSize = 40;
    const quint32 pixelBytes = quint32(colourStride * h + maskStride * h);
    const quint32 directorySize = 6 + 16;

    QByteArray out;
    // Directory: reserved, type 1 (icon), one image.
    putU16(out, 0);
    putU16(out, 1);
    putU16(out, 1);
    // Directory entry.
    putU8(out, quint8(w));
    putU8(out, quint8(h));
    putU8(out, 0); // no palette
    putU8(out, 0);
    putU16(out, 1);  // planes
    putU16(out, 24); // bits per pixel
    putU32(out, headerSize + pixelBytes);
    putU32(out, directorySize);
    // Bitmap header; the height counts the colour rows and the mask rows.
    putU32(out, headerSize);
    putU32(out, quint32(w));
    putU32(out, quint32(2 * h));
    putU16(out, 1);
    putU16(out, 24);
    putU32(out, 0); // uncompressed
    putU32(out, pixelBytes);
    putU32(out, 0);
    putU32(out, 0);
    putU32(out, 0);
    putU32(out, 0);
    // Colour rows, bottom row first, blue-green-red.
    for (int y = h - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QByteArray row(colourStride, '\0');
        for (int x = 0; x < w; ++x) {
            row[3 * x] = char(qBlue(line[x]));
            row[3 * x + 1] = char(qGreen(line[x]));
            row[3 * x + 2] = char(qRed(line[x]));
        }
        out.append(row);
    }
    // Mask rows, bottom row first: a set bit is a transparent pixel.
    for (int y = h - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < w; ++x)
            if (!opaque(line[x]))
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        out.append(row);
    }
    return out;
}

} // namespace lumora::art
