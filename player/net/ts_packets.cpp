#include "ts_packets.h"

#include <utility>

namespace lumora {

namespace {

constexpr quint8 kSync = 0x47;
constexpr int kPatPid = 0;
constexpr quint8 kPatTable = 0x00;
constexpr quint8 kPmtTable = 0x02;
constexpr qsizetype kCrcBytes = 4;

quint8 at(QByteArrayView b, qsizetype i)
{
    return quint8(b[i]);
}
int pidAt(QByteArrayView b, qsizetype i)
{
    return ((at(b, i) & 0x1f) << 8) | at(b, i + 1);
}
int lengthAt(QByteArrayView b, qsizetype i)
{
    return ((at(b, i) & 0x0f) << 8) | at(b, i + 1);
}

} // namespace

bool TsPackets::startsPackets(QByteArrayView bytes)
{
    if (bytes.size() < 2 * kPacket + 1)
        return false;
    for (qsizetype p = 0; p < bytes.size() && p <= 2 * kPacket; p += kPacket)
        if (at(bytes, p) != kSync)
            return false;
    return true;
}

void TsPackets::feed(QByteArrayView bytes, const std::function<void(const Payload &)> &each)
{
    // Whole packets are read where they lie; only what is left over is copied.
    QByteArray joined;
    QByteArrayView in = bytes;
    if (!m_pending.isEmpty()) {
        joined = std::exchange(m_pending, {});
        joined.append(bytes);
        in = joined;
    }
    qsizetype p = 0;
    while (in.size() - p >= kPacket) {
        if (at(in, p) != kSync) {
            // Out of step: the next sync byte may start a packet.
            const qsizetype next = in.sliced(p + 1).indexOf(char(kSync));
            const qsizetype skip = next < 0 ? in.size() - p : next + 1;
            m_skipped += skip;
            p += skip;
            continue;
        }
        packet(in.sliced(p, kPacket), each);
        p += kPacket;
    }
    m_pending = in.sliced(p).toByteArray();
}

int TsPackets::pidOf(QByteArrayView packet)
{
    return pidAt(packet, 1);
}

qsizetype TsPackets::payloadStart(QByteArrayView packet)
{
    const int adaptation = (at(packet, 3) >> 4) & 0x3;
    qsizetype start = 4;
    if (adaptation & 0x2)
        start += 1 + at(packet, 4);
    return (adaptation & 0x1) && start < kPacket ? start : 0;
}

qsizetype TsPackets::pesHeaderLength(QByteArrayView pes)
{
    constexpr qsizetype kFixed = 9; // start code, stream id, length, two flag bytes, header length
    if (pes.size() < kFixed || at(pes, 0) != 0 || at(pes, 1) != 0 || at(pes, 2) != 1)
        return 0;
    const qsizetype length = kFixed + at(pes, 8);
    return length <= pes.size() ? length : 0;
}

void TsPackets::packet(QByteArrayView packet, const std::function<void(const Payload &)> &each)
{
    const bool unitStart = unitStarts(packet);
    const int pid = pidOf(packet);
    const qsizetype start = payloadStart(packet);
    if (start == 0)
        return; // no payload
    const QByteArrayView data = packet.sliced(start);
    if (pid == kPatPid || pid == m_pmtPid) {
        // A section starts after the pointer field in the packet that starts it; the tables
        // a stream of a few audio streams needs fit one packet.
        if (!unitStart)
            return;
        const qsizetype pointer = 1 + at(data, 0);
        if (pointer < data.size())
            table(pid, data.sliced(pointer));
        return;
    }
    for (const auto &[streamPid, type] : m_streams) {
        if (streamPid == pid) {
            each({pid, type, unitStart, data});
            return;
        }
    }
}

quint8 TsPackets::typeOf(int pid) const
{
    for (const auto &[streamPid, type] : m_streams)
        if (streamPid == pid)
            return type;
    return 0;
}

void TsPackets::table(int pid, QByteArrayView section)
{
    if (section.size() < 3)
        return;
    const qsizetype end = 3 + lengthAt(section, 1) - kCrcBytes; // the entries end before the CRC
    if (end > section.size())
        return;
    if (pid == kPatPid && at(section, 0) == kPatTable) {
        // Program number, then its map's PID; number 0 names the network table instead.
        for (qsizetype i = 8; i + 4 <= end; i += 4) {
            if ((at(section, i) << 8 | at(section, i + 1)) != 0) {
                m_pmtPid = pidAt(section, i + 2);
                return;
            }
        }
    } else if (pid == m_pmtPid && at(section, 0) == kPmtTable && end >= 12) {
        m_streams.clear();
        qsizetype i = 12 + lengthAt(section, 10); // after the program's descriptors
        while (i + 5 <= end && m_streams.size() < kMaxStreams) {
            const int streamPid = pidAt(section, i + 1);
            if (streamPid != kPatPid && streamPid != m_pmtPid)
                m_streams.emplace_back(streamPid, at(section, i));
            i += 5 + lengthAt(section, i + 3);
        }
    }
}

} // namespace lumora
