#include "cover_tag.h"

namespace lumora::sim {

namespace {

// v in four bytes of bitsPerByte bits each, the highest first.
QByteArray fourBytes(quint32 v, int bitsPerByte)
{
    QByteArray out(4, '\0');
    for (int i = 3; i >= 0; --i) {
        out[i] = char(v & ((1u << bitsPerByte) - 1));
        v >>= bitsPerByte;
    }
    return out;
}

QByteArray frame(const char *id, const QByteArray &content)
{
    return QByteArray(id) + fourBytes(quint32(content.size()), 8) + QByteArray(2, '\0') + content;
}

} // namespace

QByteArray id3SyncSafe(quint32 v)
{
    return fourBytes(v, 7);
}

QByteArray coverTag(const QString &title, qsizetype pictureBytes)
{
    // A JPEG's start, then bytes of every value (a compressed picture has runs of 0xFF and
    // whatever looks like an MPEG frame header), from a fixed seed.
    QByteArray picture = QByteArray::fromHex("FFD8FFE000104A46494600010100000100010000");
    quint32 state = 0x2545F491;
    while (picture.size() < pictureBytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        picture.append(char(state & 0xFF));
    }
    picture.resize(pictureBytes);
    const QByteArray apic = frame("APIC", QByteArray("\0image/jpeg\0\x03\0", 14) + picture);
    QByteArray text("\x01\xFF\xFE", 3);
    for (const QChar c : title) {
        text.append(char(c.unicode() & 0xFF));
        text.append(char(c.unicode() >> 8));
    }
    text.append(QByteArray(2, '\0'));
    const QByteArray frames = apic + frame("TIT2", text);
    return QByteArray("ID3\x03\x00\x00", 6) + id3SyncSafe(quint32(frames.size())) + frames;
}

} // namespace lumora::sim
