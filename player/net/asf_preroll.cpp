#include "asf_preroll.h"

#include <QByteArrayView>
#include <QVarLengthArray>
#include <QtEndian>

namespace lumora {

namespace {

const QByteArray kHeaderObject = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
const QByteArray kFileProperties = QByteArray::fromHex("A1DCAB8C47A9CF118EE400C00C205365");
constexpr qsizetype kHeaderTop = 30;      // GUID, size, object count, two reserved bytes
constexpr qsizetype kPrerollAt = 80;      // in the File Properties object
constexpr qsizetype kFilePropertiesSize = 104;

// The width in bytes of a field whose length type is two bits: absent, byte, word, dword.
int widthOf(int type)
{
    static constexpr int kWidths[] = {0, 1, 2, 4};
    return kWidths[type & 3];
}

quint32 readLe(const uchar *at, int width)
{
    switch (width) {
    case 1: return at[0];
    case 2: return qFromLittleEndian<quint16>(at);
    case 4: return qFromLittleEndian<quint32>(at);
    default: return 0;
    }
}

void writeLe(uchar *at, int width, quint32 value)
{
    switch (width) {
    case 1: at[0] = uchar(value); break;
    case 2: qToLittleEndian<quint16>(quint16(value), at); break;
    case 4: qToLittleEndian<quint32>(value, at); break;
    default: break;
    }
}

} // namespace

QByteArray AsfPrerollCut::header(QByteArray h)
{
    m_prerollMs = 0;
    if (h.size() < kHeaderTop || !h.startsWith(kHeaderObject))
        return h;
    qsizetype pos = kHeaderTop;
    while (pos + 24 <= h.size()) {
        const quint64 size = qFromLittleEndian<quint64>(h.constData() + pos + 16);
        if (size < 24 || size > quint64(h.size() - pos))
            break;
        if (QByteArrayView(h).sliced(pos, 16) == QByteArrayView(kFileProperties) && size >= kFilePropertiesSize) {
            const quint64 preroll = qFromLittleEndian<quint64>(h.constData() + pos + kPrerollAt);
            if (preroll == 0 || preroll > kMaxPrerollMs)
                return h;
            m_prerollMs = quint32(preroll);
            qToLittleEndian<quint64>(0, h.data() + pos + kPrerollAt);
            return h;
        }
        pos += qsizetype(size);
    }
    return h;
}

bool AsfPrerollCut::packet(char *data, qsizetype size) const
{
    if (m_prerollMs == 0)
        return true;
    auto *p = reinterpret_cast<uchar *>(data);
    qsizetype at = 0;
    auto has = [&](qsizetype n) { return n >= 0 && at + n <= size; };
    // A field of the given length type, read at `at`; false when it reaches past the packet.
    auto field = [&](int type, quint32 &value) {
        const int width = widthOf(type);
        if (!has(width))
            return false;
        value = readLe(p + at, width);
        at += width;
        return true;
    };

    if (!has(1))
        return false;
    if (p[0] & 0x80) {
        // Error correction data: only its plain form (no opaque data, length in the flags).
        if ((p[0] & 0x70) != 0)
            return false;
        at = 1 + (p[0] & 0x0F);
    }
    if (!has(2))
        return false;
    const int flags = p[at];
    const int property = p[at + 1];
    at += 2;
    quint32 packetLength = 0, sequence = 0, padding = 0;
    if (!field(flags >> 5, packetLength) || !field(flags >> 1, sequence) || !field(flags >> 3, padding))
        return false;
    if (!has(6))
        return false;
    at += 6; // send time, duration
    const qsizetype length = packetLength > 0 && packetLength < quint64(size) ? qsizetype(packetLength) : size;
    if (padding > quint64(length))
        return false;
    const qsizetype end = length - qsizetype(padding);

    const bool multiple = flags & 0x01;
    int payloads = 1;
    int payloadLengthType = 0;
    if (multiple) {
        if (!has(1))
            return false;
        payloads = p[at] & 0x3F;
        payloadLengthType = p[at] >> 6;
        ++at;
    }
    // Where each presentation time is (offset, width): found for every payload first, so
    // that a packet that does not parse is left whole.
    QVarLengthArray<std::pair<qsizetype, int>, 16> times;
    for (int i = 0; i < payloads; ++i) {
        quint32 objectNumber = 0, objectOffset = 0, replicated = 0;
        if (!has(1))
            return false;
        ++at; // stream number and key frame bit
        if (!field(property >> 4, objectNumber))
            return false;
        const qsizetype offsetAt = at;
        if (!field(property >> 2, objectOffset) || !field(property, replicated))
            return false;
        if (replicated >= 8) {
            // Media object size, then its presentation time, then extensions.
            if (at + qsizetype(replicated) > end)
                return false;
            times.append({at + 4, 4});
            at += qsizetype(replicated);
        } else if (replicated == 1) {
            // Compressed payloads: the object offset field is the presentation time, and a
            // byte of time delta follows.
            if (widthOf(property >> 2) > 0)
                times.append({offsetAt, widthOf(property >> 2)});
            if (!has(1))
                return false;
            ++at;
        } else if (replicated != 0) {
            return false;
        }
        quint32 payloadLength = 0;
        if (multiple) {
            if (!field(payloadLengthType, payloadLength))
                return false;
        } else {
            if (at > end)
                return false;
            payloadLength = quint32(end - at);
        }
        if (at + qsizetype(payloadLength) > end)
            return false;
        at += qsizetype(payloadLength);
    }
    for (const auto &[offset, width] : times) {
        const quint32 time = readLe(p + offset, width);
        writeLe(p + offset, width, time > m_prerollMs ? time - m_prerollMs : 0);
    }
    return true;
}

} // namespace lumora
