#include "mmsh_framing.h"

#include <QLoggingCategory>
#include <QtEndian>

Q_DECLARE_LOGGING_CATEGORY(lcHttp)

namespace lumora {

namespace {

// GUIDs as they appear in the file (little-endian fields).
const QByteArray kHeaderObject = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
const QByteArray kFileProperties = QByteArray::fromHex("A1DCAB8C47A9CF118EE400C00C205365");
const QByteArray kStreamProperties = QByteArray::fromHex("9107DCB7B7A9CF118EE600C00C205365");

constexpr quint16 kChunkHeader = 0x4824; // "$H"
constexpr quint16 kChunkData = 0x4424;   // "$D"
constexpr quint16 kChunkEnd = 0x4524;    // "$E"
constexpr quint16 kChunkChange = 0x4324; // "$C"
constexpr quint16 kChunkMeta = 0x4D24;   // "$M"
constexpr quint32 kMaxPacketSize = 64 * 1024;

quint16 le16(QByteArrayView b, qsizetype at) { return qFromLittleEndian<quint16>(b.data() + at); }
quint32 le32(QByteArrayView b, qsizetype at) { return qFromLittleEndian<quint32>(b.data() + at); }
quint64 le64(QByteArrayView b, qsizetype at) { return qFromLittleEndian<quint64>(b.data() + at); }

} // namespace

bool parseAsfHeader(QByteArrayView h, AsfHeaderInfo &info)
{
    info = {};
    constexpr qsizetype kTop = 30; // GUID, size, object count, two reserved bytes
    if (h.size() < kTop || h.first(16) != QByteArrayView(kHeaderObject))
        return false;
    qsizetype pos = kTop;
    while (pos + 24 <= h.size()) {
        const QByteArrayView guid = h.sliced(pos, 16);
        const quint64 size = le64(h, pos + 16);
        if (size < 24 || size > quint64(h.size() - pos))
            break; // the Data Object's header is last and reaches past the header chunk
        const QByteArrayView object = h.sliced(pos, qsizetype(size));
        if (guid == QByteArrayView(kFileProperties) && object.size() >= 100) {
            const quint32 min = le32(object, 92);
            const quint32 max = le32(object, 96);
            if (min == 0 || min != max || min > kMaxPacketSize)
                return false; // MMSH needs fixed-size packets
            info.packetSize = min;
        } else if (guid == QByteArrayView(kStreamProperties) && object.size() >= 74) {
            const int number = le16(object, 72) & 0x7F;
            if (number > 0 && !info.streams.contains(number))
                info.streams.append(number);
        }
        pos += qsizetype(size);
    }
    return info.packetSize > 0 && !info.streams.isEmpty();
}

MmshUnframer::State MmshUnframer::fail(const QString &error)
{
    m_state = State::Failed;
    m_error = error;
    m_pending.clear();
    return m_state;
}

MmshUnframer::State MmshUnframer::feed(QByteArrayView bytes)
{
    if (m_state != State::Running)
        return m_state;
    m_pending.append(bytes);
    qsizetype pos = 0;
    while (m_state == State::Running && m_pending.size() - pos >= 4) {
        const QByteArrayView at = QByteArrayView(m_pending).sliced(pos);
        const quint16 type = le16(at, 0);
        const quint16 length = le16(at, 2); // what follows these four bytes
        if (type == kChunkEnd || type == kChunkChange) {
            m_state = State::Ended;
            break;
        }
        if (type != kChunkHeader && type != kChunkData && type != kChunkMeta) {
            fail(QStringLiteral("not MMSH framing"));
            break;
        }
        if (at.size() < 4 + qsizetype(length))
            break; // wait for the rest of the chunk
        const QByteArrayView payload = length > 8 ? at.sliced(12, length - 8) : QByteArrayView();
        pos += 4 + length;
        if (type == kChunkHeader) {
            m_header = payload.toByteArray();
            if (!parseAsfHeader(m_header, m_info)) {
                fail(QStringLiteral("no usable ASF header"));
                break;
            }
            m_output.append(m_cut.header(m_header));
            if (m_cut.prerollMs() > 0)
                qCDebug(lcHttp) << "ASF preroll of" << m_cut.prerollMs() << "ms taken out";
        } else if (type == kChunkData) {
            if (!hasHeader()) {
                fail(QStringLiteral("data before the header"));
                break;
            }
            if (payload.size() > qsizetype(m_info.packetSize)) {
                fail(QStringLiteral("packet larger than the header says"));
                break;
            }
            // The packet padded to its size, its times moved back where it lies.
            const qsizetype start = m_output.size();
            m_output.append(payload);
            m_output.append(qsizetype(m_info.packetSize) - payload.size(), '\0');
            if (!m_cut.packet(m_output.data() + start, m_output.size() - start) && !m_toldUnparsed) {
                m_toldUnparsed = true;
                qCDebug(lcHttp) << "an ASF packet that does not parse is passed on with its preroll";
            }
        }
    }
    m_pending.remove(0, pos);
    return m_state;
}

QByteArray MmshUnframer::takeOutput()
{
    QByteArray out;
    out.swap(m_output);
    return out;
}

} // namespace lumora
